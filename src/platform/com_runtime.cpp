#include "platform/com_runtime.h"

#include <dlfcn.h>
#include <mutex>
#include <string>
#include <vector>

#include "platform/guid.h"
#include "platform/registry.h"

namespace {

thread_local int t_initCount = 0;

struct LoadedModule {
    std::string path;
    void* handle;
    DllGetClassObjectFn getClassObject;
    DllCanUnloadNowFn canUnloadNow;
};

// The modules this process loaded through CoCreateInstance.
struct ModuleTable {
    std::mutex lock;
    std::vector<LoadedModule> modules;
};

ModuleTable& Modules()
{
    static ModuleTable table;
    return table;
}

}  // namespace

HRESULT CoInitialize(void*) { return t_initCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize()
{
    if (t_initCount > 0)
        --t_initCount;
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, uint32_t, const IID& iid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    std::string path;
    const std::string key = "CLSID\\" + md::GuidToString(clsid) + "\\InprocServer32";
    if (RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), nullptr, path) != ERROR_SUCCESS || path.empty())
        return REGDB_E_CLASSNOTREG;

    DllGetClassObjectFn getClassObject = nullptr;
    {
        ModuleTable& table = Modules();
        std::lock_guard guard(table.lock);
        for (const LoadedModule& m : table.modules) {
            if (m.path == path)
                getClassObject = m.getClassObject;
        }
        if (getClassObject == nullptr) {
            void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle == nullptr)
                return CO_E_DLLNOTFOUND;
            auto get = reinterpret_cast<DllGetClassObjectFn>(::dlsym(handle, "DllGetClassObject"));
            auto canUnload = reinterpret_cast<DllCanUnloadNowFn>(::dlsym(handle, "DllCanUnloadNow"));
            if (get == nullptr) {
                ::dlclose(handle);
                return CO_E_DLLNOTFOUND;
            }
            table.modules.push_back({path, handle, get, canUnload});
            getClassObject = get;
        }
    }

    IClassFactory* factory = nullptr;
    HRESULT hr = getClassObject(&clsid, &IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr) || factory == nullptr)
        return FAILED(hr) ? hr : E_FAIL;
    hr = factory->CreateInstance(outer, iid, out);
    factory->Release();
    return hr;
}

void CoFreeUnusedLibraries()
{
    ModuleTable& table = Modules();
    std::lock_guard guard(table.lock);
    std::erase_if(table.modules, [](const LoadedModule& m) {
        if (m.canUnloadNow == nullptr || m.canUnloadNow() != S_OK)
            return false;
        ::dlclose(m.handle);
        return true;
    });
}
