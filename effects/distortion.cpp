// Distortion: a soft or hard clipping curve, a short averaging comb and a slew limiter, mixed with
// the dry input. Comb length, lag and slew limit are counted in samples, at any sample rate.
#include "effects/distortion.h"

#include "effects/block_base.h"
#include "effects/stereo_lanes.h"

#include <algorithm>
#include <cmath>

namespace tw {

namespace {

constexpr int kCombLength = 500;            // samples per channel
constexpr double kMaxGain = 4.0;            // linear, dry and wet
constexpr int32_t kMaxDrive = 1000;         // thousandths of full drive
constexpr int32_t kMaxSlewPercent = 100;    // percent
constexpr double kTopSlew = 0.99;           // slew at 100 %, so that the step limit stays above 0
constexpr double kHardSlopeLoss = 0.95;     // slope lost at full drive with hard clipping
constexpr double kSoftThresholdLoss = 0.98; // threshold lost over three decades of drive
constexpr double kStepLimitLoss = 0.9;      // step limit lost at full slew, linear amplitude
constexpr double kRampScale = 0.01;         // linear amplitude: ramp width at zero slew

int32_t ClampInt(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// NaN becomes 0 like any value below the range.
double ClampGain(double g) { return g > kMaxGain ? kMaxGain : (g >= 0.0 ? g : 0.0); }

}  // namespace

void ClampDistortionParams(DistortionParams& p) {
    p.dryGain = ClampGain(p.dryGain);
    p.wetGain = ClampGain(p.wetGain);
    p.drive = ClampInt(p.drive, 0, kMaxDrive);
    p.slewPercent = ClampInt(p.slewPercent, 0, kMaxSlewPercent);
    p.hardClip = ClampInt(p.hardClip, 0, 1);
}

DistortionCoefficients DesignDistortion(const DistortionParams& p) {
    DistortionCoefficients c{};
    c.slew = p.slewPercent == kMaxSlewPercent ? kTopSlew : p.slewPercent / 100.0;
    c.lag = p.slewPercent / 2;
    c.stepLimit = 1.0 - kStepLimitLoss * c.slew;
    c.rampWidth = (1.0 - c.slew) * kRampScale;
    const double d = p.drive;
    if (p.hardClip) {
        c.slope = 1.0 - (d / 1000.0) * kHardSlopeLoss;
        c.threshold = 0.5 * c.slope + 0.5;
        c.makeUp = 1.0;
    } else {
        const double e = d > 0 ? std::log10(d) / 3.0 : 0.0;
        c.slope = c.threshold = 1.0 - kSoftThresholdLoss * e;
        const double t = c.threshold;
        c.makeUp = 1.0 / (t + (1.0 - t) * t);  // a full-scale 1.0 leaves the curve at exactly 1.0
    }
    c.dryGain = p.dryGain;
    c.wetGain = p.wetGain;
    c.hardClip = p.hardClip != 0;
    return c;
}

namespace {

// The coefficients the per-sample loop reads, in the kernel's lane type.
template <class V>
struct Curve {
    V thr, k, makeUp, limit, ramp, dry, wet;
    explicit Curve(const DistortionCoefficients& c)
        : thr(Splat<V>(c.threshold)), k(Splat<V>(c.slope)), makeUp(Splat<V>(c.makeUp)), limit(Splat<V>(c.stepLimit)),
          ramp(Splat<V>(c.rampWidth)), dry(Splat<V>(c.dryGain)), wet(Splat<V>(c.wetGain)) {}
};

// The clipping curve of one sample.
// (Both overloads take the curve as Curve<V>: naming Curve<Lanes> outright makes GCC warn that it
// drops the vector attributes.)
template <bool kHard, class V>
inline double Shape(double x, const Curve<V>& c) {
    const double thr = c.thr, k = c.k;
    if (kHard) {
        // Divided, not scaled by 100: the ramp is defined by that quotient, bit for bit.
        if (x > 0) {
            const double y = thr + (x - thr) * k;
            return x < c.ramp ? y * x / kRampScale : y;
        }
        if (x < 0) {
            const double y = (x + thr) * k - thr;
            return x > -c.ramp ? y * -x / kRampScale : y;
        }
        return x;
    }
    // The soft threshold (0.02 at least) lies above any ramp width (0.01 at most).
    if (x > thr) return thr + (x - thr) * k;
    if (x < -thr) return (x + thr) * k - thr;
    return x;
}

// The same curve on two lanes, without branches. Rounding is symmetric about zero, so the
// negative branch is the positive one applied to |x| with the sign put back, bit for bit:
// (x + T)k - T = -(T + (|x| - T)k), and the ramp likewise. (A zero of differing sign could only
// come from (x + T)k = T, which a slope below 1 rules out for x < 0.) At or below the knee |x|
// passes, so 0, -0 and NaN keep their bits once the sign is back.
template <bool kHard, class V>
inline Lanes Shape(Lanes x, const Curve<V>& c) {
    const Lanes signBit = _mm_set1_pd(-0.0);
    const Lanes a = _mm_andnot_pd(signBit, x);
    const Lanes sign = _mm_and_pd(x, signBit);
    const Lanes y = c.thr + (a - c.thr) * c.k;
    if (kHard) {
        const Lanes ramped = Select(_mm_cmplt_pd(a, c.ramp), y * a / _mm_set1_pd(kRampScale), y);
        return _mm_xor_pd(Select(_mm_cmpgt_pd(a, _mm_setzero_pd()), ramped, a), sign);
    }
    // The soft curve has a slope below 1 (about 0.9 at most, at drive 2; drive 1 gives 1 and leaves
    // buffers untouched), so
    // its line lies below |x| beyond the threshold and above it up to there, by far more than any
    // rounding: the smaller of the two is the curve. MINPD answers its second operand for a NaN.
    return _mm_xor_pd(_mm_min_pd(y, a), sign);
}

// Slew limiting of the comb output o against the last output.
inline double Limit(double o, double last, double limit) {
    const double step = o - last;
    if (step > limit) return last + limit;
    if (step < -limit) return last - limit;
    return o;
}
inline Lanes Limit(Lanes o, Lanes last, Lanes limit) {
    const Lanes step = o - last;
    const Lanes up = _mm_cmpgt_pd(step, limit), down = _mm_cmplt_pd(step, Negate(limit));
    // Mostly neither lane is limited. Branching on that, rather than always selecting, keeps the
    // output free of a dependency on the last one, so successive frames overlap.
    if (_mm_movemask_pd(_mm_or_pd(up, down)) == 0) return o;
    return Select(up, last + limit, Select(down, last - limit, o));
}

class CTwAudioDistortion : public CTwAudioBlock<CTwAudioDistortion, ITwAudioDistortion> {
public:
    static void ClampParams(DistortionParams& p) { ClampDistortionParams(p); }

    // The combs and limiters are never cleared, so `reset` has nothing to do here.
    HRESULT Design(const DistortionParams& clamped, bool) {
        coef_ = DesignDistortion(clamped);
        return S_OK;
    }

    template <class T>
    HRESULT Process(T* buffer, ULONG frames, ULONG* outFrames, DWORD) {
        *outFrames = frames;
        if (coef_.slope == 1.0) return S_OK;  // no drive: the buffer and the state stay as they are
        const WORD n = channels();
        WORD ch = 0;
        if (n >= 2) {  // channels 0 and 1 side by side in lanes
            RunChannels<T, Lanes>(buffer, frames, n, state_);
            ch = 2;
        }
        for (; ch < n; ++ch) RunChannels<T, double>(buffer + ch, frames, n, state_ + ch);
        return S_OK;
    }

private:
    struct Channel {
        double comb[kCombLength];
        int pos;      // next write slot
        double last;  // the limiter's last output
    };

    template <class T, class V>
    void RunChannels(T* p, ULONG frames, WORD stride, Channel* ch) const {
        if (coef_.hardClip)
            RunChannels<T, V, true>(p, frames, stride, ch);
        else
            RunChannels<T, V, false>(p, frames, stride, ch);
    }

    // One channel (V double) or channels 0 and 1 (V Lanes), each with its own comb position: they
    // part when the channel count changes, as the combs are never cleared.
    template <class T, class V, bool kHard>
    void RunChannels(T* p, ULONG frames, WORD stride, Channel* ch) const {
        Channel& left = ch[0];
        Channel& right = ch[kSpan<V> - 1];
        const Curve<V> c(coef_);
        const V half = Splat<V>(0.5);
        int writeL = left.pos, writeR = right.pos;
        int readL = Wrap(writeL - coef_.lag), readR = Wrap(writeR - coef_.lag);
        V last = Join<V>(left.last, right.last);
        for (ULONG todo = frames; todo > 0;) {
            // Up to the next wrap of any comb position the loop needs no index checks.
            ULONG run = static_cast<ULONG>(kCombLength - std::max({writeL, readL, writeR, readR}));
            if (run > todo) run = todo;
            double* const wL = left.comb + writeL;
            double* const wR = right.comb + writeR;
            const double* const rL = left.comb + readL;
            const double* const rR = right.comb + readR;
            for (ULONG i = 0; i < run; ++i, p += stride) {
                const V x = Load<V>(p);
                const V v = Shape<kHard>(x, c) * c.makeUp;
                Split(v, wL[i], wR[i]);  // written before the read, so lag 0 reads v itself
                const V o = Limit((v + Join<V>(rL[i], rR[i])) * half, last, c.limit);
                last = o;
                Store(p, x * c.dry + o * c.wet);
            }
            todo -= run;
            writeL = Wrap(writeL + static_cast<int>(run));
            writeR = Wrap(writeR + static_cast<int>(run));
            readL = Wrap(readL + static_cast<int>(run));
            readR = Wrap(readR + static_cast<int>(run));
        }
        Split(last, left.last, right.last);
        left.pos = writeL;
        right.pos = writeR;
    }

    // A comb position brought back into 0 .. kCombLength - 1 after a step of at most one length.
    static int Wrap(int pos) { return pos < 0 ? pos + kCombLength : (pos >= kCombLength ? pos - kCombLength : pos); }

    DistortionCoefficients coef_;
    Channel state_[kMaxBlockChannels];  // sized for every channel count, so no format change allocates
};

}  // namespace

}  // namespace tw

HRESULT CreateAudioDistortion(ITwAudioDistortion** out) { return tw::CTwAudioDistortion::Create(out); }
