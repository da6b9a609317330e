// CBaseFilter: IBaseFilter (with IMediaFilter and IPersist) and IAMovieSetup over a fixed set of
// pins that the derived filter supplies. It keeps the Stopped/Paused/Running state, the reference
// clock, the graph it has joined and its name there.
//
// Locks: the filter lock (given by the derived filter) guards the state, the clock, the graph and
// every pin connection. The streaming thread never takes it; it reads the state word only.
#pragma once

#include "platform/dshow/combase.h"
#include "platform/dshow/dshow_api.h"

class CBasePin;

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
public:
    // lock: the filter lock, owned by the derived filter and alive as long as this object.
    CBaseFilter(IUnknown* outer, CCritSec* lock, REFCLSID clsid);
    ~CBaseFilter() override;

    DECLARE_IUNKNOWN
    // IBaseFilter, IMediaFilter, IPersist, IAMovieSetup, then CUnknown's.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IPersist. [any thread]
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override;

    // IMediaFilter. [application thread; take the filter lock]
    // Stop makes every connected pin inactive; Pause from stopped makes them active first; Run
    // pauses first when stopped and then runs every connected pin.
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME tStart) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* pClock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** pClock) override;

    // IBaseFilter. [application thread]
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** ppEnum) override;
    // Finds the pin whose IPin::QueryId is Id.
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR Id, IPin** ppPin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* pInfo) override;
    // The graph is held without a reference (it holds us); so is its event sink.
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* pVendorInfo) override;

    // IAMovieSetup: the setup data through the system's filter mapper. S_FALSE without setup
    // data. [application thread]
    HRESULT STDMETHODCALLTYPE Register() override;
    HRESULT STDMETHODCALLTYPE Unregister() override;

    // ---- Hooks -------------------------------------------------------------------------------
    virtual int GetPinCount() = 0;
    // The pin at n (0-based), or null; no reference is added.
    virtual CBasePin* GetPin(int n) = 0;
    // The registration record IAMovieSetup hands to the filter mapper; null for none.
    virtual const AMOVIESETUP_FILTER* GetSetupData() { return nullptr; }

    // ---- For pins and derived filters --------------------------------------------------------
    // [any thread; a plain read of the state word]
    bool IsStopped() const { return state_ == State_Stopped; }
    bool IsActive() const { return state_ != State_Stopped; }
    FILTER_STATE State() const { return state_; }
    CCritSec* FilterLock() const { return lock_; }
    // The graph joined (no reference added), or null.
    IFilterGraph* Graph() const { return graph_; }
    // Sends an event to the graph; EC_COMPLETE carries this filter as its second parameter.
    HRESULT NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2);

protected:
    volatile FILTER_STATE state_;
    REFERENCE_TIME start_;
    IReferenceClock* clock_;

private:
    CCritSec* lock_;
    CLSID clsid_;
    IFilterGraph* graph_;
    IMediaEventSink* sink_;
    WCHAR name_[MAX_FILTER_NAME];
};

// Pin enumeration over the filter's GetPinCount/GetPin; holds a reference on the filter.
class CEnumPins final : public CUnknown, public IEnumPins {
public:
    // A new enumerator with one reference for the caller, starting at position; E_OUTOFMEMORY.
    static HRESULT Create(CBaseFilter* filter, int position, IEnumPins** out);

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // [any thread, one caller at a time]
    HRESULT STDMETHODCALLTYPE Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG cPins) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins** ppEnum) override;

private:
    CEnumPins(CBaseFilter* filter, int position);
    ~CEnumPins() override;

    CBaseFilter* filter_;
    int position_;
};

namespace tw {
namespace dshow {

// Test seam: how IAMovieSetup obtains the filter mapper. Null restores the system's
// (CLSID_FilterMapper, in-process; natively there is none: REGDB_E_CLASSNOTREG).
using FilterMapperFactory = HRESULT (*)(IFilterMapper** out);
void SetFilterMapperFactory(FilterMapperFactory factory);

// Registers a filter's setup data with a mapper: the old registration is removed, then the
// filter, each pin and each pin's media types are registered, stopping at the first failure.
// A file-not-found result (0x80070002) from any step counts as success.
HRESULT RegisterFilterSetup(IFilterMapper* mapper, const AMOVIESETUP_FILTER& setup);

}  // namespace dshow
}  // namespace tw
