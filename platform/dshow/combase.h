// The COM object base of the filter framework: the module's live-object count, a non-delegating
// IUnknown with aggregation, locks, and the small wide-string helpers the framework needs.
//
// Objects come from tw::ZeroAlloc (class operator new, which returns null instead of throwing), so
// every member starts zeroed and a failed allocation is an E_OUTOFMEMORY, never an exception.
#pragma once

#include "platform/dshow/dshow_api.h"
#include "platform/platform.h"

#include <cstddef>
#include <new>

// Counts itself in the module's live objects for as long as it exists, so the server can tell
// when it may be unloaded.
class CBaseObject {
public:
    CBaseObject();
    virtual ~CBaseObject();
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;

    static void* operator new(size_t bytes) noexcept;
    static void operator delete(void* p) noexcept;

    // Framework objects alive in this module. [any thread]
    static LONG ObjectsActive();
};

// The non-delegating half of an object's IUnknown. An aggregated object hands this one (through
// NonDelegatingUnknown()) to its outer object only; every interface it implements forwards its
// IUnknown calls to GetOwner().
class INonDelegatingUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;

protected:
    ~INonDelegatingUnknown() = default;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    // outer: the aggregating object, or null for a stand-alone object (which then owns itself).
    explicit CUnknown(IUnknown* outer);

    // Answers IID_IUnknown with the non-delegating IUnknown; E_NOINTERFACE otherwise.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    // Deletes the object when the count reaches 0.
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    // Whom the interfaces' IUnknown calls go to: the outer object, or this object's own
    // non-delegating IUnknown.
    IUnknown* GetOwner() const { return owner_; }
    // The object's non-delegating IUnknown as a real COM interface pointer.
    IUnknown* NonDelegatingUnknown() { return &inner_; }

protected:
    ~CUnknown() override = default;

    volatile LONG ref_;

private:
    // Carries the non-delegating calls in an IUnknown-shaped function table.
    struct Inner final : public IUnknown {
        explicit Inner(CUnknown* object) : self(object) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
            return self->NonDelegatingQueryInterface(riid, ppv);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return self->NonDelegatingAddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return self->NonDelegatingRelease(); }
        CUnknown* self;
    };

    Inner inner_;
    IUnknown* owner_;
};

// The IUnknown of every interface of a CUnknown-derived class, forwarded to the owner.
#define DECLARE_IUNKNOWN                                                                       \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {               \
        return GetOwner()->QueryInterface(riid, ppv);                                          \
    }                                                                                          \
    ULONG STDMETHODCALLTYPE AddRef() override { return GetOwner()->AddRef(); }                 \
    ULONG STDMETHODCALLTYPE Release() override { return GetOwner()->Release(); }

// Hands out one interface pointer with a reference (taken through the pointer, so aggregated
// objects count on their owner).
HRESULT GetInterface(IUnknown* unknown, void** ppv);

// A recursive lock.
class CCritSec {
public:
    CCritSec() { InitializeCriticalSection(&cs_); }
    ~CCritSec() { DeleteCriticalSection(&cs_); }
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;
    void Lock() { EnterCriticalSection(&cs_); }
    void Unlock() { LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_;
};

class CAutoLock {
public:
    explicit CAutoLock(CCritSec* lock) : lock_(lock) { lock_->Lock(); }
    ~CAutoLock() { lock_->Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CCritSec* lock_;
};

namespace tw {
namespace dshow {

size_t WideLength(const WCHAR* text);
// Copies at most capacity - 1 characters and always terminates (capacity > 0).
void WideCopy(WCHAR* dst, size_t capacity, const WCHAR* src);
bool WideEqual(const WCHAR* a, const WCHAR* b);
// A task-memory copy of text for an out-parameter; null when out of memory.
WCHAR* TaskMemWideCopy(const WCHAR* text);

}  // namespace dshow
}  // namespace tw
