// Small filters for the framework's conformance tests and the filters' own: a push source with one
// output pin, a sink with one input pin that records everything it is given, and a graph stand-in
// that receives events. Header-only so that every test program can use them.
#pragma once

#include "platform/dshow/allocator.h"
#include "platform/dshow/base_filter.h"
#include "platform/dshow/combase.h"
#include "platform/dshow/media_type.h"
#include "platform/dshow/pins.h"
#include "tests/support/wave_format.h"

#include <cstring>
#include <mutex>
#include <vector>

namespace tw {
namespace test {

inline constexpr CLSID kTestSourceClsid = {
    0x6d1e0a01, 0x2b3c, 0x4d5e, {0x9f, 0x01, 0x11, 0x22, 0x33, 0x44, 0x55, 0x01}};
inline constexpr CLSID kTestSinkClsid = {
    0x6d1e0a02, 0x2b3c, 0x4d5e, {0x9f, 0x01, 0x11, 0x22, 0x33, 0x44, 0x55, 0x02}};

// An audio media type with a WAVEFORMATEX block of formatBytes bytes (16 or 18).
inline void MakeAudioType(CMediaType* mt, WORD tag, WORD channels, DWORD rate, WORD bits,
                          ULONG formatBytes = sizeof(WAVEFORMATEX)) {
    mt->Reset();
    mt->SetType(&MEDIATYPE_Audio);
    mt->SetSubtype(tag == WAVE_FORMAT_IEEE_FLOAT ? &MEDIASUBTYPE_IEEE_FLOAT : &MEDIASUBTYPE_PCM);
    mt->SetFormatType(&FORMAT_WaveFormatEx);
    const WAVEFORMATEX wfx = testing_support::MakeWaveFormat(tag, channels, rate, bits);
    BYTE bytes[sizeof(WAVEFORMATEX)] = {};
    std::memcpy(bytes, &wfx, sizeof(wfx));
    mt->SetFormat(bytes, formatBytes);
    mt->SetSampleSize(wfx.nBlockAlign);
}

inline const WAVEFORMATEX* FormatOf(const AM_MEDIA_TYPE& mt) {
    return reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
}

// ---- Source ------------------------------------------------------------------------------------

class TestSourceFilter;

class TestSourcePin final : public CBaseOutputPin {
public:
    TestSourcePin(CBaseFilter* filter, CCritSec* lock)
        : CBaseOutputPin(filter, lock, TW_W("Out")) {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override {
        return CMediaType::Equal(*pmt, type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, CMediaType* pmt) override {
        if (position < 0) return E_INVALIDARG;
        if (position > 0 || !type.IsValid()) return VFW_S_NO_MORE_ITEMS;
        return pmt->Set(type);
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override {
        ALLOCATOR_PROPERTIES request = *props;
        if (request.cBuffers < buffers) request.cBuffers = buffers;
        if (request.cbBuffer < bufferBytes) request.cbBuffer = bufferBytes;
        if (request.cbAlign < 1) request.cbAlign = 1;
        ALLOCATOR_PROPERTIES actual = {};
        return allocator->SetProperties(&request, &actual);
    }

    CMediaType type;
    LONG buffers = 2;
    LONG bufferBytes = 4096;
};

// A filter with one output pin that the test drives: Push fills a buffer and delivers it.
class TestSourceFilter final : public CBaseFilter {
public:
    static TestSourceFilter* Create() {
        TestSourceFilter* f = new TestSourceFilter();
        if (f) f->NonDelegatingAddRef();
        return f;
    }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }

    TestSourcePin* Pin() { return &pin_; }

    // One buffer from the agreed allocator with bytes copied in; returns the delivery's result.
    HRESULT Push(const void* bytes, LONG length, bool discontinuity = false,
                 REFERENCE_TIME* start = nullptr, REFERENCE_TIME* stop = nullptr) {
        IMediaSample* sample = nullptr;
        HRESULT hr = pin_.GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
        if (FAILED(hr)) return hr;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        if (length > sample->GetSize()) length = sample->GetSize();
        std::memcpy(data, bytes, static_cast<size_t>(length));
        sample->SetActualDataLength(length);
        sample->SetDiscontinuity(discontinuity ? TRUE : FALSE);
        if (start) sample->SetTime(start, stop);
        hr = pin_.Deliver(sample);
        sample->Release();
        return hr;
    }

private:
    TestSourceFilter() : CBaseFilter(nullptr, &lock_, kTestSourceClsid), pin_(this, &lock_) {}

    CCritSec lock_;
    TestSourcePin pin_;
};

// ---- Sink --------------------------------------------------------------------------------------

struct ReceivedSample {
    IMediaSample* pointer;  // identity only: the sample is not held
    std::vector<BYTE> data;
    bool discontinuity;
    HRESULT timeResult;
    REFERENCE_TIME start;
    REFERENCE_TIME stop;
};

class TestSinkPin final : public CBaseInputPin {
public:
    TestSinkPin(CBaseFilter* filter, CCritSec* lock) : CBaseInputPin(filter, lock, TW_W("In")) {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override {
        if (!acceptAny && !IsEqualGUID(pmt->majortype, MEDIATYPE_Audio)) {
            return VFW_E_TYPE_NOT_ACCEPTED;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override {
        if (!pProps) return E_POINTER;
        if (requirements.cBuffers == 0) return E_NOTIMPL;
        *pProps = requirements;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** ppAllocator) override {
        if (!offered) return CBaseInputPin::GetAllocator(ppAllocator);
        if (!ppAllocator) return E_POINTER;
        offered->AddRef();
        *ppAllocator = offered;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override {
        if (pAllocator && insistOnOwnAllocator) {
            // Only the allocator this pin handed out itself.
            IMemAllocator* own = nullptr;
            GetAllocator(&own);
            const bool same = own == pAllocator;
            if (own) own->Release();
            if (!same) return E_FAIL;
        }
        return CBaseInputPin::NotifyAllocator(pAllocator, bReadOnly);
    }

    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* pSample) override {
        const HRESULT hr = CBaseInputPin::Receive(pSample);
        if (hr != S_OK) return hr;
        ReceivedSample r;
        r.pointer = pSample;
        BYTE* data = nullptr;
        pSample->GetPointer(&data);
        r.data.assign(data, data + pSample->GetActualDataLength());
        r.discontinuity = pSample->IsDiscontinuity() == S_OK;
        r.start = r.stop = 0;
        r.timeResult = pSample->GetTime(&r.start, &r.stop);
        std::lock_guard<std::mutex> guard(mutex);
        samples.push_back(std::move(r));
        return receiveResult;
    }

    HRESULT STDMETHODCALLTYPE EndOfStream() override {
        std::lock_guard<std::mutex> guard(mutex);
        ++endOfStreams;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BeginFlush() override {
        ++beginFlushes;
        return CBaseInputPin::BeginFlush();
    }
    HRESULT STDMETHODCALLTYPE EndFlush() override {
        ++endFlushes;
        return CBaseInputPin::EndFlush();
    }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                         double dRate) override {
        ++newSegments;
        return CBaseInputPin::NewSegment(tStart, tStop, dRate);
    }

    std::mutex mutex;
    std::vector<ReceivedSample> samples;
    int endOfStreams = 0;
    int beginFlushes = 0;
    int endFlushes = 0;
    int newSegments = 0;
    bool acceptAny = false;
    bool insistOnOwnAllocator = false;
    IMemAllocator* offered = nullptr;  // handed out instead of our own when set (not held)
    HRESULT receiveResult = S_OK;
    ALLOCATOR_PROPERTIES requirements = {};
};

class TestSinkFilter final : public CBaseFilter {
public:
    static TestSinkFilter* Create() {
        TestSinkFilter* f = new TestSinkFilter();
        if (f) f->NonDelegatingAddRef();
        return f;
    }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    TestSinkPin* Pin() { return &pin_; }

private:
    TestSinkFilter() : CBaseFilter(nullptr, &lock_, kTestSinkClsid), pin_(this, &lock_) {}

    CCritSec lock_;
    TestSinkPin pin_;
};

// ---- Graph stand-in ----------------------------------------------------------------------------

struct TestEvent {
    LONG code;
    LONG_PTR param1;
    LONG_PTR param2;
};

// IFilterGraph and IMediaEventSink with a plain count; only the event sink does anything.
class TestGraph final : public IFilterGraph, public IMediaEventSink {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IFilterGraph)) {
            *ppv = static_cast<IFilterGraph*>(this);
        } else if (IsEqualIID(riid, IID_IMediaEventSink)) {
            *ppv = static_cast<IMediaEventSink*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++ref; }
    ULONG STDMETHODCALLTYPE Release() override { return --ref; }

    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR, IBaseFilter**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Reconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Disconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Notify(LONG code, LONG_PTR p1, LONG_PTR p2) override {
        events.push_back({code, p1, p2});
        return S_OK;
    }

    ULONG ref = 1;
    std::vector<TestEvent> events;
};

// The reference count of a COM object, read by an AddRef/Release pair.
inline ULONG RefCount(IUnknown* unknown) {
    unknown->AddRef();
    return unknown->Release();
}

}  // namespace test
}  // namespace tw
