// Feedback delay: one circular line per channel, a window of D + 1 slots that the running position
// cycles through, the echo fed back with the decay gain, and a dry/wet sum at the output.
#include "effects/block_base.h"
#include "effects/stereo_lanes.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kTenthsMsPerSecond = 10000;       // delay times are tenths of a millisecond
constexpr int kLineTenthsMs = 22501;            // a line holds the longest delay, 2.25 s, plus 0.1 ms
constexpr int32_t kMaxDelayTenthsMs = 22500;    // 2.25 s
constexpr int32_t kMinDelaySamples = 2;         // an echo period of at least 3 samples
constexpr int32_t kMaxDecayTenthsPct = 900;     // feedback 0.9
constexpr double kDecayTenthsPerUnit = 1000.0;  // tenths of a percent per unit of feedback
constexpr double kMaxGain = 4.0;                // dry and wet gains, linear
constexpr double kTailNepers = 5.0;             // a tail lasts until the echoes fell by e^5 (about 43 dB)
constexpr double kOutputFloor = 0x1p-32;        // outputs below 2^-32 in magnitude become exactly 0.0

struct DelayLine {
    double* slots;
    double feedback;
    int32_t delay;        // D: the window end lies D slots after its start
    int32_t first;        // always 0
    int32_t last;         // n - 1
    int32_t windowStart;
    int32_t windowEnd;
    int32_t position;
    int32_t tail;         // samples over all channels
};

int32_t ClampInt(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// NaN counts as the low end: a gain that is not a number would turn every output into NaN.
double ClampGain(double v) { return !(v >= 0.0) ? 0.0 : (v > kMaxGain ? kMaxGain : v); }

// Index `steps` slots after `from` on a circular line of `slots` slots (steps < slots).
int32_t Advance(int32_t from, int32_t steps, int32_t slots) {
    const int32_t to = from + steps;
    return to >= slots ? to - slots : to;
}

class CTwAudioDelay : public tw::CTwAudioBlock<CTwAudioDelay, ITwAudioDelay> {
public:
    ~CTwAudioDelay() {
        for (DelayLine& line : lines_) tw::ZeroFree(line.slots);
    }

    static void ClampParams(DelayParams& p) {
        p.dryGain = ClampGain(p.dryGain);
        p.wetGain = ClampGain(p.wetGain);
        p.delayTime = ClampInt(p.delayTime, 0, kMaxDelayTenthsMs);
        p.reservedDecay = ClampInt(p.reservedDecay, 0, kMaxDecayTenthsPct);
        p.decay = ClampInt(p.decay, 0, kMaxDecayTenthsPct);
    }

    // [streaming thread, or streaming start/stop] Within SetFormat, on the clamped record.
    HRESULT Design(const DelayParams& p, bool reset) {
        const int rate = static_cast<int>(sampleRate());
        const int32_t slots = MulDiv(kLineTenthsMs, rate, kTenthsMsPerSecond);
        const HRESULT hr = EnsureLines(slots, reset);
        if (FAILED(hr)) return hr;

        dryGain_ = p.dryGain;
        wetGain_ = p.wetGain;
        const double feedback = p.decay / kDecayTenthsPerUnit;
        feedbackNonZero_ = feedback != 0.0;
        // Below 10 kHz the rounded longest delay can reach n; the window of D + 1 slots must fit.
        int32_t delay = MulDiv(p.delayTime, rate, kTenthsMsPerSecond);
        delay = std::min(std::max(delay, kMinDelaySamples), slots - 1);
        for (WORD c = 0; c < channels(); ++c) {
            DelayLine& line = lines_[c];
            line.feedback = feedback;
            MoveWindow(line, delay);
        }
        ComputeTail();
        return S_OK;
    }

    // [streaming thread] Only the live gains change, unclamped: the lines keep sounding.
    HRESULT STDMETHODCALLTYPE SetMix(const DelayParams* p) override {
        if (!p) return E_POINTER;
        dryGain_ = p->dryGain;
        wetGain_ = p->wetGain;
        return S_OK;
    }

    // [streaming thread] Channel by channel; in drain mode each channel pass counts down the tail.
    template <class T>
    HRESULT Process(T* buffer, ULONG frames, ULONG* outFrames, DWORD flags) {
        const bool drain = (flags & (kProcessDrain | kProcessSilent)) != 0;
        if (!drain && draining_) ComputeTail();
        const WORD stride = channels();
        HRESULT result = S_OK;
        ULONG count = frames;
        WORD c = 0;
        if (!drain && stride >= 2 && InStep(lines_[0], lines_[1])) {
            // Outside drain mode channels 0 and 1 cover the same frames: both at once, in lanes.
            RunChannels<T, tw::Lanes>(buffer, count, stride, lines_, dryGain_, wetGain_);
            c = 2;
        }
        for (; c < stride; ++c) {
            if (drain) {
                draining_ = true;
                const ULONG left = remainingTail_ > 0 ? static_cast<ULONG>(remainingTail_) : 0;
                if (count > left) count = left;
                remainingTail_ -= static_cast<int32_t>(count);
                if (remainingTail_ <= 0) result = S_FALSE;
            }
            if (count) RunChannels<T, double>(buffer + c, count, stride, lines_ + c, dryGain_, wetGain_);
        }
        *outFrames = count;
        return result;
    }

private:
    // Lines of `slots` doubles for every channel of the format, emptied when `reset`.
    HRESULT EnsureLines(int32_t slots, bool reset) {
        bool fit = true;
        for (WORD c = 0; c < channels(); ++c)
            fit = fit && lines_[c].slots && lines_[c].last == slots - 1;
        if (fit) {
            if (reset)
                for (WORD c = 0; c < channels(); ++c) {
                    std::fill_n(lines_[c].slots, slots, 0.0);
                    ClearIndices(lines_[c], slots);
                }
            return S_OK;
        }
        for (DelayLine& line : lines_) {
            tw::ZeroFree(line.slots);
            line = DelayLine{};
        }
        for (WORD c = 0; c < channels(); ++c) {
            lines_[c].slots = static_cast<double*>(tw::ZeroAlloc(static_cast<size_t>(slots) * sizeof(double)));
            if (!lines_[c].slots) return E_OUTOFMEMORY;
            ClearIndices(lines_[c], slots);
        }
        return S_OK;
    }

    static void ClearIndices(DelayLine& line, int32_t slots) {
        line.delay = 0;
        line.first = 0;
        line.last = slots - 1;
        line.windowStart = line.windowEnd = line.position = line.tail = 0;
    }

    // Grows the window at its end (the new slots keep what they hold) or shrinks it at its start,
    // clearing the slots that leave it; the running position stays where it is.
    static void MoveWindow(DelayLine& line, int32_t delay) {
        const int32_t slots = line.last + 1;
        if (delay > line.delay) {
            line.windowEnd = Advance(line.windowEnd, delay - line.delay, slots);
        } else if (delay < line.delay) {
            int32_t slot = line.windowStart;
            for (int32_t k = line.delay - delay; k > 0; --k) {
                line.slots[slot] = 0.0;
                slot = Advance(slot, 1, slots);
            }
            line.windowStart = slot;
        }
        line.delay = delay;
    }

    // Full tail: channels x D x E samples, E the echoes until the level fell by e^5.
    void ComputeTail() {
        int32_t longest = 0;
        for (WORD c = 0; c < channels(); ++c) {
            DelayLine& line = lines_[c];
            const int32_t echoes =
                feedbackNonZero_ ? static_cast<int32_t>(0.5 - kTailNepers / std::log(line.feedback)) : 1;
            line.tail = static_cast<int32_t>(channels()) * line.delay * echoes;
            longest = std::max(longest, line.tail);
        }
        remainingTail_ = longest;
        draining_ = false;
    }

    // True when two lines run through the same slots: same size, window and position. Then only
    // their contents differ (which is the usual case: one SetFormat moves every window alike).
    static bool InStep(const DelayLine& a, const DelayLine& b) {
        return a.last == b.last && a.windowStart == b.windowStart && a.windowEnd == b.windowEnd &&
               a.position == b.position && a.feedback == b.feedback;
    }

    // One channel (V double) or channels 0 and 1 in step (V Lanes) over `count` frames. The
    // position runs in straight stretches up to the window end (then back to the window start) or
    // up to the line's last slot (then to slot 0).
    template <class T, class V>
    static void RunChannels(T* samples, ULONG count, size_t stride, DelayLine* lines, double dryGain, double wetGain) {
        DelayLine& left = lines[0];
        DelayLine& right = lines[tw::kSpan<V> - 1];
        const V feedback = tw::Splat<V>(left.feedback), dry = tw::Splat<V>(dryGain), wet = tw::Splat<V>(wetGain);
        const int32_t windowStart = left.windowStart;
        const int32_t windowEnd = left.windowEnd;
        const int32_t last = left.last;
        int32_t p = left.position;
        size_t at = 0;
        while (count) {
            const bool toWindowEnd = p <= windowEnd;
            const int32_t stop = toWindowEnd ? windowEnd : last;
            const ULONG run = std::min(count, static_cast<ULONG>(stop - p + 1));
            double* const slotL = left.slots + p;
            double* const slotR = right.slots + p;
            for (ULONG i = 0; i < run; ++i, at += stride) {
                const V x = tw::Load<V>(samples + at);
                const V echo = tw::Join<V>(slotL[i], slotR[i]);
                tw::Split(x + feedback * echo, slotL[i], slotR[i]);
                tw::Store(samples + at, tw::FlushTiny(dry * x + wet * echo, kOutputFloor));
            }
            p += static_cast<int32_t>(run);
            count -= run;
            if (p > stop) p = toWindowEnd ? windowStart : 0;
        }
        left.position = right.position = p;
    }

    double dryGain_ = 0.0;
    double wetGain_ = 0.0;
    bool feedbackNonZero_ = false;
    bool draining_ = false;       // a drain-mode call ran since the tail was last computed
    int32_t remainingTail_ = 0;   // samples over all channels
    DelayLine lines_[tw::kMaxBlockChannels] = {};
};

}  // namespace

HRESULT CreateAudioDelay(ITwAudioDelay** out) { return CTwAudioDelay::Create(out); }
