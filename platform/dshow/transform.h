// Transform filters: one input pin, one output pin, and the hooks a concrete filter fills in.
//
// CTransformFilter owns the two pins and two locks: the filter lock for state changes and
// connections, and the receive lock that the streaming thread holds for every sample and for end
// of stream. A state change to stopped first decommits the input allocator (so blocked deliveries
// fail), then takes the receive lock, so StopStreaming never runs beside Receive. The streaming
// thread never takes the filter lock.
//
// CTransInPlaceFilter processes each sample in its own buffer and passes that very sample on: one
// media type on both pins, and one allocator wherever the neighbours agree (the input pin offers
// upstream the downstream pin's allocator, the output pin offers downstream the upstream one).
// Samples are never copied, also when the neighbours keep different allocators.
#pragma once

#include "platform/dshow/base_filter.h"
#include "platform/dshow/pins.h"

class CTransformFilter;

class CTransformInputPin : public CBaseInputPin {
public:
    CTransformInputPin(CTransformFilter* filter, const WCHAR* name);

    HRESULT CheckConnect(IPin* pin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    // The filter's CheckInputType, and CheckTransform against a connected output.
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;
    HRESULT SetMediaType(const AM_MEDIA_TYPE* pmt) override;

    // The pin's checks, then the filter's Receive, under the receive lock. [streaming thread]
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* pSample) override;
    // Under the receive lock: the filter's EndOfStream while streaming. [streaming thread]
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    // Passed downstream through the filter. [application thread; filter lock, not the receive
    // lock, so a delivery blocked downstream is released]
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                         double dRate) override;

protected:
    CTransformFilter* transform_;
};

class CTransformOutputPin : public CBaseOutputPin {
public:
    CTransformOutputPin(CTransformFilter* filter, const WCHAR* name);

    HRESULT CheckConnect(IPin* pin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    // Needs a connected input; then the filter's CheckTransform.
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;
    HRESULT SetMediaType(const AM_MEDIA_TYPE* pmt) override;
    HRESULT GetMediaType(int position, CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override;

protected:
    CTransformFilter* transform_;
};

class CTransformFilter : public CBaseFilter {
public:
    CTransformFilter(IUnknown* outer, REFCLSID clsid);
    ~CTransformFilter() override;

    // Two pins, input then output, made on first use.
    int GetPinCount() override;
    CBasePin* GetPin(int n) override;

    // Stop: input inactive, then under the receive lock output inactive and StopStreaming.
    // Pause from stopped with both pins connected: StartStreaming under the receive lock, then
    // the pins become active. With no input connection, downstream gets end-of-stream once.
    // [application thread; filter lock]
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;

    // ---- Hooks -------------------------------------------------------------------------------
    virtual HRESULT CheckInputType(const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT CheckTransform(const AM_MEDIA_TYPE* in, const AM_MEDIA_TYPE* out) = 0;
    virtual HRESULT GetMediaType(int position, CMediaType* pmt) = 0;
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) = 0;
    // A pin's type was agreed.
    virtual HRESULT SetMediaType(PIN_DIRECTION direction, const AM_MEDIA_TYPE* pmt);
    virtual HRESULT CheckConnect(PIN_DIRECTION direction, IPin* pin);
    virtual HRESULT BreakConnect(PIN_DIRECTION direction);
    virtual HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* receivePin);
    // Stopped <-> paused, under both locks.
    virtual HRESULT StartStreaming();
    virtual HRESULT StopStreaming();
    // One sample that passed the input pin's checks. [streaming thread, receive lock]
    virtual HRESULT Receive(IMediaSample* sample) = 0;
    // Stream control, passed downstream by default. [streaming thread, receive lock; flushes on
    // the application thread]
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();
    virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    // ---- For pins and derived filters --------------------------------------------------------
    CCritSec* ReceiveLock() { return &receiveLock_; }
    CTransformInputPin* InputPin() const { return input_; }
    CTransformOutputPin* OutputPin() const { return output_; }

protected:
    CCritSec filterLock_;
    CCritSec receiveLock_;
    // Made by GetPin; deleted with the filter.
    CTransformInputPin* input_;
    CTransformOutputPin* output_;
    bool eosDelivered_;
};

class CTransInPlaceFilter;

class CTransInPlaceInputPin : public CTransformInputPin {
public:
    CTransInPlaceInputPin(CTransInPlaceFilter* filter, const WCHAR* name);

    // With the output connected, the downstream pin's allocator; else our own.
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** ppAllocator) override;
    // Takes the upstream allocator and offers it downstream. A read-only allocator is refused
    // when the filter modifies data: its buffers are changed in place and never copied.
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
    // The filter's CheckInputType; with the output connected, exactly the output's type.
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;
    // The connected output's type, if any.
    HRESULT GetMediaType(int position, CMediaType* pmt) override;

protected:
    CTransInPlaceFilter* inPlace_;
};

class CTransInPlaceOutputPin : public CTransformOutputPin {
public:
    CTransInPlaceOutputPin(CTransInPlaceFilter* filter, const WCHAR* name);

    // The filter's CheckInputType; with the input connected, exactly the input's type.
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;
    // The connected input's type, if any.
    HRESULT GetMediaType(int position, CMediaType* pmt) override;
    // The upstream allocator when downstream takes it; else the usual choice.
    HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** ppAlloc) override;

protected:
    CTransInPlaceFilter* inPlace_;
};

class CTransInPlaceFilter : public CTransformFilter {
public:
    // modifiesData: the filter writes into the samples (read-only allocators are refused).
    CTransInPlaceFilter(IUnknown* outer, REFCLSID clsid, bool modifiesData);

    // Input: CTransInPlaceInputPin; output: CTransInPlaceOutputPin.
    CBasePin* GetPin(int n) override;

    // Input and output types are one.
    HRESULT CheckTransform(const AM_MEDIA_TYPE* in, const AM_MEDIA_TYPE* out) override;
    // The pins never ask: E_UNEXPECTED.
    HRESULT GetMediaType(int position, CMediaType* pmt) override;
    // At least the upstream allocator's buffers and downstream's requirements, at least one
    // buffer of one byte.
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override;
    // Transform in place, then deliver the same sample; S_FALSE from Transform drops it.
    HRESULT Receive(IMediaSample* sample) override;

    // The in-place work on one sample. [streaming thread, receive lock]
    virtual HRESULT Transform(IMediaSample* sample) = 0;

    bool ModifiesData() const { return modifiesData_; }

private:
    bool modifiesData_;
};
