// The exported entry points of a component module; everything else stays
// hidden. Compiled into each module beside its template table.
#include "comserver/class_factory.h"

#define MD_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Runs when the module is loaded: records the module handle used by registration.
__attribute__((constructor)) void OnModuleLoad()
{
    md::ModuleHandle() = ModuleFromAddress(reinterpret_cast<const void*>(&OnModuleLoad));
}

}  // namespace

MD_EXPORT HRESULT DllGetClassObject(const GUID* clsid, const GUID* iid, void** out)
{
    return md::GetClassObject(clsid, iid, out);
}

MD_EXPORT HRESULT DllCanUnloadNow() { return md::CanUnloadNow(); }

MD_EXPORT HRESULT DllRegisterServer() { return md::RegisterServer(); }

MD_EXPORT HRESULT DllUnregisterServer() { return md::UnregisterServer(); }
