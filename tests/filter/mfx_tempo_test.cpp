#include "filter/mfx_tempo.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

struct TempoEntry {
    LONG tick;
    int hundredths;
};

struct MeterEntry {
    int measure;
    int numerator;
    int pow2;
};

// One host object answering for the three timing interfaces. Its converter maps one tick to ten
// samples; its tempo map maps one tick to one millisecond; a measure is 100 ticks.
class FakeHost final : public IHostTempoMap, public IHostMeterMap, public IHostTimeConverter {
public:
    bool offerTempoMap = true;
    bool offerMeterMap = true;
    bool offerConverter = true;
    bool indexAlwaysFirst = false;  // a host whose index lookup answers the first entry
    TempoEntry tempos[8] = {};
    MeterEntry meters[8] = {};
    int tempoCount = 0;
    int meterCount = 0;
    LONG refs = 1;
    int msecCalls = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown)) *ppv = static_cast<IHostTempoMap*>(this);
        if (offerTempoMap && IsEqualIID(riid, IID_IHostTempoMap)) {
            *ppv = static_cast<IHostTempoMap*>(this);
        }
        if (offerMeterMap && IsEqualIID(riid, IID_IHostMeterMap)) {
            *ppv = static_cast<IHostMeterMap*>(this);
        }
        if (offerConverter && IsEqualIID(riid, IID_IHostTimeConverter)) {
            *ppv = static_cast<IHostTimeConverter*>(this);
        }
        if (!*ppv) return E_NOINTERFACE;
        ++refs;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }

    LONG STDMETHODCALLTYPE TicksToMsecs(LONG ticks) override {
        ++msecCalls;
        return ticks;
    }
    LONG STDMETHODCALLTYPE MsecsToTicks(LONG msecs) override {
        ++msecCalls;
        return msecs;
    }
    int STDMETHODCALLTYPE GetTicksPerQuarterNote() override { return 960; }
    int STDMETHODCALLTYPE GetTempoIndexForTime(LONG ticks) override {
        int index = 0;
        for (int i = 0; !indexAlwaysFirst && i < tempoCount; ++i) {
            if (tempos[i].tick <= ticks) index = i;
        }
        return index;
    }
    int STDMETHODCALLTYPE GetTempoCount() override { return tempoCount; }
    HRESULT STDMETHODCALLTYPE GetTempoAt(int index, LONG* startTicks, int* hundredths) override {
        if (index < 0 || index >= GetTempoCount()) return E_INVALIDARG;
        *startTicks = tempos[index].tick;
        *hundredths = tempos[index].hundredths;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE TicksToMeasureBeatTick(LONG, int*, int*, int*) override {
        return E_NOTIMPL;
    }
    LONG STDMETHODCALLTYPE MeasureBeatTickToTicks(int measure, int beat, int tick) override {
        return (measure - 1) * 100 + (beat - 1) * 25 + tick;
    }
    int STDMETHODCALLTYPE GetMeterIndexForTime(LONG ticks) override {
        int index = 0;
        for (int i = 0; i < meterCount; ++i) {
            if (MeasureBeatTickToTicks(meters[i].measure, 1, 0) <= ticks) index = i;
        }
        return index;
    }
    int STDMETHODCALLTYPE GetMeterCount() override { return meterCount; }
    HRESULT STDMETHODCALLTYPE GetMeterAt(int index, int* measure, int* numerator,
                                         int* pow2) override {
        if (index < 0 || index >= GetMeterCount()) return E_INVALIDARG;
        *measure = meters[index].measure;
        *numerator = meters[index].numerator;
        *pow2 = meters[index].pow2;
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

    void SetTempos(std::initializer_list<TempoEntry> entries) {
        tempoCount = 0;
        for (const TempoEntry& e : entries) tempos[tempoCount++] = e;
    }
    void SetMeters(std::initializer_list<MeterEntry> entries) {
        meterCount = 0;
        for (const MeterEntry& e : entries) meters[meterCount++] = e;
    }

    // What the host does: hand over a reference with the attach call.
    IUnknown* Handed() {
        AddRef();
        return static_cast<IHostTempoMap*>(this);
    }
};

class TestTempo final : public CMFXTempo {
public:
    WAVEFORMATEX format = {WAVE_FORMAT_IEEE_FLOAT, 2, 48000, 384000, 8, 32, 0};
    bool formatKnown = true;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    const WAVEFORMATEX* GetStreamFormat() override { return formatKnown ? &format : nullptr; }

    TempoInfo Query(LONG frames, LONG* count) {
        TempoInfo info = {};
        *count = TempoQuery(frames, kTempoQueryAll, &info);
        return info;
    }
};

constexpr int32_t kTempoBits = kTempoInfoTempo | kTempoInfoTempoChanged;
constexpr int32_t kMeterBits = kTempoInfoTimeSig | kTempoInfoTimeSigChanged;

}  // namespace

TEST(MfxTempo, NoHostGivesFullCountAndDefaults) {
    TestTempo tempo;
    LONG count = 0;
    for (LONG frames : {1000, 1, 4096}) {
        const TempoInfo info = tempo.Query(frames, &count);
        EXPECT_EQ(count, frames);
        EXPECT_EQ(info.flags, 0);
        EXPECT_EQ(info.tempo, 120.0);
        EXPECT_EQ(info.numerator, 4);
        EXPECT_EQ(info.denominator, 4);
    }
    EXPECT_EQ(tempo.TransportStart(100), S_OK);
    EXPECT_EQ(tempo.TempoQuery(512, kTempoQueryAll, nullptr), 512);

    // A host without timing services changes nothing either.
    FakeHost host;
    host.offerTempoMap = host.offerMeterMap = host.offerConverter = false;
    ASSERT_EQ(tempo.AttachHost(host.Handed()), S_OK);
    ASSERT_EQ(tempo.TransportStart(0), S_OK);
    const TempoInfo info = tempo.Query(700, &count);
    EXPECT_EQ(count, 700);
    EXPECT_EQ(info.flags, 0);
    EXPECT_EQ(info.tempo, 120.0);
    EXPECT_EQ(tempo.DetachHost(), S_OK);
    EXPECT_EQ(host.refs, 1);
}

TEST(MfxTempo, OneEntryReportsChangedOnlyAfterTransportStart) {
    FakeHost host;
    host.offerMeterMap = false;
    host.SetTempos({{0, 9050}});
    TestTempo tempo;
    ASSERT_EQ(tempo.AttachHost(host.Handed()), S_OK);
    ASSERT_EQ(tempo.TransportStart(0), S_OK);

    LONG count = 0;
    TempoInfo info = tempo.Query(1000, &count);
    EXPECT_EQ(count, 1000);
    EXPECT_EQ(info.flags, kTempoBits);
    EXPECT_EQ(info.tempo, 90.5);
    EXPECT_EQ(info.numerator, 4);
    EXPECT_EQ(info.denominator, 4);
    for (int i = 0; i < 2; ++i) {
        info = tempo.Query(1000, &count);
        EXPECT_EQ(info.flags, kTempoInfoTempo);
        EXPECT_EQ(info.tempo, 90.5);
    }
    ASSERT_EQ(tempo.TransportStart(0), S_OK);
    EXPECT_EQ(tempo.Query(1000, &count).flags, kTempoBits);
    // Asking only for the time signature leaves the tempo alone.
    info = {};
    EXPECT_EQ(tempo.TempoQuery(10, kTempoQueryTimeSig, &info), 10);
    EXPECT_EQ(info.flags, 0);
    EXPECT_EQ(info.tempo, 120.0);
    ASSERT_EQ(tempo.DetachHost(), S_OK);
}

TEST(MfxTempo, ChangeInsideTheWindowCutsItAndChangeAtItsEndDoesNot) {
    FakeHost host;
    host.offerMeterMap = false;
    host.SetTempos({{0, 12000}, {30, 14000}, {200, 9000}});  // at samples 0, 300, 2000
    TestTempo tempo;
    ASSERT_EQ(tempo.AttachHost(host.Handed()), S_OK);
    ASSERT_EQ(tempo.TransportStart(0), S_OK);

    LONG count = 0;
    TempoInfo info = tempo.Query(1000, &count);
    EXPECT_EQ(count, 300);
    EXPECT_EQ(info.tempo, 120.0);
    info = tempo.Query(700, &count);
    EXPECT_EQ(count, 700);
    EXPECT_EQ(info.tempo, 140.0);
    EXPECT_EQ(info.flags, kTempoBits);

    // Now at 1000: the change at 2000 lies exactly at the window's end.
    info = tempo.Query(1000, &count);
    EXPECT_EQ(count, 1000);
    EXPECT_EQ(info.tempo, 140.0);
    EXPECT_EQ(info.flags, kTempoInfoTempo);
    info = tempo.Query(1000, &count);
    EXPECT_EQ(count, 1000);
    EXPECT_EQ(info.tempo, 90.0);
    EXPECT_EQ(info.flags, kTempoBits);

    // Frames run outside a query still move the host position.
    ASSERT_EQ(tempo.TransportStart(0), S_OK);
    tempo.AdvancePosition(100);
    EXPECT_EQ(tempo.TempoQuery(1000, kTempoQueryAll, nullptr), 200);
    ASSERT_EQ(tempo.DetachHost(), S_OK);
}

TEST(MfxTempo, EntriesAtOrBeforeThePositionReportTheLatest) {
    FakeHost host;
    host.offerMeterMap = false;
    host.indexAlwaysFirst = true;
    host.SetTempos({{0, 10000}, {10, 11000}, {20, 13000}, {500, 15000}});
    TestTempo tempo;
    ASSERT_EQ(tempo.AttachHost(host.Handed()), S_OK);
    ASSERT_EQ(tempo.TransportStart(30), S_OK);  // sample 300

    LONG count = 0;
    TempoInfo info = tempo.Query(10, &count);
    EXPECT_EQ(info.tempo, 130.0);
    EXPECT_EQ(info.flags, kTempoBits);
    info = tempo.Query(10000, &count);  // not the first query: the stepped entries still say so
    EXPECT_EQ(info.tempo, 130.0);
    EXPECT_EQ(info.flags, kTempoBits);
    EXPECT_EQ(count, 5000 - 310);
    info = tempo.Query(10, &count);
    EXPECT_EQ(info.tempo, 150.0);
    EXPECT_EQ(info.flags, kTempoBits);
    ASSERT_EQ(tempo.DetachHost(), S_OK);
}

TEST(MfxTempo, LoopMovesTheHostPositionBack) {
    FakeHost host;
    host.offerMeterMap = false;
    host.SetTempos({{0, 12000}, {2000, 15000}});  // 150 BPM from sample 20000
    TestTempo tempo;
    ASSERT_EQ(tempo.AttachHost(host.Handed()), S_OK);
    ASSERT_EQ(tempo.TransportStart(0), S_OK);

    LONG count = 0;
    EXPECT_EQ(tempo.Query(10000, &count).tempo, 120.0);
    tempo.Query(40000, &count);
    EXPECT_EQ(count, 10000);
    TempoInfo info = tempo.Query(30000, &count);
    EXPECT_EQ(info.tempo, 150.0);
    EXPECT_EQ(count, 30000);  // now at 50000

    ASSERT_EQ(tempo.TransportLoop(0, 4800), S_OK);  // 48000 samples: back to 2000
    info = tempo.Query(30000, &count);
    EXPECT_EQ(info.tempo, 120.0);
    EXPECT_EQ(info.flags, kTempoBits);
    EXPECT_EQ(count, 18000);
    info = tempo.Query(30000, &count);
    EXPECT_EQ(info.tempo, 150.0);
    EXPECT_EQ(count, 30000);  // now at 80000, host at 50000

    // A loop right after a cut: the entry that cut lies ahead again and must not be reported yet.
    ASSERT_EQ(tempo.TransportStop(0), S_OK);
    ASSERT_EQ(tempo.TransportStart(0), S_OK);
    tempo.Query(10000, &count);
    tempo.Query(40000, &count);
    EXPECT_EQ(count, 10000);  // at 20000, on the change
    ASSERT_EQ(tempo.TransportLoop(0, 1500), S_OK);  // back to 5000
    info = tempo.Query(10000, &count);
    EXPECT_EQ(info.tempo, 120.0);
    EXPECT_EQ(count, 10000);
    info = tempo.Query(10000, &count);
    EXPECT_EQ(count, 5000);
    info = tempo.Query(100, &count);
    EXPECT_EQ(info.tempo, 150.0);
    ASSERT_EQ(tempo.DetachHost(), S_OK);
}

TEST(MfxTempo, TimeSignatureFromTheMeterMap) {
    FakeHost host;
    host.offerTempoMap = false;
    host.SetMeters({{1, 4, 2}, {3, 6, 3}});  // 6/8 from measure 3: tick 200, sample 2000
    TestTempo tempo;
    ASSERT_EQ(tempo.AttachHost(host.Handed()), S_OK);
    ASSERT_EQ(tempo.TransportStart(0), S_OK);

    LONG count = 0;
    TempoInfo info = tempo.Query(5000, &count);
    EXPECT_EQ(count, 2000);
    EXPECT_EQ(info.flags, kMeterBits);
    EXPECT_EQ(info.numerator, 4);
    EXPECT_EQ(info.denominator, 4);
    EXPECT_EQ(info.tempo, 120.0);
    info = tempo.Query(3000, &count);
    EXPECT_EQ(count, 3000);
    EXPECT_EQ(info.flags, kMeterBits);
    EXPECT_EQ(info.numerator, 6);
    EXPECT_EQ(info.denominator, 8);
    info = tempo.Query(100, &count);
    EXPECT_EQ(info.flags, kTempoInfoTimeSig);
    ASSERT_EQ(tempo.DetachHost(), S_OK);
}

TEST(MfxTempo, MeterCutShorterThanTheTempoCut) {
    FakeHost host;
    host.SetTempos({{0, 12000}, {150, 14000}});  // tempo change at sample 1500
    host.SetMeters({{1, 4, 2}, {2, 3, 2}});      // 3/4 from measure 2: sample 1000
    TestTempo tempo;
    ASSERT_EQ(tempo.AttachHost(host.Handed()), S_OK);
    ASSERT_EQ(tempo.TransportStart(0), S_OK);

    LONG count = 0;
    TempoInfo info = tempo.Query(2000, &count);
    EXPECT_EQ(count, 1000);
    EXPECT_EQ(info.flags, kTempoBits | kMeterBits);
    // The tempo change at 1500 is still ahead: old tempo, and the window stops before it.
    info = tempo.Query(1000, &count);
    EXPECT_EQ(count, 500);
    EXPECT_EQ(info.tempo, 120.0);
    EXPECT_EQ(info.flags, kTempoInfoTempo | kMeterBits);
    EXPECT_EQ(info.numerator, 3);
    EXPECT_EQ(info.denominator, 4);
    info = tempo.Query(500, &count);
    EXPECT_EQ(count, 500);
    EXPECT_EQ(info.tempo, 140.0);
    EXPECT_EQ(info.flags, kTempoBits | kTempoInfoTimeSig);
    ASSERT_EQ(tempo.DetachHost(), S_OK);
}

TEST(MfxTempo, ConverterIsPreferredOverTheTempoMap) {
    FakeHost host;
    host.offerMeterMap = false;
    host.SetTempos({{0, 12000}, {100, 6000}});  // converter: sample 1000; tempo map: 4800
    TestTempo tempo;
    ASSERT_EQ(tempo.AttachHost(host.Handed()), S_OK);
    ASSERT_EQ(tempo.TransportStart(0), S_OK);
    LONG count = 0;
    tempo.Query(2000, &count);
    EXPECT_EQ(count, 1000);
    EXPECT_EQ(host.msecCalls, 0);
    ASSERT_EQ(tempo.DetachHost(), S_OK);

    // Without the converter the tempo map's milliseconds meet the stream's 48000 Hz.
    host.offerConverter = false;
    host.msecCalls = 0;
    ASSERT_EQ(tempo.AttachHost(host.Handed()), S_OK);
    ASSERT_EQ(tempo.TransportStart(0), S_OK);
    tempo.Query(10000, &count);
    EXPECT_EQ(count, 4800);
    EXPECT_GT(host.msecCalls, 0);
    // A start at tick 90 is sample 4320: 480 frames to the change.
    ASSERT_EQ(tempo.TransportStart(90), S_OK);
    tempo.Query(10000, &count);
    EXPECT_EQ(count, 480);
    // A start before the format is known is placed once the sample rate is.
    tempo.formatKnown = false;
    ASSERT_EQ(tempo.TransportStart(90), S_OK);
    tempo.formatKnown = true;
    tempo.Query(10000, &count);
    EXPECT_EQ(count, 480);
    // 44100 Hz: tick 100 is floor(44.1 * 100 + 0.5) = 4410.
    tempo.format.nSamplesPerSec = 44100;
    ASSERT_EQ(tempo.TransportStart(0), S_OK);
    tempo.Query(10000, &count);
    EXPECT_EQ(count, 4410);
    ASSERT_EQ(tempo.DetachHost(), S_OK);
    EXPECT_EQ(host.refs, 1);
}

TEST(MfxTempo, AttachDetachAndReferences) {
    FakeHost host;
    TestTempo tempo;
    EXPECT_EQ(tempo.AttachHost(nullptr), E_POINTER);
    ASSERT_EQ(tempo.AttachHost(host.Handed()), S_OK);
    EXPECT_EQ(host.refs, 1 + 3);  // the handed reference given back, one per interface kept
    IUnknown* again = host.Handed();
    EXPECT_EQ(tempo.AttachHost(again), E_UNEXPECTED);
    again->Release();
    EXPECT_EQ(host.refs, 4);
    EXPECT_EQ(tempo.DetachHost(), S_OK);
    EXPECT_EQ(host.refs, 1);
    EXPECT_EQ(tempo.DetachHost(), S_OK);
    EXPECT_EQ(host.refs, 1);

    // Destruction releases what an attached host handed over.
    {
        TestTempo other;
        ASSERT_EQ(other.AttachHost(host.Handed()), S_OK);
        EXPECT_EQ(host.refs, 4);
    }
    EXPECT_EQ(host.refs, 1);
}

TEST(MfxTempo, SoftSynthSlotsThroughTheFunctionTable) {
    typedef HRESULT(STDMETHODCALLTYPE * NoArgs)(IMfxSoftSynth*);
    struct Vtbl {
        void* unknown[3];
        HRESULT(STDMETHODCALLTYPE* attach)(IMfxSoftSynth*, IUnknown*);
        NoArgs detach;
        HRESULT(STDMETHODCALLTYPE* start)(IMfxSoftSynth*, LONG);
        HRESULT(STDMETHODCALLTYPE* loop)(IMfxSoftSynth*, LONG, LONG);
        HRESULT(STDMETHODCALLTYPE* stop)(IMfxSoftSynth*, LONG);
        HRESULT(STDMETHODCALLTYPE* notify)(IMfxSoftSynth*, LONG_PTR, LONG_PTR, LONG_PTR, LONG_PTR);
        NoArgs unsupported[9];  // slots 9 to 17
    };
    TestTempo* tempo = new TestTempo;
    IMfxSoftSynth* synth = tempo;
    const Vtbl* v = *reinterpret_cast<Vtbl* const*>(synth);
    FakeHost host;
    EXPECT_EQ(v->attach(synth, nullptr), E_POINTER);
    EXPECT_EQ(v->attach(synth, host.Handed()), S_OK);
    EXPECT_EQ(v->attach(synth, static_cast<IHostTempoMap*>(&host)), E_UNEXPECTED);
    EXPECT_EQ(v->start(synth, 0), S_OK);
    EXPECT_EQ(v->loop(synth, 0, 10), S_OK);
    EXPECT_EQ(v->stop(synth, 0), S_OK);
    EXPECT_EQ(v->notify(synth, 1, 2, 3, 4), S_OK);
    for (int slot = 9; slot <= 17; ++slot) {
        EXPECT_EQ(v->unsupported[slot - 9](synth), E_NOTIMPL) << "slot " << slot;
    }
    EXPECT_EQ(v->detach(synth), S_OK);
    EXPECT_EQ(host.refs, 1);
    delete tempo;
}
