#include "platform/module.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

HMODULE ModuleFromAddress(const void* address)
{
    Dl_info info{};
    if (address == nullptr || ::dladdr(address, &info) == 0)
        return nullptr;
    return info.dli_fbase;
}

DWORD GetModuleFileNameA(HMODULE module, char* out, DWORD size)
{
    Dl_info info{};
    if (out == nullptr || size == 0 || module == nullptr || ::dladdr(module, &info) == 0 || !info.dli_fname) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    char resolved[PATH_MAX];
    const char* name = ::realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
    const size_t len = std::strlen(name);
    if (len + 1 > size) {
        std::memcpy(out, name, size - 1);
        out[size - 1] = '\0';
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return size;
    }
    std::memcpy(out, name, len + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(len);
}
