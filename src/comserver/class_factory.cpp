#include "comserver/class_factory.h"

#include <string>

#include "platform/com_runtime.h"
#include "platform/guid.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace md {
namespace {

std::string ClsidKey(const FactoryTemplate& t) { return "CLSID\\" + GuidToString(*t.clsid); }

// The filter-mapper step of registration. Linux has no filter mapper and no
// template carries filter data, so only COM's set-up and clean-up remain.
HRESULT RegisterFilterData()
{
    const HRESULT init = CoInitialize(nullptr);
    CoFreeUnusedLibraries();
    if (SUCCEEDED(init))
        CoUninitialize();
    return S_OK;
}

}  // namespace

HRESULT CClassFactory::QueryInterface(REFIID iid, void** out) noexcept
{
    if (out == nullptr)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory)
        return GetInterface(this, out);
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG CClassFactory::AddRef() noexcept { return ++m_refCount; }

ULONG CClassFactory::Release() noexcept
{
    const ULONG count = --m_refCount;
    if (count == 0)
        delete this;
    return count;
}

HRESULT CClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) noexcept
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    // An aggregated object hands its controlling unknown only its non-delegating unknown.
    if (outer != nullptr && !(iid == IID_IUnknown))
        return E_NOINTERFACE;
    return Guarded([&] {
        HRESULT hr = S_OK;
        CUnknown* object = m_template->create(outer, &hr);
        if (object == nullptr)
            return FAILED(hr) ? hr : E_OUTOFMEMORY;
        if (FAILED(hr)) {
            object->NonDelegatingAddRef();
            object->NonDelegatingRelease();
            return hr;
        }
        // Hold a reference across the query so that a failed query destroys the object.
        object->NonDelegatingAddRef();
        hr = object->NonDelegatingQueryInterface(iid, out);
        object->NonDelegatingRelease();
        return hr;
    });
}

HRESULT CClassFactory::LockServer(BOOL lock) noexcept
{
    if (lock)
        ++ServerLocks();
    else
        --ServerLocks();
    return S_OK;
}

HRESULT GetClassObject(const GUID* clsid, const GUID* iid, void** out) noexcept
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (clsid == nullptr || iid == nullptr)
        return E_INVALIDARG;
    if (!(*iid == IID_IUnknown) && !(*iid == IID_IClassFactory))
        return E_NOINTERFACE;
    for (const FactoryTemplate& t : ModuleTemplates()) {
        if (!(*t.clsid == *clsid))
            continue;
        auto* factory = new (std::nothrow) CClassFactory(&t);
        if (factory == nullptr)
            return E_OUTOFMEMORY;
        factory->AddRef();
        *out = static_cast<IClassFactory*>(factory);
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CanUnloadNow() noexcept
{
    return ServerLocks() > 0 || CBaseObject::LiveObjects() != 0 ? S_FALSE : S_OK;
}

HRESULT RegisterServer() noexcept
{
    return Guarded([] {
        char moduleName[MAX_PATH];
        if (const DWORD n = GetModuleFileNameA(ModuleHandle(), moduleName, sizeof moduleName); n == 0 || n >= sizeof moduleName)
            return HRESULT_FROM_WIN32(GetLastError());
        for (const FactoryTemplate& t : ModuleTemplates()) {
            const std::string key = ClsidKey(t);
            const std::string name = WideToUtf8(t.name);
            const std::string server = key + "\\InprocServer32";
            LONG err = RegSetKeyValueA(HKEY_CLASSES_ROOT, key.c_str(), nullptr, name.c_str());
            if (err == ERROR_SUCCESS)
                err = RegSetKeyValueA(HKEY_CLASSES_ROOT, server.c_str(), nullptr, moduleName);
            if (err == ERROR_SUCCESS)
                err = RegSetKeyValueA(HKEY_CLASSES_ROOT, server.c_str(), "ThreadingModel", "Both");
            if (err != ERROR_SUCCESS)
                return HRESULT_FROM_WIN32(static_cast<uint32_t>(err));
        }
        return RegisterFilterData();
    });
}

HRESULT UnregisterServer() noexcept
{
    return Guarded([] {
        char moduleName[MAX_PATH];
        if (const DWORD n = GetModuleFileNameA(ModuleHandle(), moduleName, sizeof moduleName); n == 0 || n >= sizeof moduleName)
            return HRESULT_FROM_WIN32(GetLastError());
        if (const HRESULT hr = RegisterFilterData(); FAILED(hr))
            return hr;
        // A key that is not there is already unregistered.
        for (const FactoryTemplate& t : ModuleTemplates())
            RegDeleteTreeA(HKEY_CLASSES_ROOT, ClsidKey(t).c_str());
        return S_OK;
    });
}

}  // namespace md
