// The comb reverb: its defining numbers, its tail protocol, its reset rules, and whole impulse and
// noise responses against plain reference computations written here.
#include "effects/audio_blocks.h"

#include "tests/support/wave_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr double kRate = 44100.0;
constexpr double kPi = 3.14159265358979323846;

WAVEFORMATEX FloatFormat(WORD channels, WORD bits, DWORD rate = 44100) {
    return testing_support::MakeWaveFormat(WAVE_FORMAT_IEEE_FLOAT, channels, rate, bits);
}

// The four room records, in room-type order, with the mix of Dry/Wet 25 %.
ReverbParams Room(int type) {
    struct Row { int32_t combSet, reverbTime, preDelay, lowCutEnable, lowCutHz, highCutEnable, highCutHz; };
    static const Row rows[4] = {
        {1, 20, 5, 1, 200, 1, 8000},    // Club
        {0, 30, 15, 1, 100, 1, 10000},  // Hall
        {2, 30, 0, 1, 300, 1, 12000},   // Plate
        {0, 40, 10, 0, 100, 0, 15000},  // Big Empty Hall
    };
    const Row& r = rows[type];
    ReverbParams p{};
    p.cbSize = 56;
    p.wetGain = 0.25;
    p.dryGain = 0.75;
    p.combSet = r.combSet;
    p.earlyLevel = -160;
    p.reverbTime = r.reverbTime;
    p.preDelay = r.preDelay;
    p.lowCutEnable = r.lowCutEnable;
    p.lowCutHz = r.lowCutHz;
    p.highCutEnable = r.highCutEnable;
    p.highCutHz = r.highCutHz;
    return p;
}
enum { kClub, kHall, kPlate, kBigEmptyHall };

// Only the comb sum reaches the output: wet 1, dry 0, no early reflections.
ReverbParams CombsOnly(ReverbParams p) {
    p.wetGain = 1.0;
    p.dryGain = 0.0;
    p.earlyLevel = -800;
    return p;
}

struct Block {
    ITwAudioReverb* p = nullptr;
    Block() { EXPECT_EQ(CreateAudioReverb(&p), S_OK); }
    ~Block() {
        if (p) {
            EXPECT_EQ(p->Release(), 0u);
        }
    }
    ITwAudioReverb* operator->() const { return p; }
};

// Runs interleaved samples through a double-format block in one call.
std::vector<double> ProcessAll(ITwAudioReverb* block, std::vector<double> x) {
    WAVEFORMATEX f{};
    block->GetFormat(&f, sizeof(f), nullptr, 0);
    const ULONG frames = static_cast<ULONG>(x.size() / f.nChannels);
    ULONG out = 0;
    EXPECT_EQ(block->ProcessDouble(x.data(), frames, &out, 0), S_OK);
    EXPECT_EQ(out, frames);
    return x;
}

std::vector<double> Impulse(size_t n) {
    std::vector<double> x(n, 0.0);
    x[0] = 1.0;
    return x;
}

// ---- Reference: one sample at a time, with the delays as plain histories ---------------------

const std::vector<std::vector<double>> kSetMs = {
    {23.583, 47.049, 25.481, 27.493, 29.67, 34.518, 32.056, 37.317, 40.358, 19.941},
    {21.096, 66.413, 28.715, 49.337, 44.433, 35.993, 12.339, 40.301, 54.257, 60.013},
    {31.737, 15.013, 11.528, 36.037, 19.131, 5.439, 9.41, 26.433, 7.437},
};

double RefCombGain(double ms, int reverbTime) { return std::pow(10.0, -3.0 * (ms / 1000.0) / (reverbTime / 20.0)); }

struct RefComb {
    std::vector<double> line;
    double ms = 0, gain = 0, m = 0;
    double Step(size_t n, double y, double a, double b) {
        double& slot = line[n % line.size()];
        const double o = slot;
        m = a * m + b * o;
        if (std::fabs(m) < 1e-20) m = 0;
        slot = (y + m) * gain;
        return o;
    }
};

struct RefReverb {
    bool stereo;
    double wet, dry, E, a, b, k, f1, g2, s = 0, l1 = 0, l2 = 0;
    bool lowCut;
    std::vector<RefComb> combs, right;
    size_t P;
    size_t K[3];
    double gL[3], gR[3];
    std::vector<double> sumL, sumR, inL, inR;

    double rate;

    RefReverb(const ReverbParams& p, bool st, double r = kRate) : stereo(st), rate(r) {
        for (double ms : kSetMs[p.combSet]) combs.push_back(MakeComb(ms));
        if (stereo) right = {MakeComb(kSetMs[p.combSet][0] * 0.93), MakeComb(kSetMs[p.combSet][1] * 1.06)};
        P = std::max<size_t>(static_cast<size_t>(p.preDelay * rate / 1000), 1);
        const double tapMs[3] = {11.057 + 0.051, 17.049 + 0.151, 29.455 + 0.078};
        const double gain[3] = {-47, 60, 28}, pan[3] = {-76, 100, 35};
        for (int t = 0; t < 3; ++t) {
            K[t] = static_cast<size_t>(tapMs[t] * rate / 1000.0);
            gL[t] = stereo ? gain[t] * (1 - (pan[t] + 100) / 200) : gain[t];
            gR[t] = gain[t] * ((pan[t] + 100) / 200);
        }
        Retune(p);
    }
    RefComb MakeComb(double ms) {
        RefComb c;
        c.ms = ms;
        c.line.assign(static_cast<size_t>(std::floor(ms * rate / 1000 + 0.5)), 0.0);
        return c;
    }
    void Retune(const ReverbParams& p) {
        wet = p.wetGain;
        dry = p.dryGain;
        E = p.earlyLevel > -800 ? std::pow(10.0, p.earlyLevel / 200.0) / 100.0 : 0.0;
        a = p.highCutEnable && p.highCutHz < rate ? std::exp(-4 * kPi * p.highCutHz / rate) : 0.0;
        b = 1 - a;
        lowCut = p.lowCutEnable != 0;
        if (lowCut) {
            const double h = p.lowCutHz / rate;
            const double c = std::min(std::max(h < 500 / 44100.0 ? h / 2.2 : h / 3.3, 0.0004), 0.49);
            f1 = 2 * std::cos(2 * kPi * c) * std::exp(-kPi * c / 0.1);
            g2 = std::exp(-2 * kPi * c / 0.1);
            k = 1 - f1 + g2;
            l1 = l2 = 0;
        }
        for (RefComb& c : combs) c.gain = RefCombGain(c.ms, std::max(p.reverbTime, 1));
        for (RefComb& c : right) c.gain = RefCombGain(c.ms, std::max(p.reverbTime, 1));
    }
    // Input lowpass output y (before its flush), then the low cut.
    double Smooth(double y) {
        if (std::fabs(y) < std::ldexp(1.0, -32)) y = 0;
        s = y;
        if (lowCut) {
            double l = k * y + f1 * l1 - g2 * l2;
            if (std::fabs(l) < std::ldexp(1.0, -32)) l = 0;
            l2 = l1;
            l1 = l;
            y -= static_cast<float>(l);
        }
        return y;
    }
    static double Past(const std::vector<double>& h, size_t back) { return h.size() >= back ? h[h.size() - back] : 0.0; }

    void Frame(double& L, double& R) {
        const size_t n = inL.size();
        const double y = Smooth(stereo ? b * (L + R) * 0.5 + a * s : b * L + a * s);
        double shared = 0;
        for (size_t i = stereo ? 2 : 0; i < combs.size(); ++i) shared += combs[i].Step(n, y, a, b);
        double left = shared, rightSum = shared;
        if (stereo) {
            left += combs[0].Step(n, y, a, b);
            left += combs[1].Step(n, y, a, b);
            rightSum += right[0].Step(n, y, a, b);
            rightSum += right[1].Step(n, y, a, b);
        }
        sumL.push_back(left);
        sumR.push_back(rightSum);
        double t[3];
        for (int i = 0; i < 3; ++i) t[i] = Past(inL, K[i]) + (stereo ? Past(inR, K[i]) : 0.0);
        inL.push_back(L);
        inR.push_back(R);
        const double eL = gL[0] * t[0] + gL[1] * t[1] + gL[2] * t[2];
        const double eR = gR[0] * t[0] + gR[1] * t[1] + gR[2] * t[2];
        L = E * eL + wet * Past(sumL, P) + dry * L;
        if (stereo) R = E * eR + wet * Past(sumR, P) + dry * R;
    }
};

std::vector<double> Noise(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<double> x(n);
    for (double& v : x) v = dist(gen);
    return x;
}

}  // namespace

// With the damping off (a = 0) an impulse leaves each comb as g, g^2, g^3 ... every L samples,
// so the comb sum is known in closed form; the pre-delay shifts it by P - 1.
TEST(Reverb, BigEmptyHallImpulseIsTheCombSumDelayed) {
    Block block;
    const WAVEFORMATEX fmt = FloatFormat(1, 64);
    const ReverbParams rec = CombsOnly(Room(kBigEmptyHall));
    ASSERT_EQ(block->SetFormat(&fmt, &rec, TRUE), S_OK);
    const size_t n = 6000;
    const std::vector<double> out = ProcessAll(block.p, Impulse(n));

    const size_t P = 441;  // 10 ms
    std::vector<std::vector<double>> perComb;
    for (double ms : kSetMs[0]) {
        std::vector<double> h(n, 0.0);
        const size_t L = static_cast<size_t>(std::floor(ms * 44.1 + 0.5));
        const double g = RefCombGain(ms, 40);
        double v = g;
        for (size_t at = L + P - 1; at < n; at += L, v *= g) h[at] = v;
        perComb.push_back(h);
    }
    size_t nonzero = 0;
    for (size_t i = 0; i < n; ++i) {
        double sum = 0;
        for (const auto& h : perComb) sum += h[i];
        ASSERT_EQ(out[i], sum) << "sample " << i;
        nonzero += out[i] != 0;
    }
    EXPECT_GT(nonzero, 30u);  // not a silent comparison
    EXPECT_EQ(out[879 + P - 2], 0.0);
    EXPECT_NE(out[879 + P - 1], 0.0);  // the shortest comb, 19.941 ms
}

TEST(Reverb, HallNumbers) {
    Block block;
    const WAVEFORMATEX fmt = FloatFormat(1, 64);
    ReverbParams rec = CombsOnly(Room(kHall));
    rec.highCutEnable = 0;
    rec.lowCutEnable = 0;
    ASSERT_EQ(block->SetFormat(&fmt, &rec, TRUE), S_OK);
    std::vector<double> out = ProcessAll(block.p, Impulse(3000));
    // Each comb's first echo, 660 samples late; nothing else before the shortest comb's second echo.
    const size_t lengths[10] = {1040, 2075, 1124, 1212, 1308, 1522, 1414, 1646, 1780, 879};
    std::vector<double> expected(2 * 879 + 660, 0.0);
    for (int i = 0; i < 10; ++i)
        if (lengths[i] + 660 < expected.size()) expected[lengths[i] + 660] = RefCombGain(kSetMs[0][i], 30);
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(out[i], expected[i]) << "sample " << i;
    EXPECT_NEAR(out[1040 + 660], 0.897086, 1e-6);
    EXPECT_EQ(out[2075 + 660], RefCombGain(47.049, 30));

    // With the high cut on, the input lowpass leaves b = 1 - a, then a*b for the next sample.
    Block damped;
    rec.highCutEnable = 1;
    ASSERT_EQ(damped->SetFormat(&fmt, &rec, TRUE), S_OK);
    out = ProcessAll(damped.p, Impulse(1600));
    const double a = out[879 + 661] / out[879 + 660];
    EXPECT_NEAR(a, 0.057872, 1e-6);
    EXPECT_NEAR(out[879 + 660], (1 - a) * RefCombGain(19.941, 30), 1e-15);
    EXPECT_EQ(out[879 + 659], 0.0);

    // Tail: 1.5 s = 66150 frames.
    std::vector<double> x(70000, 0.0);
    ULONG got = 0;
    EXPECT_EQ(block->ProcessDouble(x.data(), 70000, &got, kProcessDrain), S_FALSE);
    EXPECT_EQ(got, 66150u);
}

TEST(Reverb, PlateHasNineCombsAndNoPreDelay) {
    Block block;
    const WAVEFORMATEX fmt = FloatFormat(1, 64);
    ReverbParams rec = CombsOnly(Room(kPlate));
    rec.highCutEnable = 0;
    rec.lowCutEnable = 0;
    ASSERT_EQ(block->SetFormat(&fmt, &rec, TRUE), S_OK);
    const std::vector<double> out = ProcessAll(block.p, Impulse(1700));
    // Lengths 1400 662 508 1589 844 240 415 1166 328; first echoes up to 2 x 240 come straight out.
    for (size_t i = 0; i < 480; ++i) {
        const double expected = i == 240 ? RefCombGain(5.439, 30)
                              : i == 328 ? RefCombGain(7.437, 30)
                              : i == 415 ? RefCombGain(9.41, 30) : 0.0;
        ASSERT_EQ(out[i], expected) << "sample " << i;
    }
    EXPECT_EQ(out[1589], RefCombGain(36.037, 30));  // no other comb lands here
}

// Every stage, filters and early reflections included, against the reference on noise, in calls
// of uneven sizes; 2000 Hz makes every line short against the block's internal passes.
TEST(Reverb, NoiseMatchesReference) {
    for (DWORD rate : {44100u, 2000u, 192000u}) {
        for (int room : {kClub, kHall, kPlate, kBigEmptyHall}) {
            for (WORD channels : {1, 2}) {
                SCOPED_TRACE(testing::Message() << rate << " Hz, room " << room << ", channels " << channels);
                Block block;
                const WAVEFORMATEX fmt = FloatFormat(channels, 64, rate);
                const ReverbParams rec = Room(room);
                ASSERT_EQ(block->SetFormat(&fmt, &rec, TRUE), S_OK);
                RefReverb ref(rec, channels == 2, rate);
                // Past the longest comb of every set and twice round the shortest.
                const size_t frames = static_cast<size_t>(rate) * 80 / 1000;
                std::vector<double> x = Noise(frames * channels, 7 + room);
                for (size_t i = frames / 2 * channels; i < x.size(); ++i) x[i] = 0;  // then the ring-out
                std::vector<double> out = x;
                for (size_t at = 0, call = 1; at < frames; call = call * 7 + 3) {
                    const ULONG n = static_cast<ULONG>(std::min(call % 1500, frames - at));
                    ULONG got = 0;
                    ASSERT_EQ(block->ProcessDouble(out.data() + at * channels, n, &got, 0), S_OK);
                    ASSERT_EQ(got, n);
                    at += n;
                }
                for (size_t f = 0; f < frames; ++f) {
                    double L = x[f * channels], R = channels == 2 ? x[f * channels + 1] : 0.0;
                    ref.Frame(L, R);
                    ASSERT_EQ(out[f * channels], L) << "frame " << f;
                    if (channels == 2) {
                        ASSERT_EQ(out[f * channels + 1], R) << "frame " << f;
                    }
                }
            }
        }
    }
}

TEST(Reverb, DrainCountsTheTailInFramesAndRestarts) {
    Block block;
    const WAVEFORMATEX fmt = FloatFormat(2, 32);
    ReverbParams rec = Room(kClub);  // 1.0 s: 44100 frames
    ASSERT_EQ(block->SetFormat(&fmt, &rec, TRUE), S_OK);
    std::vector<float> x(2 * 1024, 0.0f);
    ULONG out = 0;
    for (int round = 0; round < 2; ++round) {
        for (int call = 0; call < 43; ++call) {
            ASSERT_EQ(block->ProcessFloat(x.data(), 1024, &out, round ? kProcessSilent : kProcessDrain), S_OK);
            ASSERT_EQ(out, 1024u);
        }
        std::fill(x.begin(), x.end(), 3.0f);
        EXPECT_EQ(block->ProcessFloat(x.data(), 1024, &out, kProcessDrain), S_FALSE);
        EXPECT_EQ(out, 68u);
        EXPECT_EQ(x[2 * 68], 3.0f);  // frames past the cut stay as they were
        EXPECT_NE(x[2 * 67], 3.0f);
        EXPECT_EQ(block->ProcessFloat(x.data(), 1024, &out, kProcessDrain | kProcessSilent), S_FALSE);
        EXPECT_EQ(out, 0u);
        // The first call without the drain bits restarts the countdown from the full tail.
        std::fill(x.begin(), x.end(), 0.0f);
        EXPECT_EQ(block->ProcessFloat(x.data(), 1024, &out, 0), S_OK);
        EXPECT_EQ(out, 1024u);
    }

    // reverbTime 0 counts as 1 (R / 20 frames); a negative one becomes 100 (5 s).
    rec.reverbTime = 0;
    ASSERT_EQ(block->SetFormat(nullptr, &rec, FALSE), S_OK);
    std::vector<float> big(2 * 300000, 0.0f);
    EXPECT_EQ(block->ProcessFloat(big.data(), 300000, &out, kProcessDrain), S_FALSE);
    EXPECT_EQ(out, 2205u);
    rec.reverbTime = -1;
    ASSERT_EQ(block->SetFormat(nullptr, &rec, FALSE), S_OK);
    EXPECT_EQ(block->ProcessFloat(big.data(), 300000, &out, kProcessDrain), S_FALSE);
    EXPECT_EQ(out, 220500u);
}

// Dry/Wet 0 still lets the early reflections through: taps at 489, 758 and 1302 samples.
TEST(Reverb, EarlyReflectionsMonoAndStereo) {
    const double E = std::pow(10.0, -160 / 200.0) / 100.0;
    ReverbParams rec = Room(kHall);
    rec.wetGain = 0.0;
    rec.dryGain = 1.0;
    {
        Block block;
        const WAVEFORMATEX fmt = FloatFormat(1, 64);
        ASSERT_EQ(block->SetFormat(&fmt, &rec, TRUE), S_OK);
        const std::vector<double> out = ProcessAll(block.p, Impulse(3000));
        for (size_t i = 0; i < out.size(); ++i) {
            const double expected = i == 0 ? 1.0 : i == 489 ? E * -47.0 : i == 758 ? E * 60.0 : i == 1302 ? E * 28.0 : 0.0;
            ASSERT_EQ(out[i], expected) << "sample " << i;
        }
        EXPECT_NEAR(out[489], -0.0745, 5e-5);
    }
    {
        // Identical L and R: the taps read both rings (2.0), but the sides still differ by pan.
        Block block;
        const WAVEFORMATEX fmt = FloatFormat(2, 64);
        ASSERT_EQ(block->SetFormat(&fmt, &rec, TRUE), S_OK);
        std::vector<double> x(2 * 1400, 0.0);
        x[0] = x[1] = 1.0;
        const std::vector<double> out = ProcessAll(block.p, x);
        EXPECT_NEAR(out[2 * 489], E * -41.36 * 2, 1e-15);
        EXPECT_NEAR(out[2 * 489 + 1], E * -5.64 * 2, 1e-15);
        EXPECT_EQ(out[2 * 758], 0.0);  // tap 2 sounds only on the right
        EXPECT_NEAR(out[2 * 758 + 1], E * 60 * 2, 1e-15);
        EXPECT_NEAR(out[2 * 1302], E * 9.1 * 2, 1e-15);
        EXPECT_NEAR(out[2 * 1302 + 1], E * 18.9 * 2, 1e-15);
        EXPECT_EQ(out[2 * 1000 + 1], 0.0);
    }
    {
        // earlyLevel -800: no reflections at all, only the dry signal.
        rec.earlyLevel = -800;
        Block block;
        const WAVEFORMATEX fmt = FloatFormat(1, 64);
        ASSERT_EQ(block->SetFormat(&fmt, &rec, TRUE), S_OK);
        const std::vector<double> out = ProcessAll(block.p, Impulse(1400));
        for (size_t i = 1; i < out.size(); ++i) ASSERT_EQ(out[i], 0.0) << "sample " << i;
    }
}

// A reverbTime change alone retunes: contents and positions stay, only the gains move. Any change
// of combSet or preDelay, or a reset, rebuilds the block silent.
TEST(Reverb, RetuneKeepsTheCombsRebuildSilencesThem) {
    const WAVEFORMATEX fmt = FloatFormat(1, 64);
    ReverbParams rec = CombsOnly(Room(kBigEmptyHall));
    Block block;
    ASSERT_EQ(block->SetFormat(&fmt, &rec, TRUE), S_OK);
    ProcessAll(block.p, Impulse(100));
    rec.reverbTime = 20;
    rec.highCutHz = 9000;  // neither does this (high cut still off) rebuild
    ASSERT_EQ(block->SetFormat(&fmt, &rec, FALSE), S_OK);
    const std::vector<double> out = ProcessAll(block.p, std::vector<double>(2400, 0.0));
    // Shortest comb 879, P - 1 = 440: the first echo left the comb at the old gain, the second
    // went round at old x new.
    const double gOld = RefCombGain(19.941, 40), gNew = RefCombGain(19.941, 20);
    EXPECT_EQ(out[879 + 440 - 100], gOld);
    EXPECT_EQ(out[2 * 879 + 440 - 100], gOld * gNew);
    ULONG got = 0;
    std::vector<double> tail(50000, 0.0);
    EXPECT_EQ(block->ProcessDouble(tail.data(), 50000, &got, kProcessDrain), S_FALSE);
    EXPECT_EQ(got, 44100u);

    for (int change = 0; change < 3; ++change) {
        SCOPED_TRACE(change);
        ReverbParams next = rec;
        Block b;
        ASSERT_EQ(b->SetFormat(&fmt, &next, TRUE), S_OK);
        ProcessAll(b.p, Impulse(100));
        if (change == 0) next.preDelay += 1;
        if (change == 1) next.combSet = 1;
        ASSERT_EQ(b->SetFormat(&fmt, &next, change == 2), S_OK);
        const std::vector<double> after = ProcessAll(b.p, std::vector<double>(6000, 0.0));
        for (double v : after) ASSERT_EQ(v, 0.0);
    }
}

// A retune mid-stream with every filter on: new gains, damping and low cut (its state cleared),
// while the lines, their positions and the input lowpass state carry on.
TEST(Reverb, RetuneMidStreamMatchesReference) {
    for (WORD channels : {1, 2}) {
        SCOPED_TRACE(channels);
        ReverbParams rec = Room(kHall);
        Block block;
        const WAVEFORMATEX fmt = FloatFormat(channels, 64);
        ASSERT_EQ(block->SetFormat(&fmt, &rec, TRUE), S_OK);
        RefReverb ref(rec, channels == 2);
        const size_t frames = 4000, cut = 1700;  // the comb sum answers 1539 frames after the cut
        const std::vector<double> x = Noise(frames * channels, 21);
        std::vector<double> out = x;
        ULONG got = 0;
        ASSERT_EQ(block->ProcessDouble(out.data(), cut, &got, 0), S_OK);
        rec.reverbTime = 7;
        rec.lowCutHz = 900;  // past the divisor switch
        rec.highCutHz = 4000;
        rec.earlyLevel = -300;
        rec.wetGain = 0.5;
        ASSERT_EQ(block->SetFormat(nullptr, &rec, FALSE), S_OK);
        ASSERT_EQ(block->ProcessDouble(out.data() + cut * channels, frames - cut, &got, 0), S_OK);
        for (size_t f = 0; f < frames; ++f) {
            if (f == cut) ref.Retune(rec);
            double L = x[f * channels], R = channels == 2 ? x[f * channels + 1] : 0.0;
            ref.Frame(L, R);
            ASSERT_EQ(out[f * channels], L) << "frame " << f;
            if (channels == 2) {
                ASSERT_EQ(out[f * channels + 1], R) << "frame " << f;
            }
        }
    }
}

TEST(Reverb, FourChannelsReverbOnlyTheFirstTwo) {
    const ReverbParams rec = Room(kClub);
    Block quad, pair;
    const WAVEFORMATEX f4 = FloatFormat(4, 32), f2 = FloatFormat(2, 32);
    ASSERT_EQ(quad->SetFormat(&f4, &rec, TRUE), S_OK);
    ASSERT_EQ(pair->SetFormat(&f2, &rec, TRUE), S_OK);
    const size_t frames = 3000;
    const std::vector<double> noise = Noise(4 * frames, 3);
    std::vector<float> x4(noise.begin(), noise.end()), x2(2 * frames);
    for (size_t f = 0; f < frames; ++f) {
        x2[2 * f] = x4[4 * f];
        x2[2 * f + 1] = x4[4 * f + 1];
    }
    const std::vector<float> in4 = x4;
    ULONG out = 0;
    ASSERT_EQ(quad->ProcessFloat(x4.data(), frames, &out, 0), S_OK);
    ASSERT_EQ(pair->ProcessFloat(x2.data(), frames, &out, 0), S_OK);
    for (size_t f = 0; f < frames; ++f) {
        ASSERT_EQ(x4[4 * f], x2[2 * f]) << "frame " << f;
        ASSERT_EQ(x4[4 * f + 1], x2[2 * f + 1]) << "frame " << f;
        ASSERT_EQ(x4[4 * f + 2], in4[4 * f + 2]) << "frame " << f;
        ASSERT_EQ(x4[4 * f + 3], in4[4 * f + 3]) << "frame " << f;
    }
}

// Float buffers are widened, processed in double and rounded back once.
TEST(Reverb, FloatIsTheDoublePathRounded) {
    const ReverbParams rec = Room(kHall);
    Block fb, db;
    const WAVEFORMATEX ff = FloatFormat(2, 32), fd = FloatFormat(2, 64);
    ASSERT_EQ(fb->SetFormat(&ff, &rec, TRUE), S_OK);
    ASSERT_EQ(db->SetFormat(&fd, &rec, TRUE), S_OK);
    const std::vector<double> x = Noise(2 * 3000, 11);
    std::vector<float> xf(x.begin(), x.end());
    const std::vector<double> yd = ProcessAll(db.p, x);
    ULONG out = 0;
    // Uneven call sizes: the state carries across calls.
    ASSERT_EQ(fb->ProcessFloat(xf.data(), 1000, &out, 0), S_OK);
    ASSERT_EQ(fb->ProcessFloat(xf.data() + 2000, 2000, &out, 0), S_OK);
    for (size_t i = 0; i < x.size(); ++i) ASSERT_EQ(xf[i], static_cast<float>(yd[i])) << "sample " << i;
}

TEST(Reverb, RecordClampingMixAndRefusals) {
    Block block;
    const WAVEFORMATEX fmt = FloatFormat(1, 64);
    ReverbParams rec = Room(kHall);
    rec.cbSize = 55;
    EXPECT_EQ(block->SetFormat(&fmt, &rec, TRUE), E_INVALIDARG);
    double x[1] = {0.5};
    ULONG out = 9;
    EXPECT_EQ(block->ProcessDouble(x, 1, &out, 0), E_FAIL);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(x[0], 0.5);

    rec = Room(kHall);
    rec.wetGain = 9.0;
    rec.dryGain = NAN;
    rec.combSet = 7;
    rec.earlyLevel = -2000;
    rec.reverbTime = -1;
    rec.preDelay = -5;
    rec.lowCutEnable = 5;
    rec.lowCutHz = 1;
    rec.highCutEnable = -1;
    rec.highCutHz = 20000;
    ASSERT_EQ(block->SetFormat(&fmt, &rec, TRUE), S_OK);
    ReverbParams got{};
    EXPECT_EQ(block->GetFormat(nullptr, 0, &got, sizeof(got)), S_OK);
    EXPECT_EQ(got.wetGain, 4.0);
    EXPECT_EQ(got.dryGain, 0.0);
    EXPECT_EQ(got.combSet, 2);
    EXPECT_EQ(got.earlyLevel, -800);
    EXPECT_EQ(got.reverbTime, 100);
    EXPECT_EQ(got.preDelay, 100);
    EXPECT_EQ(got.lowCutEnable, 1);
    EXPECT_EQ(got.lowCutHz, 10);
    EXPECT_EQ(got.highCutEnable, 0);
    EXPECT_EQ(got.highCutHz, 15000);
    rec.combSet = -3;
    rec.earlyLevel = 50;
    rec.reverbTime = 150;
    rec.lowCutHz = 9999;
    rec.highCutHz = 50;
    ASSERT_EQ(block->SetFormat(&fmt, &rec, TRUE), S_OK);
    EXPECT_EQ(block->GetFormat(nullptr, 0, &got, sizeof(got)), S_OK);
    EXPECT_EQ(got.combSet, 0);
    EXPECT_EQ(got.earlyLevel, 0);
    EXPECT_EQ(got.reverbTime, 100);
    EXPECT_EQ(got.lowCutHz, 5000);
    EXPECT_EQ(got.highCutHz, 100);

    // SetMix takes the gains unclamped and leaves the stored record alone.
    ReverbParams mix{};
    mix.wetGain = 0.0;
    mix.dryGain = 5.0;
    EXPECT_EQ(block->SetMix(&mix), S_OK);
    EXPECT_EQ(block->SetMix(nullptr), E_POINTER);
    x[0] = 0.5;
    EXPECT_EQ(block->ProcessDouble(x, 1, &out, 0), S_OK);
    EXPECT_EQ(x[0], 2.5);
    EXPECT_EQ(block->GetFormat(nullptr, 0, &got, sizeof(got)), S_OK);
    EXPECT_EQ(got.dryGain, 0.0);
}

namespace {
int gAllocCalls = 0;
int gFailFrom = 0;  // allocation number (1-based) from which on every allocation fails; 0: none
bool CountingHook(size_t) {
    ++gAllocCalls;
    return gFailFrom == 0 || gAllocCalls < gFailFrom;
}
}  // namespace

TEST(Reverb, ProcessingAllocatesNothing) {
    for (WORD channels : {1, 2}) {
        Block fb, db;
        const WAVEFORMATEX ff = FloatFormat(channels, 32), fd = FloatFormat(channels, 64);
        const ReverbParams rec = Room(kClub);
        ASSERT_EQ(fb->SetFormat(&ff, &rec, TRUE), S_OK);
        ASSERT_EQ(db->SetFormat(&fd, &rec, TRUE), S_OK);
        std::vector<float> xf(channels * 5000, 0.25f);
        std::vector<double> xd(channels * 5000, 0.25);
        ULONG out = 0;
        gAllocCalls = 0;
        gFailFrom = 0;
        tw::SetZeroAllocHook(CountingHook);
        EXPECT_EQ(fb->ProcessFloat(xf.data(), 5000, &out, 0), S_OK);
        EXPECT_EQ(db->ProcessDouble(xd.data(), 5000, &out, 0), S_OK);
        EXPECT_EQ(fb->ProcessFloat(xf.data(), 5000, &out, kProcessDrain), S_OK);
        EXPECT_EQ(db->ProcessDouble(xd.data(), 5000, &out, kProcessSilent), S_OK);
        tw::SetZeroAllocHook(nullptr);
        EXPECT_EQ(gAllocCalls, 0);
    }
}

// A rebuild whose lines cannot be allocated leaves the block not valid, never valid without lines.
TEST(Reverb, AllocationFailureDuringRebuild) {
    const WAVEFORMATEX fmt = FloatFormat(2, 64);
    const ReverbParams hall = Room(kHall), club = Room(kClub);
    ReverbParams longer = hall;
    longer.reverbTime = 40;
    Block block;
    ASSERT_EQ(block->SetFormat(&fmt, &hall, TRUE), S_OK);
    ProcessAll(block.p, Noise(2 * 2000, 5));

    gAllocCalls = 0;
    gFailFrom = 1;
    tw::SetZeroAllocHook(CountingHook);
    EXPECT_EQ(block->SetFormat(&fmt, &club, FALSE), E_OUTOFMEMORY);  // combSet changed: rebuild
    // Not valid forces a rebuild, so even a reverbTime-only change cannot retune missing lines.
    EXPECT_EQ(block->SetFormat(&fmt, &longer, FALSE), E_OUTOFMEMORY);
    tw::SetZeroAllocHook(nullptr);
    EXPECT_EQ(gAllocCalls, 2);
    double x[2] = {0.5, 0.5};
    ULONG out = 9;
    EXPECT_EQ(block->ProcessDouble(x, 1, &out, 0), E_FAIL);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(x[0], 0.5);

    // Recovery rebuilds from silence: the output equals a fresh block's.
    ASSERT_EQ(block->SetFormat(&fmt, &club, FALSE), S_OK);
    Block fresh;
    ASSERT_EQ(fresh->SetFormat(&fmt, &club, TRUE), S_OK);
    const std::vector<double> noise = Noise(2 * 4000, 6);
    EXPECT_EQ(ProcessAll(block.p, noise), ProcessAll(fresh.p, noise));

    // First configuration with PCM: the scratch buffer succeeds, the lines fail.
    WAVEFORMATEX pcm = FloatFormat(2, 16);
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    Block pcmBlock;
    gAllocCalls = 0;
    gFailFrom = 2;
    tw::SetZeroAllocHook(CountingHook);
    EXPECT_EQ(pcmBlock->SetFormat(&pcm, &hall, TRUE), E_OUTOFMEMORY);
    tw::SetZeroAllocHook(nullptr);
    EXPECT_EQ(gAllocCalls, 2);
    int16_t s16[2] = {100, -100};
    EXPECT_EQ(pcmBlock->ProcessPcm1(s16, 1, &out, 0), E_FAIL);
    EXPECT_EQ(s16[0], 100);
    ASSERT_EQ(pcmBlock->SetFormat(&pcm, &hall, FALSE), S_OK);
    EXPECT_EQ(pcmBlock->ProcessPcm1(s16, 1, &out, 0), S_OK);
    EXPECT_EQ(out, 1u);
    EXPECT_EQ(s16[0], 75);  // dry 0.75; reverb and reflections have not arrived yet
}

// The controller rebuilds from the streaming thread: after a start, after a break and at the end of
// every tail. A rebuild into lines of the sizes the block holds clears them in place; only a new
// size (format, comb set, pre-delay) allocates, and a failure there still leaves the block not valid.
TEST(Reverb, RebuildReusesLinesOfTheSameSize) {
    for (WORD channels : {1, 2}) {
        SCOPED_TRACE(testing::Message() << "channels " << channels);
        const WAVEFORMATEX fmt = FloatFormat(channels, 64);
        const ReverbParams hall = Room(kHall);
        Block block, fresh;
        ASSERT_EQ(block->SetFormat(&fmt, &hall, TRUE), S_OK);
        ASSERT_EQ(fresh->SetFormat(&fmt, &hall, TRUE), S_OK);
        ProcessAll(block.p, Noise(channels * 3000, 3));

        // Reset with the same sizes: no allocation, and the reverberation is gone as after a fresh start.
        gAllocCalls = 0;
        gFailFrom = 1;
        tw::SetZeroAllocHook(CountingHook);
        EXPECT_EQ(block->SetFormat(&fmt, &hall, TRUE), S_OK);  // would fail if it allocated
        tw::SetZeroAllocHook(nullptr);
        EXPECT_EQ(gAllocCalls, 0);
        const std::vector<double> noise = Noise(channels * 4000, 4);
        EXPECT_EQ(ProcessAll(block.p, noise), ProcessAll(fresh.p, noise));

        // A new pre-delay needs new sizes: one allocation, and its failure leaves the block not valid.
        ReverbParams longer = hall;
        longer.preDelay = hall.preDelay + 1;
        gAllocCalls = 0;
        gFailFrom = 1;
        tw::SetZeroAllocHook(CountingHook);
        EXPECT_EQ(block->SetFormat(&fmt, &longer, FALSE), E_OUTOFMEMORY);
        tw::SetZeroAllocHook(nullptr);
        EXPECT_EQ(gAllocCalls, 1);
        double x[2] = {0.5, 0.5};
        ULONG out = 9;
        EXPECT_EQ(block->ProcessDouble(x, 1, &out, 0), E_FAIL);

        // With memory back the block rebuilds into a new arena and sounds like a fresh one.
        gAllocCalls = 0;
        gFailFrom = 0;
        tw::SetZeroAllocHook(CountingHook);
        ASSERT_EQ(block->SetFormat(&fmt, &longer, FALSE), S_OK);
        tw::SetZeroAllocHook(nullptr);
        EXPECT_EQ(gAllocCalls, 1);
        Block freshLonger;
        ASSERT_EQ(freshLonger->SetFormat(&fmt, &longer, TRUE), S_OK);
        EXPECT_EQ(ProcessAll(block.p, noise), ProcessAll(freshLonger.p, noise));

        // The end of a tail: the controller re-applies the record with reset, again without allocating.
        ProcessAll(block.p, noise);
        gAllocCalls = 0;
        tw::SetZeroAllocHook(CountingHook);
        EXPECT_EQ(block->SetFormat(nullptr, nullptr, TRUE), S_OK);
        tw::SetZeroAllocHook(nullptr);
        EXPECT_EQ(gAllocCalls, 0);
        Block freshAgain;
        ASSERT_EQ(freshAgain->SetFormat(&fmt, &longer, TRUE), S_OK);
        EXPECT_EQ(ProcessAll(block.p, noise), ProcessAll(freshAgain.p, noise));
    }
}
