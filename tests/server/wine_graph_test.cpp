// The built module in the system's filter graph manager: File Source (Async) and the WAVE parser
// (or, for float, a push source written for the test) feed BRIO FX, a sink written for the test
// renders, the graph runs without a clock to EC_COMPLETE.
// The rendered audio must equal a plain computation of the slapback delay (the same one the
// native filter tests compare against), byte for byte, in every format.
#include "platform/dshow/base_filter.h"
#include "platform/dshow/pins.h"
#include "server/module.h"
#include "tests/filter/delay_reference.h"
#include "tests/platform/dshow/test_filters.h"
#include "tests/server/wine_support.h"

#include <control.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace {

const CLSID kClsidWaveParser = {0xd51bd5a1, 0x7548, 0x11cf, {0xa5, 0x20, 0x00, 0x80, 0xc7, 0x7e, 0xf5, 0x8a}};
const CLSID kClsidGraphSink = {0x6d1e0a20, 0x2b3c, 0x4d5e, {0x9f, 0x01, 0x11, 0x22, 0x33, 0x44, 0x55, 0x20}};

class GraphSinkPin final : public CBaseInputPin {
public:
    GraphSinkPin(CBaseFilter* filter, CCritSec* lock) : CBaseInputPin(filter, lock, L"In") {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override {
        return IsEqualGUID(pmt->majortype, MEDIATYPE_Audio) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
        const HRESULT hr = CBaseInputPin::Receive(sample);
        if (hr != S_OK) return hr;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::lock_guard<std::mutex> guard(mutex);
        bytes.insert(bytes.end(), data, data + sample->GetActualDataLength());
        ++samples;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EndOfStream() override {
        {
            std::lock_guard<std::mutex> guard(mutex);
            ++endOfStreams;
        }
        return filter_->NotifyEvent(EC_COMPLETE, S_OK, 0);
    }

    std::mutex mutex;
    std::vector<BYTE> bytes;
    int samples = 0;
    int endOfStreams = 0;
};

// A renderer to the graph: it reports itself as one and sends EC_COMPLETE at end of stream.
class GraphSink final : public CBaseFilter, public IAMFilterMiscFlags {
public:
    static GraphSink* Create() {
        GraphSink* sink = new GraphSink();
        if (sink) sink->NonDelegatingAddRef();
        return sink;
    }
    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IAMFilterMiscFlags)) {
            return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
        }
        return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    GraphSinkPin& Pin() { return pin_; }

private:
    GraphSink() : CBaseFilter(nullptr, &lock_, kClsidGraphSink), pin_(this, &lock_) {}
    CCritSec lock_;
    GraphSinkPin pin_;
};

IPin* FindPinByDirection(IBaseFilter* filter, PIN_DIRECTION direction) {
    IEnumPins* pins = nullptr;
    if (FAILED(filter->EnumPins(&pins))) return nullptr;
    IPin* pin = nullptr;
    IPin* found = nullptr;
    while (!found && pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION d;
        if (SUCCEEDED(pin->QueryDirection(&d)) && d == direction) {
            found = pin;
        } else {
            pin->Release();
        }
    }
    pins->Release();
    return found;
}

void Put32(std::vector<BYTE>* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<BYTE>(v >> (8 * i)));
}

// A RIFF WAVE file with an 18-byte format chunk.
bool WriteWave(const std::wstring& path, const WAVEFORMATEX& format, const std::vector<BYTE>& data) {
    std::vector<BYTE> file = {'R', 'I', 'F', 'F'};
    Put32(&file, static_cast<uint32_t>(4 + 8 + 18 + 8 + data.size() + (data.size() & 1)));
    file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(&file, 18);
    const BYTE* wfx = reinterpret_cast<const BYTE*>(&format);
    file.insert(file.end(), wfx, wfx + 18);
    file.insert(file.end(), {'d', 'a', 't', 'a'});
    Put32(&file, static_cast<uint32_t>(data.size()));
    file.insert(file.end(), data.begin(), data.end());
    if (data.size() & 1) file.push_back(0);
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    return std::fclose(f) == 0 && ok;
}

std::vector<BYTE> TestSignal(const WAVEFORMATEX& f, size_t frames, unsigned seed) {
    std::mt19937 rng(seed);
    const size_t count = frames * f.nChannels;
    std::vector<BYTE> bytes(count * (f.wBitsPerSample / 8));
    for (size_t i = 0; i < count; ++i) {
        // A tone with a little noise, at about half scale.
        const double v = 0.45 * std::sin(0.031 * static_cast<double>(i / f.nChannels)) +
                         0.05 * (static_cast<double>(rng() % 2001) / 1000.0 - 1.0);
        if (f.wFormatTag == WAVE_FORMAT_PCM && f.wBitsPerSample == 8) {
            bytes[i] = static_cast<BYTE>(128 + static_cast<int>(v * 127));
        } else if (f.wFormatTag == WAVE_FORMAT_PCM && f.wBitsPerSample == 16) {
            const int16_t s = static_cast<int16_t>(v * 32767);
            std::memcpy(&bytes[i * 2], &s, 2);
        } else if (f.wFormatTag == WAVE_FORMAT_PCM) {
            const int32_t s = static_cast<int32_t>(v * 2147483647.0);
            std::memcpy(&bytes[i * 4], &s, 4);
        } else if (f.wBitsPerSample == 32) {
            const float s = static_cast<float>(v);
            std::memcpy(&bytes[i * 4], &s, 4);
        } else {
            std::memcpy(&bytes[i * 8], &v, 8);
        }
    }
    return bytes;
}

struct GraphRun {
    HRESULT connect = E_FAIL;
    HRESULT wait = E_FAIL;
    LONG eventCode = 0;
    std::vector<BYTE> rendered;
    ULONG drainFrames = 0;
    int endOfStreams = 0;
};

// Renders `input` through the graph with the slapback preset: from a WAVE file through File Source
// (Async) and the WAVE parser when `file` is given, else from a push source written for the test.
GraphRun Render(brio_wine::Module& module, const WAVEFORMATEX& wfx, const std::vector<BYTE>& input,
                const std::wstring* file) {
    GraphRun run;
    IGraphBuilder* graph = nullptr;
    IBaseFilter* reader = nullptr;
    IBaseFilter* parser = nullptr;
    IBaseFilter* fx = nullptr;
    IFileSourceFilter* load = nullptr;
    IStaticFilterPreset* presets = nullptr;
    tw::test::TestSourceFilter* push = nullptr;
    GraphSink* sink = GraphSink::Create();
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  reinterpret_cast<void**>(&graph));
    if (SUCCEEDED(hr)) hr = module.Create(IID_IBaseFilter, reinterpret_cast<void**>(&fx));
    if (SUCCEEDED(hr)) hr = fx->QueryInterface(IID_IStaticFilterPreset, reinterpret_cast<void**>(&presets));
    if (SUCCEEDED(hr)) hr = presets->LoadPreset(4);  // "Slapback Delay"
    if (SUCCEEDED(hr)) hr = graph->AddFilter(fx, L"BRIO FX");
    if (SUCCEEDED(hr)) hr = graph->AddFilter(sink, L"Sink");
    IPin* upstream = nullptr;
    if (SUCCEEDED(hr) && file) {
        hr = CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(&reader));
        if (SUCCEEDED(hr)) hr = reader->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&load));
        if (SUCCEEDED(hr)) hr = load->Load(file->c_str(), nullptr);
        if (SUCCEEDED(hr)) hr = CoCreateInstance(kClsidWaveParser, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                                 reinterpret_cast<void**>(&parser));
        if (SUCCEEDED(hr)) hr = graph->AddFilter(reader, L"File Source");
        if (SUCCEEDED(hr)) hr = graph->AddFilter(parser, L"WAVE Parser");
        IPin* readerOut = SUCCEEDED(hr) ? FindPinByDirection(reader, PINDIR_OUTPUT) : nullptr;
        IPin* parserIn = SUCCEEDED(hr) ? FindPinByDirection(parser, PINDIR_INPUT) : nullptr;
        hr = readerOut && parserIn ? graph->ConnectDirect(readerOut, parserIn, nullptr) : E_FAIL;
        if (readerOut) readerOut->Release();
        if (parserIn) parserIn->Release();
        if (SUCCEEDED(hr)) upstream = FindPinByDirection(parser, PINDIR_OUTPUT);  // made on connection
    } else if (SUCCEEDED(hr)) {
        push = tw::test::TestSourceFilter::Create();
        BYTE block[sizeof(WAVEFORMATEX)];
        std::memcpy(block, &wfx, sizeof(wfx));
        push->Pin()->type.SetType(&MEDIATYPE_Audio);
        push->Pin()->type.SetSubtype(&MEDIASUBTYPE_IEEE_FLOAT);
        push->Pin()->type.SetFormatType(&FORMAT_WaveFormatEx);
        push->Pin()->type.SetFormat(block, sizeof(block));
        push->Pin()->bufferBytes = 4410 * wfx.nBlockAlign;
        hr = graph->AddFilter(push, L"Push Source");
        if (SUCCEEDED(hr)) {
            upstream = push->Pin();
            upstream->AddRef();
        }
    }
    IPin* fxIn = SUCCEEDED(hr) ? FindPinByDirection(fx, PINDIR_INPUT) : nullptr;
    IPin* fxOut = SUCCEEDED(hr) ? FindPinByDirection(fx, PINDIR_OUTPUT) : nullptr;
    if (SUCCEEDED(hr)) hr = upstream && fxIn && fxOut ? graph->ConnectDirect(upstream, fxIn, nullptr) : E_FAIL;
    if (SUCCEEDED(hr)) hr = graph->ConnectDirect(fxOut, &sink->Pin(), nullptr);
    run.connect = hr;

    if (SUCCEEDED(hr)) {
        IMediaFilter* clockless = nullptr;
        IMediaControl* control = nullptr;
        IMediaEvent* events = nullptr;
        graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&clockless));
        graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
        graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events));
        if (clockless && control && events) {
            clockless->SetSyncSource(nullptr);  // render as fast as the samples come
            IMemAllocator* allocator = sink->Pin().PeekAllocator();
            ALLOCATOR_PROPERTIES props = {};
            if (allocator) allocator->GetProperties(&props);
            run.drainFrames = static_cast<ULONG>(props.cbBuffer) / wfx.nBlockAlign;
            if (SUCCEEDED(control->Run())) {
                if (push) {
                    // The test thread is the push source's streaming thread.
                    const size_t step = 4410 * wfx.nBlockAlign;
                    for (size_t at = 0; at < input.size(); at += step) {
                        const size_t n = std::min(step, input.size() - at);
                        push->Push(input.data() + at, static_cast<LONG>(n), at == 0);
                    }
                    push->Pin()->DeliverEndOfStream();
                }
                run.wait = events->WaitForCompletion(30000, &run.eventCode);
            }
            control->Stop();
        }
        if (clockless) clockless->Release();
        if (control) control->Release();
        if (events) events->Release();
    }
    {
        std::lock_guard<std::mutex> guard(sink->Pin().mutex);
        run.rendered = sink->Pin().bytes;
        run.endOfStreams = sink->Pin().endOfStreams;
    }
    for (IPin* pin : {upstream, fxIn, fxOut}) {
        if (pin) pin->Release();
    }
    if (presets) presets->Release();
    if (load) load->Release();
    if (graph) graph->Release();  // takes the filters out of the graph
    if (reader) reader->Release();
    if (parser) parser->Release();
    if (fx) fx->Release();
    if (push) push->Release();
    sink->Release();
    return run;
}

}  // namespace

TEST(WineGraph, RendersEveryFormatAsThePlainComputationSays) {
    brio_wine::ComScope com;
    brio_wine::Module module;
    ASSERT_TRUE(module.Loaded());
    wchar_t temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);

    struct Format {
        WORD tag;
        WORD bits;
    };
    const Format formats[] = {{WAVE_FORMAT_PCM, 8},
                              {WAVE_FORMAT_PCM, 16},
                              {WAVE_FORMAT_PCM, 32},
                              {WAVE_FORMAT_IEEE_FLOAT, 32},
                              {WAVE_FORMAT_IEEE_FLOAT, 64}};
    const brio_test::DelaySetting slapback = {500, 300, 300};
    for (const Format& f : formats) {
        for (WORD channels = 1; channels <= 2; ++channels) {
            WAVEFORMATEX wfx = {};
            wfx.wFormatTag = f.tag;
            wfx.nChannels = channels;
            wfx.nSamplesPerSec = 44100;
            wfx.wBitsPerSample = f.bits;
            wfx.nBlockAlign = static_cast<WORD>(channels * f.bits / 8);
            wfx.nAvgBytesPerSec = wfx.nSamplesPerSec * wfx.nBlockAlign;
            // An even data size: the system's parser loses the data of an odd-sized chunk.
            const std::vector<BYTE> input = TestSignal(wfx, 11026, f.bits + channels);
            // The system's WAVE parser offers float only as an extensible format, which the filter
            // does not take: float streams come from the push source.
            const bool fromFile = f.tag == WAVE_FORMAT_PCM;
            const std::wstring file = std::wstring(temp) + L"brio_fx_" + std::to_wstring(f.bits) + L"_" +
                                      std::to_wstring(channels) + L".wav";
            if (fromFile) {
                ASSERT_TRUE(WriteWave(file, wfx, input));
            }

            const GraphRun run = Render(module, wfx, input, fromFile ? &file : nullptr);
            if (fromFile) DeleteFileW(file.c_str());
            const std::string what = std::to_string(f.tag) + "/" + std::to_string(f.bits) + "/" +
                                     std::to_string(channels);
            ASSERT_EQ(run.connect, S_OK) << what;
            ASSERT_EQ(run.wait, S_OK) << what;
            EXPECT_EQ(run.eventCode, EC_COMPLETE) << what;
            EXPECT_EQ(run.endOfStreams, 1) << what;
            ASSERT_GT(run.drainFrames, 0u) << what;
            const std::vector<BYTE> expected =
                brio_test::ExpectedDelayOutput(wfx, input, slapback, run.drainFrames);
            ASSERT_EQ(run.rendered.size(), expected.size()) << what;
            EXPECT_TRUE(run.rendered == expected) << what;
        }
    }
    EXPECT_EQ(module.CanUnloadNow(), S_OK);
}
