#include "platform/dshow/base_filter.h"

#include "platform/dshow/pins.h"

#include <atomic>

#ifndef HRESULT_FILE_NOT_FOUND
#define HRESULT_FILE_NOT_FOUND ((HRESULT)0x80070002L)
#endif

CBaseFilter::CBaseFilter(IUnknown* outer, CCritSec* lock, REFCLSID clsid)
    : CUnknown(outer),
      state_(State_Stopped),
      start_(0),
      clock_(nullptr),
      lock_(lock),
      clsid_(clsid),
      graph_(nullptr),
      sink_(nullptr),
      name_() {}

CBaseFilter::~CBaseFilter() {
    if (clock_) clock_->Release();
}

HRESULT STDMETHODCALLTYPE CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IBaseFilter)) return GetInterface(static_cast<IBaseFilter*>(this), ppv);
    if (IsEqualIID(riid, IID_IMediaFilter)) {
        return GetInterface(static_cast<IMediaFilter*>(this), ppv);
    }
    if (IsEqualIID(riid, IID_IPersist)) return GetInterface(static_cast<IPersist*>(this), ppv);
    if (IsEqualIID(riid, IID_IAMovieSetup)) {
        return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetClassID(CLSID* pClassID) {
    if (!pClassID) return E_POINTER;
    *pClassID = clsid_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Stop() {
    CAutoLock lock(lock_);
    HRESULT result = S_OK;
    if (state_ != State_Stopped) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Inactive();
                if (FAILED(hr) && SUCCEEDED(result)) result = hr;
            }
        }
    }
    state_ = State_Stopped;
    return result;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Pause() {
    CAutoLock lock(lock_);
    if (state_ == State_Stopped) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Active();
                if (FAILED(hr)) return hr;
            }
        }
    }
    state_ = State_Paused;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Run(REFERENCE_TIME tStart) {
    CAutoLock lock(lock_);
    start_ = tStart;
    if (state_ == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    if (state_ != State_Running) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Run(tStart);
                if (FAILED(hr)) return hr;
            }
        }
    }
    state_ = State_Running;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetState(DWORD, FILTER_STATE* State) {
    if (!State) return E_POINTER;
    *State = state_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::SetSyncSource(IReferenceClock* pClock) {
    CAutoLock lock(lock_);
    if (pClock) pClock->AddRef();
    if (clock_) clock_->Release();
    clock_ = pClock;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetSyncSource(IReferenceClock** pClock) {
    if (!pClock) return E_POINTER;
    CAutoLock lock(lock_);
    *pClock = clock_;
    if (clock_) clock_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::EnumPins(IEnumPins** ppEnum) {
    if (!ppEnum) return E_POINTER;
    return CEnumPins::Create(this, 0, ppEnum);
}

HRESULT STDMETHODCALLTYPE CBaseFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
    if (!ppPin) return E_POINTER;
    *ppPin = nullptr;
    if (!Id) return E_POINTER;
    CAutoLock lock(lock_);
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
        CBasePin* pin = GetPin(i);
        if (!pin) continue;
        LPWSTR id = nullptr;
        if (FAILED(pin->QueryId(&id))) continue;
        const bool match = tw::dshow::WideEqual(id, Id);
        CoTaskMemFree(id);
        if (match) return GetInterface(static_cast<IPin*>(pin), reinterpret_cast<void**>(ppPin));
    }
    return VFW_E_NOT_FOUND;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
    if (!pInfo) return E_POINTER;
    CAutoLock lock(lock_);
    tw::dshow::WideCopy(pInfo->achName, MAX_FILTER_NAME, name_);
    pInfo->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
    CAutoLock lock(lock_);
    graph_ = pGraph;
    sink_ = nullptr;
    if (pGraph) {
        // Held without a reference: the graph owns us, and a reference would keep it alive.
        IMediaEventSink* sink = nullptr;
        if (SUCCEEDED(pGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) &&
            sink) {
            sink_ = sink;
            sink->Release();
        }
    }
    tw::dshow::WideCopy(name_, MAX_FILTER_NAME, pGraph ? pName : nullptr);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryVendorInfo(LPWSTR* pVendorInfo) {
    if (pVendorInfo) *pVendorInfo = nullptr;
    return E_NOTIMPL;
}

HRESULT CBaseFilter::NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink* sink = sink_;
    if (!sink) return E_NOTIMPL;
    if (code == EC_COMPLETE) param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    return sink->Notify(code, param1, param2);
}

// ---- Registration through the filter mapper ----------------------------------------------------

namespace tw {
namespace dshow {

namespace {

std::atomic<FilterMapperFactory> g_mapperFactory{nullptr};

HRESULT CreateSystemMapper(IFilterMapper** out) {
#ifdef _WIN32
    return CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                            reinterpret_cast<void**>(out));
#else
    *out = nullptr;
    return REGDB_E_CLASSNOTREG;
#endif
}

HRESULT CreateMapper(IFilterMapper** out) {
    *out = nullptr;
    FilterMapperFactory factory = g_mapperFactory.load();
    return factory ? factory(out) : CreateSystemMapper(out);
}

HRESULT NotFoundIsSuccess(HRESULT hr) { return hr == HRESULT_FILE_NOT_FOUND ? S_OK : hr; }

CLSID OrNull(const CLSID* id) { return id ? *id : GUID_NULL; }

// COM for the mapper on this thread, undone only when this call initialised it.
class ComScope {
public:
    ComScope() {
#ifdef _WIN32
        initialised_ = SUCCEEDED(CoInitialize(nullptr));
#endif
    }
    ~ComScope() {
#ifdef _WIN32
        CoFreeUnusedLibraries();
        if (initialised_) CoUninitialize();
#endif
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool initialised_ = false;
};

}  // namespace

void SetFilterMapperFactory(FilterMapperFactory factory) { g_mapperFactory.store(factory); }

HRESULT RegisterFilterSetup(IFilterMapper* mapper, const AMOVIESETUP_FILTER& setup) {
    const CLSID clsid = *setup.clsID;
    HRESULT hr = NotFoundIsSuccess(mapper->UnregisterFilter(clsid));
    if (SUCCEEDED(hr)) hr = NotFoundIsSuccess(mapper->RegisterFilter(clsid, setup.strName, setup.dwMerit));
    for (UINT p = 0; SUCCEEDED(hr) && p < setup.nPins; ++p) {
        const AMOVIESETUP_PIN& pin = setup.lpPin[p];
        hr = NotFoundIsSuccess(mapper->RegisterPin(clsid, pin.strName, pin.bRendered, pin.bOutput,
                                                   pin.bZero, pin.bMany,
                                                   OrNull(pin.clsConnectsToFilter),
                                                   pin.strConnectsToPin));
        for (UINT t = 0; SUCCEEDED(hr) && t < pin.nMediaTypes; ++t) {
            hr = NotFoundIsSuccess(mapper->RegisterPinType(clsid, pin.strName,
                                                           OrNull(pin.lpMediaType[t].clsMajorType),
                                                           OrNull(pin.lpMediaType[t].clsMinorType)));
        }
    }
    return hr;
}

}  // namespace dshow
}  // namespace tw

// A mapper that cannot be created or a registration step that fails is reported, not hidden.
HRESULT STDMETHODCALLTYPE CBaseFilter::Register() {
    const AMOVIESETUP_FILTER* setup = GetSetupData();
    if (!setup) return S_FALSE;
    tw::dshow::ComScope com;
    IFilterMapper* mapper = nullptr;
    HRESULT hr = tw::dshow::CreateMapper(&mapper);
    if (FAILED(hr)) return hr;
    hr = tw::dshow::RegisterFilterSetup(mapper, *setup);
    mapper->Release();
    return FAILED(hr) ? hr : S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Unregister() {
    const AMOVIESETUP_FILTER* setup = GetSetupData();
    if (!setup) return S_FALSE;
    tw::dshow::ComScope com;
    IFilterMapper* mapper = nullptr;
    HRESULT hr = tw::dshow::CreateMapper(&mapper);
    if (FAILED(hr)) return hr;
    hr = tw::dshow::NotFoundIsSuccess(mapper->UnregisterFilter(*setup->clsID));
    mapper->Release();
    return hr;
}

// ---- CEnumPins ---------------------------------------------------------------------------------

HRESULT CEnumPins::Create(CBaseFilter* filter, int position, IEnumPins** out) {
    *out = nullptr;
    CEnumPins* e = new CEnumPins(filter, position);
    if (!e) return E_OUTOFMEMORY;
    e->NonDelegatingAddRef();
    *out = e;
    return S_OK;
}

CEnumPins::CEnumPins(CBaseFilter* filter, int position)
    : CUnknown(nullptr), filter_(filter), position_(position) {
    filter_->AddRef();
}

CEnumPins::~CEnumPins() { filter_->Release(); }

HRESULT STDMETHODCALLTYPE CEnumPins::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IEnumPins)) return GetInterface(static_cast<IEnumPins*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CEnumPins::Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) {
    if (!ppPins) return E_POINTER;
    if (!pcFetched && cPins != 1) return E_POINTER;
    ULONG fetched = 0;
    const int count = filter_->GetPinCount();
    while (fetched < cPins && position_ < count) {
        CBasePin* pin = filter_->GetPin(position_);
        if (!pin) break;
        ++position_;
        ppPins[fetched] = pin;
        pin->AddRef();
        ++fetched;
    }
    if (pcFetched) *pcFetched = fetched;
    return fetched == cPins ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Skip(ULONG cPins) {
    const int count = filter_->GetPinCount();
    const ULONG left = position_ < count ? static_cast<ULONG>(count - position_) : 0;
    if (cPins > left) {
        position_ = count;
        return S_FALSE;
    }
    position_ += static_cast<int>(cPins);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Reset() {
    position_ = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Clone(IEnumPins** ppEnum) {
    if (!ppEnum) return E_POINTER;
    return Create(filter_, position_, ppEnum);
}
