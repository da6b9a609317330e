// The feedback delay block: echo timing, tails and their countdown, window moves, flushing.
#include "effects/audio_blocks.h"

#include "tests/support/wave_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr double kFloor = 1.0 / 4294967296.0;  // 2^-32

WAVEFORMATEX Format(WORD tag, WORD channels, DWORD rate, WORD bits) {
    return testing_support::MakeWaveFormat(tag, channels, rate, bits);
}
WAVEFORMATEX FloatFormat(WORD channels, DWORD rate) { return Format(WAVE_FORMAT_IEEE_FLOAT, channels, rate, 32); }
WAVEFORMATEX DoubleFormat(WORD channels, DWORD rate) { return Format(WAVE_FORMAT_IEEE_FLOAT, channels, rate, 64); }

DelayParams Record(int32_t delayTime, int32_t decay, double dry, double wet) {
    DelayParams p{};
    p.cbSize = sizeof(p);
    p.dryGain = dry;
    p.wetGain = wet;
    p.delayTime = delayTime;
    p.decay = decay;
    return p;
}

// Owns one block for the length of a test.
struct Delay {
    Delay() { EXPECT_EQ(CreateAudioDelay(&block), S_OK); }
    ~Delay() {
        if (block) {
            EXPECT_EQ(block->Release(), 0u);
        }
    }
    ITwAudioDelay* operator->() const { return block; }
    ITwAudioDelay* block = nullptr;
};

HRESULT Feed(ITwAudioDelay* b, std::vector<double>& buf, WORD channels, ULONG* out = nullptr, DWORD flags = 0) {
    ULONG done = 0;
    const HRESULT hr = b->ProcessDouble(buf.data(), static_cast<ULONG>(buf.size() / channels), &done, flags);
    if (out) *out = done;
    return hr;
}
HRESULT Feed(ITwAudioDelay* b, std::vector<float>& buf, WORD channels, ULONG* out = nullptr, DWORD flags = 0) {
    ULONG done = 0;
    const HRESULT hr = b->ProcessFloat(buf.data(), static_cast<ULONG>(buf.size() / channels), &done, flags);
    if (out) *out = done;
    return hr;
}

// Runs a whole interleaved buffer through in uneven calls, so calls end inside a window pass.
template <class T>
void RunInPieces(ITwAudioDelay* b, std::vector<T>& buf, WORD channels) {
    static const ULONG kPieces[] = {1, 37, 221, 222, 223, 500, 4096};
    const size_t frames = buf.size() / channels;
    size_t at = 0;
    for (size_t k = 0; at < frames; ++k) {
        ULONG n = kPieces[k % (sizeof(kPieces) / sizeof(kPieces[0]))];
        if (n > frames - at) n = static_cast<ULONG>(frames - at);
        ULONG done = 0;
        const HRESULT hr = [&] {
            if constexpr (sizeof(T) == sizeof(double))
                return b->ProcessDouble(reinterpret_cast<double*>(buf.data() + at * channels), n, &done, 0);
            else
                return b->ProcessFloat(reinterpret_cast<float*>(buf.data() + at * channels), n, &done, 0);
        }();
        ASSERT_EQ(hr, S_OK);
        ASSERT_EQ(done, n);
        at += n;
    }
}

// A plain model of one channel: the echo heard at sample t is what was written `period` samples
// before, and what is written is the input plus the echo times the feedback.
std::vector<double> ReferenceChannel(const std::vector<double>& x, size_t period, double g, double dry, double wet) {
    std::vector<double> written(x.size()), y(x.size());
    for (size_t t = 0; t < x.size(); ++t) {
        const double echo = t >= period ? written[t - period] : 0.0;
        written[t] = x[t] + g * echo;
        y[t] = dry * x[t] + wet * echo;
        if (std::fabs(y[t]) < kFloor) y[t] = 0.0;
    }
    return y;
}

// The impulse of each channel, a short burst on the second, silence elsewhere.
std::vector<double> TestSignal(WORD channels, size_t frames) {
    std::vector<double> x(frames * channels, 0.0);
    x[0] = 1.0;
    if (channels > 1) {
        x[5 * channels + 1] = -0.75;
        x[6 * channels + 1] = 0.375;
        x[7 * channels + 1] = 0.1;
    }
    return x;
}

template <class T>
void ExpectMatchesReference(WORD channels, size_t period, int32_t delayTime, int32_t decay, double dry, double wet,
                            DWORD rate) {
    const size_t frames = period * 9 + 17;  // eight echoes of each impulse
    const std::vector<double> x = TestSignal(channels, frames);
    Delay d;
    const WAVEFORMATEX f = sizeof(T) == sizeof(double) ? DoubleFormat(channels, rate) : FloatFormat(channels, rate);
    const DelayParams r = Record(delayTime, decay, dry, wet);
    ASSERT_EQ(d->SetFormat(&f, &r, TRUE), S_OK);
    std::vector<T> buf(x.begin(), x.end());
    RunInPieces(d.block, buf, channels);
    for (WORD c = 0; c < channels; ++c) {
        std::vector<double> xc(frames);
        for (size_t t = 0; t < frames; ++t) xc[t] = static_cast<T>(x[t * channels + c]);
        const std::vector<double> y = ReferenceChannel(xc, period, decay / 1000.0, dry, wet);
        for (size_t t = 0; t < frames; ++t)
            ASSERT_DOUBLE_EQ(buf[t * channels + c], static_cast<T>(y[t])) << "channel " << c << " sample " << t;
    }
    // The reference really holds several echoes.
    EXPECT_NE(buf[channels * period * 4], 0.0);
}

std::vector<size_t> g_allocs;
bool RecordAlloc(size_t bytes) {
    g_allocs.push_back(bytes);
    return true;
}
int g_allowedAllocs = 0;
bool FailAfterAllowed(size_t) { return g_allowedAllocs-- > 0; }

}  // namespace

TEST(Delay, FactoryVersionAndFreshBlock) {
    EXPECT_EQ(CreateAudioDelay(nullptr), E_POINTER);
    tw::SetZeroAllocHook([](size_t) { return false; });
    ITwAudioDelay* none = reinterpret_cast<ITwAudioDelay*>(&g_allocs);
    EXPECT_EQ(CreateAudioDelay(&none), E_OUTOFMEMORY);
    tw::SetZeroAllocHook(nullptr);
    EXPECT_EQ(none, nullptr);

    Delay d;
    EXPECT_EQ(d->GetVersion(), 0x01000001u);
    void* ppv = &ppv;
    EXPECT_EQ(d->QueryInterface(IID_ITwAudioDelay, &ppv), E_NOTIMPL);
    std::vector<double> buf = {0.5, 0.25};
    ULONG out = 9;
    EXPECT_EQ(Feed(d.block, buf, 1, &out), E_FAIL);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(buf[0], 0.5);
}

TEST(Delay, ShortestDelayGivesEchoPeriodOfThree) {
    Delay d;
    const WAVEFORMATEX f = DoubleFormat(1, 44100);
    const DelayParams r = Record(0, 500, 0.0, 1.0);
    ASSERT_EQ(d->SetFormat(&f, &r, FALSE), S_OK);
    std::vector<double> buf(12, 0.0);
    buf[0] = 1.0;
    ASSERT_EQ(Feed(d.block, buf, 1), S_OK);
    const std::vector<double> expected = {0, 0, 0, 1.0, 0, 0, 0.5, 0, 0, 0.25, 0, 0};
    EXPECT_EQ(buf, expected);
}

TEST(Delay, FirstEchoOf500msAt44100ComesAfter22051Samples) {
    Delay d;
    const WAVEFORMATEX f = FloatFormat(1, 44100);
    const DelayParams r = Record(5000, 0, 1.0, 0.5);
    ASSERT_EQ(d->SetFormat(&f, &r, TRUE), S_OK);
    std::vector<float> buf(22051 * 2 + 10, 0.0f);
    buf[0] = 1.0f;
    RunInPieces(d.block, buf, 1);
    for (size_t t = 0; t < buf.size(); ++t) {
        const float expected = t == 0 ? 1.0f : (t == 22051 ? 0.5f : 0.0f);  // decay 0: one echo only
        ASSERT_EQ(buf[t], expected) << "sample " << t;
    }
}

TEST(Delay, EchoTrainMatchesPlainModel) {
    // 5 ms at 44100 Hz: D = 220.5 rounded half up to 221, an echo period of 222 samples.
    ExpectMatchesReference<double>(1, 222, 50, 500, 0.75, 0.5, 44100);
    ExpectMatchesReference<float>(1, 222, 50, 900, 1.0, 0.8, 44100);
    ExpectMatchesReference<double>(2, 222, 50, 900, 0.3, 1.7, 44100);
    ExpectMatchesReference<float>(2, 222, 50, 250, 0.5, 0.5, 44100);
    // 10 ms at 48000 Hz: D = 480.
    ExpectMatchesReference<double>(2, 481, 100, 750, 1.0, 1.0, 48000);
}

TEST(Delay, LongestDelayFitsItsLineAtLowRates) {
    // At 2000 Hz a line has 4500 slots and 2.25 s rounds to D = 4500: bounded to 4499 so that the
    // window of D + 1 slots is the whole line.
    g_allocs.clear();
    tw::SetZeroAllocHook(RecordAlloc);
    Delay d;
    const WAVEFORMATEX f = DoubleFormat(1, 2000);
    const DelayParams r = Record(22500, 500, 0.0, 1.0);
    const HRESULT hr = d->SetFormat(&f, &r, TRUE);
    tw::SetZeroAllocHook(nullptr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_NE(std::find(g_allocs.begin(), g_allocs.end(), 4500 * sizeof(double)), g_allocs.end());
    std::vector<double> buf(4500 * 3 + 5, 0.0);
    buf[0] = 1.0;
    ASSERT_EQ(Feed(d.block, buf, 1), S_OK);
    for (size_t t = 0; t < buf.size(); ++t) {
        const double expected = t == 4500 ? 1.0 : (t == 9000 ? 0.5 : (t == 13500 ? 0.25 : 0.0));
        ASSERT_EQ(buf[t], expected) << "sample " << t;
    }
}

TEST(Delay, WindowWrappingPastTheLineEnd) {
    // 2000 Hz, 4500 slots: 4499 -> 99 moves the start to 4400, 99 -> 199 moves the end to slot 99,
    // so the window runs 4400..4499 and on from slot 0.
    Delay d;
    const WAVEFORMATEX f = DoubleFormat(1, 2000);
    DelayParams r = Record(22495, 500, 0.5, 1.0);
    ASSERT_EQ(d->SetFormat(&f, &r, TRUE), S_OK);
    r.delayTime = 495;
    ASSERT_EQ(d->SetFormat(nullptr, &r, FALSE), S_OK);
    r.delayTime = 995;
    ASSERT_EQ(d->SetFormat(nullptr, &r, FALSE), S_OK);
    std::vector<double> x(1500, 0.0);
    x[0] = 1.0;
    x[3] = -0.5;
    std::vector<double> buf = x;
    RunInPieces(d.block, buf, 1);
    const std::vector<double> y = ReferenceChannel(x, 200, 0.5, 0.5, 1.0);
    for (size_t t = 0; t < buf.size(); ++t) ASSERT_DOUBLE_EQ(buf[t], y[t]) << "sample " << t;
}

TEST(Delay, LineLengthsAndReallocation) {
    g_allocs.clear();
    tw::SetZeroAllocHook(RecordAlloc);
    Delay d;
    const DelayParams r = Record(1000, 0, 1.0, 1.0);
    const WAVEFORMATEX mono44 = FloatFormat(1, 44100);
    const WAVEFORMATEX stereo44 = FloatFormat(2, 44100);
    const WAVEFORMATEX stereo48 = FloatFormat(2, 48000);
    g_allocs.clear();
    EXPECT_EQ(d->SetFormat(&mono44, &r, TRUE), S_OK);
    EXPECT_EQ(g_allocs, std::vector<size_t>({99229 * sizeof(double)}));
    g_allocs.clear();
    EXPECT_EQ(d->SetFormat(&stereo44, &r, FALSE), S_OK);  // more channels: both lines anew
    EXPECT_EQ(g_allocs, std::vector<size_t>(2, 99229 * sizeof(double)));
    g_allocs.clear();
    EXPECT_EQ(d->SetFormat(&mono44, &r, FALSE), S_OK);  // fewer channels: the lines stay
    EXPECT_TRUE(g_allocs.empty());
    EXPECT_EQ(d->SetFormat(&stereo44, &r, FALSE), S_OK);
    EXPECT_TRUE(g_allocs.empty());
    EXPECT_EQ(d->SetFormat(&stereo48, &r, FALSE), S_OK);  // another rate: lines of another length
    EXPECT_EQ(g_allocs, std::vector<size_t>(2, 108005 * sizeof(double)));
    g_allocs.clear();
    const DelayParams longest = Record(22500, 900, 0.0, 1.0);
    EXPECT_EQ(d->SetFormat(nullptr, &longest, FALSE), S_OK);  // a new time never reallocates
    EXPECT_TRUE(g_allocs.empty());
    tw::SetZeroAllocHook(nullptr);
}

TEST(Delay, ProcessEntriesAllocateNothing) {
    Delay d;
    const WAVEFORMATEX f = FloatFormat(2, 44100);
    const DelayParams r = Record(100, 900, 0.5, 0.5);
    ASSERT_EQ(d->SetFormat(&f, &r, TRUE), S_OK);
    std::vector<float> fb(2 * 1024, 0.25f);
    std::vector<double> db(2 * 1024, 0.25);
    g_allocs.clear();
    tw::SetZeroAllocHook(RecordAlloc);
    EXPECT_EQ(Feed(d.block, fb, 2), S_OK);
    EXPECT_EQ(Feed(d.block, db, 2), S_OK);
    EXPECT_EQ(Feed(d.block, fb, 2, nullptr, kProcessDrain), S_OK);
    EXPECT_EQ(Feed(d.block, db, 2, nullptr, kProcessSilent), S_OK);
    tw::SetZeroAllocHook(nullptr);
    EXPECT_TRUE(g_allocs.empty());
}

TEST(Delay, TailIsChannelsTimesDelayTimesEchoes) {
    // D = 2 (delay time 0): a mono tail is 2 E samples.
    const struct {
        int32_t decay;
        ULONG echoes;
    } cases[] = {{900, 47}, {750, 17}, {500, 7}, {250, 4}, {100, 2}, {1, 1}, {0, 1}};
    for (const auto& c : cases) {
        Delay d;
        const WAVEFORMATEX f = DoubleFormat(1, 44100);
        const DelayParams r = Record(0, c.decay, 1.0, 1.0);
        ASSERT_EQ(d->SetFormat(&f, &r, TRUE), S_OK);
        const ULONG tail = 2 * c.echoes;
        std::vector<double> buf(tail - 1, 0.0);
        ULONG out = 0;
        EXPECT_EQ(Feed(d.block, buf, 1, &out, kProcessDrain), S_OK) << "decay " << c.decay;
        EXPECT_EQ(out, tail - 1);
        buf.assign(100, 0.0);
        EXPECT_EQ(Feed(d.block, buf, 1, &out, kProcessDrain), S_FALSE) << "decay " << c.decay;
        EXPECT_EQ(out, 1u);
        EXPECT_EQ(Feed(d.block, buf, 1, &out, kProcessDrain), S_FALSE);
        EXPECT_EQ(out, 0u);
    }
    // Stereo doubles it: 2 x 2 x 47 = 188 samples, 94 frames of two channel passes.
    Delay d;
    const WAVEFORMATEX f = FloatFormat(2, 44100);
    const DelayParams r = Record(0, 900, 1.0, 1.0);
    ASSERT_EQ(d->SetFormat(&f, &r, TRUE), S_OK);
    std::vector<float> buf(2 * 93, 0.0f);
    ULONG out = 0;
    EXPECT_EQ(Feed(d.block, buf, 2, &out, kProcessDrain), S_OK);
    EXPECT_EQ(out, 93u);
    buf.assign(2, 0.0f);
    EXPECT_EQ(Feed(d.block, buf, 2, &out, kProcessDrain), S_FALSE);
    EXPECT_EQ(out, 1u);
}

TEST(Delay, StereoDrainCountsOneChannelPassAtATime) {
    // 10000 Hz, 50 ms, no feedback: tail = 2 x 500 x 1 = 1000 samples.
    Delay d;
    const WAVEFORMATEX f = DoubleFormat(2, 10000);
    DelayParams r = Record(500, 0, 0.5, 0.0);
    ASSERT_EQ(d->SetFormat(&f, &r, TRUE), S_OK);
    std::vector<double> buf(2 * 800, 1.0);
    ULONG out = 9;
    EXPECT_EQ(Feed(d.block, buf, 2, &out, kProcessDrain), S_FALSE);
    EXPECT_EQ(out, 200u);
    for (size_t i = 0; i < 800; ++i) {
        ASSERT_EQ(buf[2 * i], 0.5) << i;                      // channel 0 over 800 frames
        ASSERT_EQ(buf[2 * i + 1], i < 200 ? 0.5 : 1.0) << i;  // channel 1 over the 200 left
    }
    buf.assign(2 * 800, 1.0);
    EXPECT_EQ(Feed(d.block, buf, 2, &out, kProcessDrain), S_FALSE);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(buf, std::vector<double>(2 * 800, 1.0));

    // Flags other than the two drain bits are no drain; the first such call restarts the tail.
    EXPECT_EQ(Feed(d.block, buf, 2, &out, 0x4), S_OK);
    EXPECT_EQ(out, 800u);
    EXPECT_EQ(Feed(d.block, buf, 2, &out, kProcessSilent), S_FALSE);
    EXPECT_EQ(out, 200u);

    // 100 ms: a tail of 2000 samples outlasts the first call; the second cuts channel 0 to the
    // 400 left and leaves nothing for channel 1.
    r.delayTime = 1000;
    ASSERT_EQ(d->SetFormat(nullptr, &r, FALSE), S_OK);
    buf.assign(2 * 800, 1.0);
    EXPECT_EQ(Feed(d.block, buf, 2, &out, kProcessDrain), S_OK);
    EXPECT_EQ(out, 800u);
    buf.assign(2 * 800, 1.0);
    EXPECT_EQ(Feed(d.block, buf, 2, &out, kProcessDrain | kProcessSilent), S_FALSE);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(buf[2 * 399], 0.5);
    EXPECT_EQ(buf[2 * 400], 1.0);
    EXPECT_EQ(buf[1], 1.0);

    // Every SetFormat restarts the countdown, also mid-drain.
    ASSERT_EQ(d->SetFormat(nullptr, &r, FALSE), S_OK);
    EXPECT_EQ(Feed(d.block, buf, 2, &out, kProcessDrain), S_OK);
    ASSERT_EQ(d->SetFormat(nullptr, &r, FALSE), S_OK);
    EXPECT_EQ(Feed(d.block, buf, 2, &out, kProcessDrain), S_OK);
    EXPECT_EQ(out, 800u);
}

TEST(Delay, OutputsBelowTwoToTheMinus32AreExactlyZero) {
    const double in[] = {1e-10, -1e-10, -0.0, 4.9e-324, -2.3e-10, 2.4e-10, kFloor, -kFloor, 0.5};
    const double want[] = {0.0, 0.0, 0.0, 0.0, 0.0, 2.4e-10, kFloor, -kFloor, 0.5};
    const size_t count = sizeof(in) / sizeof(in[0]);
    Delay d;
    const WAVEFORMATEX fd = DoubleFormat(1, 44100);
    const DelayParams r = Record(0, 0, 1.0, 0.0);  // dry only: the lines still fill
    ASSERT_EQ(d->SetFormat(&fd, &r, TRUE), S_OK);
    std::vector<double> db(in, in + count);
    ASSERT_EQ(Feed(d.block, db, 1), S_OK);
    for (size_t i = 0; i < count; ++i) {
        EXPECT_EQ(db[i], want[i]) << i;
        EXPECT_EQ(std::signbit(db[i]), std::signbit(want[i])) << i;
    }
    const WAVEFORMATEX ff = FloatFormat(1, 44100);
    ASSERT_EQ(d->SetFormat(&ff, &r, TRUE), S_OK);
    std::vector<float> fb(in, in + count);
    fb[3] = 1e-40f;  // a float denormal
    ASSERT_EQ(Feed(d.block, fb, 1), S_OK);
    for (size_t i = 0; i < count; ++i) {
        EXPECT_EQ(fb[i], static_cast<float>(want[i])) << i;
        EXPECT_EQ(std::signbit(fb[i]), std::signbit(want[i])) << i;
    }

    // Lines are not flushed: a tiny input still sounds as an echo once the wet gain is large.
    ASSERT_EQ(d->SetFormat(&fd, &r, TRUE), S_OK);
    std::vector<double> tiny = {1e-10, 0.0, 0.0};
    ASSERT_EQ(Feed(d.block, tiny, 1), S_OK);
    EXPECT_EQ(tiny[0], 0.0);
    DelayParams loud = r;
    loud.dryGain = 0.0;
    loud.wetGain = 1e9;
    ASSERT_EQ(d->SetMix(&loud), S_OK);
    std::vector<double> after(3, 0.0);
    ASSERT_EQ(Feed(d.block, after, 1), S_OK);
    EXPECT_DOUBLE_EQ(after[0], 1e-10 * 1e9);
}

TEST(Delay, SetMixIsUnclampedAndLeavesLinesAndRecord) {
    Delay d;
    const WAVEFORMATEX f = DoubleFormat(1, 44100);
    const DelayParams r = Record(0, 0, 1.0, 0.0);
    ASSERT_EQ(d->SetFormat(&f, &r, TRUE), S_OK);
    std::vector<double> buf = {0.25, 0.0, 0.0};
    ASSERT_EQ(Feed(d.block, buf, 1), S_OK);
    EXPECT_EQ(buf, std::vector<double>({0.25, 0.0, 0.0}));  // dry/wet 0: input unchanged
    DelayParams mix = Record(99999, 900, -2.0, 5.0);        // only the gains count
    mix.cbSize = 0;
    EXPECT_EQ(d->SetMix(&mix), S_OK);
    EXPECT_EQ(d->SetMix(nullptr), E_POINTER);
    buf = {0.125, 0.0, 0.0, 0.0};
    ASSERT_EQ(Feed(d.block, buf, 1), S_OK);
    // -2 x 0.125 + 5 x the echo in flight, then 5 x the new input's echo.
    EXPECT_EQ(buf, std::vector<double>({1.0, 0.0, 0.0, 0.625}));
    DelayParams stored{};
    EXPECT_EQ(d->GetFormat(nullptr, 0, &stored, sizeof(stored)), S_OK);
    EXPECT_EQ(stored.dryGain, 1.0);
    EXPECT_EQ(stored.wetGain, 0.0);
    EXPECT_EQ(stored.delayTime, 0);
}

TEST(Delay, RecordIsClampedNotRejected) {
    Delay d;
    const WAVEFORMATEX f = FloatFormat(2, 48000);
    DelayParams r = Record(30000, 1000, -1.0, 9.0);
    r.reservedDecay = 5000;
    ASSERT_EQ(d->SetFormat(&f, &r, TRUE), S_OK);
    DelayParams got{};
    WAVEFORMATEX gf{};
    EXPECT_EQ(d->GetFormat(&gf, sizeof(gf), &got, sizeof(got)), S_OK);
    EXPECT_EQ(got.cbSize, 40);
    EXPECT_EQ(got.delayTime, 22500);
    EXPECT_EQ(got.decay, 900);
    EXPECT_EQ(got.reservedDecay, 900);
    EXPECT_EQ(got.dryGain, 0.0);
    EXPECT_EQ(got.wetGain, 4.0);
    EXPECT_EQ(std::memcmp(&gf, &f, sizeof(gf)), 0);

    r = Record(-5, -3, std::nan(""), 2.5);
    r.reservedDecay = -1;
    ASSERT_EQ(d->SetFormat(nullptr, &r, FALSE), S_OK);
    EXPECT_EQ(d->GetFormat(nullptr, 0, &got, sizeof(got)), S_OK);
    EXPECT_EQ(got.delayTime, 0);
    EXPECT_EQ(got.decay, 0);
    EXPECT_EQ(got.reservedDecay, 0);
    EXPECT_EQ(got.dryGain, 0.0);
    EXPECT_EQ(got.wetGain, 2.5);

    r.cbSize = 39;
    EXPECT_EQ(d->SetFormat(nullptr, &r, FALSE), E_INVALIDARG);
    std::vector<float> buf(4, 0.5f);
    ULONG out = 3;
    EXPECT_EQ(Feed(d.block, buf, 2, &out), E_FAIL);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(buf, std::vector<float>(4, 0.5f));
    EXPECT_EQ(d->SetFormat(nullptr, nullptr, FALSE), S_OK);  // the stored record again
    EXPECT_EQ(Feed(d.block, buf, 2, &out), S_OK);
    EXPECT_EQ(out, 2u);
}

TEST(Delay, ResetRules) {
    Delay d;
    const WAVEFORMATEX f = DoubleFormat(1, 44100);
    DelayParams r = Record(0, 500, 0.0, 1.0);
    ASSERT_EQ(d->SetFormat(&f, &r, TRUE), S_OK);
    std::vector<double> buf = {1.0, 0.0};
    const auto impulse = [&] {
        buf = {1.0, 0.0};
        ASSERT_EQ(Feed(d.block, buf, 1), S_OK);
    };
    const auto tailOut = [&] {
        std::vector<double> rest(7, 0.0);
        EXPECT_EQ(Feed(d.block, rest, 1), S_OK);
        return rest;
    };

    // Without reset the echo in the line keeps sounding, with the new feedback.
    impulse();
    r.decay = 0;
    ASSERT_EQ(d->SetFormat(nullptr, &r, FALSE), S_OK);
    EXPECT_EQ(tailOut(), std::vector<double>({0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0}));

    // A reset empties the lines.
    impulse();
    ASSERT_EQ(d->SetFormat(nullptr, &r, TRUE), S_OK);
    EXPECT_EQ(tailOut(), std::vector<double>(7, 0.0));

    // So does a new format, reset or not.
    impulse();
    const WAVEFORMATEX f48 = DoubleFormat(1, 48000);
    ASSERT_EQ(d->SetFormat(&f48, &r, FALSE), S_OK);
    EXPECT_EQ(tailOut(), std::vector<double>(7, 0.0));

    // And the first SetFormat after a failing one.
    impulse();
    DelayParams bad = r;
    bad.cbSize = 8;
    EXPECT_EQ(d->SetFormat(nullptr, &bad, FALSE), E_INVALIDARG);
    ASSERT_EQ(d->SetFormat(nullptr, &r, FALSE), S_OK);
    EXPECT_EQ(tailOut(), std::vector<double>(7, 0.0));
}

TEST(Delay, ShorteningClearsLeavingSlotsAndLengtheningAddsSilentOnes) {
    // 10000 Hz: 1000 ms is D = 10000, a window of slots 0..10000.
    Delay d;
    const WAVEFORMATEX f = DoubleFormat(1, 10000);
    DelayParams r = Record(10000, 0, 0.0, 1.0);
    ASSERT_EQ(d->SetFormat(&f, &r, TRUE), S_OK);
    std::vector<double> ramp(10001);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<double>(i + 1);
    std::vector<double> buf = ramp;
    ASSERT_EQ(Feed(d.block, buf, 1), S_OK);  // slots 0..10000 now hold 1..10001, back at slot 0

    // 500 ms: the start moves to slot 5000 and slots 0..4999 are cleared.
    r.delayTime = 5000;
    ASSERT_EQ(d->SetFormat(nullptr, &r, FALSE), S_OK);
    buf.assign(15001, 0.0);
    ASSERT_EQ(Feed(d.block, buf, 1), S_OK);
    for (size_t t = 0; t < buf.size(); ++t) {
        const double expected = (t >= 5000 && t <= 10000) ? static_cast<double>(t + 1) : 0.0;
        ASSERT_EQ(buf[t], expected) << "sample " << t;
    }

    // Lengthening: 500 ms with a line full of audio, then 1000 ms: the added slots are silent.
    ASSERT_EQ(d->SetFormat(nullptr, &r, TRUE), S_OK);
    buf = std::vector<double>(ramp.begin(), ramp.begin() + 5001);
    ASSERT_EQ(Feed(d.block, buf, 1), S_OK);
    r.delayTime = 10000;
    ASSERT_EQ(d->SetFormat(nullptr, &r, FALSE), S_OK);
    buf.assign(10001 + 10, 0.0);
    buf[10001] = 7.0;  // a new impulse at the start of the second pass
    ASSERT_EQ(Feed(d.block, buf, 1), S_OK);
    for (size_t t = 0; t < 10001; ++t) {
        const double expected = t <= 5000 ? static_cast<double>(t + 1) : 0.0;
        ASSERT_EQ(buf[t], expected) << "sample " << t;
    }
    std::vector<double> next(10001 + 1, 0.0);
    ASSERT_EQ(Feed(d.block, next, 1), S_OK);
    // The new period is 10001 samples; 9 of them followed the impulse in the previous call.
    EXPECT_EQ(next[10001 - 10], 7.0);
    EXPECT_EQ(std::count(next.begin(), next.end(), 0.0), static_cast<std::ptrdiff_t>(next.size() - 1));
}

TEST(Delay, LineAllocationFailure) {
    Delay d;
    const WAVEFORMATEX f = DoubleFormat(2, 44100);
    const DelayParams r = Record(0, 500, 0.0, 1.0);
    g_allowedAllocs = 1;  // the first line, not the second
    tw::SetZeroAllocHook(FailAfterAllowed);
    EXPECT_EQ(d->SetFormat(&f, &r, TRUE), E_OUTOFMEMORY);
    tw::SetZeroAllocHook(nullptr);
    std::vector<double> buf(2 * 8, 0.0);
    EXPECT_EQ(Feed(d.block, buf, 2), E_FAIL);
    ASSERT_EQ(d->SetFormat(nullptr, &r, FALSE), S_OK);
    buf[0] = 1.0;
    buf[1] = -1.0;
    ASSERT_EQ(Feed(d.block, buf, 2), S_OK);
    EXPECT_EQ(buf[2 * 3], 1.0);
    EXPECT_EQ(buf[2 * 3 + 1], -1.0);
    EXPECT_EQ(buf[2 * 6 + 1], -0.5);
}

TEST(Delay, IntegerEntryEchoesThroughScratch) {
    Delay d;
    const WAVEFORMATEX f = Format(WAVE_FORMAT_PCM, 1, 44100, 16);
    const DelayParams r = Record(0, 0, 1.0, 0.5);
    ASSERT_EQ(d->SetFormat(&f, &r, TRUE), S_OK);
    int16_t pcm[6] = {16384, 0, 0, 0, 0, -2};
    ULONG out = 0;
    ASSERT_EQ(d->ProcessPcm2(pcm, 6, &out, 0), S_OK);
    EXPECT_EQ(out, 6u);
    const int16_t expected[6] = {16384, 0, 0, 8192, 0, -2};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(pcm[i], expected[i]) << i;
}

// Each channel of a stereo block echoes exactly as a mono block fed with that channel alone, bit
// for bit: while the two lines run in step, and after a drain has left the first line ahead of the
// second (the cut count reaches only part of the second channel).
TEST(Delay, StereoChannelsMatchMonoBlocksInAndOutOfStep) {
    const DelayParams r = Record(500, 500, 0.7, 0.6);  // 10000 Hz: D = 500, feedback 0.5, tail 2 x 500 x 7
    const WAVEFORMATEX stereoFormat = DoubleFormat(2, 10000), monoFormat = DoubleFormat(1, 10000);
    Delay stereo, left, right;
    ASSERT_EQ(stereo->SetFormat(&stereoFormat, &r, TRUE), S_OK);
    ASSERT_EQ(left->SetFormat(&monoFormat, &r, TRUE), S_OK);
    ASSERT_EQ(right->SetFormat(&monoFormat, &r, TRUE), S_OK);
    uint32_t seed = 5;
    const auto noise = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) / 16777216.0 - 0.5;
    };
    // One stereo call; the mono blocks get the frames each stereo channel processed.
    const auto step = [&](ULONG frames, DWORD flags, ULONG leftFrames, ULONG rightFrames) {
        std::vector<double> x(2 * frames), l(leftFrames), rr(rightFrames);
        for (double& v : x) v = noise();
        for (ULONG i = 0; i < leftFrames; ++i) l[i] = x[2 * i];
        for (ULONG i = 0; i < rightFrames; ++i) rr[i] = x[2 * i + 1];
        std::vector<double> y = x;
        ULONG out = 0;
        stereo->ProcessDouble(y.data(), frames, &out, flags);
        EXPECT_EQ(out, rightFrames);
        Feed(left.block, l, 1);
        Feed(right.block, rr, 1);
        for (ULONG i = 0; i < frames; ++i) {
            ASSERT_EQ(y[2 * i], i < leftFrames ? l[i] : x[2 * i]) << "left " << i;
            ASSERT_EQ(y[2 * i + 1], i < rightFrames ? rr[i] : x[2 * i + 1]) << "right " << i;
        }
    };
    for (ULONG frames : {1u, 499u, 502u, 1300u}) step(frames, 0, frames, frames);
    // Drain: 7000 samples of tail over both channels, 1600 per call of 800 frames, then 600 for
    // the first channel alone.
    for (int call = 0; call < 4; ++call) step(800, kProcessDrain, 800, 800);
    step(800, kProcessDrain, 600, 0);
    // The lines now stand 600 frames apart; each goes on from where it stopped.
    for (ULONG frames : {300u, 1111u}) step(frames, 0, frames, frames);
}
