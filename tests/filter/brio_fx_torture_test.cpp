// The filter under load: random buffer sizes, formats, rates, discontinuities and silent samples on
// the streaming thread while two other threads keep changing the parameters. Finite input must give
// finite output, non-finite input must not crash anything, and every stream's tails must end.
#include "filter/brio_fx.h"
#include "tests/filter/brio_fx_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <thread>
#include <vector>

using brio_test::FxGraph;
using brio_test::HostSample;

namespace {

struct Format {
    WORD tag;
    WORD bits;
};

const DWORD kRates[] = {8000, 11025, 22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000};

// A random value for one field of the record, often out of range; tails stay short enough for
// the test to drain them (delay up to 300 ms at 70 % decay).
void ChangeOneField(ITwBrioFxProp* prop, std::mt19937& rng) {
    const int v = static_cast<int>(rng() % 3000) - 1000;
    switch (rng() % 16) {
        case 0: prop->SetDelayOn(v & 1); break;
        case 1: prop->SetDelayClock(v); break;
        case 2: prop->SetDelayNote(v % 12); break;
        case 3: prop->SetDelayTime(std::abs(v)); break;
        case 4: prop->SetDelayDecay(std::abs(v) % 701); break;
        case 5: prop->SetDelayMix(v); break;
        case 6: prop->SetReverbOn(v & 1); break;
        case 7: prop->SetReverbType(v % 6); break;
        case 8: prop->SetReverbMix(v); break;
        case 9: prop->SetLfoOn(v & 1); break;
        case 10: prop->SetLfoType(v % 5); break;
        case 11: prop->SetLfoRate(v * 7); break;
        case 12: prop->SetLfoDepth(v); break;
        case 13: prop->SetDistOn(v & 1); break;
        case 14: prop->SetDistSlew(v); break;
        default: prop->SetEqTreble(v); prop->SetEqBass(-v); prop->SetEqOn(v & 1); break;
    }
}

// A whole record at once, as a preset or stored stream would bring it.
void ReplaceRecord(ITwBrioFxProp* prop, std::mt19937& rng) {
    FxParams p = kDefaultFxParams;
    p.delayOn = rng() & 1;
    p.delayClock = rng() & 1;
    p.delayNote = static_cast<int32_t>(rng() % 9);
    p.delayTime = static_cast<int32_t>(rng() % 3001);
    p.delayDecay = static_cast<int32_t>(rng() % 701);
    p.reverbOn = rng() & 1;
    p.reverbType = static_cast<int32_t>(rng() % 4);
    p.lfoOn = rng() & 1;
    p.lfoType = static_cast<int32_t>(rng() % 4);
    p.lfoClock = rng() & 1;
    p.lfoRate = static_cast<int32_t>(rng() % 11000);
    p.distOn = rng() & 1;
    p.distHardClip = rng() & 1;
    p.eqOn = rng() & 1;
    p.eqMid = static_cast<int32_t>(rng() % 501) - 250;
    p.tempo = 30.0 + rng() % 400;
    prop->SetParams(&p);
}

// One sample of the format at index i: in range, or (dirty) sometimes NaN, infinite or denormal.
void FillSample(const Format& f, BYTE* data, size_t i, std::mt19937& rng, bool dirty) {
    const double u = static_cast<double>(rng() % 200001) / 100000.0 - 1.0;  // -1 .. 1
    if (f.tag == WAVE_FORMAT_PCM) {
        if (f.bits == 8) {
            data[i] = static_cast<BYTE>(rng());
        } else if (f.bits == 16) {
            const int16_t v = static_cast<int16_t>(rng());
            std::memcpy(data + i * 2, &v, 2);
        } else {
            const int32_t v = static_cast<int32_t>(rng());
            std::memcpy(data + i * 4, &v, 4);
        }
        return;
    }
    double v = u;
    const unsigned pick = rng() % 64;
    if (pick == 0) v = f.bits == 32 ? 1e-41 : 1e-310;  // denormal in its own width
    if (dirty && pick == 1) v = std::numeric_limits<double>::quiet_NaN();
    if (dirty && pick == 2) v = (rng() & 1) ? HUGE_VAL : -HUGE_VAL;
    if (dirty && pick == 3) v = 1e30;
    if (f.bits == 32) {
        const float x = static_cast<float>(v);
        std::memcpy(data + i * 4, &x, 4);
    } else {
        std::memcpy(data + i * 8, &v, 8);
    }
}

bool AllFinite(const Format& f, const std::vector<BYTE>& bytes) {
    if (f.tag == WAVE_FORMAT_PCM) return true;
    const size_t width = f.bits / 8;
    for (size_t at = 0; at + width <= bytes.size(); at += width) {
        double v;
        if (width == 4) {
            float x;
            std::memcpy(&x, &bytes[at], 4);
            v = x;
        } else {
            std::memcpy(&v, &bytes[at], 8);
        }
        if (!std::isfinite(v)) return false;
    }
    return true;
}

void Stream(const Format& f, unsigned seed, bool dirty) {
    std::mt19937 rng(seed);
    const WORD channels = static_cast<WORD>(1 + rng() % 2);
    const DWORD rate = kRates[rng() % (sizeof(kRates) / sizeof(kRates[0]))];
    SCOPED_TRACE(testing::Message() << "tag " << f.tag << " bits " << f.bits << " channels " << channels
                                    << " rate " << rate << " seed " << seed << (dirty ? " dirty" : ""));
    FxGraph g;
    ITwBrioFxProp* prop = &g.fx->Controller();
    ReplaceRecord(prop, rng);
    ASSERT_EQ(g.Connect(f.tag, channels, rate, f.bits, 8192), S_OK);
    ASSERT_EQ(g.Run(), S_OK);

    std::atomic<bool> done{false};
    auto editor = [&](unsigned threadSeed, bool whole) {
        std::mt19937 r(threadSeed);
        while (!done.load()) {
            if (whole && r() % 8 == 0) {
                ReplaceRecord(prop, r);
            } else if (whole && r() % 8 == 1) {
                g.fx->LoadPreset(static_cast<int>(r() % 14));
            } else {
                ChangeOneField(prop, r);
            }
            std::this_thread::yield();
        }
    };
    std::thread a(editor, seed * 3 + 1, false);
    std::thread b(editor, seed * 7 + 2, true);

    const size_t align = static_cast<size_t>(channels) * f.bits / 8;
    for (int n = 0; n < 30; ++n) {
        const ULONG frames = 1 + static_cast<ULONG>(rng() % ((rng() % 4 == 0) ? 65536 : 3000));
        HostSample sample(static_cast<LONG>(frames * align));
        sample.silent = rng() % 5 == 0 ? TRUE : FALSE;
        sample.discontinuity = rng() % 6 == 0;
        const BYTE zero = (f.tag == WAVE_FORMAT_PCM && f.bits == 8) ? 0x80 : 0;
        for (size_t i = 0; i < frames * channels; ++i) {
            if (sample.silent) {
                std::memset(sample.Bytes() + i * (f.bits / 8), zero, f.bits / 8);
            } else {
                FillSample(f, sample.Bytes(), i, rng, dirty);
            }
        }
        ASSERT_EQ(g.Input()->Receive(&sample), S_OK);
        if (!dirty) {
            for (const tw::test::ReceivedSample& r : g.Received()) ASSERT_TRUE(AllFinite(f, r.data));
        }
        g.Received().clear();
    }
    done = true;
    a.join();
    b.join();

    // The tails end, and end the stream.
    ASSERT_EQ(g.fx->GetPin(0)->EndOfStream(), S_OK);
    EXPECT_EQ(g.sink->Pin()->endOfStreams, 1);
    if (!dirty) {
        for (const tw::test::ReceivedSample& r : g.Received()) ASSERT_TRUE(AllFinite(f, r.data));
    }
}

}  // namespace

TEST(BrioFxTorture, RandomStreamsWithEditsFromTwoThreads) {
    const Format formats[] = {{WAVE_FORMAT_PCM, 8},
                              {WAVE_FORMAT_PCM, 16},
                              {WAVE_FORMAT_PCM, 32},
                              {WAVE_FORMAT_IEEE_FLOAT, 32},
                              {WAVE_FORMAT_IEEE_FLOAT, 64}};
    unsigned seed = 1000;
    for (const Format& f : formats) {
        for (int i = 0; i < 3; ++i) Stream(f, ++seed, false);
        if (f.tag == WAVE_FORMAT_IEEE_FLOAT) Stream(f, ++seed, true);
    }
}
