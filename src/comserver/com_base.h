// The base classes of the COM objects this module hands out: a module-wide
// count of live objects, the server lock count, and a non-delegating unknown
// that supports aggregation.
#pragma once

#include <atomic>
#include <new>

#include "mediadetect/com.h"
#include "platform/module.h"

namespace md {

// Counts every live object of the module; DllCanUnloadNow reads it.
class CBaseObject {
public:
    CBaseObject() { ++m_liveObjects; }
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;
    virtual ~CBaseObject() { --m_liveObjects; }

    static long LiveObjects() { return m_liveObjects.load(); }

private:
    static std::atomic<long> m_liveObjects;
};

// LockServer's count (signed) and the module handle recorded at load.
long& ServerLocks();
HMODULE& ModuleHandle();

// The unknown that owns an object's reference count.
struct INonDelegatingUnknown {
    virtual HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) = 0;
    virtual ULONG NonDelegatingAddRef() = 0;
    virtual ULONG NonDelegatingRelease() = 0;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    // outer: the controlling unknown when the object is aggregated, else null.
    explicit CUnknown(IUnknown* outer);

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

    // Where the IUnknown methods of the object's interfaces forward to.
    IUnknown* GetOwner() const { return m_owner; }
    // The object's own identity: an IUnknown whose methods are the non-delegating ones.
    IUnknown* NonDelegatingUnknown() { return &m_inner; }

protected:
    ~CUnknown() override = default;

private:
    struct Inner final : IUnknown {
        explicit Inner(CUnknown* o) : object(o) {}
        HRESULT QueryInterface(REFIID iid, void** out) override { return object->NonDelegatingQueryInterface(iid, out); }
        ULONG AddRef() override { return object->NonDelegatingAddRef(); }
        ULONG Release() override { return object->NonDelegatingRelease(); }
        CUnknown* object;
    };

    Inner m_inner{this};
    IUnknown* m_owner;
    std::atomic<long> m_refCount{0};
};

// Stores p AddRef'ed in *out.
inline HRESULT GetInterface(IUnknown* p, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = p;
    p->AddRef();
    return S_OK;
}

// The exception boundary of every method a host calls.
template <typename F>
HRESULT Guarded(F&& body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace md
