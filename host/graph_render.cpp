// The host's side of the graph: a source filter that pushes the file's audio in buffers and a
// sink filter that collects what comes out, with the BRIO FX filter between them, created through
// the module's class factory as any host creates it.
#include "filter/brio_fx_prop.h"
#include "filter/presets.h"
#include "host/param_table.h"
#include "host/render.h"
#include "platform/com_stream.h"
#include "platform/dshow/base_filter.h"
#include "platform/dshow/pins.h"
#include "filter/brio_fx.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

namespace host {

namespace {

template <class T>
struct ComPtr {
    T* p = nullptr;
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() {
        if (p) p->Release();
    }
    T** out() { return &p; }
    T* operator->() const { return p; }
};

std::string Hex(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

WAVEFORMATEX FeedWaveFormat(const AudioInfo& info) {
    WAVEFORMATEX f{};
    f.wFormatTag = FeedIsFloat(info.feed) ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
    f.nChannels = static_cast<WORD>(info.channels);
    f.nSamplesPerSec = static_cast<DWORD>(info.rate);
    f.wBitsPerSample = static_cast<WORD>(FeedBits(info.feed));
    f.nBlockAlign = static_cast<WORD>(f.nChannels * f.wBitsPerSample / 8);
    f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
    return f;
}

// The host's pins take exactly the file's feed format.
HRESULT MatchType(const CMediaType& type, const AM_MEDIA_TYPE* pmt) {
    return pmt && IsEqualGUID(pmt->majortype, type.majortype) && pmt->cbFormat >= sizeof(WAVEFORMATEX) &&
                   std::memcmp(pmt->pbFormat, type.pbFormat, sizeof(WAVEFORMATEX)) == 0
               ? S_OK
               : S_FALSE;
}

// ---- Source -------------------------------------------------------------------------------------

class SourcePin final : public CBaseOutputPin {
public:
    SourcePin(CBaseFilter* filter, CCritSec* lock, const CMediaType& type, LONG bufferBytes)
        : CBaseOutputPin(filter, lock, TW_W("Out")), type_(type), bufferBytes_(bufferBytes) {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override { return MatchType(type_, pmt); }
    HRESULT GetMediaType(int position, CMediaType* pmt) override {
        if (position < 0) return E_INVALIDARG;
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        return pmt->Set(type_);
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override {
        ALLOCATOR_PROPERTIES want = *props, got{};
        if (want.cBuffers < 2) want.cBuffers = 2;
        if (want.cbBuffer < bufferBytes_) want.cbBuffer = bufferBytes_;
        if (want.cbAlign < 1) want.cbAlign = 1;
        const HRESULT hr = allocator->SetProperties(&want, &got);
        if (FAILED(hr)) return hr;
        return got.cbBuffer >= bufferBytes_ ? S_OK : E_FAIL;
    }

private:
    const CMediaType& type_;
    LONG bufferBytes_;
};

class SourceFilter final : public CBaseFilter {
public:
    SourceFilter(const CMediaType& type, LONG bufferBytes)
        : CBaseFilter(nullptr, &lock_, GUID{}), pin_(this, &lock_, type, bufferBytes) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    SourcePin& pin() { return pin_; }

private:
    CCritSec lock_;
    SourcePin pin_;
};

// ---- Sink ---------------------------------------------------------------------------------------

// Takes the filter's output as it arrives. Frames up to the end of the input go straight out; in the
// drained tail, silent frames are held back and written only when sound follows, because the
// drain's last buffer carries silence after the tails end and the output should end at its last
// sound. Peak and clipped samples are measured on what is written.
class OutputCollector {
public:
    OutputCollector(const AudioInfo& info, int bufferFrames, bool keepTail, FrameSink* sink, RenderStats* stats)
        : info_(info),
          frameBytes_(info.frameBytes()),
          silentByte_(info.feed == FeedFormat::Pcm8 ? 0x80 : 0x00),
          silence_(static_cast<size_t>(bufferFrames) * frameBytes_, silentByte_),
          keepTail_(keepTail),
          sink_(sink),
          stats_(stats) {}

    // What follows is the drained tail.
    void BeginTail() { inTail_ = true; }

    bool Take(const uint8_t* data, int64_t frames) {
        if (!inTail_) return Emit(data, frames);
        if (!keepTail_) return true;
        int64_t sounding = frames;  // frames up to and including the last non-silent one
        while (sounding > 0 && IsSilent(data + static_cast<size_t>(sounding - 1) * frameBytes_)) --sounding;
        if (sounding == 0) {
            heldSilence_ += frames;
            return true;
        }
        while (heldSilence_ > 0) {
            const int64_t n = std::min<int64_t>(heldSilence_, static_cast<int64_t>(silence_.size() / frameBytes_));
            if (!Emit(silence_.data(), n)) return false;
            heldSilence_ -= n;
        }
        heldSilence_ = frames - sounding;
        return Emit(data, sounding);
    }

    int64_t written() const { return written_; }
    const std::string& error() const { return error_; }

private:
    bool IsSilent(const uint8_t* frame) const {
        for (size_t b = 0; b < frameBytes_; ++b)
            if (frame[b] != silentByte_) return false;
        return true;
    }

    bool Emit(const uint8_t* data, int64_t frames) {
        if (frames <= 0) return true;
        Measure(data, static_cast<size_t>(frames) * info_.channels);
        written_ += frames;
        return sink_->Write(data, frames, &error_);
    }

    template <class T>
    void MeasureSamples(const T* s, size_t n, double scale, double offset, T minCode, T maxCode, bool isFloat) {
        double peak = stats_->peak;
        int64_t clipped = 0;
        for (size_t i = 0; i < n; ++i) {
            const double v = std::fabs((static_cast<double>(s[i]) - offset) * scale);
            peak = v > peak ? v : peak;
            clipped += isFloat ? !(v < 1.0) : (s[i] == minCode || s[i] == maxCode);
        }
        stats_->peak = peak;
        stats_->clipped += clipped;
    }

    void Measure(const uint8_t* b, size_t n) {
        switch (info_.feed) {
        case FeedFormat::Pcm8: MeasureSamples<uint8_t>(b, n, 1 / 128.0, 128, 0, 255, false); break;
        case FeedFormat::Pcm16:
            MeasureSamples(reinterpret_cast<const int16_t*>(b), n, 1 / 32768.0, 0, int16_t{INT16_MIN}, int16_t{INT16_MAX},
                           false);
            break;
        case FeedFormat::Pcm32:
            MeasureSamples(reinterpret_cast<const int32_t*>(b), n, 1 / 2147483648.0, 0, int32_t{INT32_MIN},
                           int32_t{INT32_MAX}, false);
            break;
        case FeedFormat::Float32: MeasureSamples(reinterpret_cast<const float*>(b), n, 1, 0, 0.0f, 0.0f, true); break;
        case FeedFormat::Float64: MeasureSamples(reinterpret_cast<const double*>(b), n, 1, 0, 0.0, 0.0, true); break;
        }
    }

    const AudioInfo info_;
    const size_t frameBytes_;
    const uint8_t silentByte_;
    const std::vector<uint8_t> silence_;
    const bool keepTail_;
    FrameSink* sink_;
    RenderStats* stats_;
    bool inTail_ = false;
    int64_t heldSilence_ = 0;
    int64_t written_ = 0;
    std::string error_;
};

class SinkPin final : public CBaseInputPin {
public:
    SinkPin(CBaseFilter* filter, CCritSec* lock, const CMediaType& type, OutputCollector* out)
        : CBaseInputPin(filter, lock, TW_W("In")), type_(type), out_(out) {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override { return MatchType(type_, pmt); }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
        HRESULT hr = CBaseInputPin::Receive(sample);
        if (hr != S_OK) return hr;
        BYTE* data = nullptr;
        hr = sample->GetPointer(&data);
        if (FAILED(hr)) return hr;
        const LONG length = sample->GetActualDataLength();
        const LONG frameBytes = type_.lSampleSize;
        if (length > 0 && !out_->Take(data, length / frameBytes)) return E_FAIL;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EndOfStream() override {
        ++endOfStream_;
        return S_OK;
    }
    int endOfStreamCount() const { return endOfStream_; }

private:
    const CMediaType& type_;
    OutputCollector* out_;
    int endOfStream_ = 0;
};

class SinkFilter final : public CBaseFilter {
public:
    SinkFilter(const CMediaType& type, OutputCollector* out)
        : CBaseFilter(nullptr, &lock_, GUID{}), pin_(this, &lock_, type, out) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    SinkPin& pin() { return pin_; }

private:
    CCritSec lock_;
    SinkPin pin_;
};

// ---- The filter through the module's class factory ----------------------------------------------

// The module is loaded once, as a host loads an in-process server: BRIO_FX_MODULE, else the module
// beside the program or in the build tree, else the library search path.
using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);

GetClassObjectFn ModuleEntry(std::string* error) {
    static GetClassObjectFn entry = nullptr;
    static std::string failure;
    static bool tried = false;
    if (tried) {
        if (!entry) *error = failure;
        return entry;
    }
    tried = true;
    std::vector<std::string> candidates;
    if (const char* env = std::getenv("BRIO_FX_MODULE")) candidates.push_back(env);
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        std::string dir(self);
        dir.resize(dir.rfind('/') + 1);
        candidates.push_back(dir + "libbriofx.so");
        candidates.push_back(dir + "../server/libbriofx.so");
        candidates.push_back(dir + "../lib/brio-fx/libbriofx.so");
    }
    candidates.push_back("libbriofx.so");
    for (const std::string& path : candidates) {
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) continue;
        entry = reinterpret_cast<GetClassObjectFn>(dlsym(module, "DllGetClassObject"));
        if (entry) return entry;
        dlclose(module);
    }
    failure = "cannot load the BRIO FX module libbriofx.so (set BRIO_FX_MODULE to its path)";
    *error = failure;
    return nullptr;
}

HRESULT CreateFilter(IBaseFilter** filter, std::string* error) {
    const GetClassObjectFn getClassObject = ModuleEntry(error);
    if (!getClassObject) return E_FAIL;
    ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject(CLSID_TwBrioFx, IID_IClassFactory, reinterpret_cast<void**>(factory.out()));
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter));
}

bool ReadBytes(const std::string& path, std::string* bytes, std::string* error) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream s;
    s << f.rdbuf();
    *bytes = s.str();
    return true;
}

int ApplyStep(const SettingStep& step, ITwBrioFxProp* prop, IStaticFilterPreset* presets, IPersistStream* persist,
              RenderStats* stats, std::string* error) {
    switch (step.kind) {
    case SettingStep::kPreset: {
        int count = 0;
        presets->GetPresetCount(&count);
        int index = -1;
        char* end = nullptr;
        const long n = std::strtol(step.text.c_str(), &end, 10);
        if (!step.text.empty() && *end == '\0') {
            index = n >= 0 && n < count ? static_cast<int>(n) : -1;
        } else {
            for (int i = 0; i < count && index < 0; ++i) {
                WCHAR name[kPresetNameChars + 1] = {};
                presets->GetPresetName(i, name, 0);
                std::string narrow;
                for (const WCHAR* c = name; *c; ++c) narrow += static_cast<char>(*c);
                if (EqualsIgnoreCase(narrow, step.text)) index = i;
            }
        }
        if (index < 0) {
            *error = "--preset '" + step.text + "': no such preset (see 'brio-fx presets')";
            return kExitUsage;
        }
        const HRESULT hr = presets->LoadPreset(index);
        if (FAILED(hr)) {
            *error = "--preset '" + step.text + "': refused by the filter (" + Hex(hr) + ")";
            return kExitRefused;
        }
        return kExitOk;
    }
    case SettingStep::kSet: {
        const size_t eq = step.text.find('=');
        const std::string name = step.text.substr(0, eq);
        const ParamField* field = FindParamField(name);
        if (eq == std::string::npos || !field) {
            *error = "--set '" + step.text + "': unknown field (see 'brio-fx params')";
            return kExitUsage;
        }
        int32_t value = 0;
        if (!ParseFieldValue(*field, step.text.substr(eq + 1), &value)) {
            *error = "--set '" + step.text + "': '" + step.text.substr(eq + 1) + "' is not a value of " + field->name;
            return kExitUsage;
        }
        FxParams p{};
        prop->GetParams(&p);
        SetField(&p, *field, value);
        prop->SetParams(&p);
        prop->GetParams(&p);
        if (GetField(p, *field) != value)
            stats->warnings.push_back(std::string(field->name) + "=" + std::to_string(value) + " is out of range; stored " +
                                      DescribeValue(*field, GetField(p, *field)));
        return kExitOk;
    }
    case SettingStep::kLoad: {
        std::string bytes;
        if (!ReadBytes(step.text, &bytes, error)) return kExitIo;
        if (bytes.size() != 116) {
            *error = step.text + ": not a BRIO FX settings file (" + std::to_string(bytes.size()) +
                     " bytes, a settings file has 116)";
            return kExitRefused;
        }
        ComPtr<IStream> stream;
        if (FAILED(tw::CreateMemoryStream(stream.out()))) {
            *error = "out of memory";
            return kExitIo;
        }
        ULONG done = 0;
        stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &done);
        LARGE_INTEGER zero{};
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        const HRESULT hr = persist->Load(stream.p);
        if (FAILED(hr)) {
            *error = step.text + ": not a BRIO FX settings file (wrong size or identifier; " + Hex(hr) + ")";
            return kExitRefused;
        }
        return kExitOk;
    }
    }
    return kExitUsage;
}

int SaveSettings(const std::string& path, IPersistStream* persist, std::string* error) {
    ComPtr<IStream> stream;
    if (FAILED(tw::CreateMemoryStream(stream.out()))) {
        *error = "out of memory";
        return kExitIo;
    }
    HRESULT hr = persist->Save(stream.p, FALSE);
    if (FAILED(hr)) {
        *error = path + ": the filter could not save its settings (" + Hex(hr) + ")";
        return kExitRefused;
    }
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    char bytes[116];
    ULONG got = 0;
    stream->Read(bytes, sizeof bytes, &got);
    const std::string tmp = path + ".part";
    {
        std::ofstream f(tmp, std::ios::binary);
        f.write(bytes, got);
        if (!f) {
            *error = path + ": " + std::strerror(errno);
            std::remove(tmp.c_str());
            return kExitIo;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        *error = path + ": " + std::strerror(errno);
        std::remove(tmp.c_str());
        return kExitIo;
    }
    return kExitOk;
}

}  // namespace

bool ListPresets(std::vector<PresetInfo>* presets, std::string* error) {
    ComPtr<IBaseFilter> filter;
    std::string why;
    HRESULT hr = CreateFilter(filter.out(), &why);
    ComPtr<IStaticFilterPreset> list;
    ComPtr<ITwBrioFxProp> prop;
    if (SUCCEEDED(hr)) hr = filter->QueryInterface(IID_IStaticFilterPreset, reinterpret_cast<void**>(list.out()));
    if (SUCCEEDED(hr)) hr = filter->QueryInterface(IID_ITwBrioFxProp, reinterpret_cast<void**>(prop.out()));
    if (FAILED(hr)) {
        *error = why.empty() ? "cannot create the filter (" + Hex(hr) + ")" : why;
        return false;
    }
    int count = 0;
    list->GetPresetCount(&count);
    for (int i = 0; i < count; ++i) {
        WCHAR name[kPresetNameChars + 1] = {};
        list->GetPresetName(i, name, 0);
        PresetInfo info;
        for (const WCHAR* c = name; *c; ++c) info.name += static_cast<char>(*c);
        list->LoadPreset(i);
        prop->GetParams(&info.params);
        presets->push_back(info);
    }
    return true;
}

int RenderStream(const AudioInfo& info, FrameSource* in, FrameSink* out, const RenderOptions& options,
                 RenderStats* stats, const Progress& progress, std::string* error) {
    ComPtr<IBaseFilter> filter;
    std::string why;
    HRESULT hr = CreateFilter(filter.out(), &why);
    if (FAILED(hr)) {
        *error = why.empty() ? "cannot create the filter through the module's class factory (" + Hex(hr) + ")" : why;
        return kExitRefused;
    }
    ComPtr<ITwBrioFxProp> prop;
    ComPtr<IStaticFilterPreset> presets;
    ComPtr<IPersistStream> persist;
    ComPtr<IMfxSoftSynth> synth;
    if (FAILED(filter->QueryInterface(IID_ITwBrioFxProp, reinterpret_cast<void**>(prop.out()))) ||
        FAILED(filter->QueryInterface(IID_IStaticFilterPreset, reinterpret_cast<void**>(presets.out()))) ||
        FAILED(filter->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(persist.out()))) ||
        FAILED(filter->QueryInterface(IID_IMfxSoftSynth, reinterpret_cast<void**>(synth.out())))) {
        *error = "the filter lacks one of its interfaces";
        return kExitRefused;
    }
    for (const SettingStep& step : options.steps) {
        const int code = ApplyStep(step, prop.p, presets.p, persist.p, stats, error);
        if (code != kExitOk) return code;
    }
    if (!options.saveFile.empty()) {
        const int code = SaveSettings(options.saveFile, persist.p, error);
        if (code != kExitOk) return code;
    }
    prop->GetParams(&stats->params);

    HostTempoMap tempoMap(options.tempoChanges, info.rate);
    if (options.haveTempoMap) {
        tempoMap.AddRef();  // the filter releases the host object once after attaching
        hr = synth->AttachHost(static_cast<IHostTempoMap*>(&tempoMap));
        if (SUCCEEDED(hr)) hr = synth->TransportStart(0);
        if (FAILED(hr)) {
            *error = "the filter refused the host tempo map (" + Hex(hr) + ")";
            return kExitRefused;
        }
    }

    // The graph: source -> BRIO FX -> sink, every pin agreeing on the file's feed format.
    const WAVEFORMATEX wfx = FeedWaveFormat(info);
    CMediaType type;
    type.majortype = MEDIATYPE_Audio;
    type.subtype = FeedIsFloat(info.feed) ? MEDIASUBTYPE_IEEE_FLOAT : MEDIASUBTYPE_PCM;
    type.formattype = FORMAT_WaveFormatEx;
    type.bFixedSizeSamples = TRUE;
    type.lSampleSize = wfx.nBlockAlign;
    if (FAILED(type.SetFormat(reinterpret_cast<const BYTE*>(&wfx), sizeof wfx))) {
        *error = "out of memory";
        return kExitIo;
    }
    const LONG bufferBytes = static_cast<LONG>(options.bufferFrames) * wfx.nBlockAlign;
    OutputCollector collector(info, options.bufferFrames, options.tail, out, stats);
    auto* source = new SourceFilter(type, bufferBytes);
    auto* sink = new SinkFilter(type, &collector);
    if (!source || !sink) {
        delete source;
        delete sink;
        *error = "out of memory";
        return kExitIo;
    }
    source->NonDelegatingAddRef();
    sink->NonDelegatingAddRef();
    int code = kExitOk;
    ComPtr<IPin> filterIn, filterOut;
    hr = filter->FindPin(TW_W("In"), filterIn.out());
    if (FAILED(hr)) hr = filter->FindPin(TW_W("Input"), filterIn.out());
    if (SUCCEEDED(hr)) hr = filter->FindPin(TW_W("Output"), filterOut.out());
    if (SUCCEEDED(hr)) hr = source->pin().Connect(filterIn.p, &type);
    if (FAILED(hr)) {
        *error = std::string("the filter refused ") + FeedName(info.feed) + " at " + std::to_string(info.rate) +
                 " Hz, " + std::to_string(info.channels) + " channel(s) (" + Hex(hr) + ")";
        code = kExitRefused;
    }
    if (code == kExitOk && FAILED(hr = filterOut->Connect(&sink->pin(), &type))) {
        *error = "the filter's output did not connect (" + Hex(hr) + ")";
        code = kExitRefused;
    }
    // A graph pauses and runs downstream first.
    if (code == kExitOk && (FAILED(hr = sink->Pause()) || FAILED(hr = filter->Pause()) || FAILED(hr = source->Pause()) ||
                            FAILED(hr = sink->Run(0)) || FAILED(hr = filter->Run(0)) || FAILED(hr = source->Run(0)))) {
        *error = "the graph did not start (" + Hex(hr) + ")";
        code = kExitRefused;
    }
    // Each buffer is read straight into the sample the source delivers.
    int64_t frames = 0;
    while (code == kExitOk) {
        IMediaSample* sample = nullptr;
        hr = source->pin().GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
        if (FAILED(hr)) {
            *error = "no buffer for the frame at " + std::to_string(frames) + " (" + Hex(hr) + ")";
            code = kExitRefused;
            break;
        }
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const int64_t n = in->Read(data, options.bufferFrames, error);
        if (n <= 0) {
            sample->Release();
            if (n < 0) code = kExitIo;
            break;
        }
        sample->SetActualDataLength(static_cast<LONG>(n) * wfx.nBlockAlign);
        sample->SetDiscontinuity(frames == 0);
        hr = source->pin().Deliver(sample);
        sample->Release();
        if (FAILED(hr)) {
            const bool ioFailed = !collector.error().empty();
            *error = ioFailed ? collector.error()
                              : "the filter failed on the buffer at frame " + std::to_string(frames) + " (" + Hex(hr) + ")";
            code = ioFailed ? kExitIo : kExitRefused;
        }
        frames += n;
        if (progress) progress(frames, info.frames);
    }
    if (code == kExitOk) {
        collector.BeginTail();
        hr = source->pin().DeliverEndOfStream();
        if (!collector.error().empty()) {
            *error = collector.error();
            code = kExitIo;
        } else if (FAILED(hr) || sink->pin().endOfStreamCount() != 1) {
            *error = "the filter did not finish the stream (" + Hex(hr) + ")";
            code = kExitRefused;
        }
    }
    source->Stop();
    filter->Stop();
    sink->Stop();
    source->pin().Disconnect();
    filterIn->Disconnect();
    filterOut->Disconnect();
    sink->pin().Disconnect();
    if (options.haveTempoMap) synth->DetachHost();
    source->NonDelegatingRelease();
    sink->NonDelegatingRelease();
    if (code != kExitOk) return code;

    stats->framesIn = frames;
    stats->framesOut = collector.written();
    stats->tailFrames = std::max<int64_t>(0, collector.written() - frames);
    return kExitOk;
}

}  // namespace host
