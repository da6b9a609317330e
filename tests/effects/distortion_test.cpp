// The distortion block: its coefficients, its shaping curve and whole outputs against a plain
// reference written from the block's definition.
#include "effects/distortion.h"

#include "effects/block_base.h"

#include "tests/support/alloc_counter.h"

#include "tests/support/wave_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

WAVEFORMATEX FloatFormat(WORD channels, WORD bits, DWORD rate = 44100) {
    return testing_support::MakeWaveFormat(WAVE_FORMAT_IEEE_FLOAT, channels, rate, bits);
}

DistortionParams Record(int drive, int slewPercent, int hardClip, double dry = 0.5, double wet = 0.5) {
    DistortionParams p{};
    p.cbSize = sizeof(p);
    p.dryGain = dry;
    p.wetGain = wet;
    p.drive = drive;
    p.slewPercent = slewPercent;
    p.hardClip = hardClip;
    return p;
}

struct Block {
    ITwAudioDistortion* b = nullptr;
    Block() { EXPECT_EQ(CreateAudioDistortion(&b), S_OK); }
    ~Block() { b->Release(); }
    ITwAudioDistortion* operator->() const { return b; }
};

// Full-scale noise with every fifth sample pulled close to zero, where the hard ramp lives.
std::vector<double> Noise(size_t n, uint32_t seed) {
    std::vector<double> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double u = (seed >> 8) / 16777216.0 * 2.4 - 1.2;
        v[i] = i % 5 == 0 ? u * 0.008 : u;
    }
    return v;
}

// The block's definition, followed step by step with no attention to speed.
struct Reference {
    std::vector<std::vector<double>> comb = std::vector<std::vector<double>>(16, std::vector<double>(500, 0.0));
    std::vector<int> pos = std::vector<int>(16, 0);
    std::vector<double> last = std::vector<double>(16, 0.0);

    void Run(std::vector<double>& buf, int channels, const DistortionParams& p) {
        const double slew = p.slewPercent == 100 ? 0.99 : p.slewPercent / 100.0;
        const int lag = p.slewPercent / 2;
        const double d = p.drive;
        double slope, thr, makeUp = 1.0;
        if (p.hardClip) {
            slope = 1 - (d / 1000) * 0.95;
            thr = 0.5 * slope + 0.5;
        } else {
            const double e = d > 0 ? std::log10(d) / 3 : 0;
            slope = thr = 1 - 0.98 * e;
            makeUp = 1 / (thr + (1 - thr) * thr);
        }
        if (slope == 1.0) return;
        const double m = 1 - 0.9 * slew, w = (1 - slew) * 0.01;
        for (int ch = 0; ch < channels; ++ch) {
            for (size_t i = ch; i < buf.size(); i += channels) {
                const double x = buf[i];
                double y = x;
                if (x > thr || (p.hardClip && x > 0)) {
                    y = thr + (x - thr) * slope;
                    if (x < w) y = y * x / 0.01;
                } else if (x < -thr || (p.hardClip && x < 0)) {
                    y = (x + thr) * slope - thr;
                    if (x > -w) y = y * (-x) / 0.01;
                }
                const double v = y * makeUp;
                comb[ch][pos[ch]] = v;
                double o = (v + comb[ch][(pos[ch] - lag + 500) % 500]) * 0.5;
                pos[ch] = (pos[ch] + 1) % 500;
                if (o - last[ch] > m) o = last[ch] + m;
                else if (o - last[ch] < -m) o = last[ch] - m;
                last[ch] = o;
                buf[i] = x * p.dryGain + o * p.wetGain;
            }
        }
    }
};

double One(ITwAudioDistortion* b, double x) {
    ULONG out = 0;
    EXPECT_EQ(b->ProcessDouble(&x, 1, &out, 0), S_OK);
    EXPECT_EQ(out, 1u);
    return x;
}

}  // namespace

TEST(Distortion, CoefficientsAtTheControllersDrive) {
    const tw::DistortionCoefficients soft = tw::DesignDistortion(Record(750, 35, 0));
    EXPECT_NEAR(soft.slope, 0.0608133, 5e-8);
    EXPECT_EQ(soft.threshold, soft.slope);
    EXPECT_NEAR(soft.makeUp, 8.47972, 5e-6);
    // A full-scale input leaves the soft curve at 1.0.
    EXPECT_NEAR((soft.threshold + (1.0 - soft.threshold) * soft.slope) * soft.makeUp, 1.0, 1e-15);
    EXPECT_EQ(soft.lag, 17);
    EXPECT_DOUBLE_EQ(soft.slew, 0.35);

    const tw::DistortionCoefficients hard = tw::DesignDistortion(Record(750, 100, 1));
    EXPECT_DOUBLE_EQ(hard.slope, 0.2875);
    EXPECT_DOUBLE_EQ(hard.threshold, 0.64375);
    EXPECT_EQ(hard.makeUp, 1.0);
    EXPECT_EQ(hard.slew, 0.99);
    EXPECT_DOUBLE_EQ(hard.stepLimit, 0.109);
    EXPECT_EQ(hard.lag, 50);

    const tw::DistortionCoefficients still = tw::DesignDistortion(Record(1000, 0, 0));
    EXPECT_EQ(still.stepLimit, 1.0);
    EXPECT_EQ(still.rampWidth, 0.01);
    EXPECT_EQ(still.lag, 0);
    EXPECT_NEAR(still.threshold, 0.02, 1e-15);
    EXPECT_EQ(tw::DesignDistortion(Record(0, 0, 0)).slope, 1.0);
    EXPECT_EQ(tw::DesignDistortion(Record(0, 0, 1)).slope, 1.0);
}

TEST(Distortion, DriveZeroLeavesBufferAndStateUntouched) {
    const std::vector<double> in = Noise(1200, 7);
    for (int hard = 0; hard <= 1; ++hard) {
        Block b, fresh;
        const WAVEFORMATEX fmt = FloatFormat(2, 64);
        ASSERT_EQ(b->SetFormat(&fmt, nullptr, FALSE), E_INVALIDARG);  // nothing stored yet
        const DistortionParams zero = Record(0, 35, hard, 3.0, 2.0);
        ASSERT_EQ(b->SetFormat(&fmt, &zero, TRUE), S_OK);
        std::vector<double> d = in;
        ULONG out = 0;
        ASSERT_EQ(b->ProcessDouble(d.data(), 600, &out, 0), S_OK);
        EXPECT_EQ(out, 600u);
        EXPECT_EQ(d, in);
        std::vector<float> f(in.begin(), in.end());
        const std::vector<float> fin = f;
        ASSERT_EQ(b->ProcessFloat(f.data(), 600, &out, 0), S_OK);
        EXPECT_EQ(f, fin);

        // The combs and limiters did not move: the block now matches a fresh one.
        const DistortionParams on = Record(750, 35, hard);
        ASSERT_EQ(b->SetFormat(nullptr, &on, FALSE), S_OK);
        ASSERT_EQ(fresh->SetFormat(&fmt, &on, FALSE), S_OK);
        std::vector<double> x = in, y = in;
        ASSERT_EQ(b->ProcessDouble(x.data(), 600, &out, 0), S_OK);
        ASSERT_EQ(fresh->ProcessDouble(y.data(), 600, &out, 0), S_OK);
        EXPECT_EQ(x, y);
        EXPECT_NE(x, in);
    }
}

TEST(Distortion, HardClipRampAndSoftMakeUp) {
    const WAVEFORMATEX mono = FloatFormat(1, 64);
    const double T = 0.64375, k = 0.2875;
    const DistortionParams hard = Record(750, 0, 1, 0.0, 1.0);
    {
        Block b;
        ASSERT_EQ(b->SetFormat(&mono, &hard, TRUE), S_OK);
        EXPECT_DOUBLE_EQ(One(b.b, 0.5), T + (0.5 - T) * k);
    }
    {
        Block b;
        ASSERT_EQ(b->SetFormat(&mono, &hard, TRUE), S_OK);
        const double up = One(b.b, 0.001);
        EXPECT_DOUBLE_EQ(up, (T + (0.001 - T) * k) * 0.1);
        EXPECT_EQ(One(b.b, -0.001), -up);  // odd symmetry, bit for bit
        EXPECT_EQ(One(b.b, 0.0), 0.0);
    }
    {
        // At slew 50 % the ramp narrows to 0.005: 0.006 lies on the plain clipping curve.
        Block b;
        const DistortionParams half = Record(750, 50, 1, 0.0, 1.0);
        ASSERT_EQ(b->SetFormat(&mono, &half, TRUE), S_OK);
        const double y = One(b.b, 0.006);  // the comb averages with an empty slot 25 back
        EXPECT_DOUBLE_EQ(y, (T + (0.006 - T) * k) * 0.5);
    }
    {
        // Below the soft threshold the shaper passes the sample, the make-up gain still applies.
        Block b;
        const DistortionParams soft = Record(750, 0, 0, 0.25, 1.0);
        ASSERT_EQ(b->SetFormat(&mono, &soft, TRUE), S_OK);
        const double makeUp = tw::DesignDistortion(soft).makeUp;
        EXPECT_EQ(One(b.b, 0.05), 0.05 * 0.25 + 0.05 * makeUp);
        EXPECT_EQ(One(b.b, -0.06), -0.06 * 0.25 + -0.06 * makeUp);
    }
}

TEST(Distortion, SlewLimitsTheStepPerSample) {
    Block b;
    const WAVEFORMATEX mono = FloatFormat(1, 64);
    const DistortionParams p = Record(750, 100, 0, 0.0, 1.0);
    ASSERT_EQ(b->SetFormat(&mono, &p, TRUE), S_OK);
    std::vector<double> x(60, 1.0);
    ULONG out = 0;
    ASSERT_EQ(b->ProcessDouble(x.data(), 60, &out, 0), S_OK);
    // A full-scale step shapes to 1.0; the comb halves it until the slot 50 back fills.
    for (int i = 0; i < 50; ++i) EXPECT_NEAR(x[i], std::min((i + 1) * 0.109, 0.5), 1e-12) << i;
    EXPECT_NEAR(x[50], 0.609, 1e-12);
    EXPECT_NEAR(x[51], 0.718, 1e-12);
}

TEST(Distortion, MatchesThePlainReferenceAcrossBuffersAndFormats) {
    for (int hard = 0; hard <= 1; ++hard) {
        Block b;
        Reference ref;
        DistortionParams p = Record(750, 35, hard, 0.5, 0.5);
        WAVEFORMATEX fmt = FloatFormat(2, 64);
        ASSERT_EQ(b->SetFormat(&fmt, &p, TRUE), S_OK);
        uint32_t seed = 11;
        ULONG out = 0;
        const auto runDouble = [&](ULONG frames, int channels) {
            std::vector<double> x = Noise(frames * channels, ++seed), want = x;
            ASSERT_EQ(b->ProcessDouble(x.data(), frames, &out, 0), S_OK);
            ref.Run(want, channels, p);
            EXPECT_EQ(x, want) << "hard " << hard << " frames " << frames << " channels " << channels;
        };
        for (ULONG frames : {1u, 257u, 731u}) runDouble(frames, 2);  // the comb wraps

        // A reset and a new slew leave the combs alone; mono goes on with the first channel.
        p = Record(900, 100, hard, 1.5, 0.75);
        fmt = FloatFormat(1, 64);
        ASSERT_EQ(b->SetFormat(&fmt, &p, TRUE), S_OK);
        runDouble(640, 1);

        // Float buffers: widened per sample, processed in double, rounded back once.
        p = Record(400, 13, hard, 0.5, 0.5);
        fmt = FloatFormat(3, 32);
        ASSERT_EQ(b->SetFormat(&fmt, &p, FALSE), S_OK);
        std::vector<double> src = Noise(3 * 512, 99);
        std::vector<float> f(src.begin(), src.end());
        std::vector<double> want(f.begin(), f.end());
        ASSERT_EQ(b->ProcessFloat(f.data(), 512, &out, 0), S_OK);
        ref.Run(want, 3, p);
        for (size_t i = 0; i < f.size(); ++i) ASSERT_EQ(f[i], static_cast<float>(want[i])) << i;
    }
}

TEST(Distortion, ClampsTheRecordAndRejectsAWrongSize) {
    Block b;
    const WAVEFORMATEX fmt = FloatFormat(2, 32);
    DistortionParams p = Record(2000, 250, 7, -1.0, 9.0);
    ASSERT_EQ(b->SetFormat(&fmt, &p, TRUE), S_OK);
    DistortionParams got{};
    ASSERT_EQ(b->GetFormat(nullptr, 0, &got, sizeof(got)), S_OK);
    EXPECT_EQ(got.cbSize, 40);
    EXPECT_EQ(got.drive, 1000);
    EXPECT_EQ(got.slewPercent, 100);
    EXPECT_EQ(got.hardClip, 1);
    EXPECT_EQ(got.dryGain, 0.0);
    EXPECT_EQ(got.wetGain, 4.0);

    p = Record(-3, -1, -1, std::nan(""), 2.5);
    ASSERT_EQ(b->SetFormat(nullptr, &p, FALSE), S_OK);
    ASSERT_EQ(b->GetFormat(nullptr, 0, &got, sizeof(got)), S_OK);
    EXPECT_EQ(got.drive, 0);
    EXPECT_EQ(got.slewPercent, 0);
    EXPECT_EQ(got.hardClip, 0);
    EXPECT_EQ(got.dryGain, 0.0);
    EXPECT_EQ(got.wetGain, 2.5);

    p.cbSize = 16;
    EXPECT_EQ(b->SetFormat(&fmt, &p, FALSE), E_INVALIDARG);
    float s[2] = {0.5f, 0.5f};
    ULONG out = 9;
    EXPECT_EQ(b->ProcessFloat(s, 1, &out, 0), E_FAIL);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(s[0], 0.5f);
    EXPECT_EQ(b->SetFormat(&fmt, nullptr, FALSE), S_OK);  // the stored record still stands
    EXPECT_EQ(b->ProcessFloat(s, 1, &out, 0), S_OK);
}


TEST(Distortion, ProcessEntriesAllocateNothing) {
    Block b;
    const WAVEFORMATEX fmt = FloatFormat(16, 32);
    const DistortionParams p = Record(750, 35, 1);
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

// Stereo shapes both channels at once; each must come out as a mono block fed with that channel
// alone, bit for bit, also for zeros of either sign and for inputs on the thresholds and ramp edges.
TEST(Distortion, StereoChannelsMatchMonoBlocksAtTheEdgesOfTheCurve) {
    // Drive 2 gives the steepest slope short of 1, 750 the controller's, 1000 the flattest.
    for (const DistortionParams& p : {Record(2, 0, 0), Record(750, 35, 0), Record(1000, 100, 0), Record(2, 100, 1),
                                      Record(750, 0, 1), Record(1000, 35, 1)}) {
        SCOPED_TRACE(testing::Message() << "drive " << p.drive << " slew " << p.slewPercent << " hard " << p.hardClip);
        const tw::DistortionCoefficients c = tw::DesignDistortion(p);
        std::vector<double> edges = {0.0, -0.0, 1.0, -1.0, 3.5, -3.5, 1e-300, -1e-300};
        for (double e : {c.threshold, c.rampWidth}) {
            for (double v : {e, std::nextafter(e, 0.0), std::nextafter(e, 1.0)}) {
                edges.push_back(v);
                edges.push_back(-v);
            }
        }
        for (int k = -40; k <= 4; ++k) {  // eight steps a decade from 1e-5 to 3.2
            edges.push_back(std::pow(10.0, k / 8.0));
            edges.push_back(-std::pow(10.0, k / 8.0));
        }
        std::vector<double> l = Noise(600, 3 + p.drive), r = Noise(600, 4 + p.drive);
        ASSERT_LE(5 * edges.size(), l.size());
        for (size_t i = 0; i < edges.size(); ++i) {
            l[5 * i] = edges[i];
            r[5 * i + 2] = edges[i];
            r[5 * i + 3] = -edges[i];
        }
        std::vector<double> lr(2 * l.size());
        for (size_t i = 0; i < l.size(); ++i) lr[2 * i] = l[i], lr[2 * i + 1] = r[i];
        Block stereo, left, right;
        const WAVEFORMATEX f2 = FloatFormat(2, 64), f1 = FloatFormat(1, 64);
        ASSERT_EQ(stereo->SetFormat(&f2, &p, TRUE), S_OK);
        ASSERT_EQ(left->SetFormat(&f1, &p, TRUE), S_OK);
        ASSERT_EQ(right->SetFormat(&f1, &p, TRUE), S_OK);
        ULONG out = 0;
        ASSERT_EQ(stereo->ProcessDouble(lr.data(), 600, &out, 0), S_OK);
        ASSERT_EQ(left->ProcessDouble(l.data(), 600, &out, 0), S_OK);
        ASSERT_EQ(right->ProcessDouble(r.data(), 600, &out, 0), S_OK);
        for (size_t i = 0; i < l.size(); ++i) {
            ASSERT_EQ(std::signbit(lr[2 * i]), std::signbit(l[i])) << "left " << i;
            ASSERT_EQ(lr[2 * i], l[i]) << "left " << i;
            ASSERT_EQ(std::signbit(lr[2 * i + 1]), std::signbit(r[i])) << "right " << i;
            ASSERT_EQ(lr[2 * i + 1], r[i]) << "right " << i;
        }
    }
}
