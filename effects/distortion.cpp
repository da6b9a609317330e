// Distortion: a soft or hard clipping curve, a short averaging comb and a slew limiter, mixed with
// the dry input. Comb length, lag and slew limit are counted in samples, at any sample rate.
#include "effects/distortion.h"

#include "effects/block_base.h"

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
        for (WORD ch = 0; ch < n; ++ch) {
            if (coef_.hardClip)
                RunChannel<T, true>(buffer + ch, frames, n, state_[ch]);
            else
                RunChannel<T, false>(buffer + ch, frames, n, state_[ch]);
        }
        return S_OK;
    }

private:
    struct Channel {
        double comb[kCombLength];
        int pos;      // next write slot
        double last;  // the limiter's last output
    };

    template <class T, bool kHard>
    void RunChannel(T* p, ULONG frames, WORD stride, Channel& ch) const {
        const double thr = coef_.threshold, k = coef_.slope, makeUp = coef_.makeUp;
        const double limit = coef_.stepLimit, ramp = coef_.rampWidth;
        const double dry = coef_.dryGain, wet = coef_.wetGain;
        double* const comb = ch.comb;
        int write = ch.pos;
        int read = write - coef_.lag;
        if (read < 0) read += kCombLength;
        double last = ch.last;
        for (ULONG left = frames; left > 0;) {
            // Up to the next wrap of either comb position the loop needs no index checks.
            ULONG run = static_cast<ULONG>(kCombLength - (write > read ? write : read));
            if (run > left) run = left;
            double* const writeAt = comb + write;
            const double* const readAt = comb + read;
            for (ULONG i = 0; i < run; ++i, p += stride) {
                const double x = *p;
                double y = x;
                if (kHard) {
                    // Divided, not scaled by 100: the ramp is defined by that quotient, bit for bit.
                    if (x > 0) {
                        y = thr + (x - thr) * k;
                        if (x < ramp) y = y * x / kRampScale;
                    } else if (x < 0) {
                        y = (x + thr) * k - thr;
                        if (x > -ramp) y = y * -x / kRampScale;
                    }
                } else {
                    // The soft threshold (0.02 at least) lies above any ramp width (0.01 at most).
                    if (x > thr)
                        y = thr + (x - thr) * k;
                    else if (x < -thr)
                        y = (x + thr) * k - thr;
                }
                const double v = y * makeUp;
                writeAt[i] = v;  // written before the read, so lag 0 reads v itself
                double o = (v + readAt[i]) * 0.5;
                const double step = o - last;
                if (step > limit)
                    o = last + limit;
                else if (step < -limit)
                    o = last - limit;
                last = o;
                *p = static_cast<T>(x * dry + o * wet);
            }
            left -= run;
            write += static_cast<int>(run);
            read += static_cast<int>(run);
            if (write == kCombLength) write = 0;
            if (read == kCombLength) read = 0;
        }
        ch.pos = write;
        ch.last = last;
    }

    DistortionCoefficients coef_;
    Channel state_[kMaxBlockChannels];  // sized for every channel count, so no format change allocates
};

}  // namespace

}  // namespace tw

HRESULT CreateAudioDistortion(ITwAudioDistortion** out) { return tw::CTwAudioDistortion::Create(out); }
