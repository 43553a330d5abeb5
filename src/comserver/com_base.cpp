#include "comserver/com_base.h"

namespace md {

std::atomic<long> CBaseObject::m_liveObjects{0};

long& ServerLocks()
{
    static long locks = 0;
    return locks;
}

HMODULE& ModuleHandle()
{
    static HMODULE module = nullptr;
    return module;
}

CUnknown::CUnknown(IUnknown* outer) : m_owner(outer ? outer : NonDelegatingUnknown()) {}

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID iid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    if (iid == IID_IUnknown)
        return GetInterface(NonDelegatingUnknown(), out);
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() { return static_cast<ULONG>(++m_refCount); }

ULONG CUnknown::NonDelegatingRelease()
{
    const long count = --m_refCount;
    if (count == 0) {
        // Keep the count up while the destructor runs so nothing re-enters it.
        m_refCount = 1;
        delete this;
        return 0;
    }
    return static_cast<ULONG>(count);
}

}  // namespace md
