// The three-band EQ: band designs, responses at chosen frequencies, channel handling and resets,
// and whole outputs against a plain reference written from the block's definition.
#include "effects/simple_eq.h"

#include "effects/block_base.h"

#include "tests/support/alloc_counter.h"

#include "tests/support/wave_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

WAVEFORMATEX FloatFormat(WORD channels, WORD bits, DWORD rate = 44100) {
    return testing_support::MakeWaveFormat(WAVE_FORMAT_IEEE_FLOAT, channels, rate, bits);
}

SimpleEqParams Record(int mid, int bass, int treble) { return SimpleEqParams{16, mid, bass, treble}; }

struct Block {
    ITwAudioSimpleEQ* b = nullptr;
    Block() { EXPECT_EQ(CreateAudioSimpleEQ(&b), S_OK); }
    Block(WORD channels, DWORD rate, const SimpleEqParams& p) : Block() {
        const WAVEFORMATEX f = FloatFormat(channels, 64, rate);
        EXPECT_EQ(b->SetFormat(&f, &p, TRUE), S_OK);
    }
    ~Block() { b->Release(); }
    ITwAudioSimpleEQ* operator->() const { return b; }
    std::vector<double> Run(std::vector<double> x, WORD channels) const {
        ULONG out = 0;
        EXPECT_EQ(b->ProcessDouble(x.data(), static_cast<ULONG>(x.size() / channels), &out, 0), S_OK);
        EXPECT_EQ(out, x.size() / channels);
        return x;
    }
};

std::vector<double> Noise(size_t n, uint32_t seed) {
    std::vector<double> v(n);
    for (double& s : v) {
        seed = seed * 1664525u + 1013904223u;
        s = (seed >> 8) / 16777216.0 * 2.0 - 1.0;
    }
    return v;
}

// Gain of a mono block after it settles on a tone of the given sign pattern (1: DC, -1: Nyquist).
double SettledGain(const SimpleEqParams& p, DWORD rate, double sign) {
    Block b(1, rate, p);
    std::vector<double> x(6000);
    for (size_t i = 0; i < x.size(); ++i) x[i] = i % 2 && sign < 0 ? -0.5 : 0.5;
    return std::fabs(b.Run(x, 1).back()) / 0.5;
}

// ---- Plain reference: the definition followed step by step -----------------------------------

double Clamp(double f) { return std::min(std::max(f, 0.0003), 0.49); }

struct RefSection {
    double s1 = 0, s2 = 0, a1 = 0, a2 = 0, b0 = 0, in = 0, direct = 0, filtered = 0;
};

RefSection Resonator(double f, double q) {
    f = Clamp(f);
    RefSection s;
    s.a1 = 2 * std::exp(-kPi * f / q) * std::cos(2 * kPi * f);
    s.a2 = std::exp(-2 * kPi * f / q);
    s.b0 = 1 - s.a1 + s.a2;
    return s;
}

double Level(double x) {
    const double table[16] = {0, -1, -2, -3, -4, -5, -5, -6, -7, -8, -9, -10, -11, -12, -12, -13};
    x = Clamp(x);
    int k = 1;
    while (k < 15 && !(k * (1000.0 / 44100) >= x)) ++k;
    const double lo = (k - 1) * (1000.0 / 44100), hi = k * (1000.0 / 44100);
    return table[k - 1] + (x - lo) / (hi - lo) * (table[k] - table[k - 1]);
}

double Ratio(double f, double z) {
    const double grid[7] = {0, 0.5, 1, 1.5, 2, 3, 101};
    const double hz[7] = {0, 50, 100, 1000, 5000, 10000, 22050};
    const double meas[7][7] = {{2, 73, 141, 1500, 10000, 20000, 44100}, {1.5, 73, 141, 1500, 10000, 20000, 44100},
                               {1, 52, 110, 1150, 6500, 16000, 35280},   {1, 52, 110, 1070, 5750, 13000, 28748},
                               {1, 52, 104, 1040, 5500, 11000, 24257},   {1, 51, 102, 1030, 5300, 11000, 24257},
                               {1, 51, 102, 1030, 5300, 11000, 24257}};
    int i = 0, j = 0;
    while (!(z <= grid[i])) ++i;
    while (!(f <= meas[i][j] / 44100)) ++j;
    if (i == 0 || j == 0) return 1;
    auto rho = [&](int n) {
        const double lo = meas[n][j - 1] / 44100, hi = meas[n][j] / 44100;
        const double P = hz[j - 1] / 44100 / lo, Q = hz[j] / 44100 / hi;
        return P + (f - lo) / (hi - lo) * (Q - P);
    };
    const double v = (z - grid[i - 1]) / (grid[i] - grid[i - 1]);
    return rho(i - 1) + v * (rho(i) - rho(i - 1));
}

struct Reference {
    struct Chan {
        bool mid = false;
        double ms1 = 0, ms2 = 0, ma1 = 0, ma2 = 0, mb0 = 0, mk = 0;
        int bass = 0, treble = 0;
        RefSection sec[4];
    } ch[2];

    void Configure(const SimpleEqParams& p, double rate, bool reset) {
        Chan& c = ch[0];
        if (reset) c.ms1 = c.ms2 = 0;
        const double bg = p.bassGain / 10.0, tg = p.trebleGain / 10.0, mg = p.midGain / 10.0;
        c.bass = bg > 0 ? 1 : bg < 0 ? 2 : 0;
        double f = 300 / rate;
        if (bg > 0) {
            c.sec[0] = Resonator(f / 1.5, 0.7);
            c.sec[0].direct = 1;
            c.sec[0].filtered = std::pow(10.0, bg / 40) - 1;
        } else if (bg < 0) {
            c.sec[0] = Resonator(f < 500 / 44100.0 ? f / 2.2 : f / 3.3, 0.1);
            const double e = std::pow(10.0, bg / 40);
            c.sec[0].direct = bg <= -25 ? 0 : e;
            c.sec[0].filtered = bg <= -25 ? 1 : 1 - e;
        }
        c.sec[1] = c.sec[0];
        c.treble = tg > 0 ? 1 : tg < 0 ? 2 : 0;
        f = 500 / rate;
        if (tg != 0) {
            const double m = std::min(f, 0.49);
            const double fr = tg > 0 ? f : f < 0.125 ? 0.4 * std::max(f, 0.0004) : m * (0.4 + 1.6 * (m - 0.125));
            c.sec[2] = Resonator(fr, tg > 0 ? 0.7 : 0.3);
            c.sec[2].in = std::pow(10.0, Level(fr) / 20);
            c.sec[2].direct = 1;
            c.sec[2].filtered = tg <= -25 ? -1 : std::pow(10.0, tg / 40) - 1;
        }
        c.sec[3] = c.sec[2];
        c.mid = mg != 0;
        if (c.mid) {
            const double z = 0.4, fm = Clamp(400 / rate);
            const double fc = fm * Ratio(fm, z);
            c.mk = (std::pow(10.0, mg / 20) - 1) * ((fc > 0.001814 ? 0.85 : 0.65) + 0.9 * (1 - z));
            const double fcc = Clamp(fc);
            c.ma1 = 2 * std::exp(-kPi * fcc / z) * std::cos(2 * kPi * fcc);
            c.ma2 = std::exp(-2 * kPi * fcc / z);
            c.mb0 = std::cos(kPi * fcc) * std::sqrt(c.ma2 + 1 - c.ma1);
        }
        ch[1] = ch[0];
    }

    static double Tiny(double v) { return std::fabs(v) < std::ldexp(1.0, -32) ? 0 : v; }

    void Run(std::vector<double>& buf, int channels) {
        for (int n = 0; n < channels; ++n) {
            if (n >= 2) continue;  // never designed: passes through
            Chan& c = ch[n];
            for (size_t i = n; i < buf.size(); i += channels) {
                const double x = buf[i];
                double y = x;
                if (c.mid) {
                    const double w = c.mb0 * y + c.ma1 * c.ms1 - c.ma2 * c.ms2;
                    y = y + c.mk * (w - c.ms1);
                    c.ms2 = c.ms1;
                    c.ms1 = Tiny(w);
                }
                for (int s = 0; s < 2 && c.bass; ++s) {
                    RefSection& q = c.sec[s];
                    const double w = Tiny(q.b0 * y + q.a1 * q.s1 - q.a2 * q.s2);
                    q.s2 = q.s1;
                    q.s1 = w;
                    y = c.bass == 1 ? q.direct * y + q.filtered * w : q.direct * y + q.filtered * (y - w);
                }
                for (int s = 2; s < 4 && c.treble; ++s) {
                    RefSection& q = c.sec[s];
                    const double d = Tiny(q.in * y + q.a1 * q.s1 - q.a2 * q.s2);
                    y = q.direct * y + q.filtered * (d - 2 * q.s1 + q.s2);
                    q.s2 = q.s1;
                    q.s1 = d;
                }
                buf[i] = y * 1.0 + x * 0.0;
            }
        }
    }
};

}  // namespace

TEST(SimpleEq, ClampsTheRecordAndRejectsAWrongSize) {
    Block b;
    const WAVEFORMATEX fmt = FloatFormat(2, 32);
    SimpleEqParams p = Record(300, -300, 5);
    ASSERT_EQ(b->SetFormat(&fmt, &p, TRUE), S_OK);
    SimpleEqParams got{};
    ASSERT_EQ(b->GetFormat(nullptr, 0, &got, sizeof(got)), S_OK);
    EXPECT_EQ(got.cbSize, 16);
    EXPECT_EQ(got.midGain, 250);
    EXPECT_EQ(got.bassGain, -250);
    EXPECT_EQ(got.trebleGain, 5);

    p.cbSize = 40;
    EXPECT_EQ(b->SetFormat(&fmt, &p, FALSE), E_INVALIDARG);
    float s[2] = {0.5f, 0.5f};
    ULONG out = 9;
    EXPECT_EQ(b->ProcessFloat(s, 1, &out, 0), E_FAIL);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(s[1], 0.5f);
}

TEST(SimpleEq, AllGainsZeroPassesTheInputExactly) {
    Block b(2, 48000, Record(0, 0, 0));
    const std::vector<double> x = Noise(2 * 300, 3);
    EXPECT_EQ(b.Run(x, 2), x);
    std::vector<float> f(x.begin(), x.end());
    const std::vector<float> fin = f;
    ULONG out = 0;
    ASSERT_EQ(b->ProcessFloat(f.data(), 300, &out, 0), S_OK);
    EXPECT_EQ(f, fin);
}

TEST(SimpleEq, BassShelfGainAtZeroFrequency) {
    EXPECT_NEAR(SettledGain(Record(0, 250, 0), 44100, 1), std::pow(10.0, 25.0 / 20), 1e-9);
    EXPECT_NEAR(SettledGain(Record(0, -250, 0), 44100, 1), 0.0, 1e-12);
    EXPECT_NEAR(SettledGain(Record(0, -249, 0), 44100, 1), std::pow(10.0, -24.9 / 20), 1e-12);
    EXPECT_NEAR(SettledGain(Record(0, 120, 0), 22050, 1), std::pow(10.0, 12.0 / 20), 1e-9);

    const tw::EqShelves boost = tw::DesignShelves(Record(0, 250, 0), 44100);
    EXPECT_EQ(boost.bassKind, tw::kShelfBoost);
    EXPECT_EQ(boost.bassA.filtered, std::pow(10.0, 25.0 / 40) - 1);
    EXPECT_EQ(boost.bassB.direct, 1.0);
    const tw::EqShelves cut = tw::DesignShelves(Record(0, -249, 0), 44100);
    EXPECT_EQ(cut.bassKind, tw::kShelfCut);
    EXPECT_EQ(cut.bassA.direct, std::pow(10.0, -24.9 / 40));
    EXPECT_EQ(cut.bassB.filtered, 1 - std::pow(10.0, -24.9 / 40));
    const tw::EqShelves removed = tw::DesignShelves(Record(0, -250, 0), 44100);
    EXPECT_EQ(removed.bassB.direct, 0.0);
    EXPECT_EQ(removed.bassB.filtered, 1.0);

    // A cut designs at 300 / 2.2 Hz at 44100 Hz, at 300 / 3.3 Hz at 22050 Hz.
    EXPECT_DOUBLE_EQ(cut.bassA.a2, std::exp(-2 * kPi * (300 / 2.2 / 44100) / 0.1));
    const tw::EqShelves cut22 = tw::DesignShelves(Record(0, -100, 0), 22050);
    EXPECT_DOUBLE_EQ(cut22.bassA.a2, std::exp(-2 * kPi * (300 / 3.3 / 22050) / 0.1));
    EXPECT_EQ(tw::DesignShelves(Record(0, 0, 0), 44100).bassKind, tw::kShelfOff);
}

TEST(SimpleEq, TrebleShelfLevelsAndResponse) {
    const double step = 1000.0 / 44100;
    EXPECT_DOUBLE_EQ(tw::TrebleLevelDb(5 * step), -5.0);
    EXPECT_DOUBLE_EQ(tw::TrebleLevelDb(5.5 * step), -5.0);
    EXPECT_DOUBLE_EQ(tw::TrebleLevelDb(7.5 * step), -6.5);
    EXPECT_NEAR(tw::TrebleLevelDb(0.49), -13.0 - (0.49 - 15 * step) / step, 1e-12);  // last segment extended
    EXPECT_NEAR(tw::TrebleLevelDb(0.0), -0.0003 / step, 1e-12);                      // clamped to 0.0003

    const tw::EqShelves removed = tw::DesignShelves(Record(0, 0, -250), 44100);
    EXPECT_EQ(removed.trebleKind, tw::kShelfCut);
    EXPECT_EQ(removed.trebleC.filtered, -1.0);
    EXPECT_EQ(removed.trebleD.filtered, -1.0);
    const tw::EqShelves boost = tw::DesignShelves(Record(0, 0, 120), 44100);
    EXPECT_DOUBLE_EQ(boost.trebleC.inGain, std::pow(10.0, -0.5 / 20));  // 500 Hz lies halfway to 1 kHz
    EXPECT_EQ(boost.trebleD.direct, 1.0);
    EXPECT_EQ(removed.trebleC.direct, 1.0);

    // The filtered path vanishes at zero frequency and nears unity at the top.
    EXPECT_NEAR(SettledGain(Record(0, 0, 120), 44100, 1), 1.0, 1e-9);
    EXPECT_NEAR(20 * std::log10(SettledGain(Record(0, 0, 120), 44100, -1)), 12.0, 0.1);
    EXPECT_LT(SettledGain(Record(0, 0, -250), 44100, -1), 0.01);
}

TEST(SimpleEq, MidBandCorrectedFrequency) {
    EXPECT_NEAR(tw::MidFrequencyRatio(400.0 / 44100, 0.4), 0.70111, 5e-6);
    EXPECT_EQ(tw::MidFrequencyRatio(400.0 / 44100, 0.0), 1.0);   // first bandwidth row
    EXPECT_EQ(tw::MidFrequencyRatio(0.00003, 0.4), 1.0);         // below the first measured column
    const struct {
        DWORD rate;
        double hz, tolerance;
    } cases[] = {{8000, 261.1, 0.05}, {22050, 275.4, 0.05}, {44100, 280.44, 0.005}, {48000, 280.85, 0.005}, {96000, 283.2, 0.05}};
    for (const auto& c : cases) {
        const double f = 400.0 / c.rate;
        EXPECT_NEAR(f * tw::MidFrequencyRatio(f, 0.4) * c.rate, c.hz, c.tolerance) << c.rate;
    }

    tw::EqMid mid{};
    mid.s1 = 0.25;
    tw::DesignMid(100, 44100, &mid);
    EXPECT_EQ(mid.active, 1);
    EXPECT_DOUBLE_EQ(mid.k, (std::pow(10.0, 0.5) - 1) * 1.39);
    const double fc = 0.0063593;
    EXPECT_NEAR(mid.a2, std::exp(-2 * kPi * fc / 0.4), 1e-6);
    EXPECT_EQ(mid.s1, 0.25);  // designs keep the memories
    tw::DesignMid(0, 44100, &mid);
    EXPECT_EQ(mid.active, 0);
}

TEST(SimpleEq, MatchesThePlainReference) {
    const struct {
        DWORD rate;
        SimpleEqParams p;
    } settings[] = {
        {44100, Record(100, 250, 120)},  {44100, Record(-130, -249, -60)}, {48000, Record(250, -250, -250)},
        {8000, Record(-250, 60, 250)},   {2000, Record(40, -80, -120)},    {96000, Record(-7, 0, 33)},
    };
    for (const auto& s : settings) {
        Block b(2, s.rate, s.p);
        Reference ref;
        ref.Configure(s.p, s.rate, true);
        uint32_t seed = s.rate;
        for (size_t frames : {1u, 300u, 77u}) {
            std::vector<double> want = Noise(2 * frames, ++seed);
            const std::vector<double> got = b.Run(want, 2);
            ref.Run(want, 2);
            EXPECT_EQ(got, want) << s.rate << " " << s.p.midGain << " " << s.p.bassGain << " " << s.p.trebleGain;
        }
        // A redesign without reset: shelves restart, mid memories stay and reach the second channel.
        const SimpleEqParams next = Record(s.p.midGain / 2 + 1, s.p.bassGain, -s.p.trebleGain);
        ASSERT_EQ(b->SetFormat(nullptr, &next, FALSE), S_OK);
        ref.Configure(next, s.rate, false);
        std::vector<double> src = Noise(2 * 200, 5);
        std::vector<float> f(src.begin(), src.end());
        std::vector<double> want(f.begin(), f.end());
        ULONG out = 0;
        ASSERT_EQ(b->ProcessFloat(f.data(), 200, &out, 0), S_OK);
        ref.Run(want, 2);
        for (size_t i = 0; i < f.size(); ++i) ASSERT_EQ(f[i], static_cast<float>(want[i])) << s.rate << " " << i;
    }
}

TEST(SimpleEq, ChannelsAndResets) {
    // Four channels: the last two are never designed and pass through.
    Block quad(4, 44100, Record(80, 120, -90));
    const std::vector<double> x4 = Noise(4 * 128, 8);
    const std::vector<double> y4 = quad.Run(x4, 4);
    for (size_t i = 0; i < x4.size(); ++i) {
        if (i % 4 < 2)
            EXPECT_NE(y4[i], x4[i]) << i;
        else
            EXPECT_EQ(y4[i], x4[i]) << i;
    }

    // Mono uses the first channel's records: it matches the left side of stereo.
    const SimpleEqParams p = Record(-90, 0, 0);
    Block mono(1, 44100, p), stereo(2, 44100, p);
    const std::vector<double> a = Noise(256, 1), b = Noise(256, 2), c = Noise(256, 4);
    std::vector<double> ab(512);
    for (size_t i = 0; i < 256; ++i) ab[2 * i] = a[i], ab[2 * i + 1] = b[i];
    const std::vector<double> yab = stereo.Run(ab, 2), ya = mono.Run(a, 1);
    for (size_t i = 0; i < 256; ++i) ASSERT_EQ(yab[2 * i], ya[i]);

    // Without reset the mid memories survive and the second channel takes the first's.
    ASSERT_EQ(stereo->SetFormat(nullptr, &p, FALSE), S_OK);
    ASSERT_EQ(mono->SetFormat(nullptr, &p, FALSE), S_OK);
    std::vector<double> cc(512);
    for (size_t i = 0; i < 512; ++i) cc[i] = c[i / 2];
    const std::vector<double> ycc = stereo.Run(cc, 2), yc = mono.Run(c, 1);
    Block untouched(1, 44100, p);
    untouched.Run(a, 1);
    EXPECT_EQ(untouched.Run(c, 1), yc);
    for (size_t i = 0; i < 256; ++i) ASSERT_EQ(ycc[2 * i], ycc[2 * i + 1]) << i;

    // A reset, asked for or forced by a new format, starts the mid band from silence.
    Block fresh(1, 44100, p), fresh48(1, 48000, p);
    ASSERT_EQ(mono->SetFormat(nullptr, &p, TRUE), S_OK);
    EXPECT_EQ(mono.Run(b, 1), fresh.Run(b, 1));
    const WAVEFORMATEX f48 = FloatFormat(1, 64, 48000);
    ASSERT_EQ(mono->SetFormat(&f48, nullptr, FALSE), S_OK);
    EXPECT_EQ(mono.Run(a, 1), fresh48.Run(a, 1));

    // Any design restarts the shelves from zero memories.
    const SimpleEqParams shelves = Record(0, 200, 150);
    Block redesigned(1, 44100, shelves), restarted(1, 44100, shelves);
    redesigned.Run(a, 1);
    ASSERT_EQ(redesigned->SetFormat(nullptr, nullptr, FALSE), S_OK);
    EXPECT_EQ(redesigned.Run(c, 1), restarted.Run(c, 1));
}

TEST(SimpleEq, TinyMemoriesFlushToZero) {
    for (const SimpleEqParams& p : {Record(100, 250, 120), Record(-100, -120, -250)}) {
        Block b(1, 44100, p);
        Reference ref;
        ref.Configure(p, 44100, true);
        std::vector<double> x(30000, 0.0);
        x[0] = 1.0;
        const std::vector<double> y = b.Run(x, 1);
        EXPECT_EQ(y.back(), 0.0);  // unflushed, the decay would still be near 1e-175 here
        ref.Run(x, 1);
        EXPECT_EQ(y, x);  // the whole decay, flushes included, at the very threshold
    }
}


TEST(SimpleEq, ProcessEntriesAllocateNothing) {
    Block b;
    const WAVEFORMATEX fmt = FloatFormat(16, 32);
    const SimpleEqParams p = Record(60, -70, 80);
    ASSERT_EQ(b->SetFormat(&fmt, &p, TRUE), S_OK);
    std::vector<float> f(16 * 4096, 0.25f);
    std::vector<double> d(16 * 4096, -0.25);
    ULONG out = 0;
    HRESULT hf, hd;
    int allocations;
    {
        testing_support::AllocationCounter counter;
        hf = b->ProcessFloat(f.data(), 4096, &out, 0);
        hd = b->ProcessDouble(d.data(), 4096, &out, 0);
        allocations = counter.count();
    }
    EXPECT_EQ(hf, S_OK);
    EXPECT_EQ(hd, S_OK);
    EXPECT_EQ(allocations, 0);
    EXPECT_NE(f[0], 0.25f);
}

// Stereo runs both channels at once; each must still come out as a mono block fed with that
// channel alone, bit for bit, down to the flushes at the end of a decay.
TEST(SimpleEq, StereoChannelsMatchMonoBlocksThroughTheFlush) {
    for (const SimpleEqParams& p : {Record(100, 250, 120), Record(-100, -120, -250), Record(0, -250, 0)}) {
        Block stereo(2, 44100, p), left(1, 44100, p), right(1, 44100, p);
        std::vector<double> l(30000, 0.0), r = Noise(30000, 9);
        l[0] = 1.0;
        for (size_t i = 200; i < r.size(); ++i) r[i] = 0.0;  // a burst, then the decay of each channel
        std::vector<double> lr(2 * l.size());
        for (size_t i = 0; i < l.size(); ++i) lr[2 * i] = l[i], lr[2 * i + 1] = r[i];
        const std::vector<double> y = stereo.Run(lr, 2), yl = left.Run(l, 1), yr = right.Run(r, 1);
        EXPECT_EQ(yl.back(), 0.0);
        EXPECT_EQ(yr.back(), 0.0);
        for (size_t i = 0; i < l.size(); ++i) {
            ASSERT_EQ(y[2 * i], yl[i]) << p.midGain << " left " << i;
            ASSERT_EQ(y[2 * i + 1], yr[i]) << p.midGain << " right " << i;
        }
    }
}
