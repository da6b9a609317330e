// CTwBrioFxInputPin: the filter's input pin. Samples go straight to the filter's Receive under the
// receive lock; the framework's per-sample checks of the base input pin (type changes) are not run:
// the in-place filter processes the sample it is given, in the format agreed at connection.
#pragma once

#include "platform/dshow/transform.h"

class CTwBrioFx;

class CTwBrioFxInputPin final : public CTransInPlaceInputPin {
public:
    CTwBrioFxInputPin(CTwBrioFx* filter, const WCHAR* name);

    // "In". [any thread]
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* Id) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
    // E_POINTER for a null sample; anything but S_OK from CheckStreaming is returned (S_FALSE while
    // flushing: the sample is dropped); otherwise the filter's Receive. [streaming thread, takes
    // the receive lock]
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* pSample) override;

private:
    CTwBrioFx* fx_;
};
