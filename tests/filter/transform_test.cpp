#include "filter/transform.h"

#include "tests/filter/fake_blocks.h"
#include "tests/filter/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using testing_support::ChainTest;
using testing_support::CountingOuter;
using testing_support::MakeFormat;

namespace {

using Setter = decltype(&ITwBrioFxProp::SetDelayTime);
using Getter = decltype(&ITwBrioFxProp::GetDelayTime);

struct FieldCase {
    const char* name;
    Setter set;
    Getter get;
    int value;
    int stored;
    uint32_t bits;
};

// Takes the pending flags and clears the dirty flag, so a test sees only what comes after.
uint32_t Settle(CTwBrioFxTransform& fx) {
    ChainSnapshot s;
    const uint32_t flags = fx.Snapshot(&s);
    FxParams p;
    fx.ClearDirtySince(fx.ParamsForSave(&p));
    return flags;
}

std::vector<std::string> Only(const std::vector<std::string>& events, const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& e : events)
        if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
    return out;
}

}  // namespace

TEST(TransformFields, SettersClampAndSetTheirBits) {
    const FieldCase cases[] = {
        {"delayClock", &ITwBrioFxProp::SetDelayClock, &ITwBrioFxProp::GetDelayClock, -3, 0, 0x030},
        {"delayNote", &ITwBrioFxProp::SetDelayNote, &ITwBrioFxProp::GetDelayNote, 12, 8, 0x030},
        {"delayTime", &ITwBrioFxProp::SetDelayTime, &ITwBrioFxProp::GetDelayTime, -1, 22500, 0x010},
        {"delayTime", &ITwBrioFxProp::SetDelayTime, &ITwBrioFxProp::GetDelayTime, 22501, 22500, 0x010},
        {"delayDecay", &ITwBrioFxProp::SetDelayDecay, &ITwBrioFxProp::GetDelayDecay, -1, 900, 0x010},
        {"delayMix", &ITwBrioFxProp::SetDelayMix, &ITwBrioFxProp::GetDelayMix, 1001, 1000, 0x040},
        {"delayOn", &ITwBrioFxProp::SetDelayOn, &ITwBrioFxProp::GetDelayOn, 7, 1, 0x030},
        {"lfoType", &ITwBrioFxProp::SetLfoType, &ITwBrioFxProp::GetLfoType, 9, 3, 0x180},
        {"lfoClock", &ITwBrioFxProp::SetLfoClock, &ITwBrioFxProp::GetLfoClock, 2, 1, 0x080},
        {"lfoPeriod", &ITwBrioFxProp::SetLfoPeriod, &ITwBrioFxProp::GetLfoPeriod, -4, 0, 0x080},
        {"lfoRate", &ITwBrioFxProp::SetLfoRate, &ITwBrioFxProp::GetLfoRate, 0, 1, 0x180},
        {"lfoRate", &ITwBrioFxProp::SetLfoRate, &ITwBrioFxProp::GetLfoRate, -1, 11000, 0x180},
        {"lfoDepth", &ITwBrioFxProp::SetLfoDepth, &ITwBrioFxProp::GetLfoDepth, 0, 1, 0x180},
        {"lfoDepth", &ITwBrioFxProp::SetLfoDepth, &ITwBrioFxProp::GetLfoDepth, 101, 100, 0x180},
        {"lfoOn", &ITwBrioFxProp::SetLfoOn, &ITwBrioFxProp::GetLfoOn, 1, 1, 0x080},
        {"reverbType", &ITwBrioFxProp::SetReverbType, &ITwBrioFxProp::GetReverbType, -1, 0, 0x200},
        {"reverbMix", &ITwBrioFxProp::SetReverbMix, &ITwBrioFxProp::GetReverbMix, -2, 1000, 0x800},
        {"reverbOn", &ITwBrioFxProp::SetReverbOn, &ITwBrioFxProp::GetReverbOn, 2, 1, 0x200},
        {"distSlew", &ITwBrioFxProp::SetDistSlew, &ITwBrioFxProp::GetDistSlew, -1, 100, 0x001},
        {"distHardClip", &ITwBrioFxProp::SetDistHardClip, &ITwBrioFxProp::GetDistHardClip, 3, 1, 0x001},
        {"distOn", &ITwBrioFxProp::SetDistOn, &ITwBrioFxProp::GetDistOn, 1, 1, 0x001},
        {"eqMid", &ITwBrioFxProp::SetEqMid, &ITwBrioFxProp::GetEqMid, 300, 250, 0x004},
        {"eqBass", &ITwBrioFxProp::SetEqBass, &ITwBrioFxProp::GetEqBass, -251, -250, 0x004},
        {"eqTreble", &ITwBrioFxProp::SetEqTreble, &ITwBrioFxProp::GetEqTreble, -300, -250, 0x004},
        {"eqOn", &ITwBrioFxProp::SetEqOn, &ITwBrioFxProp::GetEqOn, 1, 1, 0x004},
    };
    for (const FieldCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " = " + std::to_string(c.value));
        CountingOuter outer;
        CTwBrioFxTransform fx(&outer);
        ITwBrioFxProp* prop = &fx;
        Settle(fx);
        ASSERT_FALSE(fx.IsDirty());

        EXPECT_EQ(S_OK, (prop->*c.set)(c.value));
        int got = -12345;
        EXPECT_EQ(S_OK, (prop->*c.get)(&got));
        EXPECT_EQ(c.stored, got);
        EXPECT_TRUE(fx.IsDirty());
        EXPECT_EQ(c.bits, Settle(fx));

        // The same value again, and a value that clamps to it: no bit, no dirty flag.
        EXPECT_EQ(S_OK, (prop->*c.set)(c.stored));
        EXPECT_EQ(S_OK, (prop->*c.set)(c.value));
        EXPECT_FALSE(fx.IsDirty());
        EXPECT_FALSE(fx.HasPendingChanges());
        EXPECT_EQ(0u, Settle(fx));
    }
}

TEST(TransformFields, GettersRefuseNullAndDefaultsAreTheFirstPreset) {
    CountingOuter outer;
    CTwBrioFxTransform fx(&outer);
    EXPECT_EQ(E_POINTER, fx.GetDelayTime(nullptr));
    EXPECT_EQ(E_POINTER, fx.GetParams(nullptr));
    EXPECT_EQ(E_POINTER, fx.SetParams(nullptr));

    FxParams p;
    ASSERT_EQ(S_OK, fx.GetParams(&p));
    EXPECT_EQ(0, std::memcmp(&p, &kDefaultFxParams, sizeof p));
    EXPECT_TRUE(fx.IsDirty());  // the construction-time load counts as a change
    ChainSnapshot s;
    EXPECT_EQ(static_cast<uint32_t>(kChangeAllWithReset), fx.Snapshot(&s) & kChangeAllWithReset);
    EXPECT_EQ(4, s.numerator);
    EXPECT_EQ(4, s.denominator);
}

TEST(TransformFields, BulkSetClampsLikeTheSettersExceptANegativeDelayTime) {
    CountingOuter outer;
    CTwBrioFxTransform fx(&outer);
    Settle(fx);
    FxParams in = kDefaultFxParams;
    in.delayTime = -1;
    in.delayDecay = -1;
    in.delayNote = 99;
    in.delayOn = 5;
    in.reverbType = -1;
    in.lfoRate = 0;
    in.lfoDepth = 0;
    in.lfoPeriod = 17;
    in.eqTreble = -300;
    in.eqMid = 251;
    in.distSlew = 101;
    ASSERT_EQ(S_OK, fx.SetParams(&in));

    FxParams out;
    fx.GetParams(&out);
    EXPECT_EQ(0, out.delayTime);
    EXPECT_EQ(900, out.delayDecay);
    EXPECT_EQ(8, out.delayNote);
    EXPECT_EQ(1, out.delayOn);
    EXPECT_EQ(0, out.reverbType);
    EXPECT_EQ(1, out.lfoRate);
    EXPECT_EQ(1, out.lfoDepth);
    EXPECT_EQ(4, out.lfoPeriod);
    EXPECT_EQ(-250, out.eqTreble);
    EXPECT_EQ(250, out.eqMid);
    EXPECT_EQ(100, out.distSlew);
    EXPECT_TRUE(fx.IsDirty());
    EXPECT_EQ(static_cast<uint32_t>(kChangeAllWithReset), Settle(fx) & kChangeAllWithReset);

    in.lfoRate = 20000;
    fx.SetParams(&in);
    fx.GetParams(&out);
    EXPECT_EQ(11000, out.lfoRate);

    // The same record again still counts as a change: a preset or a load always re-applies.
    fx.SetParams(&in);
    EXPECT_TRUE(fx.IsDirty());
    EXPECT_EQ(static_cast<uint32_t>(kChangeAllWithReset), Settle(fx) & kChangeAllWithReset);
}

TEST(TransformTempo, FoldTempoByOctaves) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double in;
        double out;
    } cases[] = {{0, 120}, {-5, 120}, {20, 40}, {35, 70}, {301, 150.5}, {600, 300}, {1000, 250},
                 {40, 40}, {300, 300}, {inf, 120}, {-inf, 120}, {nan, 120}, {1e-300, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        const double folded = FoldTempoValue(c.in);
        if (c.out == 0) {  // tiny but positive: doubled into range, never past it
            EXPECT_GE(folded, 40.0);
            EXPECT_LT(folded, 80.0);
            continue;
        }
        EXPECT_EQ(c.out, folded);

        CountingOuter outer;
        CTwBrioFxTransform fx(&outer);
        FxParams p = kDefaultFxParams;
        p.tempo = c.in;
        fx.SetParams(&p);
        FxParams out;
        fx.GetParams(&out);
        EXPECT_EQ(c.out, out.tempo);
    }
}

TEST(TransformTempo, HostTempoSetsBitsOnlyForTempoClocks) {
    CountingOuter outer;
    CTwBrioFxTransform fx(&outer);
    FxParams p = kDefaultFxParams;
    p.delayClock = kClockTime;
    p.lfoClock = kClockTime;
    fx.SetParams(&p);
    Settle(fx);

    EXPECT_TRUE(fx.FoldTempo(130.0));
    EXPECT_EQ(0u, Settle(fx));
    EXPECT_FALSE(fx.FoldTempo(130.0));
    EXPECT_TRUE(fx.FoldTempo(std::numeric_limits<double>::quiet_NaN()));  // 120
    EXPECT_FALSE(fx.FoldTempo(0.0));
    EXPECT_FALSE(fx.FoldTempo(std::numeric_limits<double>::infinity()));
    Settle(fx);

    fx.SetDelayClock(kClockTempo);
    Settle(fx);
    EXPECT_TRUE(fx.FoldTempo(140.0));
    EXPECT_FALSE(fx.IsDirty());  // host tempo is not a user change
    EXPECT_EQ(0x020u, Settle(fx));

    fx.SetLfoClock(kClockTempo);
    Settle(fx);
    EXPECT_TRUE(fx.FoldTempo(150.0));
    EXPECT_EQ(0x0A0u, Settle(fx));

    // Time signature: only the LFO depends on it.
    fx.SetTimeSignature(3, 4);
    EXPECT_EQ(0x080u, Settle(fx));
    fx.SetTimeSignature(3, 4);
    EXPECT_EQ(0u, Settle(fx));
    fx.SetTimeSignature(0, 4);  // no beats in a measure: ignored
    fx.SetTimeSignature(3, 0);
    ChainSnapshot s;
    EXPECT_EQ(0u, fx.Snapshot(&s));
    EXPECT_EQ(3, s.numerator);
    EXPECT_EQ(4, s.denominator);
    fx.SetLfoClock(kClockTime);
    Settle(fx);
    fx.SetTimeSignature(6, 8);
    EXPECT_EQ(0u, Settle(fx));
}

TEST(TransformTempo, PlainConversions) {
    EXPECT_EQ(5000, DelayTempoTime(120.0, kNoteQuarter, 44100));
    EXPECT_EQ(3750, DelayTempoTime(120.0, kNoteDottedEighth, 44100));
    EXPECT_EQ(7500, DelayTempoTime(120.0, kNoteDottedQuarter, 44100));
    EXPECT_EQ(833, DelayTempoTime(120.0, kNoteSixteenthTriplet, 44100));
    EXPECT_EQ(5000, DelayTempoTime(90.0, kNoteDottedEighth, 48000));
    EXPECT_EQ(22500, DelayTempoTime(40.0, kNoteDottedQuarter, 44100));
    EXPECT_EQ(2000u, LfoTempoRate(120.0, kPeriodOneBeat, 4, 4));
    EXPECT_EQ(1000u, LfoTempoRate(120.0, kPeriodTwoBeats, 4, 4));
    EXPECT_EQ(500u, LfoTempoRate(120.0, kPeriodOneMeasure, 4, 4));
    EXPECT_EQ(250u, LfoTempoRate(120.0, kPeriodTwoMeasures, 4, 4));
    EXPECT_EQ(125u, LfoTempoRate(120.0, kPeriodFourMeasures, 4, 4));
    EXPECT_EQ(667u, LfoTempoRate(120.0, kPeriodOneMeasure, 3, 4));
    EXPECT_EQ(4000u, LfoTempoRate(120.0, kPeriodOneBeat, 6, 8));
}

TEST_F(ChainTest, StartCreatesAppliesAndStopReleasesInOrder) {
    FxParams p = kDefaultFxParams;
    p.delayOn = p.reverbOn = p.lfoOn = p.distOn = p.eqOn = 1;
    p.delayClock = kClockTime;
    p.delayTime = 4321;
    p.delayDecay = 600;
    p.delayMix = 250;
    p.reverbType = kReverbPlate;
    p.reverbMix = 400;
    p.lfoType = kLfoChorus;
    p.lfoRate = 777;
    p.lfoDepth = 33;
    p.distSlew = 12;
    p.distHardClip = 1;
    p.eqMid = -10;
    p.eqBass = 20;
    p.eqTreble = -30;
    format = MakeFormat(WAVE_FORMAT_IEEE_FLOAT, 32, 2, 44100);
    fx.SetParams(&p);
    ASSERT_EQ(S_OK, fx.StartStreaming(&format));

    const std::vector<std::string> expectStart = {
        "create dist",           "create lfo",           "create eq",           "create delay",
        "create reverb",         "setformat delay reset", "setformat dist reset", "setformat lfo reset",
        "setformat eq reset",    "setformat reverb reset"};
    EXPECT_EQ(expectStart, fake::log().events);

    fake::Made& m = fake::made();
    ASSERT_TRUE(m.dist && m.lfo && m.eq && m.delay && m.reverb);
    EXPECT_EQ(&format, m.delay->counters.lastFormat);

    const DistortionParams& d = m.dist->last;
    EXPECT_EQ(40, d.cbSize);
    EXPECT_EQ(0.5, d.dryGain);
    EXPECT_EQ(0.5, d.wetGain);
    EXPECT_EQ(750, d.drive);
    EXPECT_EQ(12, d.slewPercent);
    EXPECT_EQ(1, d.hardClip);

    const FlangeParams& l = m.lfo->last;
    EXPECT_EQ(40, l.cbSize);
    EXPECT_EQ(0.5, l.dryGain);
    EXPECT_EQ(0.5, l.wetGain);
    EXPECT_EQ(kLfoChorus, l.lfoType);
    EXPECT_EQ(777u, l.rateMilliHz);
    EXPECT_EQ(33u, l.depthPercent);
    EXPECT_EQ(23, l.spare);

    const SimpleEqParams& e = m.eq->last;
    EXPECT_EQ(16, e.cbSize);
    EXPECT_EQ(-10, e.midGain);
    EXPECT_EQ(20, e.bassGain);
    EXPECT_EQ(-30, e.trebleGain);

    const DelayParams& dl = m.delay->last;
    EXPECT_EQ(40, dl.cbSize);
    EXPECT_EQ(0.75, dl.dryGain);
    EXPECT_EQ(0.25, dl.wetGain);
    EXPECT_EQ(4321, dl.delayTime);
    EXPECT_EQ(0, dl.reservedDecay);
    EXPECT_EQ(600, dl.decay);

    ReverbParams plate = kReverbRooms[kReverbPlate];
    plate.wetGain = 0.4;
    plate.dryGain = 1.0 - 0.4;
    EXPECT_EQ(0, std::memcmp(&plate, &m.reverb->last, sizeof plate));

    fake::log().events.clear();
    RunNormal();
    const std::vector<std::string> expectRun = {"process dist 0", "process eq 0", "process lfo 0",
                                                "process delay 0", "process reverb 0"};
    EXPECT_EQ(expectRun, fake::log().events);

    fake::log().events.clear();
    fx.StopStreaming();
    const std::vector<std::string> expectStop = {"release dist", "release lfo", "release eq", "release delay",
                                                 "release reverb"};
    EXPECT_EQ(expectStop, fake::log().events);
    ULONG n = 16;
    EXPECT_EQ(E_UNEXPECTED, Run(kChainNormal, &n));
    EXPECT_EQ(0u, n);
}

TEST(TransformRooms, ReverbTableRows) {
    const int32_t rows[4][8] = {{1, 20, 5, 1, 200, 1, 8000, 0},
                                {0, 30, 15, 1, 100, 1, 10000, 0},
                                {2, 30, 0, 1, 300, 1, 12000, 0},
                                {0, 40, 10, 0, 100, 0, 15000, 0}};
    for (int i = 0; i < 4; ++i) {
        const ReverbParams& r = kReverbRooms[i];
        EXPECT_EQ(56, r.cbSize);
        EXPECT_EQ(0.25, r.wetGain);
        EXPECT_EQ(0.75, r.dryGain);
        EXPECT_EQ(-160, r.earlyLevel);
        const int32_t got[8] = {r.combSet, r.reverbTime, r.preDelay, r.lowCutEnable, r.lowCutHz,
                                r.highCutEnable, r.highCutHz, 0};
        EXPECT_EQ(0, std::memcmp(rows[i], got, sizeof got)) << "room " << i;
    }
}

TEST_F(ChainTest, DelayTempoModeTimes) {
    FxParams p = kDefaultFxParams;
    p.delayOn = 1;
    p.delayClock = kClockTempo;
    p.delayNote = kNoteQuarter;
    Start(p, 44100, 2);
    fake::Delay* delay = fake::made().delay;
    EXPECT_EQ(5000, delay->last.delayTime);

    const struct {
        int note;
        int32_t time;
    } notes[] = {{kNoteDottedEighth, 3750}, {kNoteDottedQuarter, 7500}, {kNoteSixteenthTriplet, 833}};
    for (const auto& c : notes) {
        const int resets = delay->counters.resets;
        fx.SetDelayNote(c.note);
        RunNormal();
        EXPECT_EQ(c.time, delay->last.delayTime) << "note " << c.note;
        EXPECT_EQ(resets + 1, delay->counters.resets);
    }

    // A host tempo in Tempo mode resets the delay at the next sub-block; the record is untouched.
    fx.StopStreaming();
    fx.SetDelayNote(kNoteDottedEighth);
    fx.GetParams(&p);
    Start(p, 48000, 1);
    delay = fake::made().delay;
    EXPECT_TRUE(fx.FoldTempo(90.0));
    const int resets = delay->counters.resets;
    RunNormal();
    EXPECT_EQ(5000, delay->last.delayTime);
    EXPECT_EQ(resets + 1, delay->counters.resets);

    // With the clock on Time the stored time is used as it is, and the tempo sets no bit.
    fx.SetDelayClock(kClockTime);
    fx.SetDelayTime(1234);
    RunNormal();
    EXPECT_EQ(1234, delay->last.delayTime);
    const int calls = delay->counters.setFormat;
    EXPECT_TRUE(fx.FoldTempo(100.0));
    RunNormal();
    EXPECT_EQ(calls, delay->counters.setFormat);
}

TEST_F(ChainTest, LfoTempoRates) {
    FxParams p = kDefaultFxParams;
    p.lfoOn = 1;
    p.lfoClock = kClockTempo;
    p.lfoPeriod = kPeriodOneBeat;
    Start(p);
    fake::Lfo* lfo = fake::made().lfo;
    EXPECT_EQ(2000u, lfo->last.rateMilliHz);

    fx.SetLfoPeriod(kPeriodOneMeasure);
    RunNormal();
    EXPECT_EQ(500u, lfo->last.rateMilliHz);
    fx.SetLfoPeriod(kPeriodFourMeasures);
    RunNormal();
    EXPECT_EQ(125u, lfo->last.rateMilliHz);

    fx.SetLfoPeriod(kPeriodOneMeasure);
    fx.SetTimeSignature(3, 4);
    RunNormal();
    EXPECT_EQ(667u, lfo->last.rateMilliHz);

    fx.SetLfoPeriod(kPeriodOneBeat);
    fx.SetTimeSignature(6, 8);
    RunNormal();
    EXPECT_EQ(4000u, lfo->last.rateMilliHz);

    // Period and clock changes keep the modulation running (no reset); rate changes reset it.
    EXPECT_FALSE(lfo->counters.lastReset);
    fx.SetLfoClock(kClockTime);
    fx.SetLfoRate(345);
    RunNormal();
    EXPECT_EQ(345u, lfo->last.rateMilliHz);
    EXPECT_TRUE(lfo->counters.lastReset);
}

TEST_F(ChainTest, MixOnlyChangesUseSetMixAndTypeChangesKeepTheRoomSounding) {
    FxParams p = kDefaultFxParams;
    p.delayOn = 1;
    p.reverbOn = 1;
    p.reverbType = kReverbHall;
    Start(p);
    fake::Delay* delay = fake::made().delay;
    fake::Reverb* reverb = fake::made().reverb;
    const int delayFormats = delay->counters.setFormat;
    const int reverbFormats = reverb->counters.setFormat;

    fx.SetDelayMix(300);
    fx.SetReverbMix(250);
    RunNormal();
    EXPECT_EQ(delayFormats, delay->counters.setFormat);
    EXPECT_EQ(reverbFormats, reverb->counters.setFormat);
    EXPECT_EQ(1, delay->counters.setMix);
    EXPECT_EQ(1, reverb->counters.setMix);
    EXPECT_DOUBLE_EQ(0.7, delay->lastMix.dryGain);
    EXPECT_DOUBLE_EQ(0.3, delay->lastMix.wetGain);
    EXPECT_DOUBLE_EQ(0.25, reverb->lastMix.wetGain);
    EXPECT_DOUBLE_EQ(0.75, reverb->lastMix.dryGain);
    EXPECT_EQ(kReverbRooms[kReverbHall].reverbTime, reverb->lastMix.reverbTime);

    fx.SetReverbType(kReverbBigEmptyHall);
    RunNormal();
    EXPECT_EQ(reverbFormats + 1, reverb->counters.setFormat);
    EXPECT_FALSE(reverb->counters.lastReset);
    EXPECT_EQ(kReverbRooms[kReverbBigEmptyHall].combSet, reverb->last.combSet);
    EXPECT_EQ(40, reverb->last.reverbTime);
    EXPECT_DOUBLE_EQ(0.25, reverb->last.wetGain);

    fx.SetDelayTime(2000);  // a time change moves the window, without emptying the line
    RunNormal();
    EXPECT_EQ(delayFormats + 1, delay->counters.setFormat);
    EXPECT_FALSE(delay->counters.lastReset);

    // Nothing pending: nothing sent.
    const int total = delay->counters.setFormat + reverb->counters.setFormat + delay->counters.setMix;
    RunNormal();
    EXPECT_EQ(total, delay->counters.setFormat + reverb->counters.setFormat + delay->counters.setMix);
}

TEST_F(ChainTest, EveryBlockOff) {
    Start(kDefaultFxParams);
    ULONG n = 512;
    EXPECT_EQ(S_OK, Run(kChainNormal, &n));
    EXPECT_EQ(512u, n);
    n = 512;
    EXPECT_EQ(S_OK, Run(kChainFirst, &n));
    EXPECT_EQ(512u, n);
    n = 512;
    EXPECT_EQ(S_FALSE, Run(kChainDrain, &n));
    EXPECT_EQ(0u, n);
    n = 512;
    EXPECT_EQ(S_FALSE, Run(kChainNormal, &n, TRUE));  // silence with nothing sounding
    EXPECT_EQ(0u, n);
    EXPECT_TRUE(Only(fake::log().events, "process").empty());
    EXPECT_TRUE(fx.AllTailsFinished());
}

TEST_F(ChainTest, DelayDrainSequence) {
    fake::config().tailFrames[fake::kDelay] = 1500;
    FxParams p = kDefaultFxParams;
    p.delayOn = 1;
    Start(p);
    fake::Delay* delay = fake::made().delay;
    RunNormal();
    EXPECT_FALSE(fx.AllTailsFinished());
    const int resets = delay->counters.resets;

    ULONG n = 1024;
    EXPECT_EQ(S_OK, Run(kChainDrain, &n));
    EXPECT_EQ(1024u, n);
    EXPECT_EQ(static_cast<DWORD>(kProcessDrain), delay->counters.lastFlags);

    n = 1024;
    EXPECT_EQ(S_FALSE, Run(kChainDrain, &n));
    EXPECT_EQ(476u, n);  // the largest count a block reported
    EXPECT_EQ(resets + 1, delay->counters.resets);
    EXPECT_TRUE(fx.AllTailsFinished());

    const int processed = delay->counters.processed;
    n = 1024;
    EXPECT_EQ(S_FALSE, Run(kChainDrain, &n));
    EXPECT_EQ(0u, n);
    EXPECT_EQ(processed, delay->counters.processed);

    // Back to live audio: the delay runs again and counts a fresh tail.
    RunNormal();
    EXPECT_FALSE(fx.AllTailsFinished());
}

TEST_F(ChainTest, DrainWithDelayAndReverbEnds) {
    fake::config().tailFrames[fake::kDelay] = 1500;
    fake::config().tailFrames[fake::kReverb] = 3000;
    FxParams p = kDefaultFxParams;
    p.delayOn = 1;
    p.reverbOn = 1;
    Start(p);
    RunNormal();
    fake::log().events.clear();

    struct Step {
        HRESULT hr;
        ULONG n;
    };
    const Step expected[] = {
        {S_OK, 1024},    // delay sounding: the reverb's input is live, its flags stay clear
        {S_OK, 1024},    // delay ends (476 frames); the reverb starts its countdown
        {S_OK, 1024},    // delay idle and skipped; reverb counts on
        {S_FALSE, 952},  // reverb ends
        {S_FALSE, 0},    // both idle
        {S_FALSE, 0},
    };
    for (size_t i = 0; i < sizeof expected / sizeof expected[0]; ++i) {
        SCOPED_TRACE(i);
        ULONG n = 1024;
        EXPECT_EQ(expected[i].hr, Run(kChainDrain, &n));
        EXPECT_EQ(expected[i].n, n);
    }
    const std::vector<std::string> processed = {
        "process delay 1", "process reverb 0", "process delay 1", "process reverb 1", "process reverb 1",
        "process reverb 1"};
    EXPECT_EQ(processed, Only(fake::log().events, "process"));
    EXPECT_TRUE(fx.AllTailsFinished());
}

TEST_F(ChainTest, SilentInputPlaysTailsOut) {
    fake::config().tailFrames[fake::kDelay] = 1500;
    FxParams p = kDefaultFxParams;
    p.delayOn = 1;
    Start(p);
    fake::Delay* delay = fake::made().delay;
    EXPECT_TRUE(fx.AllTailsFinished());  // fresh lines hold nothing
    RunNormal();

    ULONG n = 1024;
    EXPECT_EQ(S_OK, Run(kChainNormal, &n, TRUE));
    EXPECT_EQ(1024u, n);
    EXPECT_EQ(static_cast<DWORD>(kProcessSilent), delay->counters.lastFlags);
    n = 1024;
    EXPECT_EQ(S_FALSE, Run(kChainNormal, &n, TRUE));
    EXPECT_EQ(476u, n);
    EXPECT_TRUE(fx.AllTailsFinished());

    fx.SetLfoOn(1);  // modulation sounds over silence, so silence is never skipped
    EXPECT_FALSE(fx.AllTailsFinished());
    n = 1024;
    EXPECT_EQ(S_OK, Run(kChainNormal, &n, TRUE));
    EXPECT_EQ(1024u, n);
    EXPECT_EQ(1, fake::made().lfo->counters.processed);
    EXPECT_EQ(static_cast<DWORD>(kProcessSilent), fake::made().lfo->counters.lastFlags);
}

TEST_F(ChainTest, BlockSwitchedOffAndOnReceivesCurrentValues) {
    FxParams p = kDefaultFxParams;
    p.distOn = 1;
    p.distSlew = 10;
    p.delayClock = kClockTime;
    Start(p);
    fake::Distortion* dist = fake::made().dist;
    fake::Delay* delay = fake::made().delay;
    const int distCalls = dist->counters.setFormat;
    const int distProcessed = dist->counters.processed;

    fx.SetDistOn(0);
    fx.SetDistSlew(70);
    fx.SetDelayTime(1234);
    RunNormal();
    EXPECT_EQ(distCalls, dist->counters.setFormat);
    EXPECT_EQ(distProcessed, dist->counters.processed);
    EXPECT_EQ(0, delay->counters.setFormat);

    fx.SetDistOn(1);
    fx.SetDelayOn(1);
    RunNormal();
    EXPECT_EQ(distCalls + 1, dist->counters.setFormat);
    EXPECT_EQ(70, dist->last.slewPercent);
    EXPECT_EQ(1, delay->counters.setFormat);
    EXPECT_TRUE(delay->counters.lastReset);
    EXPECT_EQ(1234, delay->last.delayTime);
    EXPECT_EQ(distProcessed + 1, dist->counters.processed);
}

TEST_F(ChainTest, FailingSetFormatStopsApplyAndStart) {
    FxParams p = kDefaultFxParams;
    p.distOn = p.lfoOn = p.eqOn = p.delayOn = 1;
    Start(p);
    fake::config().setFormatResult[fake::kLfo] = E_INVALIDARG;
    fx.SetLfoRate(999);
    fx.SetEqBass(50);
    ULONG n = 256;
    EXPECT_EQ(E_INVALIDARG, Run(kChainNormal, &n));
    EXPECT_EQ(0u, n);
    EXPECT_TRUE(Only(fake::log().events, "process").empty());
    EXPECT_TRUE(Only(fake::log().events, "setformat eq").empty());  // after the LFO in step order
    // The spent flags are not retried.
    fake::config().setFormatResult[fake::kLfo] = S_OK;
    fake::log().events.clear();
    RunNormal();
    EXPECT_TRUE(Only(fake::log().events, "setformat").empty());

    // At start the first failure ends the sequence and nothing is left behind.
    fx.StopStreaming();
    fake::config().setFormatResult[fake::kDist] = E_OUTOFMEMORY;
    EXPECT_EQ(E_OUTOFMEMORY, fx.StartStreaming(&format));
    const fake::Made& m = fake::made();
    EXPECT_TRUE(!m.dist && !m.lfo && !m.eq && !m.delay && !m.reverb);
    n = 16;
    EXPECT_EQ(E_UNEXPECTED, Run(kChainNormal, &n));

    fake::config().setFormatResult[fake::kDist] = S_OK;
    fake::config().createResult[fake::kEq] = E_OUTOFMEMORY;
    EXPECT_EQ(E_OUTOFMEMORY, fx.StartStreaming(&format));
    EXPECT_TRUE(!m.dist && !m.lfo && !m.eq && !m.delay && !m.reverb);
}

TEST_F(ChainTest, DoubleBuffersAndIntegerFormats) {
    FxParams p = kDefaultFxParams;
    p.distOn = 1;
    Start(p);
    std::vector<double> d(512, 0.25);
    ULONG n = 256;
    EXPECT_EQ(S_OK, fx.ProcessChain(kChainNormal, d.data(), &n, FALSE));
    EXPECT_EQ(256u, n);
    EXPECT_EQ(1, fake::made().dist->doubleCalls);
    n = 16;
    EXPECT_EQ(E_INVALIDARG, fx.ProcessPcm(kChainNormal, d.data(), &n, FALSE));  // float needs no conversion

    fx.StopStreaming();
    format = MakeFormat(WAVE_FORMAT_PCM, 16, 2, 44100);
    ASSERT_EQ(S_OK, fx.StartStreaming(&format));
    std::vector<int16_t> pcm(2 * 5000);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(i * 37 - 30000);
    const std::vector<int16_t> original = pcm;
    n = 1000;
    EXPECT_EQ(S_OK, fx.ProcessPcm(kChainNormal, pcm.data(), &n, FALSE));
    EXPECT_EQ(1000u, n);
    EXPECT_EQ(original, pcm);  // the fakes leave samples alone: the round trip is exact
    EXPECT_EQ(1, fake::made().dist->counters.processed);
    EXPECT_EQ(0, fake::made().dist->doubleCalls);  // 16-bit works on floats

    // A longer sub-block grows the buffer; a failed growth is reported.
    n = 5000;
    EXPECT_EQ(S_OK, fx.ProcessPcm(kChainNormal, pcm.data(), &n, FALSE));
    EXPECT_EQ(5000u, n);
    EXPECT_EQ(original, pcm);
    tw::SetZeroAllocHook([](size_t) { return false; });
    n = 6000;
    std::vector<int16_t> big(2 * 6000);
    const HRESULT grow = fx.ProcessPcm(kChainNormal, big.data(), &n, FALSE);
    tw::SetZeroAllocHook(nullptr);
    EXPECT_EQ(E_OUTOFMEMORY, grow);
    EXPECT_EQ(0u, n);

    fx.StopStreaming();
    format = MakeFormat(WAVE_FORMAT_PCM, 32, 1, 44100);
    ASSERT_EQ(S_OK, fx.StartStreaming(&format));
    std::vector<int32_t> pcm32 = {0, 1 << 30, -(1 << 30), 2147483647};
    const std::vector<int32_t> original32 = pcm32;
    n = 4;
    EXPECT_EQ(S_OK, fx.ProcessPcm(kChainNormal, pcm32.data(), &n, FALSE));
    EXPECT_EQ(original32, pcm32);
    EXPECT_EQ(1, fake::made().dist->doubleCalls);  // 32-bit PCM works on doubles

    fx.StopStreaming();
    format = MakeFormat(WAVE_FORMAT_PCM, 24, 1, 44100);
    EXPECT_EQ(E_INVALIDARG, fx.StartStreaming(&format));  // no converter for 24 bits
}

TEST(TransformFormat, StreamFormatCopyAndStartWithoutFormat) {
    CountingOuter outer;
    CTwBrioFxTransform fx(&outer);
    unsigned char bytes[20];
    std::memset(bytes, 0xCC, sizeof bytes);
    EXPECT_EQ(VFW_E_NOT_CONNECTED, fx.GetStreamFormat(reinterpret_cast<WAVEFORMATEX*>(bytes)));
    EXPECT_EQ(0xCC, bytes[0]);
    EXPECT_EQ(nullptr, fx.GetStreamFormat());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, fx.StartStreaming(nullptr));

    WAVEFORMATEX f = MakeFormat(WAVE_FORMAT_PCM, 16, 2, 48000);
    fx.SetStreamFormat(&f);
    EXPECT_EQ(&f, fx.GetStreamFormat());
    ASSERT_EQ(S_OK, fx.GetStreamFormat(reinterpret_cast<WAVEFORMATEX*>(bytes)));
    const unsigned char expected[20] = {1, 0, 2, 0, 0x80, 0xBB, 0, 0, 0x00, 0xEE, 0x02, 0, 4, 0, 16, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(expected, bytes, sizeof expected));
    EXPECT_EQ(E_POINTER, fx.GetStreamFormat(nullptr));
}

TEST(TransformUnknown, DelegatesToTheOuterObject) {
    CountingOuter outer;
    CTwBrioFxTransform fx(&outer);
    ITwBrioFxProp* prop = &fx;
    IMfxSoftSynth* synth = &fx;
    EXPECT_EQ(2u, prop->AddRef());
    EXPECT_EQ(3u, synth->AddRef());
    EXPECT_EQ(2u, prop->Release());
    EXPECT_EQ(1u, synth->Release());
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, prop->QueryInterface(IID_ITwBrioFxProp, &out));
    EXPECT_EQ(1, outer.queries);
    EXPECT_TRUE(IsEqualGUID(IID_ITwBrioFxProp, outer.lastIid));
    EXPECT_EQ(E_NOINTERFACE, synth->QueryInterface(IID_IMfxSoftSynth, &out));
    EXPECT_EQ(2, outer.queries);
    EXPECT_EQ(E_POINTER, prop->QueryInterface(IID_IUnknown, nullptr));
}
