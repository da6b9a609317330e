// Shared pieces of the filter's tests: media samples a host might hand in (with the silence
// extension), a filter between the test source and sink, and a host tempo map.
#pragma once

#include "filter/brio_fx.h"
#include "platform/host_timing.h"
#include "tests/platform/dshow/test_filters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace brio_test {

// A media sample over its own buffer that counts how often its data pointer is fetched.
class HostSample final : public IMediaSample, public ITwMediaSampleSilence {
public:
    explicit HostSample(LONG size) : buffer_(static_cast<size_t>(size), 0), length_(size) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMediaSample)) {
            *ppv = static_cast<IMediaSample*>(this);
        } else if (offerSilence && IsEqualIID(riid, IID_ITwMediaSampleSilence)) {
            *ppv = static_cast<ITwMediaSampleSilence*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }

    BOOL STDMETHODCALLTYPE IsSilent() override {
        ++silenceQueries;
        return silent;
    }

    HRESULT STDMETHODCALLTYPE GetPointer(BYTE** ppBuffer) override {
        ++pointerFetches;
        if (!ppBuffer) return E_POINTER;
        if (failPointer) return E_FAIL;
        *ppBuffer = buffer_.data();
        return S_OK;
    }
    LONG STDMETHODCALLTYPE GetSize() override { return static_cast<LONG>(buffer_.size()); }
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME*, REFERENCE_TIME*) override {
        return VFW_E_SAMPLE_TIME_NOT_SET;
    }
    HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsPreroll() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetPreroll(BOOL) override { return S_OK; }
    LONG STDMETHODCALLTYPE GetActualDataLength() override { return length_; }
    HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) override {
        if (length < 0 || length > GetSize()) return VFW_E_BUFFER_OVERFLOW;
        length_ = length;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** type) override {
        *type = nullptr;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return discontinuity ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL value) override {
        discontinuity = value != 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG*, LONGLONG*) override {
        return VFW_E_MEDIA_TIME_NOT_SET;
    }
    HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG*, LONGLONG*) override { return S_OK; }

    BYTE* Bytes() { return buffer_.data(); }
    template <class T>
    T* As() {
        return reinterpret_cast<T*>(buffer_.data());
    }

    ULONG refs = 1;
    bool offerSilence = true;
    BOOL silent = FALSE;
    bool discontinuity = false;
    bool failPointer = false;
    int pointerFetches = 0;
    int silenceQueries = 0;

private:
    std::vector<BYTE> buffer_;
    LONG length_;
};

// The filter, made through its create function, between the test source and sink.
struct FxGraph {
    FxGraph() {
        HRESULT hr = E_FAIL;
        fx = static_cast<CTwBrioFx*>(CTwBrioFx::CreateInstance(nullptr, &hr));
        EXPECT_EQ(hr, S_OK);
        fx->NonDelegatingAddRef();
        source = tw::test::TestSourceFilter::Create();
        sink = tw::test::TestSinkFilter::Create();
    }
    ~FxGraph() {
        Stop();
        source->Pin()->Disconnect();
        if (fx->GetPin(0)) fx->GetPin(0)->Disconnect();
        if (fx->GetPin(1)) fx->GetPin(1)->Disconnect();
        sink->Pin()->Disconnect();
        EXPECT_EQ(source->Release(), 0u);
        EXPECT_EQ(sink->Release(), 0u);
        EXPECT_EQ(fx->Release(), 0u);
    }

    // Source and sink connected with this format; buffers of bufferFrames frames.
    HRESULT Connect(WORD tag, WORD channels, DWORD rate, WORD bits, LONG bufferFrames = 4096) {
        tw::test::MakeAudioType(&source->Pin()->type, tag, channels, rate, bits);
        source->Pin()->bufferBytes = bufferFrames * channels * (bits / 8);
        HRESULT hr = source->Pin()->Connect(fx->GetPin(0), nullptr);
        if (SUCCEEDED(hr)) hr = fx->GetPin(1)->Connect(sink->Pin(), nullptr);
        return hr;
    }
    // Downstream first, as a graph does.
    HRESULT Run() {
        HRESULT hr = sink->Run(0);
        if (SUCCEEDED(hr)) hr = fx->Run(0);
        if (SUCCEEDED(hr)) hr = source->Run(0);
        return hr;
    }
    void Stop() {
        sink->Stop();
        fx->Stop();
        source->Stop();
    }
    IMemInputPin* Input() { return static_cast<CBaseInputPin*>(fx->InputPin()); }
    std::vector<tw::test::ReceivedSample>& Received() { return sink->Pin()->samples; }

    CTwBrioFx* fx = nullptr;
    tw::test::TestSourceFilter* source = nullptr;
    tw::test::TestSinkFilter* sink = nullptr;
};

// Every block off: the chain is the identity.
inline FxParams AllBlocksOff() {
    FxParams p = kDefaultFxParams;
    p.delayOn = p.reverbOn = p.lfoOn = p.distOn = p.eqOn = 0;
    return p;
}

// A delay of timeTenthsMs with the given decay at 50 % wet, nothing else.
inline FxParams DelayOnly(int32_t timeTenthsMs, int32_t decay) {
    FxParams p = AllBlocksOff();
    p.delayOn = 1;
    p.delayClock = kClockTime;
    p.delayTime = timeTenthsMs;
    p.delayDecay = decay;
    p.delayMix = 500;
    return p;
}

// A host with a tempo map whose entries are given in samples (a tick is ten samples, through the
// time converter).
class TempoHost final : public IHostTempoMap, public IHostTimeConverter {
public:
    struct Entry {
        LONG tick;
        int hundredths;
    };

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IHostTempoMap)) {
            *ppv = static_cast<IHostTempoMap*>(this);
        } else if (IsEqualIID(riid, IID_IHostTimeConverter)) {
            *ppv = static_cast<IHostTimeConverter*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }

    LONG STDMETHODCALLTYPE TicksToMsecs(LONG ticks) override { return ticks; }
    LONG STDMETHODCALLTYPE MsecsToTicks(LONG msecs) override { return msecs; }
    int STDMETHODCALLTYPE GetTicksPerQuarterNote() override { return 960; }
    int STDMETHODCALLTYPE GetTempoIndexForTime(LONG ticks) override {
        int index = 0;
        for (int i = 0; i < count; ++i) {
            if (entries[i].tick <= ticks) index = i;
        }
        return index;
    }
    int STDMETHODCALLTYPE GetTempoCount() override { return count; }
    HRESULT STDMETHODCALLTYPE GetTempoAt(int index, LONG* startTicks, int* hundredths) override {
        if (index < 0 || index >= count) return E_INVALIDARG;
        *startTicks = entries[index].tick;
        *hundredths = entries[index].hundredths;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConvertTime(HostTime* time, int32_t toFormat) override {
        if (time->format == kHostTimeTicks && toFormat == kHostTimeSamples) {
            time->value *= 10;
        } else if (time->format == kHostTimeSamples && toFormat == kHostTimeTicks) {
            time->value /= 10;
        } else {
            return E_INVALIDARG;
        }
        time->format = toFormat;
        return S_OK;
    }

    IUnknown* Handed() {
        AddRef();
        return static_cast<IHostTempoMap*>(this);
    }

    Entry entries[4] = {};
    int count = 0;
    ULONG refs = 1;
};

}  // namespace brio_test
