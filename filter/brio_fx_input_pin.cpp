#include "filter/brio_fx_input_pin.h"

#include "filter/brio_fx.h"

CTwBrioFxInputPin::CTwBrioFxInputPin(CTwBrioFx* filter, const WCHAR* name)
    : CTransInPlaceInputPin(filter, name), fx_(filter) {}

HRESULT STDMETHODCALLTYPE CTwBrioFxInputPin::QueryId(LPWSTR* Id) {
    if (!Id) return E_POINTER;
    *Id = tw::dshow::TaskMemWideCopy(TW_W("In"));
    return *Id ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CTwBrioFxInputPin::QueryInternalConnections(IPin**, ULONG*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CTwBrioFxInputPin::Receive(IMediaSample* pSample) {
    CAutoLock lock(fx_->ReceiveLock());
    if (!pSample) return E_POINTER;
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return fx_->Receive(pSample);
}
