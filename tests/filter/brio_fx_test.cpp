// The filter object: its interfaces, media types, pins, the in-place pipeline, end of stream and
// the float entry, between the framework's test source and sink.
#include "filter/brio_fx.h"
#include "filter/resource_strings.h"
#include "tests/filter/brio_fx_support.h"
#include "tests/filter/delay_reference.h"
#include "tests/filter/fake_blocks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

using brio_test::AllBlocksOff;
using brio_test::DelayOnly;
using brio_test::FxGraph;
using brio_test::HostSample;
using tw::test::MakeAudioType;

namespace {

CTwBrioFx* NewFilter(IUnknown* outer = nullptr) {
    HRESULT hr = E_FAIL;
    CTwBrioFx* fx = static_cast<CTwBrioFx*>(CTwBrioFx::CreateInstance(outer, &hr));
    EXPECT_EQ(hr, S_OK);
    if (fx) fx->NonDelegatingAddRef();
    return fx;
}

void SetFormatBlock(CMediaType* mt, const WAVEFORMATEX& wfx, ULONG bytes) {
    BYTE block[sizeof(WAVEFORMATEX)] = {};
    std::memcpy(block, &wfx, sizeof(wfx));
    mt->SetFormat(block, bytes);
}

struct FormatCase {
    WORD tag;
    WORD bits;
};
const FormatCase kAccepted[] = {{WAVE_FORMAT_PCM, 8},
                                {WAVE_FORMAT_PCM, 16},
                                {WAVE_FORMAT_PCM, 32},
                                {WAVE_FORMAT_IEEE_FLOAT, 32},
                                {WAVE_FORMAT_IEEE_FLOAT, 64}};

// Random samples that any format carries exactly (floats of 16-bit resolution for float formats).
std::vector<BYTE> RandomFrames(const FormatCase& f, WORD channels, ULONG frames, unsigned seed) {
    std::mt19937 rng(seed);
    const size_t count = static_cast<size_t>(frames) * channels;
    std::vector<BYTE> bytes(count * (f.bits / 8));
    for (size_t i = 0; i < count; ++i) {
        const int32_t v = static_cast<int32_t>(rng() % 65536) - 32768;
        if (f.tag == WAVE_FORMAT_PCM && f.bits == 8) {
            bytes[i] = static_cast<BYTE>(rng() % 256);
        } else if (f.tag == WAVE_FORMAT_PCM && f.bits == 16) {
            const int16_t s = static_cast<int16_t>(v);
            std::memcpy(&bytes[i * 2], &s, 2);
        } else if (f.tag == WAVE_FORMAT_PCM) {
            const int32_t s = static_cast<int32_t>(rng());
            std::memcpy(&bytes[i * 4], &s, 4);
        } else if (f.bits == 32) {
            const float s = static_cast<float>(v) / 32768.0f;
            std::memcpy(&bytes[i * 4], &s, 4);
        } else {
            const double s = static_cast<double>(v) / 32768.0;
            std::memcpy(&bytes[i * 8], &s, 8);
        }
    }
    return bytes;
}

}  // namespace

// ---- Interfaces ----------------------------------------------------------------------------------

TEST(BrioFx, AnswersItsInterfacesAsOneObject) {
    const LONG before = CBaseObject::ObjectsActive();
    CTwBrioFx* fx = NewFilter();
    ASSERT_NE(fx, nullptr);
    IBaseFilter* base = fx;

    const IID supported[] = {IID_ITwBrioFxProp,         IID_ISpecifyPropertyPages, IID_IPersistStream,
                             IID_IStaticFilterPreset,   IID_ITwAudioTransformFloat,
                             IID_ITwTranslationInfo,    IID_IMfxSoftSynth,         IID_IBaseFilter,
                             IID_IMediaFilter,          IID_IPersist,              IID_IAMovieSetup,
                             IID_IUnknown};
    IUnknown* identity = nullptr;
    ASSERT_EQ(base->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    for (const IID& iid : supported) {
        IUnknown* p = nullptr;
        ASSERT_EQ(base->QueryInterface(iid, reinterpret_cast<void**>(&p)), S_OK);
        IUnknown* back = nullptr;
        ASSERT_EQ(p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back)), S_OK);
        EXPECT_EQ(back, identity);  // every interface leads back to one object
        back->Release();
        p->Release();
    }
    // The controller's interfaces are the embedded controller itself, not copies.
    ITwBrioFxProp* prop = nullptr;
    base->QueryInterface(IID_ITwBrioFxProp, reinterpret_cast<void**>(&prop));
    EXPECT_EQ(prop, static_cast<ITwBrioFxProp*>(&fx->Controller()));
    IMfxSoftSynth* synth = nullptr;
    base->QueryInterface(IID_IMfxSoftSynth, reinterpret_cast<void**>(&synth));
    EXPECT_EQ(synth, static_cast<IMfxSoftSynth*>(&fx->Controller()));
    EXPECT_EQ(tw::test::RefCount(base), 4u);
    prop->Release();
    synth->Release();
    identity->Release();

    const IID refused[] = {IID_IPin, IID_IMemInputPin, IID_IMemAllocator, IID_ITwMediaSampleSilence};
    for (const IID& iid : refused) {
        void* p = reinterpret_cast<void*>(1);
        EXPECT_EQ(base->QueryInterface(iid, &p), E_NOINTERFACE);
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(base->QueryInterface(IID_ITwBrioFxProp, nullptr), E_POINTER);

    // Class id through both IPersist routes.
    CLSID clsid = {};
    EXPECT_EQ(base->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_TwBrioFx));
    IPersistStream* persist = fx;
    clsid = GUID_NULL;
    EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_TwBrioFx));

    EXPECT_EQ(base->Release(), 0u);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(BrioFx, AggregatedFilterDelegatesEveryInterfaceToItsOwner) {
    const LONG before = CBaseObject::ObjectsActive();
    struct Owner : public IUnknown {
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
            if (IsEqualIID(riid, IID_IUnknown)) {
                *ppv = this;
                AddRef();
                return S_OK;
            }
            return inner->QueryInterface(riid, ppv);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return ++ref; }
        ULONG STDMETHODCALLTYPE Release() override { return --ref; }
        ULONG ref = 1;
        IUnknown* inner = nullptr;
    } owner;
    CTwBrioFx* fx = NewFilter(&owner);
    owner.inner = fx->NonDelegatingUnknown();
    ITwBrioFxProp* prop = nullptr;
    ASSERT_EQ(owner.QueryInterface(IID_ITwBrioFxProp, reinterpret_cast<void**>(&prop)), S_OK);
    EXPECT_EQ(owner.ref, 2u);  // the controller counts on the owner too
    IUnknown* identity = nullptr;
    prop->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    EXPECT_EQ(identity, static_cast<IUnknown*>(&owner));
    identity->Release();
    prop->Release();
    EXPECT_EQ(owner.ref, 1u);
    EXPECT_EQ(owner.inner->Release(), 0u);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(BrioFx, PagesPresetsAndLanguage) {
    CTwBrioFx* fx = NewFilter();
    ISpecifyPropertyPages* pages = fx;
    CAUUID list = {};
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    ASSERT_EQ(list.cElems, 1u);
    EXPECT_TRUE(IsEqualCLSID(list.pElems[0], CLSID_TwBrioFxPropPage));
    CoTaskMemFree(list.pElems);
    EXPECT_EQ(pages->GetPages(nullptr), E_POINTER);
#ifndef _WIN32
    tw::SetZeroAllocHook([](size_t) { return false; });
    const HRESULT oom = pages->GetPages(&list);
    tw::SetZeroAllocHook(nullptr);
    EXPECT_EQ(oom, E_OUTOFMEMORY);
    EXPECT_EQ(list.cElems, 0u);
    EXPECT_EQ(list.pElems, nullptr);
#endif

    IStaticFilterPreset* presets = fx;
    int count = 0;
    EXPECT_EQ(presets->GetPresetCount(&count), S_OK);
    EXPECT_EQ(count, 14);
    WCHAR name[kPresetNameChars] = {};
    EXPECT_EQ(presets->GetPresetName(0, name, 0), S_OK);
    EXPECT_TRUE(tw::dshow::WideEqual(name, TW_W("(Default)")));
    EXPECT_EQ(presets->GetPresetName(14, name, 0), E_INVALIDARG);
    EXPECT_EQ(presets->GetPresetName(-1, name, 0), E_INVALIDARG);
    EXPECT_EQ(presets->LoadPreset(13), S_OK);
    FxParams p = {};
    fx->Controller().GetParams(&p);
    EXPECT_EQ(p.eqOn, 1);
    EXPECT_EQ(p.eqMid, -250);
    EXPECT_EQ(p.delayOn, 1);
    EXPECT_EQ(presets->LoadPreset(14), E_INVALIDARG);

    ITwTranslationInfo* translation = fx;
    EXPECT_EQ(translation->SetTranslationLanguage(1031), S_OK);
    EXPECT_EQ(tw::GetResourceLanguage(), 1031);
    EXPECT_EQ(translation->SetTranslationLanguage(0), S_OK);
    EXPECT_EQ(tw::GetResourceLanguage(), 1033);
#ifdef _WIN32
    DWORD layout = 0;
    GetProcessDefaultLayout(&layout);
    EXPECT_EQ(layout & LAYOUT_RTL, 0u);
    EXPECT_EQ(translation->SetTranslationLanguage(0x0401), S_OK);  // Arabic (Saudi Arabia)
    GetProcessDefaultLayout(&layout);
    EXPECT_EQ(layout & LAYOUT_RTL, static_cast<DWORD>(LAYOUT_RTL));
    SetProcessDefaultLayout(0);
    EXPECT_EQ(translation->SetTranslationLanguage(0x0429), S_OK);  // Farsi
    GetProcessDefaultLayout(&layout);
    EXPECT_EQ(layout & LAYOUT_RTL, static_cast<DWORD>(LAYOUT_RTL));
    SetProcessDefaultLayout(0);
#endif
    translation->SetTranslationLanguage(0);
    EXPECT_EQ(fx->Release(), 0u);
}

namespace {

// The float entry's and the translation interface's function tables as a caller indexes them.
struct FloatTable {
    void* unknown[3];
    HRESULT(STDMETHODCALLTYPE* start)(void*, UINT, UINT);
    HRESULT(STDMETHODCALLTYPE* process)(void*, float*, UINT, BOOL);
    HRESULT(STDMETHODCALLTYPE* drain)(void*, float*, UINT*);
    HRESULT(STDMETHODCALLTYPE* stop)(void*);
    HRESULT(STDMETHODCALLTYPE* pending)(void*);
    HRESULT(STDMETHODCALLTYPE* update)(void*, BOOL, double);
};

}  // namespace

TEST(BrioFx, FloatEntryKeepsItsSlots) {
    CTwBrioFx* fx = NewFilter();
    ITwAudioTransformFloat* entry = fx;
    const FloatTable* table = *reinterpret_cast<FloatTable* const*>(entry);
    EXPECT_EQ(table->start(entry, 3, 44100), E_INVALIDARG);
    ASSERT_EQ(table->start(entry, 2, 44100), S_OK);
    EXPECT_EQ(table->pending(entry), S_FALSE);
    fx->Controller().SetDelayMix(300);
    EXPECT_EQ(table->pending(entry), S_OK);
    EXPECT_EQ(table->update(entry, FALSE, 120.0), S_OK);
    EXPECT_EQ(table->pending(entry), S_FALSE);
    float buffer[8] = {0.5f, -0.5f, 0.25f, 0.0f, 1.0f, -1.0f, 0.125f, 0.0f};
    EXPECT_EQ(table->process(entry, buffer, 4, FALSE), S_OK);
    EXPECT_EQ(buffer[4], 1.0f);  // everything off: unchanged
    UINT frames = 4;
    EXPECT_EQ(table->drain(entry, buffer, &frames), S_FALSE);  // nothing sounds
    EXPECT_EQ(frames, 0u);
    EXPECT_EQ(table->stop(entry), S_OK);
    EXPECT_EQ(fx->Release(), 0u);
}

// ---- Pins and media types ------------------------------------------------------------------------

TEST(BrioFx, PinsAreMadeTogetherOnFirstUse) {
    const LONG before = CBaseObject::ObjectsActive();
    CTwBrioFx* fx = NewFilter();
    // Making the output pin fails: no pin is left behind.
    static int allocations;
    allocations = 0;
    tw::SetZeroAllocHook([](size_t) { return ++allocations < 2; });
    EXPECT_EQ(fx->GetPin(0), nullptr);
    tw::SetZeroAllocHook(nullptr);
    EXPECT_EQ(fx->InputPin(), nullptr);
    EXPECT_EQ(fx->OutputPin(), nullptr);

    CBasePin* input = fx->GetPin(0);
    ASSERT_NE(input, nullptr);
    CBasePin* output = fx->GetPin(1);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(fx->GetPin(2), nullptr);
    EXPECT_EQ(fx->GetPin(-1), nullptr);
    EXPECT_EQ(fx->GetPin(0), input);
    EXPECT_TRUE(tw::dshow::WideEqual(input->Name(), TW_W("Input")));
    EXPECT_TRUE(tw::dshow::WideEqual(output->Name(), TW_W("Output")));
    LPWSTR id = nullptr;
    ASSERT_EQ(input->QueryId(&id), S_OK);
    EXPECT_TRUE(tw::dshow::WideEqual(id, TW_W("In")));
    CoTaskMemFree(id);
    EXPECT_EQ(input->QueryId(nullptr), E_POINTER);
    ASSERT_EQ(output->QueryId(&id), S_OK);
    EXPECT_TRUE(tw::dshow::WideEqual(id, TW_W("Output")));
    CoTaskMemFree(id);
    IPin* found = nullptr;
    ASSERT_EQ(fx->FindPin(TW_W("In"), &found), S_OK);
    EXPECT_EQ(found, static_cast<IPin*>(input));
    found->Release();
    EXPECT_EQ(input->QueryInternalConnections(nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(fx->GetSetupData(), &kTwBrioFxSetup);
    EXPECT_EQ(fx->Release(), 0u);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(BrioFx, AcceptsTheFiveSampleFormatsInOneOrTwoChannelsOnly) {
    CTwBrioFx* fx = NewFilter();
    CMediaType mt;
    for (const FormatCase& f : kAccepted) {
        for (WORD channels = 1; channels <= 2; ++channels) {
            MakeAudioType(&mt, f.tag, channels, 44100, f.bits);
            EXPECT_EQ(fx->CheckInputType(&mt), S_OK) << f.tag << "/" << f.bits << "/" << channels;
        }
    }
    // The subtype and format type are not looked at.
    MakeAudioType(&mt, WAVE_FORMAT_PCM, 2, 44100, 16);
    mt.SetSubtype(&MEDIASUBTYPE_IEEE_FLOAT);
    mt.SetFormatType(&GUID_NULL);
    EXPECT_EQ(fx->CheckInputType(&mt), S_OK);
    // A bare 16-byte format block is enough.
    MakeAudioType(&mt, WAVE_FORMAT_PCM, 2, 44100, 16, 16);
    EXPECT_EQ(fx->CheckInputType(&mt), S_OK);

    MakeAudioType(&mt, WAVE_FORMAT_PCM, 2, 44100, 24);
    EXPECT_EQ(fx->CheckInputType(&mt), E_INVALIDARG);
    MakeAudioType(&mt, WAVE_FORMAT_PCM, 3, 44100, 16);
    EXPECT_EQ(fx->CheckInputType(&mt), E_INVALIDARG);
    MakeAudioType(&mt, WAVE_FORMAT_PCM, 0, 44100, 16);
    EXPECT_EQ(fx->CheckInputType(&mt), E_INVALIDARG);
    MakeAudioType(&mt, WAVE_FORMAT_PCM, 2, 44100, 16);
    mt.SetTemporalCompression(TRUE);
    EXPECT_EQ(fx->CheckInputType(&mt), E_INVALIDARG);
    MakeAudioType(&mt, WAVE_FORMAT_PCM, 2, 44100, 16, 14);
    EXPECT_EQ(fx->CheckInputType(&mt), E_INVALIDARG);
    MakeAudioType(&mt, WAVE_FORMAT_IEEE_FLOAT, 2, 44100, 16);
    EXPECT_EQ(fx->CheckInputType(&mt), E_INVALIDARG);
    MakeAudioType(&mt, WAVE_FORMAT_PCM, 2, 44100, 64);
    EXPECT_EQ(fx->CheckInputType(&mt), E_INVALIDARG);
    MakeAudioType(&mt, 2 /* ADPCM */, 2, 44100, 16);
    EXPECT_EQ(fx->CheckInputType(&mt), E_INVALIDARG);
    MakeAudioType(&mt, WAVE_FORMAT_PCM, 2, 44100, 16);
    mt.SetType(&MEDIASUBTYPE_PCM);  // not audio
    EXPECT_EQ(fx->CheckInputType(&mt), E_INVALIDARG);
    EXPECT_EQ(fx->CheckInputType(nullptr), E_POINTER);

    EXPECT_EQ(fx->CheckTransform(&mt, &mt), S_OK);
    CMediaType out;
    EXPECT_EQ(fx->GetMediaType(0, &out), E_UNEXPECTED);
    EXPECT_EQ(fx->Release(), 0u);
}

TEST(BrioFx, StoresTheFormatWithAlignAndRateRecomputedAndTellsTheWindows) {
    FxGraph g;
    HWND window = tw::CreateNoticeWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(g.fx->Controller().SetNotifyWindow(window, 77), S_OK);
    struct {
        WAVEFORMATEX f;
        BYTE trailing[2];
    } query = {};  // the caller's buffer holds 20 bytes
    EXPECT_EQ(g.fx->Controller().GetStreamFormat(&query.f), VFW_E_NOT_CONNECTED);

    WAVEFORMATEX wfx = {};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = 2;
    wfx.nSamplesPerSec = 48000;
    wfx.wBitsPerSample = 16;
    wfx.nBlockAlign = 3;         // wrong
    wfx.nAvgBytesPerSec = 1234;  // wrong
    wfx.cbSize = 22;             // dropped
    CMediaType& mt = g.source->Pin()->type;
    MakeAudioType(&mt, WAVE_FORMAT_PCM, 2, 48000, 16);
    SetFormatBlock(&mt, wfx, sizeof(wfx));
    ASSERT_EQ(g.source->Pin()->Connect(g.fx->GetPin(0), nullptr), S_OK);
    const WAVEFORMATEX& stored = g.fx->StreamFormat();
    EXPECT_EQ(stored.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(stored.nChannels, 2);
    EXPECT_EQ(stored.nSamplesPerSec, 48000u);
    EXPECT_EQ(stored.wBitsPerSample, 16);
    EXPECT_EQ(stored.nBlockAlign, 4);
    EXPECT_EQ(stored.nAvgBytesPerSec, 192000u);
    EXPECT_EQ(stored.cbSize, 0);
    ASSERT_EQ(g.fx->Controller().GetStreamFormat(&query.f), S_OK);
    EXPECT_EQ(query.f.nBlockAlign, 4);

    ASSERT_EQ(g.fx->GetPin(1)->Connect(g.sink->Pin(), nullptr), S_OK);
    tw::PostedMessage posted[4] = {};
    ASSERT_EQ(tw::TakePostedMessages(window, posted, 4), 2u);
    EXPECT_EQ(posted[0].message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(posted[0].wParam, static_cast<WPARAM>((0 << 16) | 77));  // input pin
    EXPECT_EQ(posted[1].wParam, static_cast<WPARAM>((1 << 16) | 77));  // output pin
    EXPECT_EQ(posted[1].lParam, 0);
    g.fx->Controller().SetNotifyWindow(window, 0);
    tw::DestroyNoticeWindow(window);
}

// ---- The pipeline --------------------------------------------------------------------------------

TEST(BrioFx, EveryAcceptedFormatPassesUnchangedWithAllBlocksOff) {
    for (const FormatCase& f : kAccepted) {
        for (WORD channels = 1; channels <= 2; ++channels) {
            FxGraph g;
            const FxParams off = AllBlocksOff();
            g.fx->Controller().SetParams(&off);
            ASSERT_EQ(g.Connect(f.tag, channels, 44100, f.bits, 512), S_OK);
            ASSERT_EQ(g.Run(), S_OK);
            const LONG align = channels * f.bits / 8;
            std::vector<std::vector<BYTE>> sent;
            for (unsigned b = 0; b < 3; ++b) {
                sent.push_back(RandomFrames(f, channels, 512, 17 + b));
                ASSERT_EQ(g.source->Push(sent.back().data(), 512 * align, b == 0), S_OK);
            }
            ASSERT_EQ(g.Input()->Receive(nullptr), E_POINTER);
            ASSERT_EQ(g.Received().size(), 3u);
            for (size_t b = 0; b < 3; ++b) {
                EXPECT_EQ(g.Received()[b].data, sent[b]) << f.tag << "/" << f.bits << "/" << channels;
            }
            ASSERT_EQ(g.fx->GetPin(0)->EndOfStream(), S_OK);
            EXPECT_EQ(g.sink->Pin()->endOfStreams, 1);
            // No tail with everything off: the drain plays one buffer of silence at most.
            for (size_t b = 3; b < g.Received().size(); ++b) {
                for (BYTE value : g.Received()[b].data) {
                    ASSERT_EQ(value, (f.tag == WAVE_FORMAT_PCM && f.bits == 8) ? 0x80 : 0);
                }
            }
        }
    }
}

TEST(BrioFx, ConverterEdgeValuesSurviveTheFilter) {
    {
        FxGraph g;
        const FxParams off = AllBlocksOff();
        g.fx->Controller().SetParams(&off);
        ASSERT_EQ(g.Connect(WAVE_FORMAT_PCM, 1, 8000, 16), S_OK);
        ASSERT_EQ(g.Run(), S_OK);
        const int16_t in[5] = {16384, -32768, 32767, -1, 0};
        ASSERT_EQ(g.source->Push(in, sizeof(in)), S_OK);
        ASSERT_EQ(g.Received().size(), 1u);
        EXPECT_EQ(std::memcmp(g.Received()[0].data.data(), in, sizeof(in)), 0);
    }
    {
        FxGraph g;
        const FxParams off = AllBlocksOff();
        g.fx->Controller().SetParams(&off);
        ASSERT_EQ(g.Connect(WAVE_FORMAT_PCM, 1, 8000, 8), S_OK);
        ASSERT_EQ(g.Run(), S_OK);
        const BYTE in[4] = {128, 0, 255, 192};
        ASSERT_EQ(g.source->Push(in, sizeof(in)), S_OK);
        ASSERT_EQ(g.Received().size(), 1u);
        EXPECT_EQ(std::memcmp(g.Received()[0].data.data(), in, sizeof(in)), 0);
    }
}

namespace {

// Delay fakes that remember the length of every buffer they are handed.
std::vector<ULONG> g_delayFrames;

class FrameDelay final : public fake::Delay {
public:
    FrameDelay() : fake::Delay(fake::kDelay) {}
    HRESULT STDMETHODCALLTYPE ProcessFloat(float* b, ULONG frames, ULONG* out, DWORD flags) override {
        g_delayFrames.push_back(frames);
        return fake::Delay::ProcessFloat(b, frames, out, flags);
    }
    HRESULT STDMETHODCALLTYPE ProcessDouble(double* b, ULONG frames, ULONG* out, DWORD flags) override {
        g_delayFrames.push_back(frames);
        return fake::Delay::ProcessDouble(b, frames, out, flags);
    }
};

HRESULT MakeFrameDelay(ITwAudioDelay** out) {
    FrameDelay* d = new FrameDelay();
    fake::made().delay = d;
    *out = d;
    return S_OK;
}

BlockFactories FakesWithFrameDelay() {
    BlockFactories f = fake::kFactories;
    f.delay = MakeFrameDelay;
    return f;
}

int CountEvents(const std::string& event) {
    int n = 0;
    for (const std::string& e : fake::log().events) n += e == event ? 1 : 0;
    return n;
}

}  // namespace

TEST(BrioFx, IntegerThirtyTwoAndDoubleRunAsDoublesTheRestAsFloats) {
    const FormatCase cases[] = {{WAVE_FORMAT_PCM, 8},
                                {WAVE_FORMAT_PCM, 16},
                                {WAVE_FORMAT_PCM, 32},
                                {WAVE_FORMAT_IEEE_FLOAT, 32},
                                {WAVE_FORMAT_IEEE_FLOAT, 64}};
    const bool doubles[] = {false, false, true, false, true};
    for (size_t i = 0; i < 5; ++i) {
        fake::Reset();
        FxGraph g;
        g.fx->Controller().SetBlockFactories(fake::kFactories);
        const FxParams delay = DelayOnly(1000, 300);
        g.fx->Controller().SetParams(&delay);
        ASSERT_EQ(g.Connect(cases[i].tag, 2, 44100, cases[i].bits, 256), S_OK);
        ASSERT_EQ(g.Run(), S_OK);
        ASSERT_NE(fake::made().delay, nullptr);
        std::vector<BYTE> data(256 * 2 * cases[i].bits / 8, cases[i].bits == 8 ? 0x80 : 0);
        ASSERT_EQ(g.source->Push(data.data(), static_cast<LONG>(data.size())), S_OK);
        EXPECT_EQ(fake::made().delay->counters.processed, 1);
        EXPECT_EQ(fake::made().delay->doubleCalls, doubles[i] ? 1 : 0) << i;
    }
    fake::Reset();
}

TEST(BrioFx, DiscontinuityReappliesEverythingWithReset) {
    fake::Reset();
    FxGraph g;
    g.fx->Controller().SetBlockFactories(fake::kFactories);
    FxParams p = DelayOnly(1000, 300);
    p.reverbOn = 1;
    g.fx->Controller().SetParams(&p);
    ASSERT_EQ(g.Connect(WAVE_FORMAT_PCM, 2, 44100, 16, 256), S_OK);
    ASSERT_EQ(g.Run(), S_OK);
    const int16_t data[512] = {};
    ASSERT_EQ(g.source->Push(data, sizeof(data)), S_OK);
    fake::log().events.clear();
    ASSERT_EQ(g.source->Push(data, sizeof(data)), S_OK);
    EXPECT_EQ(CountEvents("setformat delay reset"), 0);
    ASSERT_EQ(g.source->Push(data, sizeof(data), true), S_OK);
    EXPECT_EQ(CountEvents("setformat delay reset"), 1);
    EXPECT_EQ(CountEvents("setformat reverb reset"), 1);
    ASSERT_EQ(g.source->Push(data, sizeof(data)), S_OK);
    EXPECT_EQ(CountEvents("setformat delay reset"), 1);  // once per discontinuity
    fake::Reset();
}

TEST(BrioFx, SilentSampleAfterTheTailsPassesUntouchedAndTheNextOneRestarts) {
    fake::Reset();
    FxGraph g;
    g.fx->Controller().SetBlockFactories(fake::kFactories);
    const FxParams p = DelayOnly(1000, 300);
    g.fx->Controller().SetParams(&p);
    ASSERT_EQ(g.Connect(WAVE_FORMAT_PCM, 2, 44100, 16, 256), S_OK);
    ASSERT_EQ(g.Run(), S_OK);

    // The delay is idle from the start: a silent sample is not even looked into.
    HostSample silent(1026);  // 256 frames and two stray bytes
    silent.silent = TRUE;
    silent.As<int16_t>()[0] = 1234;  // whatever it holds stays
    fake::log().events.clear();
    ASSERT_EQ(g.Input()->Receive(&silent), S_OK);
    EXPECT_EQ(silent.silenceQueries, 1);
    EXPECT_EQ(silent.pointerFetches, 1);  // only the sink's, which copies it
    EXPECT_EQ(silent.GetActualDataLength(), 1024);  // whole frames
    EXPECT_EQ(fake::made().delay->counters.processed, 0);
    ASSERT_EQ(g.Received().size(), 1u);
    EXPECT_EQ(reinterpret_cast<const int16_t*>(g.Received()[0].data.data())[0], 1234);
    EXPECT_EQ(silent.refs, 1u);  // the silence query was released

    // The next processed sample restarts the chain.
    HostSample loud(1024);
    loud.As<int16_t>()[0] = 1000;
    ASSERT_EQ(g.Input()->Receive(&loud), S_OK);
    EXPECT_EQ(CountEvents("setformat delay reset"), 1);
    EXPECT_EQ(fake::made().delay->counters.processed, 1);
    EXPECT_EQ(loud.pointerFetches, 2);  // the filter's and the sink's

    // A sample without the extension counts as not silent.
    HostSample plain(1024);
    plain.offerSilence = false;
    fake::log().events.clear();
    ASSERT_EQ(g.Input()->Receive(&plain), S_OK);
    EXPECT_EQ(fake::made().delay->counters.processed, 2);
    EXPECT_EQ(CountEvents("setformat delay reset"), 0);

    // A sample whose data cannot be fetched is neither processed nor delivered.
    HostSample broken(1024);
    broken.failPointer = true;
    const size_t delivered = g.Received().size();
    EXPECT_EQ(g.Input()->Receive(&broken), E_POINTER);
    EXPECT_EQ(g.Received().size(), delivered);
    fake::Reset();
}

TEST(BrioFx, SilentSamplesAreAlwaysProcessedWhileTheLfoRuns) {
    fake::Reset();
    FxGraph g;
    g.fx->Controller().SetBlockFactories(fake::kFactories);
    FxParams p = AllBlocksOff();
    p.lfoOn = 1;
    g.fx->Controller().SetParams(&p);
    ASSERT_EQ(g.Connect(WAVE_FORMAT_IEEE_FLOAT, 2, 44100, 32, 256), S_OK);
    ASSERT_EQ(g.Run(), S_OK);
    for (int i = 0; i < 3; ++i) {
        HostSample silent(2048);
        silent.silent = TRUE;
        ASSERT_EQ(g.Input()->Receive(&silent), S_OK);
        EXPECT_GE(silent.pointerFetches, 1);
    }
    EXPECT_EQ(fake::made().lfo->counters.processed, 3);
    EXPECT_EQ(fake::made().lfo->counters.lastFlags, static_cast<DWORD>(kProcessSilent));
    EXPECT_EQ(g.Received().size(), 3u);
    fake::Reset();
}

TEST(BrioFx, FlushedSamplesAreDroppedAndStoppedOnesRefused) {
    FxGraph g;
    ASSERT_EQ(g.Connect(WAVE_FORMAT_PCM, 2, 44100, 16, 256), S_OK);
    HostSample sample(1024);
    EXPECT_EQ(g.Input()->Receive(&sample), VFW_E_WRONG_STATE);
    ASSERT_EQ(g.Run(), S_OK);
    ASSERT_EQ(g.fx->GetPin(0)->BeginFlush(), S_OK);
    EXPECT_EQ(g.Input()->Receive(&sample), S_FALSE);
    EXPECT_EQ(sample.pointerFetches, 0);
    ASSERT_EQ(g.fx->GetPin(0)->EndFlush(), S_OK);
    EXPECT_EQ(g.Input()->Receive(&sample), S_OK);
    EXPECT_EQ(g.Received().size(), 1u);
    EXPECT_EQ(g.sink->Pin()->beginFlushes, 1);
    EXPECT_EQ(g.sink->Pin()->endFlushes, 1);
}

TEST(BrioFx, ATempoChangeInsideABufferCutsItThere) {
    fake::Reset();
    g_delayFrames.clear();
    FxGraph g;
    g.fx->Controller().SetBlockFactories(FakesWithFrameDelay());
    FxParams p = DelayOnly(1000, 300);
    p.delayClock = kClockTempo;
    p.delayNote = kNoteQuarter;
    g.fx->Controller().SetParams(&p);
    brio_test::TempoHost host;
    host.entries[0] = {0, 12000};
    host.entries[1] = {30, 6000};  // tick 30 is sample 300
    host.count = 2;
    IMfxSoftSynth* synth = &g.fx->Controller();
    ASSERT_EQ(g.Connect(WAVE_FORMAT_IEEE_FLOAT, 1, 44100, 32, 1000), S_OK);
    ASSERT_EQ(g.Run(), S_OK);
    ASSERT_EQ(synth->AttachHost(host.Handed()), S_OK);
    ASSERT_EQ(synth->TransportStart(0), S_OK);
    fake::log().events.clear();

    std::vector<float> data(1000, 0.25f);
    ASSERT_EQ(g.source->Push(data.data(), 4000), S_OK);
    ASSERT_EQ(g_delayFrames.size(), 2u);
    EXPECT_EQ(g_delayFrames[0], 300u);
    EXPECT_EQ(g_delayFrames[1], 700u);
    // The new tempo resets the tempo delay before the second part: a quarter at 60 BPM.
    const std::vector<std::string> expected = {"process delay 0", "setformat delay reset",
                                               "process delay 0"};
    EXPECT_EQ(fake::log().events, expected);
    EXPECT_EQ(fake::made().delay->last.delayTime, 10000);
    FxParams now = {};
    g.fx->Controller().GetParams(&now);
    EXPECT_EQ(now.tempo, 60.0);
    ASSERT_EQ(g.Received().size(), 1u);
    EXPECT_EQ(g.Received()[0].data.size(), 4000u);
    g.Stop();
    synth->DetachHost();
    EXPECT_EQ(host.refs, 1u);
    fake::Reset();
}

TEST(BrioFx, ASkippedSilentSampleKeepsTheHostPositionInStep) {
    fake::Reset();
    g_delayFrames.clear();
    FxGraph g;
    g.fx->Controller().SetBlockFactories(FakesWithFrameDelay());
    const FxParams p = DelayOnly(1000, 300);
    g.fx->Controller().SetParams(&p);
    brio_test::TempoHost host;
    host.entries[0] = {0, 12000};
    host.entries[1] = {30, 9000};   // sample 300, inside the skipped sample
    host.entries[2] = {150, 6000};  // sample 1500, inside the next one
    host.count = 3;
    IMfxSoftSynth* synth = &g.fx->Controller();
    ASSERT_EQ(g.Connect(WAVE_FORMAT_IEEE_FLOAT, 1, 44100, 32, 1000), S_OK);
    ASSERT_EQ(g.Run(), S_OK);
    ASSERT_EQ(synth->AttachHost(host.Handed()), S_OK);
    ASSERT_EQ(synth->TransportStart(0), S_OK);

    HostSample quiet(4000);  // frames 0..999, skipped whole
    quiet.silent = TRUE;
    ASSERT_EQ(g.Input()->Receive(&quiet), S_OK);
    EXPECT_TRUE(g_delayFrames.empty());
    HostSample loud(4000);  // frames 1000..1999: the change at 1500 cuts it in the middle
    ASSERT_EQ(g.Input()->Receive(&loud), S_OK);
    ASSERT_EQ(g_delayFrames.size(), 2u);
    EXPECT_EQ(g_delayFrames[0], 500u);
    EXPECT_EQ(g_delayFrames[1], 500u);
    FxParams now = {};
    g.fx->Controller().GetParams(&now);
    EXPECT_EQ(now.tempo, 60.0);
    g.Stop();
    synth->DetachHost();
    fake::Reset();
}

// ---- End of stream -------------------------------------------------------------------------------

TEST(BrioFx, EndOfStreamPlaysTheEchoesOutThenEndsTheStream) {
    FxGraph g;
    const FxParams p = DelayOnly(1000, 900);  // 100 ms, 90 % feedback
    g.fx->Controller().SetParams(&p);
    ASSERT_EQ(g.Connect(WAVE_FORMAT_PCM, 2, 44100, 16, 4096), S_OK);
    ASSERT_EQ(g.Run(), S_OK);
    std::vector<int16_t> click(4096 * 2, 0);
    click[0] = click[1] = 16384;
    ASSERT_EQ(g.source->Push(click.data(), 4096 * 4, true), S_OK);
    ASSERT_EQ(g.fx->GetPin(0)->EndOfStream(), S_OK);
    EXPECT_EQ(g.sink->Pin()->endOfStreams, 1);
    const std::vector<tw::test::ReceivedSample>& got = g.Received();
    ASSERT_GT(got.size(), 10u);  // several seconds of echoes
    // Every drain buffer is whole; echoes are heard well into the drain.
    size_t loud = 0;
    for (size_t b = 1; b < got.size(); ++b) {
        EXPECT_EQ(got[b].data.size(), 4096u * 4);
        const int16_t* s = reinterpret_cast<const int16_t*>(got[b].data.data());
        for (size_t i = 0; i < 4096 * 2; ++i) {
            if (s[i] != 0) {
                ++loud;
                break;
            }
        }
    }
    EXPECT_GT(loud, 5u);
    // The second end of stream without new data plays no tail.
    const size_t before = got.size();
    ASSERT_EQ(g.fx->GetPin(0)->EndOfStream(), S_OK);
    EXPECT_EQ(g.Received().size(), before);
    EXPECT_EQ(g.sink->Pin()->endOfStreams, 2);
}

TEST(BrioFx, EndOfStreamWithNothingProcessedOrNoOutputEndsTheStreamOnce) {
    {
        FxGraph g;
        const FxParams p = DelayOnly(1000, 900);
        g.fx->Controller().SetParams(&p);
        ASSERT_EQ(g.Connect(WAVE_FORMAT_PCM, 2, 44100, 16), S_OK);
        ASSERT_EQ(g.Run(), S_OK);
        EXPECT_EQ(g.fx->GetPin(0)->EndOfStream(), S_OK);
        EXPECT_EQ(g.sink->Pin()->endOfStreams, 1);
        EXPECT_TRUE(g.Received().empty());
    }
    {
        FxGraph g;
        tw::test::MakeAudioType(&g.source->Pin()->type, WAVE_FORMAT_PCM, 2, 44100, 16);
        ASSERT_EQ(g.source->Pin()->Connect(g.fx->GetPin(0), nullptr), S_OK);
        ASSERT_EQ(g.fx->Pause(), S_OK);
        EXPECT_EQ(g.fx->GetPin(0)->EndOfStream(), S_OK);
    }
}

namespace {

// Hands out host samples that all report silence.
class SilentAllocator final : public IMemAllocator {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMemAllocator)) {
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IMemAllocator*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request,
                                            ALLOCATOR_PROPERTIES* actual) override {
        props = *actual = *request;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* out) override {
        *out = props;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Commit() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Decommit() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*,
                                        DWORD) override {
        if (handed.size() >= 50) return VFW_E_NOT_COMMITTED;  // a drain that never ends stops here
        handed.push_back(std::make_unique<HostSample>(props.cbBuffer));
        handed.back()->silent = TRUE;
        *sample = handed.back().get();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample*) override { return S_OK; }

    ULONG refs = 1;
    ALLOCATOR_PROPERTIES props = {};
    std::vector<std::unique_ptr<HostSample>> handed;
};

}  // namespace

TEST(BrioFx, DrainEndsOnSilentBuffersAfterTheTails) {
    {
        // Downstream's buffers report silence: with every tail finished the first one ends it.
        SilentAllocator silent;
        FxGraph g;
        const FxParams off = AllBlocksOff();
        g.fx->Controller().SetParams(&off);
        g.sink->Pin()->offered = &silent;
        g.sink->Pin()->insistOnOwnAllocator = true;
        ASSERT_EQ(g.Connect(WAVE_FORMAT_PCM, 2, 44100, 16, 256), S_OK);
        EXPECT_EQ(g.fx->OutputPin()->PeekAllocator(), static_cast<IMemAllocator*>(&silent));
        ASSERT_EQ(g.Run(), S_OK);
        const int16_t data[512] = {};
        ASSERT_EQ(g.source->Push(data, sizeof(data)), S_OK);
        EXPECT_EQ(g.fx->GetPin(0)->EndOfStream(), S_OK);
        EXPECT_EQ(silent.handed.size(), 1u);
        EXPECT_EQ(silent.handed[0]->pointerFetches, 1);  // the sink's copy only
        EXPECT_EQ(g.sink->Pin()->endOfStreams, 1);
        g.Stop();
        g.fx->GetPin(1)->Disconnect();
        g.sink->Pin()->Disconnect();
    }
    {
        // A silent sample skipped just before the end leaves nothing to restart: the drain ends.
        FxGraph g;
        const FxParams p = DelayOnly(1000, 300);
        g.fx->Controller().SetParams(&p);
        ASSERT_EQ(g.Connect(WAVE_FORMAT_PCM, 2, 44100, 16, 256), S_OK);
        ASSERT_EQ(g.Run(), S_OK);
        HostSample quiet(1024);
        quiet.silent = TRUE;
        ASSERT_EQ(g.Input()->Receive(&quiet), S_OK);
        EXPECT_EQ(g.fx->GetPin(0)->EndOfStream(), S_OK);
        EXPECT_EQ(g.Received().size(), 2u);  // the skipped sample and one silent drain buffer
        EXPECT_EQ(g.sink->Pin()->endOfStreams, 1);
    }
}

TEST(BrioFx, EveryFormatEndsItsTailWithTheSameSilence) {
    // The same steady signal on both channels gives both channels the same echoes in every frame;
    // frames after the tail must be silent in both, also where the delay ran its first channel
    // further.
    for (const FormatCase& f : {FormatCase{WAVE_FORMAT_PCM, 16}, FormatCase{WAVE_FORMAT_IEEE_FLOAT, 32},
                                FormatCase{WAVE_FORMAT_IEEE_FLOAT, 64}}) {
        FxGraph g;
        const FxParams p = DelayOnly(100, 500);  // 10 ms, 50 %
        g.fx->Controller().SetParams(&p);
        ASSERT_EQ(g.Connect(f.tag, 2, 8000, f.bits, 1000), S_OK);
        ASSERT_EQ(g.Run(), S_OK);
        std::vector<BYTE> click(1000 * 2 * f.bits / 8, 0);
        for (size_t i = 0; i < 2000; ++i) {
            if (f.tag == WAVE_FORMAT_PCM) {
                reinterpret_cast<int16_t*>(click.data())[i] = 8192;
            } else if (f.bits == 32) {
                reinterpret_cast<float*>(click.data())[i] = 0.25f;
            } else {
                reinterpret_cast<double*>(click.data())[i] = 0.25;
            }
        }
        ASSERT_EQ(g.source->Push(click.data(), static_cast<LONG>(click.size()), true), S_OK);
        ASSERT_EQ(g.fx->GetPin(0)->EndOfStream(), S_OK);
        ASSERT_GE(g.Received().size(), 2u);
        const std::vector<BYTE>& last = g.Received().back().data;
        const size_t bytes = f.bits / 8;
        for (size_t frame = 0; frame < last.size() / (2 * bytes); ++frame) {
            ASSERT_EQ(std::memcmp(&last[frame * 2 * bytes], &last[frame * 2 * bytes + bytes], bytes), 0)
                << "bits " << f.bits << " frame " << frame;
        }
        // And the very end is silence.
        for (size_t i = last.size() - 2 * bytes; i < last.size(); ++i) EXPECT_EQ(last[i], 0);
    }
}

TEST(BrioFx, SlapbackDelayMatchesAPlainComputationInEveryFormat) {
    const brio_test::DelaySetting slapback = {500, 300, 300};  // the "Slapback Delay" preset
    for (const FormatCase& f : kAccepted) {
        for (WORD channels = 1; channels <= 2; ++channels) {
            FxGraph g;
            ASSERT_EQ(g.fx->LoadPreset(4), S_OK);
            ASSERT_EQ(g.Connect(f.tag, channels, 44100, f.bits, 1000), S_OK);
            ASSERT_EQ(g.Run(), S_OK);
            const WAVEFORMATEX& format = g.fx->StreamFormat();
            std::vector<BYTE> input;
            for (unsigned b = 0; b < 6; ++b) {
                const std::vector<BYTE> part = RandomFrames(f, channels, 1000, 40 + b);
                ASSERT_EQ(g.source->Push(part.data(), static_cast<LONG>(part.size()), b == 0), S_OK);
                input.insert(input.end(), part.begin(), part.end());
            }
            ASSERT_EQ(g.fx->GetPin(0)->EndOfStream(), S_OK);
            EXPECT_EQ(g.sink->Pin()->endOfStreams, 1);
            std::vector<BYTE> output;
            for (const tw::test::ReceivedSample& r : g.Received()) {
                output.insert(output.end(), r.data.begin(), r.data.end());
            }
            const std::vector<BYTE> expected = brio_test::ExpectedDelayOutput(format, input, slapback, 1000);
            ASSERT_EQ(output.size(), expected.size()) << f.tag << "/" << f.bits << "/" << channels;
            EXPECT_TRUE(output == expected) << f.tag << "/" << f.bits << "/" << channels;
        }
    }
}

TEST(BrioFx, ConversionBufferThatCannotGrowFailsTheSampleButKeepsItsLength) {
    FxGraph g;
    ASSERT_EQ(g.Connect(WAVE_FORMAT_PCM, 2, 44100, 16, 5000), S_OK);
    ASSERT_EQ(g.Run(), S_OK);
    HostSample big(5000 * 4 + 3);
    tw::SetZeroAllocHook([](size_t) { return false; });
    const HRESULT hr = g.Input()->Receive(&big);
    tw::SetZeroAllocHook(nullptr);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(big.GetActualDataLength(), 5000 * 4);
    EXPECT_TRUE(g.Received().empty());
    // Once memory is there again the buffer grows and the sample goes through.
    EXPECT_EQ(g.Input()->Receive(&big), S_OK);
    EXPECT_EQ(g.Received().size(), 1u);
}

// ---- Float entry ---------------------------------------------------------------------------------

TEST(BrioFx, FloatEntryStartsProcessesDrainsAndStops) {
    CTwBrioFx* fx = NewFilter();
    ITwAudioTransformFloat* entry = fx;
    EXPECT_EQ(entry->StartFloat(0, 48000), E_INVALIDARG);
    EXPECT_EQ(entry->StartFloat(2, 0), E_INVALIDARG);
    const FxParams p = DelayOnly(200, 600);  // 20 ms at 60 %
    fx->Controller().SetParams(&p);
    ASSERT_EQ(entry->StartFloat(2, 48000), S_OK);
    const WAVEFORMATEX& f = fx->StreamFormat();
    EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_IEEE_FLOAT);
    EXPECT_EQ(f.wBitsPerSample, 32);
    EXPECT_EQ(f.nBlockAlign, 8);
    EXPECT_EQ(f.nAvgBytesPerSec, 384000u);

    std::vector<float> buffer(2 * 480, 0.0f);
    UINT frames = 480;
    EXPECT_EQ(entry->DrainFloat(buffer.data(), &frames), S_FALSE);  // nothing processed yet
    EXPECT_EQ(frames, 0u);
    EXPECT_EQ(entry->ProcessFloat(nullptr, 480, FALSE), E_POINTER);
    // A steady signal fills the delay line, so every frame of the tail carries echo.
    for (int b = 0; b < 3; ++b) {
        std::fill(buffer.begin(), buffer.end(), 0.5f);
        ASSERT_EQ(entry->ProcessFloat(buffer.data(), 480, FALSE), S_OK);
        if (b == 0) {
            EXPECT_FLOAT_EQ(buffer[0], 0.25f);  // dry half; the echo comes 960 frames later
        }
    }

    // Drain until the tail is finished; every call keeps the frames after its count silent.
    HRESULT hr = S_OK;
    int calls = 0;
    bool heard = false;
    while (hr == S_OK && calls < 1000) {
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        frames = 333;  // the tail is no multiple of this
        hr = entry->DrainFloat(buffer.data(), &frames);
        ASSERT_LE(frames, 333u);
        for (size_t i = 0; i < 2 * 333; ++i) {
            if (i >= frames * 2) {
                ASSERT_EQ(buffer[i], 0.0f) << "call " << calls << " sample " << i;
            }
            heard = heard || buffer[i] != 0.0f;
        }
        ++calls;
    }
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_TRUE(heard);
    EXPECT_GT(calls, 2);
    EXPECT_EQ(entry->StopFloat(), S_OK);
    EXPECT_EQ(entry->ProcessFloat(buffer.data(), 480, FALSE), E_UNEXPECTED);  // stopped

    // Changes pending and update.
    ASSERT_EQ(entry->StartFloat(1, 44100), S_OK);
    EXPECT_EQ(entry->ChangesPending(), S_FALSE);
    EXPECT_EQ(entry->UpdateParams(FALSE, 120.0), S_FALSE);  // nothing to apply
    EXPECT_EQ(entry->UpdateParams(TRUE, 120.0), S_OK);      // everything, with reset
    fx->Controller().SetDelayDecay(100);
    EXPECT_EQ(entry->ChangesPending(), S_OK);
    EXPECT_EQ(entry->UpdateParams(FALSE, 120.0), S_OK);
    EXPECT_EQ(entry->ChangesPending(), S_FALSE);
    // A tempo fold with the delay on Time sets nothing pending.
    EXPECT_EQ(entry->UpdateParams(FALSE, 90.0), S_FALSE);
    FxParams now = {};
    fx->Controller().GetParams(&now);
    EXPECT_EQ(now.tempo, 90.0);
    fx->Controller().SetDelayClock(kClockTempo);
    entry->UpdateParams(FALSE, 90.0);
    EXPECT_EQ(entry->UpdateParams(FALSE, 600.0), S_OK);  // folded to 300: the tempo delay resets
    EXPECT_EQ(entry->StopFloat(), S_OK);
    EXPECT_EQ(fx->Release(), 0u);
}

TEST(BrioFx, FloatEntryFollowsTheHostTempoMap) {
    fake::Reset();
    g_delayFrames.clear();
    CTwBrioFx* fx = NewFilter();
    fx->Controller().SetBlockFactories(FakesWithFrameDelay());
    FxParams p = DelayOnly(1000, 300);
    p.delayClock = kClockTempo;
    fx->Controller().SetParams(&p);
    brio_test::TempoHost host;
    host.entries[0] = {0, 12000};
    host.entries[1] = {30, 9000};
    host.count = 2;
    IMfxSoftSynth* synth = &fx->Controller();
    ITwAudioTransformFloat* entry = fx;
    ASSERT_EQ(entry->StartFloat(2, 44100), S_OK);
    ASSERT_EQ(synth->AttachHost(host.Handed()), S_OK);
    ASSERT_EQ(synth->TransportStart(0), S_OK);
    std::vector<float> buffer(2 * 1000, 0.1f);
    ASSERT_EQ(entry->ProcessFloat(buffer.data(), 1000, FALSE), S_OK);
    ASSERT_EQ(g_delayFrames.size(), 2u);
    EXPECT_EQ(g_delayFrames[0], 300u);
    EXPECT_EQ(g_delayFrames[1], 700u);
    FxParams now = {};
    fx->Controller().GetParams(&now);
    EXPECT_EQ(now.tempo, 90.0);
    entry->StopFloat();
    synth->DetachHost();
    EXPECT_EQ(fx->Release(), 0u);
    fake::Reset();
}
