#include "platform/dshow/combase.h"

#include <cstring>

namespace {
volatile LONG g_objectsActive = 0;
}

CBaseObject::CBaseObject() { InterlockedIncrement(&g_objectsActive); }
CBaseObject::~CBaseObject() { InterlockedDecrement(&g_objectsActive); }

void* CBaseObject::operator new(size_t bytes) noexcept { return tw::ZeroAlloc(bytes); }
void CBaseObject::operator delete(void* p) noexcept { tw::ZeroFree(p); }

LONG CBaseObject::ObjectsActive() { return g_objectsActive; }

CUnknown::CUnknown(IUnknown* outer) : ref_(0), inner_(this), owner_(outer ? outer : &inner_) {}

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown)) return GetInterface(&inner_, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&ref_));
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease() {
    const LONG count = InterlockedDecrement(&ref_);
    if (count == 0) {
        // A destructor that hands out and drops references must not re-enter the deletion.
        ref_ = 1;
        delete this;
        return 0;
    }
    return static_cast<ULONG>(count);
}

HRESULT GetInterface(IUnknown* unknown, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = unknown;
    unknown->AddRef();
    return S_OK;
}

namespace tw {
namespace dshow {

size_t WideLength(const WCHAR* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

void WideCopy(WCHAR* dst, size_t capacity, const WCHAR* src) {
    size_t n = 0;
    if (src) {
        for (; n + 1 < capacity && src[n]; ++n) dst[n] = src[n];
    }
    dst[n] = 0;
}

bool WideEqual(const WCHAR* a, const WCHAR* b) {
    for (;; ++a, ++b) {
        if (*a != *b) return false;
        if (!*a) return true;
    }
}

WCHAR* TaskMemWideCopy(const WCHAR* text) {
    const size_t bytes = (WideLength(text) + 1) * sizeof(WCHAR);
    WCHAR* copy = static_cast<WCHAR*>(CoTaskMemAlloc(bytes));
    if (copy) std::memcpy(copy, text, bytes);
    return copy;
}

}  // namespace dshow
}  // namespace tw
