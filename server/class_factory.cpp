#include "server/class_factory.h"

#include "server/module.h"

CClassFactory::CClassFactory(const CFactoryTemplate* row) : row_(row), ref_(0) {}

HRESULT STDMETHODCALLTYPE CClassFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
        return E_NOINTERFACE;
    }
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

// Factories are shared between threads like any COM object: the count is interlocked.
ULONG STDMETHODCALLTYPE CClassFactory::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&ref_));
}

ULONG STDMETHODCALLTYPE CClassFactory::Release() {
    const LONG count = InterlockedDecrement(&ref_);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE CClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && !IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;
    HRESULT hr = S_OK;
    CUnknown* object = row_->m_lpfnNew(outer, &hr);
    if (!object) return FAILED(hr) ? hr : E_OUTOFMEMORY;
    object->NonDelegatingAddRef();
    if (FAILED(hr)) {
        object->NonDelegatingRelease();  // destroys it
        return hr;
    }
    hr = object->NonDelegatingQueryInterface(riid, ppv);
    object->NonDelegatingRelease();
    return hr;
}

HRESULT STDMETHODCALLTYPE CClassFactory::LockServer(BOOL lock) {
    tw::server::LockModule(lock != 0);
    return S_OK;
}
