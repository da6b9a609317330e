// Pins: CBasePin (IPin: connection, media-type agreement, flushing and segment bookkeeping),
// CBaseInputPin (IMemInputPin) and CBaseOutputPin (allocator choice and delivery), and the
// media-type enumerator.
//
// A pin lives inside its filter: its AddRef and Release are the filter's, and the filter deletes
// it. Connection calls take the filter lock; delivery runs on the streaming thread without it.
#pragma once

#include "platform/dshow/base_filter.h"
#include "platform/dshow/combase.h"
#include "platform/dshow/dshow_api.h"
#include "platform/dshow/media_type.h"

#ifndef VFW_S_NO_MORE_ITEMS
#define VFW_S_NO_MORE_ITEMS ((HRESULT)0x00040103L)
#endif

class CBasePin : public CUnknown, public IPin {
public:
    // name: the pin's name, also its default QueryId. lock: the filter lock.
    CBasePin(CBaseFilter* filter, CCritSec* lock, const WCHAR* name, PIN_DIRECTION direction);
    ~CBasePin() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // The filter's count: a pin lives as long as its filter.
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    // IPin. [application thread; connection calls take the filter lock]
    // Connect tries the given type when it is complete, else the receiving pin's types and then
    // this pin's own (each filtered by the given partial type).
    HRESULT STDMETHODCALLTYPE Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* pConnector,
                                                const AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pPin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* pInfo) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* pPinDir) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* Id) override;
    // S_OK when CheckMediaType accepts the type, S_FALSE otherwise.
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
    // Remembers the segment. [streaming thread]
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                         double dRate) override;

    // ---- Hooks -------------------------------------------------------------------------------
    // S_OK for a type the pin accepts.
    virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) = 0;
    // The pin's preferred type at position (0-based): S_OK, or VFW_S_NO_MORE_ITEMS past the end.
    virtual HRESULT GetMediaType(int position, CMediaType* pmt);
    // The agreed type. Stores it.
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* pmt);
    // The peer may be connected to (default: it has the other direction).
    virtual HRESULT CheckConnect(IPin* pin);
    // Undoes what CheckConnect and CompleteConnect set up.
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin* receivePin);
    // State changes of the filter, for connected pins. [application thread, filter lock]
    virtual HRESULT Active();
    virtual HRESULT Inactive();
    virtual HRESULT Run(REFERENCE_TIME start);

    // ---- For filters -------------------------------------------------------------------------
    bool IsConnected() const { return connected_ != nullptr; }
    // The peer (no reference added), or null.
    IPin* GetConnected() const { return connected_; }
    const CMediaType& CurrentMediaType() const { return mt_; }
    const WCHAR* Name() const { return name_; }
    PIN_DIRECTION Direction() const { return direction_; }
    CBaseFilter* Filter() const { return filter_; }
    REFERENCE_TIME SegmentStart() const { return segmentStart_; }
    REFERENCE_TIME SegmentStop() const { return segmentStop_; }
    double SegmentRate() const { return segmentRate_; }

protected:
    // The whole attempt with one complete type; undoes everything on failure.
    HRESULT AttemptConnection(IPin* receivePin, const AM_MEDIA_TYPE* pmt);
    HRESULT TryMediaTypes(IPin* receivePin, const AM_MEDIA_TYPE* partial, IEnumMediaTypes* types);

    CBaseFilter* filter_;
    CCritSec* lock_;
    IPin* connected_;
    CMediaType mt_;

private:
    WCHAR name_[MAX_PIN_NAME];
    PIN_DIRECTION direction_;
    REFERENCE_TIME segmentStart_;
    REFERENCE_TIME segmentStop_;
    double segmentRate_;
};

// Enumerates a pin's GetMediaType list; holds a reference on the pin (that is, its filter).
class CEnumMediaTypes final : public CUnknown, public IEnumMediaTypes {
public:
    static HRESULT Create(CBasePin* pin, int position, IEnumMediaTypes** out);

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // The types come back as task memory for the caller to free with DeleteMediaType.
    HRESULT STDMETHODCALLTYPE Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes,
                                   ULONG* pcFetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG cMediaTypes) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** ppEnum) override;

private:
    CEnumMediaTypes(CBasePin* pin, int position);
    ~CEnumMediaTypes() override;

    CBasePin* pin_;
    int position_;
};

class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(CBaseFilter* filter, CCritSec* lock, const WCHAR* name);
    ~CBaseInputPin() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMemInputPin.
    // Our own CMemAllocator unless one was agreed. [application thread, filter lock]
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** ppAllocator) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
    // The checks every sample passes: streaming state, and a type change the pin accepts.
    // S_OK lets the derived pin process the sample. [streaming thread]
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* pSample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** pSamples, LONG nSamples,
                                              LONG* nSamplesProcessed) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

    // IPin streaming control. [flushes: application thread; end of stream: streaming thread]
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

    HRESULT BreakConnect() override;
    // Decommits the allocator, so that upstream deliveries stop.
    HRESULT Inactive() override;

    // S_OK while samples may be processed: connected, not stopped, not flushing (S_FALSE) and
    // without a run-time error. [streaming thread]
    HRESULT CheckStreaming();
    bool IsFlushing() const { return flushing_; }
    bool IsReadOnly() const { return readOnly_; }
    // The agreed allocator (no reference added), or null.
    IMemAllocator* PeekAllocator() const { return allocator_; }

protected:
    IMemAllocator* allocator_;
    BOOL readOnly_;
    volatile bool flushing_;
    volatile bool runTimeError_;
};

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(CBaseFilter* filter, CCritSec* lock, const WCHAR* name);
    ~CBaseOutputPin() override;

    // Output pins take no stream control from upstream: E_UNEXPECTED.
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

    // The peer must have IMemInputPin.
    HRESULT CheckConnect(IPin* pin) override;
    // Chooses the allocator with the peer.
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT BreakConnect() override;
    // Commit and decommit the allocator.
    HRESULT Active() override;
    HRESULT Inactive() override;

    // The peer's allocator sized by DecideBufferSize, else our own; the peer is told.
    virtual HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** ppAlloc);
    // Sizes the chosen allocator with SetProperties; props holds the peer's requirements.
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) = 0;

    // Delivery. [streaming thread]
    HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                              DWORD flags);
    HRESULT Deliver(IMediaSample* sample);
    HRESULT DeliverEndOfStream();
    HRESULT DeliverBeginFlush();
    HRESULT DeliverEndFlush();
    HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    IMemAllocator* PeekAllocator() const { return allocator_; }
    IMemInputPin* PeerInputPin() const { return inputPin_; }
    // Replaces the allocator in use (the old one is released). [filter lock]
    void SetAllocator(IMemAllocator* allocator);

protected:
    IMemAllocator* allocator_;
    IMemInputPin* inputPin_;
};
