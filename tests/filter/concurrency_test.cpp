// Editor, host and streaming threads on one controller: every change must reach the blocks, and
// nothing may race (this test is also run under ThreadSanitizer).
#include "filter/transform.h"
#include "tests/filter/fake_blocks.h"
#include "tests/filter/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

using testing_support::CountingOuter;
using testing_support::MakeFormat;

namespace {

// A small deterministic generator per thread.
struct Lcg {
    uint32_t state;
    int Next(int lo, int hi) {
        state = state * 1664525u + 1013904223u;
        return lo + static_cast<int>((state >> 8) % static_cast<uint32_t>(hi - lo + 1));
    }
};

FxParams RandomRecord(Lcg& r) {
    FxParams p = kDefaultFxParams;
    p.delayOn = p.reverbOn = p.lfoOn = p.distOn = p.eqOn = 1;
    p.delayClock = kClockTime;
    p.lfoClock = kClockTempo;
    p.delayTime = r.Next(-100, 23000);
    p.delayDecay = r.Next(0, 900);
    p.delayMix = r.Next(0, 1000);
    p.reverbType = r.Next(0, 3);
    p.reverbMix = r.Next(0, 1000);
    p.lfoType = r.Next(0, 3);
    p.lfoPeriod = r.Next(0, 4);
    p.lfoRate = r.Next(1, 11000);
    p.lfoDepth = r.Next(1, 100);
    p.distSlew = r.Next(0, 100);
    p.distHardClip = r.Next(0, 1);
    p.eqMid = r.Next(-250, 250);
    p.eqBass = r.Next(-250, 250);
    p.eqTreble = r.Next(-250, 250);
    p.tempo = r.Next(20, 400);
    return p;
}

}  // namespace

TEST(Concurrency, NoPendingChangeIsLostAgainstProcessing) {
    fake::Reset();
    fake::log().recordEvents = false;
    CountingOuter outer;
    CTwBrioFxTransform fx(&outer);
    fx.SetBlockFactories(fake::kFactories);
    Lcg seed{12345};
    const FxParams first = RandomRecord(seed);
    fx.SetParams(&first);
    WAVEFORMATEX format = MakeFormat(WAVE_FORMAT_IEEE_FLOAT, 32, 2, 44100);
    ASSERT_EQ(S_OK, fx.StartStreaming(&format));

    std::atomic<int> writers{2};
    std::atomic<int> badCalls{0};
    std::atomic<long> chainCalls{0};
    int lastNumerator = 4;

    // The writers start once the streaming thread runs, so the three overlap.
    auto waitForStreaming = [&] {
        while (chainCalls.load() == 0) std::this_thread::yield();
    };

    std::thread editor([&] {
        waitForStreaming();
        Lcg r{777};
        for (int i = 0; i < 20000; ++i) {
            switch (i % 13) {
                case 0: fx.SetDelayTime(r.Next(-10, 23000)); break;
                case 1: fx.SetDelayDecay(r.Next(0, 1000)); break;
                case 2: fx.SetDelayMix(r.Next(0, 1000)); break;
                case 3: fx.SetReverbMix(r.Next(0, 1000)); break;
                case 4: fx.SetReverbType(r.Next(0, 3)); break;
                case 5: fx.SetLfoRate(r.Next(0, 12000)); break;
                case 6: fx.SetLfoDepth(r.Next(0, 120)); break;
                case 7: fx.SetLfoType(r.Next(0, 3)); break;
                case 8: fx.SetLfoPeriod(r.Next(0, 4)); break;
                case 9: fx.SetDistSlew(r.Next(0, 100)); break;
                case 10: fx.SetDistHardClip(r.Next(0, 1)); break;
                case 11: fx.SetEqMid(r.Next(-300, 300)); break;
                default:
                    fx.SetEqBass(r.Next(-300, 300));
                    fx.SetEqTreble(r.Next(-300, 300));
                    break;
            }
            int v = 0;
            fx.GetDelayTime(&v);  // getters read without the lock
            if (v < 0 || v > 22500) ++badCalls;
            fx.GetEqMid(&v);
            if (v < -250 || v > 250) ++badCalls;
        }
        --writers;
    });

    std::thread host([&] {
        waitForStreaming();
        Lcg r{4242};
        for (int i = 0; i < 4000; ++i) {
            if (i % 40 == 0) {
                const FxParams p = RandomRecord(r);
                fx.SetParams(&p);
            }
            fx.FoldTempo(r.Next(30, 330));
            lastNumerator = r.Next(2, 7);
            fx.SetTimeSignature(lastNumerator, 4);
            FxParams copy;
            fx.GetParams(&copy);
            if (copy.tempo < 40.0 || copy.tempo > 300.0) ++badCalls;
        }
        --writers;
    });

    std::thread streaming([&] {
        std::vector<float> buffer(2 * 256, 0.0f);
        while (writers.load() > 0) {
            ULONG n = 256;
            if (fx.ProcessChain(kChainNormal, buffer.data(), &n, FALSE) != S_OK || n != 256) ++badCalls;
            ++chainCalls;
        }
    });

    editor.join();
    host.join();
    streaming.join();
    EXPECT_EQ(0, badCalls.load());
    EXPECT_GT(chainCalls.load(), 0);

    // The next sub-block brings every block up to the record as it now stands.
    std::vector<float> buffer(2 * 256, 0.0f);
    ULONG n = 256;
    ASSERT_EQ(S_OK, fx.ProcessChain(kChainNormal, buffer.data(), &n, FALSE));
    FxParams p;
    fx.GetParams(&p);
    ChainSnapshot s;
    fx.Snapshot(&s);
    EXPECT_EQ(lastNumerator, s.numerator);

    const fake::Made& m = fake::made();
    ASSERT_TRUE(m.dist && m.lfo && m.eq && m.delay && m.reverb);
    EXPECT_EQ(p.distSlew, m.dist->last.slewPercent);
    EXPECT_EQ(p.distHardClip, m.dist->last.hardClip);
    EXPECT_EQ(p.eqMid, m.eq->last.midGain);
    EXPECT_EQ(p.eqBass, m.eq->last.bassGain);
    EXPECT_EQ(p.eqTreble, m.eq->last.trebleGain);
    EXPECT_EQ(p.lfoType, m.lfo->last.lfoType);
    EXPECT_EQ(static_cast<uint32_t>(p.lfoDepth), m.lfo->last.depthPercent);
    EXPECT_EQ(LfoTempoRate(p.tempo, p.lfoPeriod, lastNumerator, 4), m.lfo->last.rateMilliHz);
    EXPECT_EQ(p.delayTime, m.delay->last.delayTime);
    EXPECT_EQ(p.delayDecay, m.delay->last.decay);
    EXPECT_EQ(p.delayMix / 1000.0, m.delay->live.wetGain);
    EXPECT_EQ(1.0 - p.delayMix / 1000.0, m.delay->live.dryGain);
    EXPECT_EQ(kReverbRooms[p.reverbType].combSet, m.reverb->last.combSet);
    EXPECT_EQ(kReverbRooms[p.reverbType].reverbTime, m.reverb->last.reverbTime);
    EXPECT_EQ(p.reverbMix / 1000.0, m.reverb->live.wetGain);
    EXPECT_TRUE(fx.IsDirty());
    fx.StopStreaming();
}
