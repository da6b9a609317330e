// CTwAudioReverb: parallel comb reverberator, the last block of the chain. The input is smoothed
// by a one-pole lowpass and optionally low-cut, feeds nine or ten damped combs (two more give the
// right side its own colour), and the comb sum passes a pre-delay; three early-reflection taps read
// the raw input; output = early reflections + reverb + dry input.
#include "effects/block_base.h"
#include "effects/stereo_lanes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// ---- Fixed data ------------------------------------------------------------------------------

constexpr int kMaxCombs = 10;  // mono bank; stereo adds kRightCombs
constexpr int kRightCombs = 2;

struct CombSet {
    int count;
    double delayMs[kMaxCombs];  // comb delay times, milliseconds
};

// Indexed by ReverbParams::combSet.
constexpr CombSet kCombSets[] = {
    {10, {23.583, 47.049, 25.481, 27.493, 29.67, 34.518, 32.056, 37.317, 40.358, 19.941}},
    {10, {21.096, 66.413, 28.715, 49.337, 44.433, 35.993, 12.339, 40.301, 54.257, 60.013}},
    {9, {31.737, 15.013, 11.528, 36.037, 19.131, 5.439, 9.41, 26.433, 7.437, 0.0}},
};
constexpr int kCombSetCount = static_cast<int>(sizeof(kCombSets) / sizeof(kCombSets[0]));

// The right side's two combs stretch the set's first two delay times by these factors.
constexpr double kRightCombScale[kRightCombs] = {0.93, 1.06};

struct EarlyTap {
    double timeMs;    // milliseconds
    double offsetMs;  // milliseconds, added to timeMs
    double gain;      // hundredths
    double pan;       // -100 left ... 100 right
};

// One set for every room; the last tap is also the length of the reflection ring.
constexpr EarlyTap kEarlyTaps[3] = {
    {11.057, 0.051, -47.0, -76.0},
    {17.049, 0.151, 60.0, 100.0},
    {29.455, 0.078, 28.0, 35.0},
};

// Denormal floors: these states, and only these, are set to exactly zero below them.
constexpr double kInputFloor = 1.0 / 4294967296.0;  // 2^-32: input lowpass and low-cut lowpass outputs
constexpr double kDampFloor = 1e-20;                // comb damping states m

constexpr int32_t kEarlyOff = -800;  // earlyLevel at or below this: no reflections
constexpr double kPi = 3.14159265358979323846;
constexpr ULONG kChunkFrames = 256;  // frames per pass through the stages (stack arrays of this size)
constexpr size_t kLineAlign = 8;     // doubles: each line starts 64 bytes apart from the arena's start

// ---- Coefficient maths -----------------------------------------------------------------------

// Comb length in samples, rounded to nearest, halves up.
ULONG CombLength(double delayMs, double rate) { return static_cast<ULONG>(std::floor(delayMs * rate / 1000.0 + 0.5)); }

// Feedback gain that lets a comb of this delay decay by 60 dB in decaySeconds.
double CombGain(double delayMs, double decaySeconds) { return std::pow(10.0, -3.0 * (delayMs / 1000.0) / decaySeconds); }

// Damping / input-lowpass coefficient a (b = 1 - a); 0 leaves the signal unfiltered.
double DampingCoefficient(bool enabled, int32_t highCutHz, double rate) {
    if (!enabled || !(highCutHz < rate)) return 0.0;
    return std::exp(-4.0 * kPi * highCutHz / rate);
}

struct LowCut {
    double k, f1, g2;  // l = k*y + f1*l1 - g2*l2, unity gain at DC
};

LowCut LowCutDesign(int32_t lowCutHz, double rate) {
    constexpr double kDivisorSwitch = 500.0 / 44100.0;  // relative corner where the divisor changes
    const double h = lowCutHz / rate;
    double c = h < kDivisorSwitch ? h / 2.2 : h / 3.3;
    c = std::min(std::max(c, 0.0004), 0.49);
    const double r = std::exp(-kPi * c / 0.1);
    LowCut lc;
    lc.f1 = 2.0 * std::cos(2.0 * kPi * c) * r;
    lc.g2 = std::exp(-2.0 * kPi * c / 0.1);
    lc.k = 1.0 - lc.f1 + lc.g2;
    return lc;
}

// Clamps into [lo, hi]; NaN becomes lo.
double ClampGain(double g, double lo, double hi) { return g >= lo ? (g <= hi ? g : hi) : lo; }
int32_t ClampInt(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }
// Compared as unsigned: negative values land on the top of the range.
int32_t ClampUnsigned(int32_t v, uint32_t hi) { return static_cast<uint32_t>(v) > hi ? static_cast<int32_t>(hi) : v; }

size_t AlignedLength(size_t doubles) { return (doubles + kLineAlign - 1) / kLineAlign * kLineAlign; }

// ---- Line state ------------------------------------------------------------------------------

struct Comb {
    double* line;
    ULONG length;
    ULONG pos;
    double gain;
    double damp;     // m, the lowpass state in the feedback path
    double delayMs;  // kept for retuning
};

// One comb sample at its slot: read the output, damp it into m, write back input plus feedback.
// CombPairStep does the same for two combs in the two lanes of a register, each lane with the
// operations of one comb alone; it returns both outputs, which the caller still adds to its sums
// one by one in comb order.
inline void CombStep(double* slot, double in, double& m, double gain, double a, double b) {
    const double o = *slot;
    m = tw::FlushTiny(a * m + b * o, kDampFloor);
    *slot = (in + m) * gain;
}
inline tw::Lanes CombPairStep(double* slot0, double* slot1, tw::Lanes in, tw::Lanes& m, tw::Lanes gain, tw::Lanes a,
                              tw::Lanes b) {
    const tw::Lanes o = tw::MakeLanes(*slot0, *slot1);
    m = tw::FlushTiny(a * m + b * o, kDampFloor);
    const tw::Lanes w = (in + m) * gain;
    *slot0 = tw::Left(w);
    *slot1 = tw::Right(w);
    return o;
}

// Length of the next run of n samples over which no comb of the group wraps; points p[] at the
// combs' current slots.
template <int K>
ULONG CombRun(ULONG n, double* const* line, const ULONG* length, const ULONG* pos, double** p) {
    for (int k = 0; k < K; ++k) {
        n = std::min(n, length[k] - pos[k]);
        p[k] = line[k] + pos[k];
    }
    return n;
}
template <int K>
void AdvanceCombs(ULONG run, const ULONG* length, ULONG* pos) {
    for (int k = 0; k < K; ++k) {
        pos[k] += run;
        if (pos[k] == length[k]) pos[k] = 0;
    }
}

// 2P (+1 when kOdd) combs in order over n samples, reading y[] and adding each comb's output to
// sum[] in comb order. The inner loop runs between wraps so that it carries no wrap test, and the
// sums are loaded and stored once per group.
template <int P, bool kOdd>
void RunCombs(Comb* const* combs, const double* __restrict y, double* __restrict sum, ULONG n, double a, double b) {
    constexpr int K = 2 * P + (kOdd ? 1 : 0);
    double* line[K];
    ULONG length[K], pos[K];
    for (int k = 0; k < K; ++k) {
        line[k] = combs[k]->line;
        length[k] = combs[k]->length;
        pos[k] = combs[k]->pos;
    }
    tw::Lanes m[P ? P : 1], gain[P ? P : 1];
    for (int j = 0; j < P; ++j) {
        m[j] = tw::MakeLanes(combs[2 * j]->damp, combs[2 * j + 1]->damp);
        gain[j] = tw::MakeLanes(combs[2 * j]->gain, combs[2 * j + 1]->gain);
    }
    double mOdd = kOdd ? combs[K - 1]->damp : 0.0;
    const double gainOdd = kOdd ? combs[K - 1]->gain : 0.0;
    const tw::Lanes aa = tw::Splat<tw::Lanes>(a), bb = tw::Splat<tw::Lanes>(b);
    for (ULONG done = 0; done < n;) {
        double* p[K];
        const ULONG run = CombRun<K>(n - done, line, length, pos, p);
        const double* __restrict in = y + done;
        double* __restrict out = sum + done;
        for (ULONG i = 0; i < run; ++i) {
            double s = out[i];
            const tw::Lanes yy = tw::Splat<tw::Lanes>(in[i]);
#pragma GCC unroll 4
            for (int j = 0; j < P; ++j) {
                const tw::Lanes o = CombPairStep(p[2 * j] + i, p[2 * j + 1] + i, yy, m[j], gain[j], aa, bb);
                s += tw::Left(o);
                s += tw::Right(o);
            }
            if (kOdd) {
                s += p[K - 1][i];
                CombStep(p[K - 1] + i, in[i], mOdd, gainOdd, a, b);
            }
            out[i] = s;
        }
        done += run;
        AdvanceCombs<K>(run, length, pos);
    }
    for (int k = 0; k < K; ++k) combs[k]->pos = pos[k];
    for (int j = 0; j < P; ++j) tw::Split(m[j], combs[2 * j]->damp, combs[2 * j + 1]->damp);
    if (kOdd) combs[K - 1]->damp = mOdd;
}

// `count` combs in order, all adding into sum[], in groups of up to eight.
void RunBank(Comb* const* combs, int count, const double* y, double* sum, ULONG n, double a, double b) {
    for (; count >= 8; count -= 8, combs += 8) RunCombs<4, false>(combs, y, sum, n, a, b);
    switch (count) {
    case 7: RunCombs<3, true>(combs, y, sum, n, a, b); break;
    case 6: RunCombs<3, false>(combs, y, sum, n, a, b); break;
    case 5: RunCombs<2, true>(combs, y, sum, n, a, b); break;
    case 4: RunCombs<2, false>(combs, y, sum, n, a, b); break;
    case 3: RunCombs<1, true>(combs, y, sum, n, a, b); break;
    case 2: RunCombs<1, false>(combs, y, sum, n, a, b); break;
    case 1: RunCombs<0, true>(combs, y, sum, n, a, b); break;
    default: break;
    }
}

// The stereo bank's last four combs (comb 0, right comb 0, comb 1, right comb 1): combs 0 and 1
// finish the left sum, the right combs the right one, both from shared[]; sums[] receives the two
// side by side. Comb j and right comb j share a register, the left lane adding to the left sum and
// the right lane to the right sum, each in comb order.
void RunSides(Comb* const* combs, const double* __restrict y, const double* __restrict shared,
              double* __restrict sums, ULONG n, double a, double b) {
    double* line[4];
    ULONG length[4], pos[4];
    for (int k = 0; k < 4; ++k) {
        line[k] = combs[k]->line;
        length[k] = combs[k]->length;
        pos[k] = combs[k]->pos;
    }
    tw::Lanes m0 = tw::MakeLanes(combs[0]->damp, combs[1]->damp), m1 = tw::MakeLanes(combs[2]->damp, combs[3]->damp);
    const tw::Lanes g0 = tw::MakeLanes(combs[0]->gain, combs[1]->gain);
    const tw::Lanes g1 = tw::MakeLanes(combs[2]->gain, combs[3]->gain);
    const tw::Lanes aa = tw::Splat<tw::Lanes>(a), bb = tw::Splat<tw::Lanes>(b);
    for (ULONG done = 0; done < n;) {
        double* p[4];
        const ULONG run = CombRun<4>(n - done, line, length, pos, p);
        const double* in = y + done;
        const double* from = shared + done;
        double* to = sums + 2 * size_t{done};
        for (size_t i = 0; i < run; ++i, to += 2) {
            const tw::Lanes yy = tw::Splat<tw::Lanes>(in[i]);
            tw::Lanes s = tw::Splat<tw::Lanes>(from[i]);
            s += CombPairStep(p[0] + i, p[1] + i, yy, m0, g0, aa, bb);
            s += CombPairStep(p[2] + i, p[3] + i, yy, m1, g1, aa, bb);
            tw::StoreFrame(to, s);
        }
        done += run;
        AdvanceCombs<4>(run, length, pos);
    }
    for (int k = 0; k < 4; ++k) combs[k]->pos = pos[k];
    tw::Split(m0, combs[0]->damp, combs[1]->damp);
    tw::Split(m1, combs[2]->damp, combs[3]->damp);
}

// The whole stereo bank in one pass: the 2P (+1) shared combs, then the four side combs of
// RunSides, so the damping recursions of all of them interleave instead of running as two
// latency-bound passes. Each sum sees the same additions in the same order as RunBank from a zero
// sum followed by RunSides. source() yields the next smoothed input sample: forming it here lets
// its recursion overlap the combs' instead of running as a pass of its own.
template <int P, bool kOdd, class Source>
void RunStereoBank(Comb* const* shared, Comb* const* sideCombs, Source& source, double* __restrict sums, ULONG n,
                   double a, double b) {
    constexpr int S = 2 * P + (kOdd ? 1 : 0);
    constexpr int K = S + 4;
    double* line[K];
    ULONG length[K], pos[K];
    Comb* combs[K];
    for (int k = 0; k < S; ++k) combs[k] = shared[k];
    for (int k = 0; k < 4; ++k) combs[S + k] = sideCombs[k];
    for (int k = 0; k < K; ++k) {
        line[k] = combs[k]->line;
        length[k] = combs[k]->length;
        pos[k] = combs[k]->pos;
    }
    tw::Lanes m[P + 2], gain[P + 2];
    for (int j = 0; j < P; ++j) {
        m[j] = tw::MakeLanes(combs[2 * j]->damp, combs[2 * j + 1]->damp);
        gain[j] = tw::MakeLanes(combs[2 * j]->gain, combs[2 * j + 1]->gain);
    }
    for (int j = 0; j < 2; ++j) {
        m[P + j] = tw::MakeLanes(combs[S + 2 * j]->damp, combs[S + 2 * j + 1]->damp);
        gain[P + j] = tw::MakeLanes(combs[S + 2 * j]->gain, combs[S + 2 * j + 1]->gain);
    }
    double mOdd = kOdd ? combs[S - 1]->damp : 0.0;
    const double gainOdd = kOdd ? combs[S - 1]->gain : 0.0;
    const tw::Lanes aa = tw::Splat<tw::Lanes>(a), bb = tw::Splat<tw::Lanes>(b);
    Source src = source;  // a local copy keeps its state in registers
    for (ULONG done = 0; done < n;) {
        double* p[K];
        const ULONG run = CombRun<K>(n - done, line, length, pos, p);
        double* __restrict to = sums + 2 * size_t{done};
        for (ULONG i = 0; i < run; ++i) {
            double s = 0.0;
            const double in = src();
            const tw::Lanes yy = tw::Splat<tw::Lanes>(in);
#pragma GCC unroll 4
            for (int j = 0; j < P; ++j) {
                const tw::Lanes o = CombPairStep(p[2 * j] + i, p[2 * j + 1] + i, yy, m[j], gain[j], aa, bb);
                s += tw::Left(o);
                s += tw::Right(o);
            }
            if (kOdd) {
                s += p[S - 1][i];
                CombStep(p[S - 1] + i, in, mOdd, gainOdd, a, b);
            }
            tw::Lanes sides = tw::Splat<tw::Lanes>(s);
            sides += CombPairStep(p[S] + i, p[S + 1] + i, yy, m[P], gain[P], aa, bb);
            sides += CombPairStep(p[S + 2] + i, p[S + 3] + i, yy, m[P + 1], gain[P + 1], aa, bb);
            tw::StoreFrame(to + 2 * size_t{i}, sides);
        }
        done += run;
        AdvanceCombs<K>(run, length, pos);
    }
    source = src;
    for (int k = 0; k < K; ++k) combs[k]->pos = pos[k];
    for (int j = 0; j < P; ++j) tw::Split(m[j], combs[2 * j]->damp, combs[2 * j + 1]->damp);
    for (int j = 0; j < 2; ++j) tw::Split(m[P + j], combs[S + 2 * j]->damp, combs[S + 2 * j + 1]->damp);
    if (kOdd) combs[S - 1]->damp = mOdd;
}

// Pre-delay ring of `length` frames (one double, or left and right side by side for V Lanes), in
// place over n frames: write at the position, advance, read the value now under it (P - 1 frames
// old). A one-frame ring passes the signal straight through. Returns the new position.
template <class V>
ULONG PreDelay(double* ring, ULONG length, ULONG pos, double* signal, ULONG n) {
    constexpr int C = tw::kSpan<V>;
    if (length == 1) return 0;
    for (ULONG i = 0; i < n;) {
        if (pos + 1 == length) {  // the write is the last frame, the read the first
            tw::Store(ring + pos * C, tw::Load<V>(signal + i * C));
            pos = 0;
            tw::Store(signal + i * C, tw::Load<V>(ring));
            ++i;
            continue;
        }
        const ULONG run = std::min(n - i, length - 1 - pos);
        double* slot = ring + static_cast<size_t>(pos) * C;
        double* s = signal + static_cast<size_t>(i) * C;
        for (ULONG k = 0; k < run; ++k, slot += C, s += C) {
            tw::Store(slot, tw::Load<V>(s));
            tw::Store(s, tw::Load<V>(slot + C));
        }
        i += run;
        pos += run;
    }
    return pos;
}

// Positions of a ring after `run` more samples.
inline ULONG Advance(ULONG pos, ULONG run, ULONG length) {
    pos += run;
    return pos == length ? 0 : pos;
}

class CTwAudioReverb : public tw::CTwAudioBlock<CTwAudioReverb, ITwAudioReverb> {
public:
    CTwAudioReverb() {
        for (int i = 0; i < kMaxCombs; ++i) bank_[i] = &combs_[i];
        sides_[0] = &combs_[0];
        sides_[1] = &rightCombs_[0];
        sides_[2] = &combs_[1];
        sides_[3] = &rightCombs_[1];
    }
    ~CTwAudioReverb() { tw::ZeroFree(arena_); }

    static void ClampParams(ReverbParams& p) {
        p.wetGain = ClampGain(p.wetGain, 0.0, 4.0);
        p.dryGain = ClampGain(p.dryGain, 0.0, 4.0);
        p.combSet = ClampInt(p.combSet, 0, kCombSetCount - 1);
        p.earlyLevel = ClampInt(p.earlyLevel, kEarlyOff, 0);
        p.reverbTime = ClampUnsigned(p.reverbTime, 100);
        p.preDelay = ClampUnsigned(p.preDelay, 100);
        p.lowCutEnable = ClampInt(p.lowCutEnable, 0, 1);
        p.lowCutHz = ClampInt(p.lowCutHz, 10, 5000);
        p.highCutEnable = ClampInt(p.highCutEnable, 0, 1);
        p.highCutHz = ClampInt(p.highCutHz, 100, 15000);
    }

    // [streaming thread, or streaming start/stop] Called by SetFormat with the clamped record;
    // params() is still the previous record here.
    HRESULT Design(const ReverbParams& p, bool reset) {
        applied_ = false;
        const bool rebuild = reset || p.combSet != params().combSet || p.preDelay != params().preDelay;
        const double rate = static_cast<double>(sampleRate());

        wet_ = p.wetGain;
        dry_ = p.dryGain;
        early_ = p.earlyLevel > kEarlyOff ? std::pow(10.0, p.earlyLevel / 200.0) / 100.0 : 0.0;
        a_ = DampingCoefficient(p.highCutEnable == 1, p.highCutHz, rate);
        b_ = 1.0 - a_;
        lowCutOn_ = p.lowCutEnable == 1;
        if (lowCutOn_) {
            lowCut_ = LowCutDesign(p.lowCutHz, rate);
            l1_ = l2_ = 0.0;
        }
        const double decaySeconds = std::max(p.reverbTime, 1) / 20.0;
        tailFull_ = tailLeft_ = static_cast<int32_t>(decaySeconds * rate);

        if (rebuild) {
            const HRESULT hr = Rebuild(p, decaySeconds, rate);
            if (FAILED(hr)) return hr;
        } else {
            // The reverberation already in the combs keeps sounding at the new decay.
            for (int i = 0; i < combCount_; ++i) combs_[i].gain = CombGain(combs_[i].delayMs, decaySeconds);
            if (stereo_)
                for (Comb& c : rightCombs_) c.gain = CombGain(c.delayMs, decaySeconds);
        }
        applied_ = true;
        return S_OK;
    }

    // [streaming thread] Dry/Wet only: the lines keep sounding.
    HRESULT STDMETHODCALLTYPE SetMix(const ReverbParams* p) override {
        if (!p) return E_POINTER;
        wet_ = p->wetGain;
        dry_ = p->dryGain;
        return S_OK;
    }

    // [streaming thread] T is float or double; the block is valid and the buffer non-null.
    template <class T>
    HRESULT Process(T* buffer, ULONG frames, ULONG* outFrames, DWORD flags) {
        HRESULT hr = S_OK;
        if (flags & (kProcessDrain | kProcessSilent)) {
            draining_ = true;
            if (static_cast<int64_t>(frames) > tailLeft_) frames = static_cast<ULONG>(std::max(tailLeft_, 0));
            tailLeft_ -= static_cast<int32_t>(frames);
            if (tailLeft_ <= 0) hr = S_FALSE;
        } else if (draining_ && applied_) {
            tailLeft_ = tailFull_;
            draining_ = false;
        }
        if (stereo_) {
            if (lowCutOn_) RunStereo<true>(buffer, frames);
            else RunStereo<false>(buffer, frames);
        } else {
            if (lowCutOn_) RunMono<true>(buffer, frames);
            else RunMono<false>(buffer, frames);
        }
        *outFrames = frames;
        return hr;
    }

private:
    // Empties every comb and ring, all held in one arena. The controller rebuilds from the
    // streaming thread (at a start, after a break, at the end of each tail), so an arena of the
    // size needed is cleared and reused; only a new size allocates. A failed allocation leaves no
    // line and no arena behind, and SetFormat reports the block not valid.
    HRESULT Rebuild(const ReverbParams& p, double decaySeconds, double rate) {
        combCount_ = 0;
        stereo_ = false;
        for (Comb& c : combs_) c = Comb{};
        for (Comb& c : rightCombs_) c = Comb{};
        delay_ = er_ = nullptr;
        delayLength_ = erLength_ = 0;

        const CombSet& set = kCombSets[p.combSet];
        const bool stereo = channels() >= 2;
        const int sides = stereo ? 2 : 1;
        Comb combs[kMaxCombs] = {};
        Comb right[kRightCombs] = {};
        size_t total = 0;
        for (int i = 0; i < set.count; ++i) {
            combs[i].delayMs = set.delayMs[i];
            combs[i].length = CombLength(set.delayMs[i], rate);
            total += AlignedLength(combs[i].length);
        }
        if (stereo) {
            for (int j = 0; j < kRightCombs; ++j) {
                right[j].delayMs = set.delayMs[j] * kRightCombScale[j];
                right[j].length = CombLength(right[j].delayMs, rate);
                total += AlignedLength(right[j].length);
            }
        }
        const ULONG delayLength =
            std::max<ULONG>(static_cast<ULONG>(static_cast<uint64_t>(p.preDelay) * sampleRate() / 1000), 1);
        ULONG tap[3];
        for (int t = 0; t < 3; ++t)
            tap[t] = static_cast<ULONG>((kEarlyTaps[t].timeMs + kEarlyTaps[t].offsetMs) * rate / 1000.0);
        total += AlignedLength(sides * delayLength) + AlignedLength(sides * tap[2]);

        if (arena_ && arenaDoubles_ == total) {
            std::fill_n(arena_, total, 0.0);
        } else {
            tw::ZeroFree(arena_);
            arenaDoubles_ = 0;
            arena_ = static_cast<double*>(tw::ZeroAlloc(total * sizeof(double)));
            if (!arena_) return E_OUTOFMEMORY;
            arenaDoubles_ = total;
        }
        double* next = arena_;
        auto take = [&next](ULONG length) {
            double* line = next;
            next += AlignedLength(length);
            return line;
        };
        for (int i = 0; i < set.count; ++i) {
            combs[i].line = take(combs[i].length);
            combs[i].gain = CombGain(combs[i].delayMs, decaySeconds);
            combs_[i] = combs[i];
        }
        for (int j = 0; j < kRightCombs; ++j) {
            if (stereo) {
                right[j].line = take(right[j].length);
                right[j].gain = CombGain(right[j].delayMs, decaySeconds);
            }
            rightCombs_[j] = right[j];
        }
        delay_ = take(sides * delayLength);
        er_ = take(sides * tap[2]);

        combCount_ = set.count;
        stereo_ = stereo;
        delayLength_ = delayLength;
        delayPos_ = 0;
        erLength_ = tap[2];
        erTap1_ = tap[2] - tap[0];  // reads the input of K1 samples ago
        erTap2_ = tap[2] - tap[1];
        erWrite_ = 0;               // before the write: the input of K3 samples ago
        for (int t = 0; t < 3; ++t) {
            const double q = (kEarlyTaps[t].pan + 100.0) / 200.0;
            tapL_[t] = stereo ? kEarlyTaps[t].gain * (1.0 - q) : kEarlyTaps[t].gain;
            tapR_[t] = stereo ? kEarlyTaps[t].gain * q : 0.0;
        }
        s_ = 0.0;
        draining_ = false;
        return S_OK;
    }

    // Input lowpass (on the average of L and R in stereo), then the optional low cut, one frame
    // per call.
    template <bool kStereo, bool kLowCut, class T>
    struct Smoother {
        double a, b, k, f1, g2;
        double s, l1, l2;
        const T* x;
        WORD stride;
        double operator()() {
            double v;
            if constexpr (kStereo)
                v = b * (static_cast<double>(x[0]) + static_cast<double>(x[1])) * 0.5 + a * s;
            else
                v = b * static_cast<double>(x[0]) + a * s;
            x += stride;
            v = tw::FlushTiny(v, kInputFloor);
            s = v;
            if constexpr (kLowCut) {
                const double l = tw::FlushTiny(k * v + f1 * l1 - g2 * l2, kInputFloor);
                l2 = l1;
                l1 = l;
                v -= static_cast<double>(static_cast<float>(l));  // the low cut subtracts at single precision
            }
            return v;
        }
    };

    // The same into y[].
    template <bool kStereo, bool kLowCut, class T>
    void SmoothInput(const T* x, WORD stride, ULONG n, double* __restrict y) {
        Smoother<kStereo, kLowCut, T> src{a_, b_, lowCut_.k, lowCut_.f1, lowCut_.g2, s_, l1_, l2_, x, stride};
        for (ULONG i = 0; i < n; ++i) y[i] = src();
        s_ = src.s;
        l1_ = src.l1;
        l2_ = src.l2;
    }

    template <bool kLowCut, class T>
    void RunMono(T* buffer, ULONG frames) {
        double y[kChunkFrames];
        double sum[kChunkFrames];
        for (ULONG done = 0; done < frames;) {
            const ULONG n = std::min(frames - done, kChunkFrames);
            T* x = buffer + done;
            SmoothInput<false, kLowCut>(x, 1, n, y);
            std::fill(sum, sum + n, 0.0);
            RunBank(bank_, combCount_, y, sum, n, a_, b_);

            delayPos_ = PreDelay<double>(delay_, delayLength_, delayPos_, sum, n);

            double* const er = er_;
            const ULONG erLength = erLength_;
            const double g1 = tapL_[0], g2 = tapL_[1], g3 = tapL_[2];
            const double early = early_, wet = wet_, dry = dry_;
            for (ULONG i = 0; i < n;) {
                // Between wraps of the three taps.
                const ULONG run = std::min({n - i, erLength - erTap1_, erLength - erTap2_, erLength - erWrite_});
                const double* r1 = er + erTap1_;  // input of K1 samples ago
                const double* r2 = er + erTap2_;  // K2
                double* r3 = er + erWrite_;       // K3, then overwritten with the input
                T* xx = x + i;
                const double* v = sum + i;        // the comb sum of P - 1 samples ago
                for (ULONG k = 0; k < run; ++k) {
                    const double in = static_cast<double>(xx[k]);
                    const double e = g1 * r1[k] + g2 * r2[k] + g3 * r3[k];
                    xx[k] = static_cast<T>(early * e + wet * v[k] + dry * in);
                    r3[k] = in;
                }
                i += run;
                erTap1_ = Advance(erTap1_, run, erLength);
                erTap2_ = Advance(erTap2_, run, erLength);
                erWrite_ = Advance(erWrite_, run, erLength);
            }
            done += n;
        }
    }

    // Channels 0 and 1 only; any further channels pass through untouched. Past the shared combs
    // the two sides run in the two lanes of a register, each with the operations of its own side.
    template <bool kLowCut, class T>
    void RunStereo(T* buffer, ULONG frames) {
        using tw::Lanes;
        const WORD stride = channels();
        double y[kChunkFrames];
        double shared[kChunkFrames];
        double sums[2 * kChunkFrames];  // left and right comb sums side by side
        const Lanes g1 = tw::MakeLanes(tapL_[0], tapR_[0]);
        const Lanes g2 = tw::MakeLanes(tapL_[1], tapR_[1]);
        const Lanes g3 = tw::MakeLanes(tapL_[2], tapR_[2]);
        const Lanes early = tw::Splat<Lanes>(early_), wet = tw::Splat<Lanes>(wet_), dry = tw::Splat<Lanes>(dry_);
        for (ULONG done = 0; done < frames;) {
            const ULONG n = std::min(frames - done, kChunkFrames);
            T* x = buffer + static_cast<size_t>(done) * stride;
            // Combs 2 .. N-1 are shared; combs 0 and 1 finish the left sum, the right combs the right.
            if (combCount_ == 10 || combCount_ == 9) {
                Smoother<true, kLowCut, T> source{a_, b_, lowCut_.k, lowCut_.f1, lowCut_.g2, s_, l1_, l2_, x, stride};
                if (combCount_ == 10) RunStereoBank<4, false>(bank_ + 2, sides_, source, sums, n, a_, b_);
                else RunStereoBank<3, true>(bank_ + 2, sides_, source, sums, n, a_, b_);
                s_ = source.s;
                l1_ = source.l1;
                l2_ = source.l2;
            } else {
                SmoothInput<true, kLowCut>(x, stride, n, y);
                std::fill(shared, shared + n, 0.0);
                RunBank(bank_ + 2, combCount_ - 2, y, shared, n, a_, b_);
                RunSides(sides_, y, shared, sums, n, a_, b_);
            }
            delayPos_ = PreDelay<Lanes>(delay_, delayLength_, delayPos_, sums, n);

            // Every tap adds the left and right input of one past frame, so the reflection ring keeps
            // that sum, formed once as the frame is written (the same addition, done earlier), and
            // keeps it in both lanes of the frame's slot: the taps load it ready for both sides.
            double* const er = er_;
            const ULONG erLength = erLength_;
            for (ULONG i = 0; i < n;) {
                const ULONG run = std::min({n - i, erLength - erTap1_, erLength - erTap2_, erLength - erWrite_});
                const double* r1 = er + 2 * size_t{erTap1_};
                const double* r2 = er + 2 * size_t{erTap2_};
                double* r3 = er + 2 * size_t{erWrite_};
                const double* v = sums + 2 * size_t{i};
                T* xx = x + static_cast<size_t>(i) * stride;
                for (size_t k = 0; k < 2 * size_t{run}; k += 2, xx += stride) {
                    const Lanes in = tw::LoadFrame(xx);
                    const Lanes e = g1 * tw::LoadFrame(r1 + k) + g2 * tw::LoadFrame(r2 + k) + g3 * tw::LoadFrame(r3 + k);
                    tw::StoreFrame(xx, early * e + wet * tw::LoadFrame(v + k) + dry * in);
                    tw::StoreFrame(r3 + k, tw::Splat<Lanes>(tw::Left(in) + tw::Right(in)));
                }
                i += run;
                erTap1_ = Advance(erTap1_, run, erLength);
                erTap2_ = Advance(erTap2_, run, erLength);
                erWrite_ = Advance(erWrite_, run, erLength);
            }
            done += n;
        }
    }

    // Live mix and levels.
    double wet_ = 0.0, dry_ = 0.0;
    double early_ = 0.0;  // E: 10^(earlyLevel / 200) / 100, or 0
    // Input lowpass and comb damping: y = b*x + a*s, m = a*m + b*o.
    double a_ = 0.0, b_ = 0.0, s_ = 0.0;
    bool lowCutOn_ = false;
    LowCut lowCut_{};
    double l1_ = 0.0, l2_ = 0.0;

    // Lines: all inside arena_.
    double* arena_ = nullptr;
    size_t arenaDoubles_ = 0;
    int combCount_ = 0;  // N, 9 or 10
    bool stereo_ = false;
    Comb combs_[kMaxCombs] = {};
    Comb rightCombs_[kRightCombs] = {};
    Comb* bank_[kMaxCombs] = {};  // combs_ in order
    Comb* sides_[4] = {};         // comb 0, right comb 0, comb 1, right comb 1
    // Pre-delay ring of P frames (left and right side by side in stereo).
    double* delay_ = nullptr;
    ULONG delayLength_ = 0, delayPos_ = 0;
    // Early-reflection ring of K3 frames (in stereo the sum of the left and right input, twice),
    // with the tap and write positions in frames.
    double* er_ = nullptr;
    ULONG erLength_ = 0, erTap1_ = 0, erTap2_ = 0, erWrite_ = 0;
    double tapL_[3] = {}, tapR_[3] = {};  // hundredths; mono uses tapL_

    // Tail in frames, counted down in drain mode.
    int32_t tailFull_ = 0, tailLeft_ = 0;
    bool applied_ = false;
    bool draining_ = false;
};

}  // namespace

HRESULT CreateAudioReverb(ITwAudioReverb** out) { return CTwAudioReverb::Create(out); }
