// LFO modulation block: design numbers, clamps, reset rules, and whole outputs against plain
// reference models of the delay voices and the swept all-pass.
#include "effects/flange.h"

#include "effects/block_base.h"

#include "tests/support/wave_format.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

using namespace tw::flange;

constexpr double kTestPi = 3.14159265358979323846;

WAVEFORMATEX MakeFormat(WORD channels, DWORD rate, WORD bits = 64) {
    return testing_support::MakeWaveFormat(WAVE_FORMAT_IEEE_FLOAT, channels, rate, bits);
}

FlangeParams Record(int32_t type, uint32_t rateMilliHz, uint32_t depthPercent, double dry = 0.5, double wet = 0.5) {
    return FlangeParams{40, 0, dry, wet, type, rateMilliHz, depthPercent, 23};
}

// Deterministic noise in [-0.5, 0.5) with an impulse on the first frame.
std::vector<double> Signal(size_t samples, unsigned seed) {
    std::vector<double> s(samples);
    unsigned r = seed;
    for (size_t i = 0; i < samples; ++i) {
        r = r * 1664525u + 1013904223u;
        s[i] = static_cast<double>(r >> 8) / 16777216.0 - 0.5;
    }
    if (!s.empty()) s[0] = 1.0;
    return s;
}

std::vector<double> Sine(size_t frames, WORD channels, double cyclesPerSample) {
    std::vector<double> s(frames * channels);
    for (size_t i = 0; i < frames; ++i)
        for (WORD c = 0; c < channels; ++c) s[i * channels + c] = std::sin(2.0 * kTestPi * cyclesPerSample * i);
    return s;
}

// A SetFormat without reset before frame `frame`.
struct Change {
    size_t frame;
    uint32_t rateMilliHz;
    uint32_t depthPercent;
};

struct Block {
    ITwAudioFlange* p = nullptr;
    Block() { EXPECT_EQ(CreateAudioFlange(&p), S_OK); }
    ~Block() { EXPECT_EQ(p->Release(), 0u); }
    ITwAudioFlange* operator->() const { return p; }
};

// Runs `input` through a fresh block in chunks, applying the changes at their frames.
std::vector<double> RunBlock(const WAVEFORMATEX& fmt, FlangeParams rec, std::vector<double> buf,
                             const std::vector<Change>& changes = {}, size_t chunk = 1000) {
    Block block;
    EXPECT_EQ(block->SetFormat(&fmt, &rec, TRUE), S_OK);
    const size_t frames = buf.size() / fmt.nChannels;
    size_t done = 0, next = 0;
    while (done < frames) {
        if (next < changes.size() && changes[next].frame == done) {
            rec.rateMilliHz = changes[next].rateMilliHz;
            rec.depthPercent = changes[next].depthPercent;
            EXPECT_EQ(block->SetFormat(nullptr, &rec, FALSE), S_OK);
            ++next;
            continue;
        }
        size_t end = done + chunk < frames ? done + chunk : frames;
        if (next < changes.size() && changes[next].frame < end) end = changes[next].frame;
        ULONG out = 0;
        EXPECT_EQ(block->ProcessDouble(buf.data() + done * fmt.nChannels, static_cast<ULONG>(end - done), &out, 0),
                  S_OK);
        EXPECT_EQ(out, end - done);
        done = end;
    }
    return buf;
}

// ---- reference model of the delay voices ---------------------------------------------------------

// Every frame a voice writes is kept by frame number; line slot s holds the latest frame j with
// j = -s modulo L (the line is written downwards from slot 0), that is, ((s + k - 1) mod L) + 1
// frames before frame k. The read position runs down from the base delay one slot per frame and
// swings by depth x sin(n x omega).
class RefVoice {
public:
    RefVoice(int length, int channels, int base) : length_(length), channels_(channels), base_(base) {}

    void Configure(int rate, uint32_t rateMilliHz, uint32_t depthPercent, int maxDelay, double factor) {
        period_ = static_cast<int>(1000.0 / rateMilliHz * rate * factor);
        omega_ = 6.28318530718 / period_;
        depth_ = static_cast<int>(depthPercent / 100.0 * maxDelay);
    }

    // The delayed value of channel c for this frame (the LFO steps in Write).
    double Tap(int c) const {
        const long slot = Slot();
        const double frac = Position() - slot;
        const double a = Back(Age(slot), c), b = Back(Age((slot + 1) % length_), c);
        return a + frac * (b - a);
    }
    long DelayOfTap() const { return Age(Slot()); }

    void Write(const double* values) {
        history_.insert(history_.end(), values, values + channels_);
        ++n_;
        if (n_ >= period_) n_ = 0;
    }

private:
    double Position() const {
        const long frames = static_cast<long>(history_.size()) / channels_;
        double pos = static_cast<double>(Mod(base_ - frames)) + depth_ * std::sin(n_ * omega_);
        if (pos >= length_) pos -= length_;
        if (pos < 0) pos += length_;
        return pos >= length_ ? 0.0 : pos;  // a hair below 0 plus L rounds to L, which is slot 0
    }
    long Slot() const { return static_cast<long>(Position()); }
    long Age(long slot) const { return Mod(slot + static_cast<long>(history_.size()) / channels_ - 1) + 1; }
    long Mod(long v) const { return ((v % length_) + length_) % length_; }
    double Back(long d, int c) const {
        const long frames = static_cast<long>(history_.size()) / channels_;
        return frames >= d ? history_[static_cast<size_t>(frames - d) * channels_ + c] : 0.0;
    }

    int length_, channels_;
    long base_;
    int period_ = 1, n_ = 0;
    double omega_ = 0, depth_ = 0;
    std::vector<double> history_;
};

double Flush(double v) { return std::fabs(v) < 2e-11 ? 0.0 : v; }

struct RefSetup {
    int rate, length, maxDelay;
};
RefSetup Setup(int rate, int32_t type) {
    const int length = static_cast<int>(std::ceil(rate / 5.0 + 100));
    return {rate, length, rate * (type == kTypeFlange ? 10 : 200) / 10000};
}

template <class Apply>
void ForEachFrame(size_t frames, FlangeParams rec, const std::vector<Change>& changes, Apply apply) {
    size_t next = 0;
    for (size_t k = 0; k < frames; ++k) {
        bool changed = false;
        while (next < changes.size() && changes[next].frame == k) {
            rec.rateMilliHz = changes[next].rateMilliHz;
            rec.depthPercent = changes[next].depthPercent;
            ++next;
            changed = true;
        }
        apply(k, rec, changed || k == 0);
    }
}

std::vector<double> RefFlange(int rate, int channels, const FlangeParams& rec, const std::vector<double>& in,
                              const std::vector<Change>& changes = {}) {
    const RefSetup s = Setup(rate, kTypeFlange);
    RefVoice voice(s.length, channels, s.maxDelay);
    std::vector<double> out(in.size());
    const double gains[2] = {0.9 * rec.wetGain, 0.95 * rec.wetGain};
    ForEachFrame(in.size() / channels, rec, changes, [&](size_t k, const FlangeParams& r, bool changed) {
        if (changed) voice.Configure(rate, r.rateMilliHz, r.depthPercent, s.maxDelay, 1.0);
        double written[2];
        for (int c = 0; c < channels; ++c) {
            const double x = in[k * channels + c], v = voice.Tap(c);
            const double wet = channels == 1 ? 0.9 * rec.wetGain * v : 0.9 * rec.wetGain * gains[c] * v;
            out[k * channels + c] = rec.dryGain * x + wet;
            written[c] = Flush(x + 0.5 * v);
        }
        voice.Write(written);
    });
    return out;
}

// Also reports the longest delay voice 1 read from.
std::vector<double> RefChorus(int rate, int channels, const FlangeParams& rec, const std::vector<double>& in,
                              const std::vector<Change>& changes = {}, long* longestDelay1 = nullptr) {
    const RefSetup s = Setup(rate, kTypeChorus);
    RefVoice v0(s.length, channels, s.maxDelay), v1(s.length, channels, static_cast<int>(0.811731 * s.maxDelay));
    std::vector<double> out(in.size());
    const double gains[2] = {0.9, 0.95};
    ForEachFrame(in.size() / channels, rec, changes, [&](size_t k, const FlangeParams& r, bool changed) {
        if (changed) {
            v0.Configure(rate, r.rateMilliHz, r.depthPercent, s.maxDelay, 1.0);
            v1.Configure(rate, r.rateMilliHz, r.depthPercent, s.maxDelay, 0.811731);
        }
        if (longestDelay1 && v1.DelayOfTap() > *longestDelay1) *longestDelay1 = v1.DelayOfTap();
        double x[2], mid[2];
        for (int c = 0; c < channels; ++c) {
            x[c] = in[k * channels + c];
            const double v = Flush(v0.Tap(c));
            const double y = channels == 1 ? 0.9 * v : 0.9 * gains[c] * v;
            mid[c] = 0.5 * (x[c] + y);
        }
        v0.Write(x);
        for (int c = 0; c < channels; ++c) {
            const double v = Flush(v1.Tap(c));
            const double y = mid[c] + (channels == 1 ? 0.81 : gains[c]) * v;
            out[k * channels + c] = 0.5 * (mid[c] + y);
        }
        v1.Write(mid);
    });
    return out;
}

// ---- reference model of the swept all-pass -------------------------------------------------------

std::vector<double> RefSweep(int rate, int channels, const FlangeParams& rec, const std::vector<double>& in,
                             const std::vector<Change>& changes = {}) {
    const double width = rec.lfoType == kTypeWahWah ? 6.0 : 1.0 / 6.0;
    const double centre = (rec.lfoType == kTypeWahWah ? 1000.0 : 200.0) / rate;
    int count = 0;
    double fLo = 0, inc = 0, pos = 0, step = 0;
    std::vector<double> s1(channels), s2(channels), out(in.size());
    auto a1At = [&](int i) {
        const double f = fLo + i * inc;
        return 2.0 * std::exp(-kTestPi * f / width) * std::cos(2.0 * kTestPi * f);
    };
    auto a2At = [&](int i) { return std::exp(-2.0 * kTestPi * (fLo + i * inc) / width); };
    ForEachFrame(in.size() / channels, rec, changes, [&](size_t k, const FlangeParams& r, bool changed) {
        if (changed) {
            const int half = rate * 1000 / (2 * static_cast<int>(r.rateMilliHz));
            count = half < 2000 ? half : 2000;
            step = static_cast<double>(count) / half;
            const double d = static_cast<double>(r.depthPercent) - 50.0;
            const double r0 = d * d * 0.002 + 1.0;
            const double span = std::pow(2.0, 1.0 / (r.depthPercent <= 50 ? r0 : 1.0 / r0));
            fLo = centre / span;
            inc = (std::fmin(centre * span, 0.5) - fLo) / count;
        }
        int b = static_cast<int>(pos);
        if (b > count - 1) b = count - 1;
        const int c = b + 1 > count - 1 ? count - 1 : b + 1;
        double a1 = a1At(b), a2 = a2At(b);
        if (pos != b) {
            a1 += (pos - b) * (a1At(c) - a1);
            a2 += (pos - b) * (a2At(c) - a2);
        }
        pos += step;
        if (pos >= count - 1) {
            pos = count - 1;
            step = -step;
        } else if (pos <= 0) {
            pos = 0;
            step = -step;
        }
        for (int ch = 0; ch < channels; ++ch) {
            const double x = in[k * channels + ch];
            const double t = x + a1 * s1[ch] - a2 * s2[ch];
            const double y = s2[ch] + a2 * t - a1 * s1[ch];
            s2[ch] = s1[ch];
            s1[ch] = Flush(t);
            out[k * channels + ch] = rec.dryGain * x + rec.wetGain * (rec.lfoType == kTypeWahWah ? x - y : y);
        }
    });
    return out;
}

// The block and the models compute in the same order, so their outputs agree to the last bit.
void ExpectSame(const std::vector<double>& got, const std::vector<double>& want, const char* what) {
    ASSERT_EQ(got.size(), want.size());
    size_t bad = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        if (!(got[i] == want[i]) && bad++ < 5)
            ADD_FAILURE() << what << ": sample " << i << " is " << got[i] << ", reference " << want[i];
    }
    EXPECT_EQ(bad, 0u) << what;
}

// Peak absolute value over [from, to) of one channel.
double Peak(const std::vector<double>& s, size_t from, size_t to, int channels = 1, int c = 0) {
    double m = 0;
    for (size_t i = from; i < to; ++i) m = std::fmax(m, std::fabs(s[i * channels + c]));
    return m;
}

}  // namespace

// ---- design numbers ----------------------------------------------------------------------------

TEST(FlangeDesign, DelayLineNumbers) {
    EXPECT_EQ(DelayLineLength(44100), 8920);
    EXPECT_EQ(DelayLineLength(48000), 9700);
    EXPECT_EQ(DelayLineLength(32000), 6500);
    EXPECT_EQ(DelayLineLength(2001), 501);  // 500.2 rounds up

    EXPECT_EQ(MaxDelaySamples(44100, kTypeFlange), 44);
    EXPECT_EQ(MaxDelaySamples(44100, kTypeChorus), 882);
    EXPECT_EQ(BaseDelaySamples(44, 0), 44);
    EXPECT_EQ(BaseDelaySamples(44, 1), 35);
    EXPECT_EQ(BaseDelaySamples(882, 0), 882);
    EXPECT_EQ(BaseDelaySamples(882, 1), 715);

    EXPECT_EQ(DepthSamples(50, 44), 22);
    EXPECT_EQ(DepthSamples(50, 882), 441);
    EXPECT_EQ(DepthSamples(81, 882), 714);  // still inside voice 1's base of 715
    EXPECT_EQ(DepthSamples(82, 882), 723);  // beyond it: voice 1 swings below zero delay

    EXPECT_EQ(LfoPeriodSamples(44100, 500, 0), 88200);
    EXPECT_EQ(LfoPeriodSamples(44100, 500, 1), 71594);
    EXPECT_EQ(LfoPeriodSamples(44100, 11000, 0), 4009);
    EXPECT_EQ(LfoPeriodSamples(44100, 1, 1), 35797337);  // 1000 s x 44100 x 0.811731
    EXPECT_EQ(LfoPhaseStep(88200), 6.28318530718 / 88200);
}

TEST(FlangeDesign, SweepShapeAndBand) {
    const SweepShape slow = SweepShapeFor(44100, 500);
    EXPECT_EQ(slow.halfCycle, 44100u);
    EXPECT_EQ(slow.count, 2000u);
    EXPECT_EQ(slow.step, 2000.0 / 44100);
    const SweepShape fast = SweepShapeFor(32000, 11000);  // 32000000 / 22000
    EXPECT_EQ(fast.halfCycle, 1454u);
    EXPECT_EQ(fast.count, 1454u);
    EXPECT_EQ(fast.step, 1.0);
    const SweepShape edge = SweepShapeFor(44100, 11000);  // 2004 samples: still the full table
    EXPECT_EQ(edge.count, 2000u);
    EXPECT_EQ(edge.step, 2000.0 / 2004);

    EXPECT_NEAR(SweepSpan(1), 1.127, 5e-4);
    EXPECT_EQ(SweepSpan(50), 2.0);
    EXPECT_EQ(SweepSpan(100), 64.0);

    // At 44100 Hz and depth 50: phaser 100 to 400 Hz, wah-wah 500 to 2000 Hz.
    const SweepBand phaser = SweepBandFor(44100, kTypePhaser, 50, 2000);
    EXPECT_NEAR(phaser.fLo * 44100, 100.0, 1e-9);
    EXPECT_NEAR(phaser.fHi * 44100, 400.0, 1e-9);
    EXPECT_EQ(phaser.increment, (phaser.fHi - phaser.fLo) / 2000);
    const SweepBand wah = SweepBandFor(44100, kTypeWahWah, 50, 2000);
    EXPECT_NEAR(wah.fLo * 44100, 500.0, 1e-9);
    EXPECT_NEAR(wah.fHi * 44100, 2000.0, 1e-9);
    EXPECT_EQ(SweepBandFor(44100, kTypeWahWah, 100, 2000).fHi, 0.5);  // top held at half the rate
}

// The tables hold a second-order all-pass with its poles at radius exp(-pi f / width) and angle
// 2 pi f: recover f from each entry and check it walks the band in equal steps.
TEST(FlangeDesign, SweepTablesPlacePolesAlongTheBand) {
    for (int32_t type : {kTypePhaser, kTypeWahWah}) {
        const double width = type == kTypeWahWah ? 6.0 : 1.0 / 6.0;
        const SweepBand band = SweepBandFor(48000, type, 70, 2000);
        std::vector<double> a1(2000), a2(2000);
        DesignSweepTables(band, type, 2000, a1.data(), a2.data());
        for (int i : {0, 1, 999, 1999}) {
            const double f = band.fLo + i * band.increment;
            const double radius = std::sqrt(a2[i]);
            EXPECT_NEAR(-std::log(radius) * width / kTestPi, f, 1e-12) << "type " << type << " entry " << i;
            EXPECT_NEAR(std::acos(a1[i] / (2 * radius)) / (2 * kTestPi), f, 1e-9) << "type " << type << " entry " << i;
        }
    }
}

TEST(FlangeDesign, ReadPositionAndCounterWrap) {
    int slot = -1;
    double frac = -1;
    // A hair below zero: adding L rounds to exactly L, which is slot 0, not one past the line.
    ASSERT_EQ(-2e-13 + 38500.0, 38500.0);
    SplitReadPosition(-2e-13, 38500, slot, frac);
    EXPECT_EQ(slot, 0);
    EXPECT_EQ(frac, 0.0);
    SplitReadPosition(-0.25, 100, slot, frac);
    EXPECT_EQ(slot, 99);
    EXPECT_EQ(frac, 0.75);
    SplitReadPosition(100.5, 100, slot, frac);
    EXPECT_EQ(slot, 0);
    EXPECT_EQ(frac, 0.5);

    EXPECT_EQ(NextLfoCount(4007, 4009), 4008);
    EXPECT_EQ(NextLfoCount(4008, 4009), 0);
    EXPECT_EQ(NextLfoCount(5000, 4009), 0);  // after a shorter period was set mid-cycle
}

// ---- record and life cycle -----------------------------------------------------------------------

TEST(FlangeBlock, ClampsAndRefusedTypes) {
    Block block;
    const WAVEFORMATEX fmt = MakeFormat(2, 44100);
    FlangeParams rec{40, 7, -1.0, 5.0, kTypeFlange, 0, 0, -5};
    ASSERT_EQ(block->SetFormat(&fmt, &rec, TRUE), S_OK);
    FlangeParams got{};
    EXPECT_EQ(block->GetFormat(nullptr, 0, &got, sizeof(got)), S_OK);
    EXPECT_EQ(got.reserved1, 7);
    EXPECT_EQ(got.dryGain, 0.0);
    EXPECT_EQ(got.wetGain, 4.0);
    EXPECT_EQ(got.rateMilliHz, 1u);
    EXPECT_EQ(got.depthPercent, 1u);
    EXPECT_EQ(got.spare, 1);

    rec = FlangeParams{40, 0, NAN, 0.5, kTypeChorus, 20000, 500, 1000};
    ASSERT_EQ(block->SetFormat(nullptr, &rec, FALSE), S_OK);
    EXPECT_EQ(block->GetFormat(nullptr, 0, &got, sizeof(got)), S_OK);
    EXPECT_EQ(got.dryGain, 0.0);
    EXPECT_EQ(got.rateMilliHz, 11000u);
    EXPECT_EQ(got.depthPercent, 100u);
    EXPECT_EQ(got.spare, 100);
    rec.rateMilliHz = 0xFFFFFFFFu;  // unsigned: the fastest rate, not the slowest
    rec.depthPercent = 0x80000000u;
    ASSERT_EQ(block->SetFormat(nullptr, &rec, FALSE), S_OK);
    EXPECT_EQ(block->GetFormat(nullptr, 0, &got, sizeof(got)), S_OK);
    EXPECT_EQ(got.rateMilliHz, 11000u);
    EXPECT_EQ(got.depthPercent, 100u);

    double buf[4] = {0.1, 0.2, 0.3, 0.4};
    ULONG out = 9;
    for (int32_t type : {-1, 4}) {
        rec = Record(type, 500, 50);
        EXPECT_EQ(block->SetFormat(nullptr, &rec, FALSE), E_INVALIDARG);
        EXPECT_EQ(block->ProcessDouble(buf, 2, &out, 0), E_FAIL);
        EXPECT_EQ(out, 0u);
    }
    EXPECT_EQ(buf[0], 0.1);
    rec.cbSize = 36;
    rec.lfoType = kTypeFlange;
    EXPECT_EQ(block->SetFormat(nullptr, &rec, FALSE), E_INVALIDARG);
    rec.cbSize = 40;
    EXPECT_EQ(block->SetFormat(nullptr, &rec, FALSE), S_OK);
    EXPECT_EQ(block->ProcessDouble(buf, 2, &out, 0), S_OK);
    EXPECT_EQ(out, 2u);
}

TEST(FlangeBlock, AllocationFailureAndProcessingAllocatesNothing) {
    static std::atomic<int> calls{0};
    Block block;
    const WAVEFORMATEX fmt = MakeFormat(2, 48000);
    FlangeParams rec = Record(kTypeChorus, 500, 50);
    tw::SetZeroAllocHook([](size_t bytes) { return bytes < 9700 * 2 * sizeof(double); });  // no line fits
    EXPECT_EQ(block->SetFormat(&fmt, &rec, TRUE), E_OUTOFMEMORY);
    tw::SetZeroAllocHook(nullptr);
    double d[8] = {};
    ULONG out = 0;
    EXPECT_EQ(block->ProcessDouble(d, 4, &out, 0), E_FAIL);
    ASSERT_EQ(block->SetFormat(nullptr, &rec, FALSE), S_OK);  // not valid, so this resets and allocates

    for (int32_t type : {kTypeFlange, kTypePhaser, kTypeChorus, kTypeWahWah}) {
        rec.lfoType = type;
        ASSERT_EQ(block->SetFormat(nullptr, &rec, FALSE), S_OK);
        std::vector<float> f(2 * 512, 0.25f);
        std::vector<double> dd(2 * 512, 0.25);
        calls = 0;
        tw::SetZeroAllocHook([](size_t) {
            ++calls;
            return true;
        });
        EXPECT_EQ(block->ProcessFloat(f.data(), 512, &out, 0), S_OK);
        EXPECT_EQ(block->ProcessDouble(dd.data(), 512, &out, 0), S_OK);
        tw::SetZeroAllocHook(nullptr);
        EXPECT_EQ(calls.load(), 0) << "type " << type;
    }
}

// The float entry computes in double from the widened samples and rounds once on store.
TEST(FlangeBlock, FloatEntryRoundsTheDoubleResult) {
    for (int32_t type : {kTypeFlange, kTypePhaser, kTypeChorus, kTypeWahWah}) {
        Block a, b;
        const FlangeParams rec = Record(type, 3000, 80);
        const WAVEFORMATEX fmt = MakeFormat(2, 44100, 32);
        ASSERT_EQ(a->SetFormat(&fmt, &rec, TRUE), S_OK);
        ASSERT_EQ(b->SetFormat(&fmt, &rec, TRUE), S_OK);
        const std::vector<double> sig = Signal(2 * 3000, 5);
        std::vector<float> f(sig.begin(), sig.end());
        std::vector<double> d(f.begin(), f.end());
        ULONG out = 0;
        ASSERT_EQ(a->ProcessFloat(f.data(), 3000, &out, 0), S_OK);
        ASSERT_EQ(b->ProcessDouble(d.data(), 3000, &out, 0), S_OK);
        size_t bad = 0;
        for (size_t i = 0; i < f.size(); ++i) bad += f[i] != static_cast<float>(d[i]);
        EXPECT_EQ(bad, 0u) << "type " << type;
    }
}

// ---- delay-line effects ---------------------------------------------------------------------------

TEST(FlangeBlock, FlangeMatchesReferenceMonoAndStereo) {
    const FlangeParams rec = Record(kTypeFlange, 11000, 100, 0.7, 1.3);
    for (WORD ch : {1, 2}) {
        const std::vector<double> in = Signal(ch * 6000u, 11 + ch);
        ExpectSame(RunBlock(MakeFormat(ch, 44100), rec, in, {}, 333), RefFlange(44100, ch, rec, in),
                   ch == 1 ? "mono flange" : "stereo flange");
    }
    // Impulse response at a swing of 0 samples (1 % of 44): dry at frame 0, the echo 44 frames on
    // with wet1 = 0.9 x wetGain, and again after one pass through the feedback of 0.5.
    std::vector<double> impulse(200);
    impulse[0] = 1.0;
    const std::vector<double> out = RunBlock(MakeFormat(1, 44100), Record(kTypeFlange, 1, 1), impulse);
    EXPECT_EQ(out[0], 0.5);
    EXPECT_EQ(Peak(out, 1, 44), 0.0);
    EXPECT_DOUBLE_EQ(out[44], 0.45);
    EXPECT_EQ(Peak(out, 45, 88), 0.0);
    EXPECT_DOUBLE_EQ(out[88], 0.45 * 0.5);
}

// A no-reset SetFormat keeps lines and LFO phase; one that shortens the period below the running
// count restarts the LFO at its next step.
TEST(FlangeBlock, NoResetChangesKeepTheLfoAndWrapItsCount) {
    const FlangeParams rec = Record(kTypeFlange, 1, 50);
    const std::vector<double> in = Signal(12000, 3);
    const std::vector<Change> changes = {{2500, 1, 90}, {5000, 11000, 50}, {9000, 7000, 100}};
    ExpectSame(RunBlock(MakeFormat(1, 44100), rec, in, changes), RefFlange(44100, 1, rec, in, changes),
               "flange with changes");
}

// At 189000 Hz, with the read base at 0 and the LFO at half a period, the position is a hair
// below zero and adding L rounds it to exactly L (6.28318530718 / 2 is slightly above pi).
TEST(FlangeBlock, ReadPositionRoundingToLineLengthStaysInTheLine) {
    const int rate = 189000;
    ASSERT_EQ(DelayLineLength(rate), 37900);
    ASSERT_EQ(LfoPeriodSamples(rate, 2481, 0), 2 * 38089);
    const FlangeParams rec = Record(kTypeFlange, 1, 1);
    const std::vector<double> in = Signal(38200, 9);
    // 38089 frames bring the base from 189 down to 0; the LFO count is then 38089 = N / 2.
    const std::vector<Change> changes = {{38089, 2481, 1}};
    const std::vector<double> out = RunBlock(MakeFormat(1, rate), rec, in, changes, 4096);
    ExpectSame(out, RefFlange(rate, 1, rec, in, changes), "flange at 189 kHz");
}

TEST(FlangeBlock, ChorusMatchesReferenceMonoAndStereo) {
    const FlangeParams rec = Record(kTypeChorus, 2500, 60, 3.0, 3.0);  // gains play no part
    for (WORD ch : {1, 2}) {
        const std::vector<double> in = Signal(ch * 9000u, 21 + ch);
        ExpectSame(RunBlock(MakeFormat(ch, 48000), rec, in, {}, 777), RefChorus(48000, ch, rec, in),
                   ch == 1 ? "mono chorus" : "stereo chorus");
    }
    // Mono impulse at 4000 Hz, where 1 % swings 0 samples: bases 80 and 64. Voice 0 gives
    // 0.5 x + 0.45 v, voice 1 adds 0.405 x its own delayed value to its input.
    std::vector<double> impulse(300);
    impulse[0] = 1.0;
    const std::vector<double> out = RunBlock(MakeFormat(1, 4000), Record(kTypeChorus, 1, 1), impulse);
    EXPECT_EQ(out[0], 0.5);
    EXPECT_EQ(Peak(out, 1, 64), 0.0);
    EXPECT_DOUBLE_EQ(out[64], 0.405 * 0.5);   // voice 0's 0.5, 64 frames back in voice 1
    EXPECT_DOUBLE_EQ(out[80], 0.45);          // voice 0's own echo
    EXPECT_DOUBLE_EQ(out[144], 0.405 * 0.45); // that echo again through voice 1
    EXPECT_DOUBLE_EQ(out[160], 0.0);
}

// At 100 % the swing of voice 1 (882) exceeds its base (715): the delay goes below zero and the
// read wraps round the line to frames almost L old.
TEST(FlangeBlock, ChorusDeepVoiceWrapsRoundTheLine) {
    const FlangeParams rec = Record(kTypeChorus, 4000, 100);
    const std::vector<double> in = Signal(20000, 31);
    long longest = 0;
    const std::vector<double> want = RefChorus(44100, 1, rec, in, {}, &longest);
    EXPECT_GT(longest, 8920 - 200);
    ExpectSame(RunBlock(MakeFormat(1, 44100), rec, in), want, "deep chorus");
}

TEST(FlangeBlock, TypeChangeResetsAndOtherChangesDoNot) {
    const WAVEFORMATEX fmt = MakeFormat(2, 44100);
    const std::vector<double> first = Signal(2 * 3000, 41), second = Signal(2 * 3000, 42);
    const std::pair<int32_t, int32_t> switches[] = {
        {kTypeFlange, kTypeChorus}, {kTypePhaser, kTypeWahWah}, {kTypeChorus, kTypePhaser}};
    for (const auto& types : switches) {
        Block used, fresh;
        FlangeParams rec = Record(types.first, 700, 100);
        ASSERT_EQ(used->SetFormat(&fmt, &rec, TRUE), S_OK);
        std::vector<double> a = first;
        ULONG out = 0;
        ASSERT_EQ(used->ProcessDouble(a.data(), 3000, &out, 0), S_OK);
        rec.lfoType = types.second;  // reset flag clear, yet the type change starts everything afresh
        ASSERT_EQ(used->SetFormat(nullptr, &rec, FALSE), S_OK);
        ASSERT_EQ(fresh->SetFormat(&fmt, &rec, TRUE), S_OK);
        std::vector<double> b = second, c = second;
        ASSERT_EQ(used->ProcessDouble(b.data(), 3000, &out, 0), S_OK);
        ASSERT_EQ(fresh->ProcessDouble(c.data(), 3000, &out, 0), S_OK);
        EXPECT_EQ(b, c) << types.first << " to " << types.second;

        // The same type again without reset keeps the running state; with reset it starts afresh.
        ASSERT_EQ(used->SetFormat(nullptr, &rec, FALSE), S_OK);
        b = second;
        ASSERT_EQ(used->ProcessDouble(b.data(), 3000, &out, 0), S_OK);
        EXPECT_NE(b, c);
        ASSERT_EQ(used->SetFormat(nullptr, &rec, TRUE), S_OK);
        b = second;
        ASSERT_EQ(used->ProcessDouble(b.data(), 3000, &out, 0), S_OK);
        EXPECT_EQ(b, c);
    }
    // Flange to chorus switches the base delay from 1 ms to 20 ms: the first echo of an impulse
    // moves from 44 to 715 frames (voice 1).
    Block block;
    FlangeParams rec = Record(kTypeFlange, 1, 1);
    ASSERT_EQ(block->SetFormat(&fmt, &rec, TRUE), S_OK);
    rec.lfoType = kTypeChorus;
    ASSERT_EQ(block->SetFormat(nullptr, &rec, FALSE), S_OK);
    std::vector<double> imp(2 * 1000);
    imp[0] = 1.0;
    ULONG out = 0;
    ASSERT_EQ(block->ProcessDouble(imp.data(), 1000, &out, 0), S_OK);
    EXPECT_EQ(Peak(imp, 1, 700, 2, 0), 0.0);
    EXPECT_GT(Peak(imp, 700, 730, 2, 0), 0.1);
}

TEST(FlangeBlock, DelayEffectsPassThreeChannelsUnchanged) {
    for (int32_t type : {kTypeChorus, kTypeFlange}) {
        const std::vector<double> in = Signal(3 * 2000, 51);
        EXPECT_EQ(RunBlock(MakeFormat(3, 44100), Record(type, 500, 50), in), in) << "type " << type;
    }
}

// ---- swept all-pass effects -----------------------------------------------------------------------

TEST(FlangeBlock, SweepMatchesReferenceWithRateAndDepthChanges) {
    // Slow phaser: fractional steps between table entries; the change to a fast rate shortens the
    // table below the running position, which the next step pulls back to the last entry.
    const FlangeParams phaser = Record(kTypePhaser, 150, 30, 0.6, 0.8);
    const std::vector<Change> changes = {{30000, 150, 90}, {60000, 11000, 90}, {61000, 900, 10}};
    const std::vector<double> in = Signal(2 * 80000, 61);
    ExpectSame(RunBlock(MakeFormat(2, 22050), phaser, in, changes, 4096), RefSweep(22050, 2, phaser, in, changes),
               "phaser");
    // Fast wah-wah: the sweep visits every entry, bouncing at both ends.
    const FlangeParams wah = Record(kTypeWahWah, 9000, 75, 0.3, 1.1);
    const std::vector<double> mono = Signal(20000, 62);
    ExpectSame(RunBlock(MakeFormat(1, 32000), wah, mono, {}, 100), RefSweep(32000, 1, wah, mono), "wah-wah");
}

// Every channel sweeps in phase: three identical channels equal the mono result.
TEST(FlangeBlock, SweepChannelsRunInPhase) {
    const FlangeParams rec = Record(kTypePhaser, 2000, 50);
    const std::vector<double> mono = Signal(5000, 71);
    std::vector<double> three(3 * mono.size());
    for (size_t i = 0; i < mono.size(); ++i) three[3 * i] = three[3 * i + 1] = three[3 * i + 2] = mono[i];
    const std::vector<double> a = RunBlock(MakeFormat(1, 44100), rec, mono, {}, 500);
    const std::vector<double> b = RunBlock(MakeFormat(3, 44100), rec, three, {}, 777);
    for (size_t i = 0; i < mono.size(); ++i) {
        ASSERT_EQ(b[3 * i], a[i]) << i;
        ASSERT_EQ(b[3 * i + 1], a[i]) << i;
        ASSERT_EQ(b[3 * i + 2], a[i]) << i;
    }
}

// With the sweep barely moving (1 mHz) the phaser's dry plus all-pass cancels a tone where the
// all-pass turns by half a cycle, cos w = a1 / (1 + a2); the wah-wah's x - y doubles it there.
TEST(FlangeBlock, PhaserNotchAndWahPeakAtTheSweepStart) {
    for (int32_t type : {kTypePhaser, kTypeWahWah}) {
        const SweepBand band = SweepBandFor(44100, type, 50, 2000);
        double a1 = 0, a2 = 0;
        DesignSweepTables(band, type, 1, &a1, &a2);
        const double notch = std::acos(a1 / (1 + a2)) / (2 * kTestPi);
        const FlangeParams rec = Record(type, 1, 50, type == kTypePhaser ? 0.5 : 0.0, 0.5);
        const size_t frames = 30000;
        const std::vector<double> at = RunBlock(MakeFormat(1, 44100), rec, Sine(frames, 1, notch));
        const std::vector<double> off = RunBlock(MakeFormat(1, 44100), rec, Sine(frames, 1, notch * 8));
        if (type == kTypePhaser) {
            EXPECT_LT(Peak(at, 20000, frames), 0.01) << "notch at " << notch * 44100 << " Hz";
            EXPECT_GT(Peak(off, 20000, frames), 0.5);
        } else {
            EXPECT_NEAR(Peak(at, 20000, frames), 1.0, 0.01) << "peak of 2 x 0.5 at " << notch * 44100 << " Hz";
            EXPECT_LT(Peak(off, 20000, frames), 0.5);
        }
    }
}

// Flushes: the flange's line writes, the chorus's delayed values and the all-pass state, each to
// exactly 0 below 2e-11 and kept above it.
TEST(FlangeBlock, TinyValuesFlushWhereNamed) {
    // Flange, swing 0: an impulse recirculates at 0.5 per pass of 44 frames; 0.5^36 < 2e-11 is
    // written as 0, so the echo after the one carrying 0.5^35 is silent.
    std::vector<double> imp(44 * 40);
    imp[0] = 1.0;
    const std::vector<double> flange = RunBlock(MakeFormat(1, 44100), Record(kTypeFlange, 1, 1), imp);
    EXPECT_DOUBLE_EQ(flange[44 * 36], 0.45 * std::ldexp(1.0, -35));
    EXPECT_EQ(Peak(flange, 44 * 36 + 1, flange.size()), 0.0);

    // Chorus at 4000 Hz, swing 0: voice 1 reads voice 0's 0.5 x at 64 frames, voice 0 reads x at 80.
    for (double amplitude : {1.5e-11, 4.5e-11}) {
        std::vector<double> tiny(200);
        tiny[0] = amplitude;
        const std::vector<double> out = RunBlock(MakeFormat(1, 4000), Record(kTypeChorus, 1, 1), tiny);
        EXPECT_EQ(out[0], 0.5 * amplitude);
        const bool kept = amplitude > 4e-11;
        EXPECT_EQ(out[64], kept ? 0.405 * (0.5 * amplitude) : 0.0) << amplitude;
        EXPECT_EQ(out[80], kept ? 0.5 * (0.5 * (0.9 * amplitude) + 0.5 * (0.9 * amplitude)) : 0.0) << amplitude;
    }

    // Phaser: a tiny impulse leaves no state behind; a larger one rings on.
    for (double amplitude : {1e-11, 3e-11}) {
        std::vector<double> tiny(50);
        tiny[0] = amplitude;
        const std::vector<double> out = RunBlock(MakeFormat(1, 44100), Record(kTypePhaser, 500, 50), tiny);
        EXPECT_NE(out[0], 0.0);
        if (amplitude < 2e-11) EXPECT_EQ(Peak(out, 1, out.size()), 0.0);
        else EXPECT_GT(Peak(out, 1, out.size()), 0.0);
    }
}

// A reset reaches the block on the streaming thread; with the format unchanged it clears the lines
// in place instead of allocating, and sounds like a fresh block.
TEST(FlangeReset, SameFormatResetAllocatesNothingAndStartsFromSilence) {
    const WAVEFORMATEX f = MakeFormat(2, 44100, 64);
    FlangeParams p{};
    p.cbSize = sizeof(p);
    p.dryGain = 0.5;
    p.wetGain = 0.5;
    p.lfoType = 0;
    p.rateMilliHz = 500;
    p.depthPercent = 50;
    p.spare = 23;
    ITwAudioFlange* used = nullptr;
    ITwAudioFlange* fresh = nullptr;
    ASSERT_EQ(CreateAudioFlange(&used), S_OK);
    ASSERT_EQ(CreateAudioFlange(&fresh), S_OK);
    ASSERT_EQ(used->SetFormat(&f, &p, TRUE), S_OK);
    ASSERT_EQ(fresh->SetFormat(&f, &p, TRUE), S_OK);
    std::vector<double> noise(2 * 3000);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = std::sin(0.37 * static_cast<double>(i * i % 977));
    ULONG out = 0;
    ASSERT_EQ(used->ProcessDouble(noise.data(), 3000, &out, 0), S_OK);  // the lines now hold sound

    static int allocations;
    allocations = 0;
    tw::SetZeroAllocHook([](size_t) {
        ++allocations;
        return false;
    });
    for (int type : {0, 2, 0}) {  // same-type reset, and type changes, which force one
        p.lfoType = type;
        EXPECT_EQ(used->SetFormat(&f, &p, TRUE), S_OK) << type;
    }
    tw::SetZeroAllocHook(nullptr);
    EXPECT_EQ(allocations, 0);
    ASSERT_EQ(fresh->SetFormat(&f, &p, TRUE), S_OK);

    std::vector<double> a(2 * 2000), b;
    for (size_t i = 0; i < a.size(); ++i) a[i] = std::cos(0.011 * static_cast<double>(i));
    b = a;
    ASSERT_EQ(used->ProcessDouble(a.data(), 2000, &out, 0), S_OK);
    ASSERT_EQ(fresh->ProcessDouble(b.data(), 2000, &out, 0), S_OK);
    EXPECT_EQ(a, b);
    used->Release();
    fresh->Release();
}
