// Three-band EQ: a bass shelf, a mid peak and a treble shelf at fixed frequencies, each set in
// tenths of a dB. Only the first channel is designed; the second copies it, the rest pass through.
#include "effects/simple_eq.h"

#include "effects/block_base.h"
#include "effects/stereo_lanes.h"

#include <cmath>

namespace tw {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int32_t kMaxGainTenths = 250;   // tenths of a dB, either way
constexpr double kFullCutDb = -25.0;      // dB: at or below this a shelf removes its band

// Resonator range, fractions of the sample rate.
constexpr double kMinFrequency = 0.0003;
constexpr double kMaxFrequency = 0.49;

// Bass shelf: nominal 300 Hz, designed lower by a divisor.
constexpr double kBassHz = 300.0;
constexpr double kBassBoostDivisor = 1.5;
constexpr double kBassBoostQ = 0.7;
constexpr double kBassCutLowDivisor = 2.2;          // below kBassCutSplit
constexpr double kBassCutHighDivisor = 3.3;         // at or above it
constexpr double kBassCutSplit = 500.0 / 44100.0;  // fraction of the rate
constexpr double kBassCutQ = 0.1;

// Treble shelf: nominal 500 Hz; a cut moves its resonator by a bent scale.
constexpr double kTrebleHz = 500.0;
constexpr double kTrebleBoostQ = 0.7;
constexpr double kTrebleCutQ = 0.3;
constexpr double kTrebleCutScale = 0.4;
constexpr double kTrebleCutBend = 1.6;
constexpr double kTrebleCutKnee = 0.125;    // fraction of the rate where the bend starts
constexpr double kTrebleCutFloor = 0.0004;  // fraction of the rate

// Treble input level, dB, at grid points k * 1000 Hz for a rate of 44100 Hz.
constexpr double kTableRate = 44100.0;  // Hz, the rate the tables below were measured at
constexpr double kTrebleGridStep = 1000.0 / kTableRate;
constexpr int kTrebleLevels = 16;
constexpr double kTrebleLevelDb[kTrebleLevels] = {0, -1, -2, -3, -4, -5, -5, -6, -7, -8, -9, -10, -11, -12, -12, -13};

// Mid peak: nominal 400 Hz, bandwidth value 10 / 25, moved by the measured-frequency correction.
constexpr double kMidHz = 400.0;
constexpr double kMidBandwidth = 10.0 / 25.0;
constexpr double kMidKnee = 0.001814;  // fraction of the rate (80 Hz at 44100 Hz)
constexpr double kMidShapeHigh = 0.85;  // above the knee
constexpr double kMidShapeLow = 0.65;   // at or below it
constexpr double kMidWidthGain = 0.9;

// Frequency correction: for each bandwidth value (rows) the frequency, Hz at 44100 Hz, at which
// a peak designed for each nominal frequency (columns) was measured.
constexpr int kGrid = 7;
constexpr double kBandwidthGrid[kGrid] = {0, 0.5, 1, 1.5, 2, 3, 101};
constexpr double kNominalHz[kGrid] = {0, 50, 100, 1000, 5000, 10000, 22050};
constexpr double kMeasuredHz[kGrid][kGrid] = {
    {2, 73, 141, 1500, 10000, 20000, 44100},  {1.5, 73, 141, 1500, 10000, 20000, 44100},
    {1, 52, 110, 1150, 6500, 16000, 35280},   {1, 52, 110, 1070, 5750, 13000, 28748},
    {1, 52, 104, 1040, 5500, 11000, 24257},   {1, 51, 102, 1030, 5300, 11000, 24257},
    {1, 51, 102, 1030, 5300, 11000, 24257},
};

// Filter memories below 2^-32 (biased exponent below 991) are stored as exactly zero.
constexpr double kMemoryFloor = 1.0 / 4294967296.0;

// Output mix: processed and dry gains.
constexpr double kProcessedMix = 1.0;
constexpr double kDryMix = 0.0;

constexpr ULONG kEqChunk = 64;  // frames per run of the two halves
constexpr ULONG kEqLag = 4;     // frames the second half trails the first: about one frame's first-half latency

double ClampFrequency(double f) { return f < kMinFrequency ? kMinFrequency : (f > kMaxFrequency ? kMaxFrequency : f); }
int32_t ClampGain(int32_t g) { return g < -kMaxGainTenths ? -kMaxGainTenths : (g > kMaxGainTenths ? kMaxGainTenths : g); }
double Pow10(double exponent) { return std::pow(10.0, exponent); }

}  // namespace

void ClampSimpleEqParams(SimpleEqParams& p) {
    p.midGain = ClampGain(p.midGain);
    p.bassGain = ClampGain(p.bassGain);
    p.trebleGain = ClampGain(p.trebleGain);
}

EqSection DesignResonator(double f, double q) {
    f = ClampFrequency(f);
    EqSection s{};
    const double theta = 2.0 * kPi * f;
    const double r = std::exp(-kPi * f / q);
    s.a1 = 2.0 * r * std::cos(theta);
    s.a2 = std::exp(-2.0 * kPi * f / q);
    s.b0 = 1.0 - s.a1 + s.a2;
    return s;
}

double TrebleLevelDb(double f) {
    f = ClampFrequency(f);
    int k = 1;  // first grid point at or above f; past the last one the last segment is extended
    while (k < kTrebleLevels - 1 && k * kTrebleGridStep < f) ++k;
    const double lo = (k - 1) * kTrebleGridStep;
    const double hi = k * kTrebleGridStep;
    const double u = (f - lo) / (hi - lo);
    return kTrebleLevelDb[k - 1] + u * (kTrebleLevelDb[k] - kTrebleLevelDb[k - 1]);
}

double MidFrequencyRatio(double f, double z) {
    int i = 0;
    while (i < kGrid - 1 && z > kBandwidthGrid[i]) ++i;
    const auto scaled = [](int n, int col) { return kMeasuredHz[n][col] / kTableRate; };
    int j = 0;
    while (j < kGrid - 1 && f > scaled(i, j)) ++j;
    if (i == 0 || j == 0) return 1.0;
    const double nominalLo = kNominalHz[j - 1] / kTableRate;
    const double nominalHi = kNominalHz[j] / kTableRate;
    const auto rho = [&](int n) {
        const double p = nominalLo / scaled(n, j - 1);
        const double q = nominalHi / scaled(n, j);
        const double u = (f - scaled(n, j - 1)) / (scaled(n, j) - scaled(n, j - 1));
        return p + u * (q - p);
    };
    const double v = (z - kBandwidthGrid[i - 1]) / (kBandwidthGrid[i] - kBandwidthGrid[i - 1]);
    const double below = rho(i - 1);
    return below + v * (rho(i) - below);
}

EqShelves DesignShelves(const SimpleEqParams& p, DWORD sampleRate) {
    EqShelves s{};
    const double rate = sampleRate;
    if (p.bassGain != 0) {
        const double g = p.bassGain / 10.0;
        const double f = kBassHz / rate;
        EqSection& a = s.bassA;
        if (g > 0) {
            s.bassKind = kShelfBoost;
            a = DesignResonator(f / kBassBoostDivisor, kBassBoostQ);
            a.direct = 1.0;
            a.filtered = Pow10(g / 40.0) - 1.0;
        } else {
            s.bassKind = kShelfCut;
            a = DesignResonator(f < kBassCutSplit ? f / kBassCutLowDivisor : f / kBassCutHighDivisor, kBassCutQ);
            if (g <= kFullCutDb) {
                a.direct = 0.0;
                a.filtered = 1.0;
            } else {
                const double e = Pow10(g / 40.0);
                a.direct = e;
                a.filtered = 1.0 - e;
            }
        }
        s.bassB = a;  // two equal sections, each with half the gain in dB
    }
    if (p.trebleGain != 0) {
        const double g = p.trebleGain / 10.0;
        const double f = kTrebleHz / rate;
        EqSection& c = s.trebleC;
        if (g > 0) {
            s.trebleKind = kShelfBoost;
            c = DesignResonator(f, kTrebleBoostQ);
            c.inGain = Pow10(TrebleLevelDb(f) / 20.0);
            c.filtered = Pow10(g / 40.0) - 1.0;
        } else {
            s.trebleKind = kShelfCut;
            double moved;
            if (f < kTrebleCutKnee) {
                moved = kTrebleCutScale * (f > kTrebleCutFloor ? f : kTrebleCutFloor);
            } else {
                const double m = f < kMaxFrequency ? f : kMaxFrequency;
                moved = m * (kTrebleCutScale + kTrebleCutBend * (m - kTrebleCutKnee));
            }
            c = DesignResonator(moved, kTrebleCutQ);
            c.inGain = Pow10(TrebleLevelDb(moved) / 20.0);
            c.filtered = g <= kFullCutDb ? -1.0 : Pow10(g / 40.0) - 1.0;
        }
        c.direct = 1.0;
        s.trebleD = c;
    }
    return s;
}

void DesignMid(int32_t midGain, DWORD sampleRate, EqMid* mid) {
    const double g = midGain / 10.0;
    mid->active = g != 0.0;
    if (!mid->active) return;
    const double z = kMidBandwidth;
    const double f = ClampFrequency(kMidHz / static_cast<double>(sampleRate));
    double fc = f * MidFrequencyRatio(f, z);
    const double c = fc > kMidKnee ? kMidShapeHigh : kMidShapeLow;
    const double lift = Pow10(g / 20.0) - 1.0;
    mid->k = z < 1.0 ? lift * (c + kMidWidthGain * (1.0 - z)) : lift * c / z;
    fc = ClampFrequency(fc);
    const double r = std::exp(-kPi * fc / z);
    mid->a1 = 2.0 * r * std::cos(2.0 * kPi * fc);
    mid->a2 = std::exp(-2.0 * kPi * fc / z);
    mid->b0 = std::cos(kPi * fc) * std::sqrt(mid->a2 + 1.0 - mid->a1);
}

namespace {

// Sections B and D are copies of A and C and processing never changes coefficients, so each pair
// runs on one set of coefficients with two sets of memories. A boost and every treble section have
// a direct gain of exactly 1, which the loop leaves out. Channels 0 and 1 share every coefficient
// (the second is a copy of the first), so a stereo buffer runs them side by side in lanes.

// A section's coefficients in the kernel's lane type, formed once per buffer.
template <class V>
struct Coefs {
    V a1, a2, b0, inGain, direct, filtered;
    explicit Coefs(const EqSection& c)
        : a1(Splat<V>(c.a1)), a2(Splat<V>(c.a2)), b0(Splat<V>(c.b0)), inGain(Splat<V>(c.inGain)),
          direct(Splat<V>(c.direct)), filtered(Splat<V>(c.filtered)) {}
};

// A bass section: resonator, then the boost or the cut mix of its input and its output.
template <int kKind, class V>
inline V BassStep(V y, const Coefs<V>& c, V& s1, V& s2) {
    const V w = FlushTiny(c.b0 * y + c.a1 * s1 - c.a2 * s2, kMemoryFloor);
    s2 = s1;
    s1 = w;
    if (kKind == kShelfBoost) return y + c.filtered * w;
    return c.direct * y + c.filtered * (y - w);
}

// A treble section: the filtered path is the second difference of the resonator's output.
template <class V>
inline V TrebleStep(V y, const Coefs<V>& c, V& s1, V& s2) {
    const V d = FlushTiny(c.inGain * y + c.a1 * s1 - c.a2 * s2, kMemoryFloor);
    const V out = y + c.filtered * (d - Splat<V>(2.0) * s1 + s2);
    s2 = s1;
    s1 = d;
    return out;
}

// One channel (V double) or channels 0 and 1 (V Lanes) over all frames, with the bands that are
// on fixed at compile time. `mid` and `shelves` point at the records of the first channel run.
template <class T, class V, bool kMid, int kBass, bool kTreble>
void RunChannels(T* p, ULONG frames, WORD stride, EqMid* mid, EqShelves* shelves) {
    EqMid& midL = mid[0];
    EqMid& midR = mid[kSpan<V> - 1];
    EqShelves& shL = shelves[0];
    EqShelves& shR = shelves[kSpan<V> - 1];
    const V mb0 = Splat<V>(midL.b0), ma1 = Splat<V>(midL.a1), ma2 = Splat<V>(midL.a2), mk = Splat<V>(midL.k);
    const Coefs<V> bass(shL.bassA), treble(shL.trebleC);
    const V processedMix = Splat<V>(kProcessedMix), dryMix = Splat<V>(kDryMix);
    V m1 = Join<V>(midL.s1, midR.s1), m2 = Join<V>(midL.s2, midR.s2);
    V a1 = Join<V>(shL.bassA.s1, shR.bassA.s1), a2 = Join<V>(shL.bassA.s2, shR.bassA.s2);
    V b1 = Join<V>(shL.bassB.s1, shR.bassB.s1), b2 = Join<V>(shL.bassB.s2, shR.bassB.s2);
    V c1 = Join<V>(shL.trebleC.s1, shR.trebleC.s1), c2 = Join<V>(shL.trebleC.s2, shR.trebleC.s2);
    V d1 = Join<V>(shL.trebleD.s1, shR.trebleD.s1), d2 = Join<V>(shL.trebleD.s2, shR.trebleD.s2);
    // Two halves over short runs of frames: mid and bass, then treble and the output. The bands of
    // one frame form a single long chain of dependent operations; cut in two, with the second half
    // trailing the first by kEqLag frames in the same loop, the two halves' recursions run side by
    // side. Every frame still meets the same operations in the same order, and the second half
    // overwrites only frames the first has already read.
    V ys[kEqChunk];
    T* q = p;
    auto second = [&](ULONG i) {
        V y = ys[i];
        if (kTreble) {
            y = TrebleStep(y, treble, c1, c2);
            y = TrebleStep(y, treble, d1, d2);
        }
        T* out = p + static_cast<size_t>(i) * stride;
        Store(out, y * processedMix + Load<V>(out) * dryMix);
    };
    for (ULONG done = 0; done < frames;) {
        const ULONG n = frames - done < kEqChunk ? frames - done : kEqChunk;
        for (ULONG i = 0; i < n; ++i, q += stride) {
            V y = Load<V>(q);
            if (kMid) {
                const V w = mb0 * y + ma1 * m1 - ma2 * m2;
                y = y + mk * (w - m1);  // the unflushed value feeds the output
                m2 = m1;
                m1 = FlushTiny(w, kMemoryFloor);
            }
            if (kBass != kShelfOff) {
                y = BassStep<kBass>(y, bass, a1, a2);
                y = BassStep<kBass>(y, bass, b1, b2);
            }
            ys[i] = y;
            if (i >= kEqLag) second(i - kEqLag);
        }
        for (ULONG i = n > kEqLag ? n - kEqLag : 0; i < n; ++i) second(i);
        p += static_cast<size_t>(n) * stride;
        done += n;
    }
    Split(m1, midL.s1, midR.s1);
    Split(m2, midL.s2, midR.s2);
    Split(a1, shL.bassA.s1, shR.bassA.s1);
    Split(a2, shL.bassA.s2, shR.bassA.s2);
    Split(b1, shL.bassB.s1, shR.bassB.s1);
    Split(b2, shL.bassB.s2, shR.bassB.s2);
    Split(c1, shL.trebleC.s1, shR.trebleC.s1);
    Split(c2, shL.trebleC.s2, shR.trebleC.s2);
    Split(d1, shL.trebleD.s1, shR.trebleD.s1);
    Split(d2, shL.trebleD.s2, shR.trebleD.s2);
}

template <class T>
using ChannelRunner = void (*)(T*, ULONG, WORD, EqMid*, EqShelves*);

template <class T, class V, bool kMid, int kBass>
ChannelRunner<T> PickTreble(bool treble) {
    return treble ? &RunChannels<T, V, kMid, kBass, true> : &RunChannels<T, V, kMid, kBass, false>;
}

template <class T, class V, bool kMid>
ChannelRunner<T> PickBass(int32_t bass, bool treble) {
    if (bass == kShelfBoost) return PickTreble<T, V, kMid, kShelfBoost>(treble);
    if (bass == kShelfCut) return PickTreble<T, V, kMid, kShelfCut>(treble);
    return PickTreble<T, V, kMid, kShelfOff>(treble);
}

template <class T, class V>
ChannelRunner<T> PickRunner(const EqMid& mid, const EqShelves& shelves) {
    const bool treble = shelves.trebleKind != kShelfOff;
    return mid.active ? PickBass<T, V, true>(shelves.bassKind, treble)
                      : PickBass<T, V, false>(shelves.bassKind, treble);
}

class CTwAudioSimpleEQ : public CTwAudioBlock<CTwAudioSimpleEQ, ITwAudioSimpleEQ> {
public:
    static void ClampParams(SimpleEqParams& p) { ClampSimpleEqParams(p); }

    HRESULT Design(const SimpleEqParams& clamped, bool reset) {
        EqMid& mid = mid_[0];
        if (reset) mid.s1 = mid.s2 = 0.0;
        shelves_[0] = DesignShelves(clamped, sampleRate());
        DesignMid(clamped.midGain, sampleRate(), &mid);
        mid_[1] = mid;  // the second channel follows the first, memories included
        shelves_[1] = shelves_[0];
        return S_OK;
    }

    template <class T>
    HRESULT Process(T* buffer, ULONG frames, ULONG* outFrames, DWORD) {
        const WORD n = channels();
        WORD ch = 0;
        if (n >= 2) {  // channels 0 and 1 always share their design
            PickRunner<T, Lanes>(mid_[0], shelves_[0])(buffer, frames, n, mid_, shelves_);
            ch = 2;
        }
        for (; ch < n; ++ch)
            PickRunner<T, double>(mid_[ch], shelves_[ch])(buffer + ch, frames, n, mid_ + ch, shelves_ + ch);
        *outFrames = frames;
        return S_OK;
    }

private:
    // Only the first two channels are ever designed; the others stay off and pass through.
    EqMid mid_[kMaxBlockChannels];
    EqShelves shelves_[kMaxBlockChannels];
};

}  // namespace

}  // namespace tw

HRESULT CreateAudioSimpleEQ(ITwAudioSimpleEQ** out) { return tw::CTwAudioSimpleEQ::Create(out); }
