#include "platform/dshow/pins.h"

#include "platform/dshow/allocator.h"

#include <cstring>

namespace {

bool IsComplete(const AM_MEDIA_TYPE* pmt) {
    return !IsEqualGUID(pmt->majortype, GUID_NULL) && !IsEqualGUID(pmt->subtype, GUID_NULL) &&
           !IsEqualGUID(pmt->formattype, GUID_NULL);
}

// A candidate matches a partial type in every GUID the partial one names.
bool MatchesPartial(const AM_MEDIA_TYPE& candidate, const AM_MEDIA_TYPE* partial) {
    if (!partial) return true;
    if (!IsEqualGUID(partial->majortype, GUID_NULL) &&
        !IsEqualGUID(partial->majortype, candidate.majortype)) {
        return false;
    }
    if (!IsEqualGUID(partial->subtype, GUID_NULL) &&
        !IsEqualGUID(partial->subtype, candidate.subtype)) {
        return false;
    }
    if (!IsEqualGUID(partial->formattype, GUID_NULL)) {
        if (!IsEqualGUID(partial->formattype, candidate.formattype)) return false;
        if (partial->cbFormat != 0 &&
            (partial->cbFormat != candidate.cbFormat ||
             std::memcmp(partial->pbFormat, candidate.pbFormat, partial->cbFormat) != 0)) {
            return false;
        }
    }
    return true;
}

}  // namespace

// ---- CBasePin ----------------------------------------------------------------------------------

CBasePin::CBasePin(CBaseFilter* filter, CCritSec* lock, const WCHAR* name, PIN_DIRECTION direction)
    : CUnknown(nullptr),
      filter_(filter),
      lock_(lock),
      connected_(nullptr),
      name_(),
      direction_(direction),
      segmentStart_(0),
      segmentStop_(0x7FFFFFFFFFFFFFFFLL),
      segmentRate_(1.0) {
    tw::dshow::WideCopy(name_, MAX_PIN_NAME, name);
}

CBasePin::~CBasePin() {
    if (connected_) connected_->Release();
}

HRESULT STDMETHODCALLTYPE CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IPin)) return GetInterface(static_cast<IPin*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ULONG STDMETHODCALLTYPE CBasePin::NonDelegatingAddRef() { return filter_->AddRef(); }
ULONG STDMETHODCALLTYPE CBasePin::NonDelegatingRelease() { return filter_->Release(); }

HRESULT STDMETHODCALLTYPE CBasePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
    if (!pReceivePin) return E_POINTER;
    CAutoLock lock(lock_);
    if (connected_) return VFW_E_ALREADY_CONNECTED;
    if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;

    if (pmt && IsComplete(pmt)) {
        const HRESULT hr = AttemptConnection(pReceivePin, pmt);
        return hr == S_OK ? S_OK : (FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED);
    }

    // The receiving pin's preferences first, then ours.
    HRESULT result = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int pass = 0; pass < 2; ++pass) {
        IEnumMediaTypes* types = nullptr;
        const HRESULT hrEnum =
            pass == 0 ? pReceivePin->EnumMediaTypes(&types) : EnumMediaTypes(&types);
        if (FAILED(hrEnum) || !types) continue;
        const HRESULT hr = TryMediaTypes(pReceivePin, pmt, types);
        types->Release();
        if (hr == S_OK) return S_OK;
        // A failure that is about the peer rather than the types ends the search.
        if (hr == VFW_E_INVALID_DIRECTION || hr == E_NOINTERFACE || hr == VFW_E_ALREADY_CONNECTED ||
            hr == VFW_E_NOT_STOPPED) {
            return hr;
        }
        if (FAILED(hr) && hr != VFW_E_NO_ACCEPTABLE_TYPES) result = hr;
    }
    return result;
}

HRESULT CBasePin::TryMediaTypes(IPin* receivePin, const AM_MEDIA_TYPE* partial,
                                IEnumMediaTypes* types) {
    HRESULT result = VFW_E_NO_ACCEPTABLE_TYPES;
    for (;;) {
        AM_MEDIA_TYPE* candidate = nullptr;
        ULONG fetched = 0;
        if (types->Next(1, &candidate, &fetched) != S_OK || fetched != 1 || !candidate) break;
        HRESULT hr = VFW_E_NO_ACCEPTABLE_TYPES;
        if (MatchesPartial(*candidate, partial)) hr = AttemptConnection(receivePin, candidate);
        DeleteMediaType(candidate);
        if (hr == S_OK) return S_OK;
        if (hr == VFW_E_INVALID_DIRECTION || hr == E_NOINTERFACE) return hr;
        if (FAILED(hr) && hr != VFW_E_NO_ACCEPTABLE_TYPES && hr != VFW_E_TYPE_NOT_ACCEPTED &&
            hr != E_INVALIDARG) {
            result = hr;
        }
    }
    return result;
}

HRESULT CBasePin::AttemptConnection(IPin* receivePin, const AM_MEDIA_TYPE* pmt) {
    HRESULT hr = CheckConnect(receivePin);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(pmt);
    if (hr != S_OK) {
        BreakConnect();
        return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    }
    connected_ = receivePin;
    connected_->AddRef();
    hr = SetMediaType(pmt);
    if (SUCCEEDED(hr)) {
        hr = receivePin->ReceiveConnection(this, pmt);
        if (SUCCEEDED(hr)) {
            hr = CompleteConnect(receivePin);
            if (SUCCEEDED(hr)) return S_OK;
            receivePin->Disconnect();
        }
    }
    connected_->Release();
    connected_ = nullptr;
    mt_.Reset();
    BreakConnect();
    return hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
    if (!pConnector || !pmt) return E_POINTER;
    CAutoLock lock(lock_);
    if (connected_) return VFW_E_ALREADY_CONNECTED;
    if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;
    HRESULT hr = CheckConnect(pConnector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(pmt);
    if (hr != S_OK) {
        BreakConnect();
        // A plain refusal becomes the connection's own code.
        if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) hr = VFW_E_TYPE_NOT_ACCEPTED;
        return hr;
    }
    connected_ = pConnector;
    connected_->AddRef();
    hr = SetMediaType(pmt);
    if (SUCCEEDED(hr)) hr = CompleteConnect(pConnector);
    if (FAILED(hr)) {
        connected_->Release();
        connected_ = nullptr;
        mt_.Reset();
        BreakConnect();
        return hr;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::Disconnect() {
    CAutoLock lock(lock_);
    if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;
    if (!connected_) return S_FALSE;
    const HRESULT hr = BreakConnect();
    if (FAILED(hr)) return hr;
    connected_->Release();
    connected_ = nullptr;
    mt_.Reset();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectedTo(IPin** pPin) {
    if (!pPin) return E_POINTER;
    CAutoLock lock(lock_);
    *pPin = connected_;
    if (!connected_) return VFW_E_NOT_CONNECTED;
    connected_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
    if (!pmt) return E_POINTER;
    CAutoLock lock(lock_);
    if (!connected_) {
        std::memset(pmt, 0, sizeof(*pmt));
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(pmt, &mt_);
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryPinInfo(PIN_INFO* pInfo) {
    if (!pInfo) return E_POINTER;
    pInfo->pFilter = filter_;
    filter_->AddRef();
    pInfo->dir = direction_;
    tw::dshow::WideCopy(pInfo->achName, MAX_PIN_NAME, name_);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryDirection(PIN_DIRECTION* pPinDir) {
    if (!pPinDir) return E_POINTER;
    *pPinDir = direction_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryId(LPWSTR* Id) {
    if (!Id) return E_POINTER;
    *Id = tw::dshow::TaskMemWideCopy(name_);
    return *Id ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    if (!pmt) return E_POINTER;
    return CheckMediaType(pmt) == S_OK ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CBasePin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    if (!ppEnum) return E_POINTER;
    return CEnumMediaTypes::Create(this, 0, ppEnum);
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CBasePin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                               double dRate) {
    segmentStart_ = tStart;
    segmentStop_ = tStop;
    segmentRate_ = dRate;
    return S_OK;
}

HRESULT CBasePin::GetMediaType(int position, CMediaType*) {
    return position < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
}

HRESULT CBasePin::SetMediaType(const AM_MEDIA_TYPE* pmt) { return mt_.Set(*pmt); }

HRESULT CBasePin::CheckConnect(IPin* pin) {
    PIN_DIRECTION peer;
    const HRESULT hr = pin->QueryDirection(&peer);
    if (FAILED(hr)) return hr;
    return peer == direction_ ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::BreakConnect() { return S_OK; }
HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }
HRESULT CBasePin::Active() { return S_OK; }
HRESULT CBasePin::Inactive() { return S_OK; }
HRESULT CBasePin::Run(REFERENCE_TIME) { return S_OK; }

// ---- CEnumMediaTypes ---------------------------------------------------------------------------

HRESULT CEnumMediaTypes::Create(CBasePin* pin, int position, IEnumMediaTypes** out) {
    *out = nullptr;
    CEnumMediaTypes* e = new CEnumMediaTypes(pin, position);
    if (!e) return E_OUTOFMEMORY;
    e->NonDelegatingAddRef();
    *out = e;
    return S_OK;
}

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin, int position)
    : CUnknown(nullptr), pin_(pin), position_(position) {
    pin_->AddRef();
}

CEnumMediaTypes::~CEnumMediaTypes() { pin_->Release(); }

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IEnumMediaTypes)) {
        return GetInterface(static_cast<IEnumMediaTypes*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes,
                                                ULONG* pcFetched) {
    if (!ppMediaTypes) return E_POINTER;
    if (!pcFetched && cMediaTypes != 1) return E_POINTER;
    ULONG fetched = 0;
    HRESULT result = S_OK;
    while (fetched < cMediaTypes) {
        CMediaType mt;
        if (pin_->GetMediaType(position_, &mt) != S_OK) break;
        AM_MEDIA_TYPE* copy = CreateMediaType(&mt);
        if (!copy) {
            result = E_OUTOFMEMORY;
            break;
        }
        ppMediaTypes[fetched++] = copy;
        ++position_;
    }
    if (pcFetched) *pcFetched = fetched;
    if (FAILED(result) && fetched == 0) return result;
    return fetched == cMediaTypes ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Skip(ULONG cMediaTypes) {
    for (; cMediaTypes > 0; --cMediaTypes) {
        CMediaType mt;
        if (pin_->GetMediaType(position_, &mt) != S_OK) return S_FALSE;
        ++position_;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Reset() {
    position_ = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Clone(IEnumMediaTypes** ppEnum) {
    if (!ppEnum) return E_POINTER;
    return Create(pin_, position_, ppEnum);
}

// ---- CBaseInputPin -----------------------------------------------------------------------------

CBaseInputPin::CBaseInputPin(CBaseFilter* filter, CCritSec* lock, const WCHAR* name)
    : CBasePin(filter, lock, name, PINDIR_INPUT),
      allocator_(nullptr),
      readOnly_(FALSE),
      flushing_(false),
      runTimeError_(false) {}

CBaseInputPin::~CBaseInputPin() {
    if (allocator_) allocator_->Release();
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IMemInputPin)) {
        return GetInterface(static_cast<IMemInputPin*>(this), ppv);
    }
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::GetAllocator(IMemAllocator** ppAllocator) {
    if (!ppAllocator) return E_POINTER;
    CAutoLock lock(lock_);
    *ppAllocator = nullptr;
    if (!allocator_) {
        const HRESULT hr = CMemAllocator::CreateInstance(&allocator_);
        if (FAILED(hr)) return hr;
    }
    *ppAllocator = allocator_;
    allocator_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::NotifyAllocator(IMemAllocator* pAllocator,
                                                         BOOL bReadOnly) {
    if (!pAllocator) return E_POINTER;
    CAutoLock lock(lock_);
    pAllocator->AddRef();
    if (allocator_) allocator_->Release();
    allocator_ = pAllocator;
    readOnly_ = bReadOnly;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) {
    return E_NOTIMPL;
}

HRESULT CBaseInputPin::CheckStreaming() {
    if (!IsConnected()) return VFW_E_NOT_CONNECTED;
    if (filter_->IsStopped()) return VFW_E_WRONG_STATE;
    if (flushing_) return S_FALSE;
    if (runTimeError_) return VFW_E_RUNTIME_ERROR;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::Receive(IMediaSample* pSample) {
    if (!pSample) return E_POINTER;
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    AM_MEDIA_TYPE* changed = nullptr;
    if (pSample->GetMediaType(&changed) == S_OK && changed) {
        const HRESULT accepted = CheckMediaType(changed);
        DeleteMediaType(changed);
        if (accepted != S_OK) {
            runTimeError_ = true;
            return VFW_E_INVALIDMEDIATYPE;
        }
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::ReceiveMultiple(IMediaSample** pSamples, LONG nSamples,
                                                         LONG* nSamplesProcessed) {
    if (!pSamples || !nSamplesProcessed) return E_POINTER;
    HRESULT hr = S_OK;
    *nSamplesProcessed = 0;
    while (*nSamplesProcessed < nSamples) {
        hr = Receive(pSamples[*nSamplesProcessed]);
        if (hr != S_OK) break;
        ++*nSamplesProcessed;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::ReceiveCanBlock() { return S_OK; }

HRESULT STDMETHODCALLTYPE CBaseInputPin::EndOfStream() { return S_OK; }

HRESULT STDMETHODCALLTYPE CBaseInputPin::BeginFlush() {
    CAutoLock lock(lock_);
    flushing_ = true;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::EndFlush() {
    CAutoLock lock(lock_);
    flushing_ = false;
    runTimeError_ = false;
    return S_OK;
}

HRESULT CBaseInputPin::BreakConnect() {
    if (allocator_) {
        allocator_->Decommit();
        allocator_->Release();
        allocator_ = nullptr;
    }
    readOnly_ = FALSE;
    return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
    runTimeError_ = false;
    if (!allocator_) return VFW_E_NO_ALLOCATOR;
    flushing_ = false;
    return allocator_->Decommit();
}

// ---- CBaseOutputPin ----------------------------------------------------------------------------

CBaseOutputPin::CBaseOutputPin(CBaseFilter* filter, CCritSec* lock, const WCHAR* name)
    : CBasePin(filter, lock, name, PINDIR_OUTPUT), allocator_(nullptr), inputPin_(nullptr) {}

CBaseOutputPin::~CBaseOutputPin() {
    if (allocator_) allocator_->Release();
    if (inputPin_) inputPin_->Release();
}

HRESULT STDMETHODCALLTYPE CBaseOutputPin::EndOfStream() { return E_UNEXPECTED; }
HRESULT STDMETHODCALLTYPE CBaseOutputPin::BeginFlush() { return E_UNEXPECTED; }
HRESULT STDMETHODCALLTYPE CBaseOutputPin::EndFlush() { return E_UNEXPECTED; }

HRESULT CBaseOutputPin::CheckConnect(IPin* pin) {
    HRESULT hr = CBasePin::CheckConnect(pin);
    if (FAILED(hr)) return hr;
    IMemInputPin* input = nullptr;
    hr = pin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input));
    if (FAILED(hr)) return hr;
    if (inputPin_) inputPin_->Release();
    inputPin_ = input;
    return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) {
    IMemAllocator* allocator = nullptr;
    const HRESULT hr = DecideAllocator(inputPin_, &allocator);
    if (FAILED(hr)) return hr;
    SetAllocator(allocator);
    allocator->Release();
    return S_OK;
}

HRESULT CBaseOutputPin::BreakConnect() {
    if (allocator_) {
        allocator_->Decommit();
        allocator_->Release();
        allocator_ = nullptr;
    }
    if (inputPin_) {
        inputPin_->Release();
        inputPin_ = nullptr;
    }
    return S_OK;
}

void CBaseOutputPin::SetAllocator(IMemAllocator* allocator) {
    if (allocator) allocator->AddRef();
    if (allocator_) allocator_->Release();
    allocator_ = allocator;
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** ppAlloc) {
    *ppAlloc = nullptr;
    ALLOCATOR_PROPERTIES props = {};
    pin->GetAllocatorRequirements(&props);  // optional; zeroes mean "no preference"
    if (props.cbAlign == 0) props.cbAlign = 1;

    HRESULT hr = pin->GetAllocator(ppAlloc);
    if (SUCCEEDED(hr)) {
        hr = DecideBufferSize(*ppAlloc, &props);
        if (SUCCEEDED(hr)) hr = pin->NotifyAllocator(*ppAlloc, FALSE);
        if (SUCCEEDED(hr)) return S_OK;
    }
    if (*ppAlloc) {
        (*ppAlloc)->Release();
        *ppAlloc = nullptr;
    }
    hr = CMemAllocator::CreateInstance(ppAlloc);
    if (FAILED(hr)) return hr;
    hr = DecideBufferSize(*ppAlloc, &props);
    if (SUCCEEDED(hr)) hr = pin->NotifyAllocator(*ppAlloc, FALSE);
    if (FAILED(hr)) {
        (*ppAlloc)->Release();
        *ppAlloc = nullptr;
    }
    return hr;
}

HRESULT CBaseOutputPin::Active() {
    if (!allocator_) return VFW_E_NO_ALLOCATOR;
    return allocator_->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
    if (!allocator_) return VFW_E_NO_ALLOCATOR;
    return allocator_->Decommit();
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start,
                                          REFERENCE_TIME* stop, DWORD flags) {
    if (!sample) return E_POINTER;
    *sample = nullptr;
    if (!allocator_) return VFW_E_NO_ALLOCATOR;
    return allocator_->GetBuffer(sample, start, stop, flags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* sample) {
    if (!inputPin_) return VFW_E_NOT_CONNECTED;
    return inputPin_->Receive(sample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
    if (!connected_) return VFW_E_NOT_CONNECTED;
    return connected_->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
    if (!connected_) return VFW_E_NOT_CONNECTED;
    return connected_->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
    if (!connected_) return VFW_E_NOT_CONNECTED;
    return connected_->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    if (!connected_) return VFW_E_NOT_CONNECTED;
    return connected_->NewSegment(start, stop, rate);
}
