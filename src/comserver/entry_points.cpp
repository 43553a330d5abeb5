// The exported entry points of a component module; everything else stays
// hidden. Compiled into each module beside its template table.
#include "comserver/class_factory.h"

#define MD_EXPORT extern "C" __attribute__((visibility("default")))

#ifdef MD_OWN_CXX_RUNTIME
namespace __gnu_cxx {
void __freeres() noexcept;  // libstdc++'s release of its own pools (the one valgrind calls at exit)
}
#endif

namespace {

// Runs when the module is loaded: records the module handle used by registration.
__attribute__((constructor)) void OnModuleLoad()
{
    md::ModuleHandle() = ModuleFromAddress(reinterpret_cast<const void*>(&OnModuleLoad));
}

#ifdef MD_OWN_CXX_RUNTIME
// The module carries its own copy of the C++ runtime, whose exception-handling emergency pool (some 70 KiB) is
// allocated when the module is loaded and never freed by the runtime itself: a host that unloads the module would
// lose it with every load. Freed when the module is unloaded, after the last of its code has run.
__attribute__((destructor)) void OnModuleUnload() { __gnu_cxx::__freeres(); }
#endif

}  // namespace

MD_EXPORT HRESULT DllGetClassObject(const GUID* clsid, const GUID* iid, void** out)
{
    return md::GetClassObject(clsid, iid, out);
}

MD_EXPORT HRESULT DllCanUnloadNow() { return md::CanUnloadNow(); }

MD_EXPORT HRESULT DllRegisterServer() { return md::RegisterServer(); }

MD_EXPORT HRESULT DllUnregisterServer() { return md::UnregisterServer(); }
