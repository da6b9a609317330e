#include "platform/dshow/transform.h"

#include "platform/dshow/allocator.h"

#include <algorithm>

// ---- CTransformInputPin ------------------------------------------------------------------------

CTransformInputPin::CTransformInputPin(CTransformFilter* filter, const WCHAR* name)
    : CBaseInputPin(filter, filter->FilterLock(), name), transform_(filter) {}

HRESULT CTransformInputPin::CheckConnect(IPin* pin) {
    const HRESULT hr = transform_->CheckConnect(PINDIR_INPUT, pin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CheckConnect(pin);
}

HRESULT CTransformInputPin::BreakConnect() {
    transform_->BreakConnect(PINDIR_INPUT);
    return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::CompleteConnect(IPin* receivePin) {
    const HRESULT hr = transform_->CompleteConnect(PINDIR_INPUT, receivePin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT CTransformInputPin::CheckMediaType(const AM_MEDIA_TYPE* pmt) {
    const HRESULT hr = transform_->CheckInputType(pmt);
    if (hr != S_OK) return hr;
    CTransformOutputPin* output = transform_->OutputPin();
    if (output && output->IsConnected()) {
        return transform_->CheckTransform(pmt, &output->CurrentMediaType());
    }
    return S_OK;
}

HRESULT CTransformInputPin::SetMediaType(const AM_MEDIA_TYPE* pmt) {
    const HRESULT hr = CBaseInputPin::SetMediaType(pmt);
    if (FAILED(hr)) return hr;
    return transform_->SetMediaType(PINDIR_INPUT, pmt);
}

HRESULT STDMETHODCALLTYPE CTransformInputPin::Receive(IMediaSample* pSample) {
    CAutoLock lock(transform_->ReceiveLock());
    const HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    return transform_->Receive(pSample);
}

HRESULT STDMETHODCALLTYPE CTransformInputPin::EndOfStream() {
    CAutoLock lock(transform_->ReceiveLock());
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return transform_->EndOfStream();
}

HRESULT STDMETHODCALLTYPE CTransformInputPin::BeginFlush() {
    CAutoLock lock(lock_);
    CTransformOutputPin* output = transform_->OutputPin();
    if (!IsConnected() || !output || !output->IsConnected()) return VFW_E_NOT_CONNECTED;
    const HRESULT hr = CBaseInputPin::BeginFlush();
    if (FAILED(hr)) return hr;
    return transform_->BeginFlush();
}

HRESULT STDMETHODCALLTYPE CTransformInputPin::EndFlush() {
    CAutoLock lock(lock_);
    CTransformOutputPin* output = transform_->OutputPin();
    if (!IsConnected() || !output || !output->IsConnected()) return VFW_E_NOT_CONNECTED;
    const HRESULT hr = transform_->EndFlush();
    if (FAILED(hr)) return hr;
    return CBaseInputPin::EndFlush();
}

HRESULT STDMETHODCALLTYPE CTransformInputPin::NewSegment(REFERENCE_TIME tStart,
                                                         REFERENCE_TIME tStop, double dRate) {
    CBaseInputPin::NewSegment(tStart, tStop, dRate);
    return transform_->NewSegment(tStart, tStop, dRate);
}

// ---- CTransformOutputPin -----------------------------------------------------------------------

CTransformOutputPin::CTransformOutputPin(CTransformFilter* filter, const WCHAR* name)
    : CBaseOutputPin(filter, filter->FilterLock(), name), transform_(filter) {}

HRESULT CTransformOutputPin::CheckConnect(IPin* pin) {
    const HRESULT hr = transform_->CheckConnect(PINDIR_OUTPUT, pin);
    if (FAILED(hr)) return hr;
    return CBaseOutputPin::CheckConnect(pin);
}

HRESULT CTransformOutputPin::BreakConnect() {
    transform_->BreakConnect(PINDIR_OUTPUT);
    return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin* receivePin) {
    const HRESULT hr = transform_->CompleteConnect(PINDIR_OUTPUT, receivePin);
    if (FAILED(hr)) return hr;
    return CBaseOutputPin::CompleteConnect(receivePin);
}

HRESULT CTransformOutputPin::CheckMediaType(const AM_MEDIA_TYPE* pmt) {
    CTransformInputPin* input = transform_->InputPin();
    if (!input || !input->IsConnected()) return E_INVALIDARG;
    return transform_->CheckTransform(&input->CurrentMediaType(), pmt);
}

HRESULT CTransformOutputPin::SetMediaType(const AM_MEDIA_TYPE* pmt) {
    const HRESULT hr = CBaseOutputPin::SetMediaType(pmt);
    if (FAILED(hr)) return hr;
    return transform_->SetMediaType(PINDIR_OUTPUT, pmt);
}

HRESULT CTransformOutputPin::GetMediaType(int position, CMediaType* pmt) {
    CTransformInputPin* input = transform_->InputPin();
    if (!input || !input->IsConnected()) return E_UNEXPECTED;
    return transform_->GetMediaType(position, pmt);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* allocator,
                                              ALLOCATOR_PROPERTIES* props) {
    return transform_->DecideBufferSize(allocator, props);
}

// ---- CTransformFilter --------------------------------------------------------------------------

CTransformFilter::CTransformFilter(IUnknown* outer, REFCLSID clsid)
    : CBaseFilter(outer, &filterLock_, clsid),
      input_(nullptr),
      output_(nullptr),
      eosDelivered_(false) {}

CTransformFilter::~CTransformFilter() {
    delete input_;
    delete output_;
}

int CTransformFilter::GetPinCount() { return 2; }

CBasePin* CTransformFilter::GetPin(int n) {
    if (!input_) {
        input_ = new CTransformInputPin(this, TW_W("Input"));
        if (!input_) return nullptr;
        output_ = new CTransformOutputPin(this, TW_W("Output"));
        if (!output_) {
            delete input_;
            input_ = nullptr;
            return nullptr;
        }
    }
    if (n == 0) return input_;
    if (n == 1) return output_;
    return nullptr;
}

HRESULT STDMETHODCALLTYPE CTransformFilter::Stop() {
    CAutoLock lock(&filterLock_);
    if (state_ == State_Stopped) return S_OK;
    if (!input_ || !input_->IsConnected() || !output_->IsConnected()) {
        state_ = State_Stopped;
        eosDelivered_ = false;
        return S_OK;
    }
    // Decommitting the input allocator first fails new and waiting deliveries, so the streaming
    // thread leaves the receive lock soon.
    input_->Inactive();
    CAutoLock streaming(&receiveLock_);
    output_->Inactive();
    const HRESULT hr = StopStreaming();
    if (SUCCEEDED(hr)) {
        state_ = State_Stopped;
        eosDelivered_ = false;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE CTransformFilter::Pause() {
    CAutoLock lock(&filterLock_);
    HRESULT hr = S_OK;
    if (state_ == State_Paused) return S_OK;
    if (!input_ || !input_->IsConnected()) {
        // Nothing will ever arrive: downstream hears that the stream is over, once.
        if (output_ && output_->IsConnected() && !eosDelivered_) {
            output_->DeliverEndOfStream();
            eosDelivered_ = true;
        }
        state_ = State_Paused;
    } else if (!output_->IsConnected()) {
        state_ = State_Paused;
    } else {
        const bool starting = state_ == State_Stopped;
        if (starting) {
            CAutoLock streaming(&receiveLock_);
            hr = StartStreaming();
        }
        if (SUCCEEDED(hr)) {
            hr = CBaseFilter::Pause();
            if (FAILED(hr) && starting) {
                CAutoLock streaming(&receiveLock_);
                input_->Inactive();
                output_->Inactive();
                StopStreaming();
            }
        }
    }
    return hr;
}

HRESULT CTransformFilter::SetMediaType(PIN_DIRECTION, const AM_MEDIA_TYPE*) { return S_OK; }
HRESULT CTransformFilter::CheckConnect(PIN_DIRECTION, IPin*) { return S_OK; }
HRESULT CTransformFilter::BreakConnect(PIN_DIRECTION) { return S_OK; }
HRESULT CTransformFilter::CompleteConnect(PIN_DIRECTION, IPin*) { return S_OK; }
HRESULT CTransformFilter::StartStreaming() { return S_OK; }
HRESULT CTransformFilter::StopStreaming() { return S_OK; }

HRESULT CTransformFilter::EndOfStream() {
    return output_ ? output_->DeliverEndOfStream() : S_OK;
}

HRESULT CTransformFilter::BeginFlush() { return output_ ? output_->DeliverBeginFlush() : S_OK; }
HRESULT CTransformFilter::EndFlush() { return output_ ? output_->DeliverEndFlush() : S_OK; }

HRESULT CTransformFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    return output_ ? output_->DeliverNewSegment(start, stop, rate) : S_OK;
}

// ---- CTransInPlaceInputPin ---------------------------------------------------------------------

CTransInPlaceInputPin::CTransInPlaceInputPin(CTransInPlaceFilter* filter, const WCHAR* name)
    : CTransformInputPin(filter, name), inPlace_(filter) {}

HRESULT STDMETHODCALLTYPE CTransInPlaceInputPin::GetAllocator(IMemAllocator** ppAllocator) {
    if (!ppAllocator) return E_POINTER;
    CAutoLock lock(lock_);
    *ppAllocator = nullptr;
    CTransformOutputPin* output = inPlace_->OutputPin();
    if (output && output->IsConnected() && output->PeerInputPin()) {
        if (SUCCEEDED(output->PeerInputPin()->GetAllocator(ppAllocator)) && *ppAllocator) {
            return S_OK;
        }
        *ppAllocator = nullptr;
    }
    return CTransformInputPin::GetAllocator(ppAllocator);
}

HRESULT STDMETHODCALLTYPE CTransInPlaceInputPin::NotifyAllocator(IMemAllocator* pAllocator,
                                                                 BOOL bReadOnly) {
    if (!pAllocator) return E_POINTER;
    CAutoLock lock(lock_);
    if (bReadOnly && inPlace_->ModifiesData()) return E_FAIL;
    const HRESULT hr = CTransformInputPin::NotifyAllocator(pAllocator, bReadOnly);
    if (FAILED(hr)) return hr;
    // Downstream gets the same buffers when it takes them; otherwise it keeps its own.
    CTransformOutputPin* output = inPlace_->OutputPin();
    if (output && output->IsConnected() && output->PeekAllocator() != pAllocator &&
        output->PeerInputPin() &&
        SUCCEEDED(output->PeerInputPin()->NotifyAllocator(pAllocator, FALSE))) {
        output->SetAllocator(pAllocator);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CTransInPlaceInputPin::GetAllocatorRequirements(
    ALLOCATOR_PROPERTIES* pProps) {
    if (!pProps) return E_POINTER;
    CTransformOutputPin* output = inPlace_->OutputPin();
    if (output && output->IsConnected() && output->PeerInputPin()) {
        return output->PeerInputPin()->GetAllocatorRequirements(pProps);
    }
    return E_NOTIMPL;
}

HRESULT CTransInPlaceInputPin::CheckMediaType(const AM_MEDIA_TYPE* pmt) {
    const HRESULT hr = inPlace_->CheckInputType(pmt);
    if (hr != S_OK) return hr;
    CTransformOutputPin* output = inPlace_->OutputPin();
    if (output && output->IsConnected() && !CMediaType::Equal(*pmt, output->CurrentMediaType())) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
}

HRESULT CTransInPlaceInputPin::GetMediaType(int position, CMediaType* pmt) {
    if (position < 0) return E_INVALIDARG;
    CTransformOutputPin* output = inPlace_->OutputPin();
    if (!output || !output->IsConnected() || position > 0) return VFW_S_NO_MORE_ITEMS;
    return pmt->Set(output->CurrentMediaType());
}

// ---- CTransInPlaceOutputPin --------------------------------------------------------------------

CTransInPlaceOutputPin::CTransInPlaceOutputPin(CTransInPlaceFilter* filter, const WCHAR* name)
    : CTransformOutputPin(filter, name), inPlace_(filter) {}

HRESULT CTransInPlaceOutputPin::CheckMediaType(const AM_MEDIA_TYPE* pmt) {
    const HRESULT hr = inPlace_->CheckInputType(pmt);
    if (hr != S_OK) return hr;
    CTransformInputPin* input = inPlace_->InputPin();
    if (input && input->IsConnected()) {
        if (!CMediaType::Equal(*pmt, input->CurrentMediaType())) return VFW_E_TYPE_NOT_ACCEPTED;
        return inPlace_->CheckTransform(&input->CurrentMediaType(), pmt);
    }
    return S_OK;
}

HRESULT CTransInPlaceOutputPin::GetMediaType(int position, CMediaType* pmt) {
    if (position < 0) return E_INVALIDARG;
    CTransformInputPin* input = inPlace_->InputPin();
    if (!input || !input->IsConnected() || position > 0) return VFW_S_NO_MORE_ITEMS;
    return pmt->Set(input->CurrentMediaType());
}

HRESULT CTransInPlaceOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** ppAlloc) {
    *ppAlloc = nullptr;
    CTransformInputPin* input = inPlace_->InputPin();
    IMemAllocator* upstream = input ? input->PeekAllocator() : nullptr;
    if (upstream && SUCCEEDED(pin->NotifyAllocator(upstream, FALSE))) {
        upstream->AddRef();
        *ppAlloc = upstream;
        return S_OK;
    }
    return CTransformOutputPin::DecideAllocator(pin, ppAlloc);
}

// ---- CTransInPlaceFilter -----------------------------------------------------------------------

CTransInPlaceFilter::CTransInPlaceFilter(IUnknown* outer, REFCLSID clsid, bool modifiesData)
    : CTransformFilter(outer, clsid), modifiesData_(modifiesData) {}

CBasePin* CTransInPlaceFilter::GetPin(int n) {
    if (!input_) {
        input_ = new CTransInPlaceInputPin(this, TW_W("Input"));
        if (!input_) return nullptr;
        output_ = new CTransInPlaceOutputPin(this, TW_W("Output"));
        if (!output_) {
            delete input_;
            input_ = nullptr;
            return nullptr;
        }
    }
    if (n == 0) return input_;
    if (n == 1) return output_;
    return nullptr;
}

HRESULT CTransInPlaceFilter::CheckTransform(const AM_MEDIA_TYPE*, const AM_MEDIA_TYPE*) {
    return S_OK;
}

HRESULT CTransInPlaceFilter::GetMediaType(int, CMediaType*) { return E_UNEXPECTED; }

HRESULT CTransInPlaceFilter::DecideBufferSize(IMemAllocator* allocator,
                                              ALLOCATOR_PROPERTIES* props) {
    ALLOCATOR_PROPERTIES request = *props;
    IMemAllocator* upstream = input_ ? input_->PeekAllocator() : nullptr;
    if (upstream && upstream != allocator) {
        ALLOCATOR_PROPERTIES in = {};
        if (SUCCEEDED(upstream->GetProperties(&in))) {
            request.cBuffers = std::max(request.cBuffers, in.cBuffers);
            request.cbBuffer = std::max(request.cbBuffer, in.cbBuffer);
            request.cbAlign = std::max(request.cbAlign, in.cbAlign);
            request.cbPrefix = std::max(request.cbPrefix, in.cbPrefix);
        }
    }
    request.cBuffers = std::max<LONG>(request.cBuffers, 1);
    request.cbBuffer = std::max<LONG>(request.cbBuffer, 1);
    request.cbAlign = std::max<LONG>(request.cbAlign, 1);
    ALLOCATOR_PROPERTIES actual = {};
    const HRESULT hr = allocator->SetProperties(&request, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cBuffers < request.cBuffers || actual.cbBuffer < request.cbBuffer) return E_FAIL;
    return S_OK;
}

HRESULT CTransInPlaceFilter::Receive(IMediaSample* sample) {
    const HRESULT hr = Transform(sample);
    if (FAILED(hr)) return hr;
    if (hr == S_FALSE) return S_OK;
    return output_->Deliver(sample);
}
