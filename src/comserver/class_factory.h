// The class factory and the module's entry points, behind the exported
// functions of a component module. Each module names its creatable classes in
// its own template table.
#pragma once

#include <atomic>
#include <span>

#include "comserver/com_base.h"

namespace md {

// One creatable class: its name, identifier and create function.
struct FactoryTemplate {
    const wchar_t* name;
    const CLSID* clsid;
    // Makes a new object aggregated by outer (or not); reports S_OK or a failure code.
    CUnknown* (*create)(IUnknown* outer, HRESULT* hr);
};

class CClassFactory final : public IClassFactory, public CBaseObject {
public:
    explicit CClassFactory(const FactoryTemplate* tmpl) : m_template(tmpl) {}

    HRESULT QueryInterface(REFIID iid, void** out) noexcept override;
    ULONG AddRef() noexcept override;
    ULONG Release() noexcept override;
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out) noexcept override;
    HRESULT LockServer(BOOL lock) noexcept override;

private:
    const FactoryTemplate* m_template;
    std::atomic<ULONG> m_refCount{0};
};

// The creatable classes of this module, defined once by each module.
std::span<const FactoryTemplate> ModuleTemplates();

HRESULT GetClassObject(const GUID* clsid, const GUID* iid, void** out) noexcept;
HRESULT CanUnloadNow() noexcept;
HRESULT RegisterServer() noexcept;
HRESULT UnregisterServer() noexcept;

}  // namespace md
