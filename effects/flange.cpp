// LFO modulation block CTwAudioFlange: flange, phaser, chorus and wah-wah behind one record.
#include "effects/flange.h"

#include "effects/block_base.h"
#include "effects/stereo_lanes.h"

#include <cmath>
#include <cstring>

namespace tw {
namespace flange {

namespace {
// Written to 11 decimals, a little above 2 pi; the LFO periods are tuned to this value.
constexpr double kTwoPi = 6.28318530718;
constexpr double kPi = 3.14159265358979323846;
// Base delay range per effect, in units of 0.1 ms: 1 ms flange, 20 ms chorus.
constexpr int kFlangeDelayTenthsMs = 10;
constexpr int kChorusDelayTenthsMs = 200;
constexpr int kTenthsMsPerSecond = 10000;
constexpr double kMilliHzPerHz = 1000.0;
constexpr double kPercent = 100.0;
// Delay line: 2 tenths of a second, rounded up to whole frames, plus 100 frames of headroom.
constexpr DWORD kLineTenthsOfSecond = 2;
constexpr DWORD kLineExtraFrames = 100;
// Sweep centre frequencies in Hz and filter widths of the all-pass.
constexpr double kPhaserCentreHz = 200.0;
constexpr double kWahCentreHz = 1000.0;
constexpr double kPhaserWidth = 1.0 / 6.0;
constexpr double kWahWidth = 6.0;
// Depth curve of the sweep span: r0 = (depth - 50)^2 x 0.002 + 1.
constexpr double kSpanDepthCentre = 50.0;
constexpr double kSpanCurve = 0.002;
constexpr double kNyquist = 0.5;
// Delay-line gains: the flange's feedback; wet1 and wet2 of the two voices and the left and
// right gains, each times the base wet gain; each chorus voice returns the mean of its input
// and its mix.
constexpr double kFlangeFeedback = 0.5;
constexpr double kWet1 = 0.9, kWet2 = 0.81, kGainLeft = 0.9, kGainRight = 0.95;
constexpr double kChorusWet = 1.0;
constexpr double kChorusMean = 0.5;
// Frames whose LFO sines are computed ahead, so that the audio loop makes no call.
constexpr ULONG kLfoBatch = 64;

template <class V>
void Clamp(V& v, V lo, V hi) {
    if (v < lo) v = lo;
    if (v > hi) v = hi;
}
}  // namespace

void ClampFlangeParams(FlangeParams& p) {
    // A NaN gain would poison the flange's feedback line for good: it counts as silence.
    if (!(p.dryGain >= 0.0)) p.dryGain = 0.0;
    if (!(p.wetGain >= 0.0)) p.wetGain = 0.0;
    Clamp(p.dryGain, 0.0, kMaxGain);
    Clamp(p.wetGain, 0.0, kMaxGain);
    Clamp(p.rateMilliHz, kMinRateMilliHz, kMaxRateMilliHz);  // unsigned: 0xFFFFFFFF is fast, not slow
    Clamp(p.depthPercent, kMinDepthPercent, kMaxDepthPercent);
    Clamp(p.spare, kMinSpare, kMaxSpare);
}

int DelayLineLength(DWORD rate) {
    return static_cast<int>((rate * kLineTenthsOfSecond + 9) / 10 + kLineExtraFrames);
}

int MaxDelaySamples(DWORD rate, int32_t lfoType) {
    const int tenths = lfoType == kTypeFlange ? kFlangeDelayTenthsMs
                       : lfoType == kTypeChorus ? kChorusDelayTenthsMs
                                                : 0;
    return static_cast<int>(rate * static_cast<DWORD>(tenths) / kTenthsMsPerSecond);
}

int BaseDelaySamples(int maxDelay, int voice) {
    return static_cast<int>(kVoiceFactor[voice] * maxDelay);
}

int LfoPeriodSamples(DWORD rate, uint32_t rateMilliHz, int voice) {
    const double periodSeconds = kMilliHzPerHz / rateMilliHz;
    return static_cast<int>(periodSeconds * rate * kVoiceFactor[voice]);
}

double LfoPhaseStep(int period) { return kTwoPi / period; }

int DepthSamples(uint32_t depthPercent, int maxDelay) {
    return static_cast<int>(depthPercent / kPercent * maxDelay);
}

SweepShape SweepShapeFor(DWORD rate, uint32_t rateMilliHz) {
    SweepShape s;
    // Integer division: whole samples per half cycle (192000 x 1000 still fits 32 bits).
    s.halfCycle = static_cast<ULONG>(rate * static_cast<DWORD>(kMilliHzPerHz) / (2u * rateMilliHz));
    s.count = s.halfCycle < kSweepTableSize ? s.halfCycle : kSweepTableSize;
    s.step = static_cast<double>(s.count) / s.halfCycle;
    return s;
}

double SweepSpan(uint32_t depthPercent) {
    const double d = static_cast<double>(depthPercent) - kSpanDepthCentre;
    const double r0 = d * d * kSpanCurve + 1.0;
    const double r = d <= 0.0 ? r0 : 1.0 / r0;
    return std::pow(2.0, 1.0 / r);
}

SweepBand SweepBandFor(DWORD rate, int32_t lfoType, uint32_t depthPercent, ULONG count) {
    const double span = SweepSpan(depthPercent);
    const double f0 = (lfoType == kTypeWahWah ? kWahCentreHz : kPhaserCentreHz) / rate;
    SweepBand b;
    b.fLo = f0 / span;
    b.fHi = f0 * span;
    if (b.fHi > kNyquist) b.fHi = kNyquist;
    b.increment = b.fHi < b.fLo ? 0.0 : (b.fHi - b.fLo) / count;
    return b;
}

void DesignSweepTables(const SweepBand& band, int32_t lfoType, ULONG count, double* a1, double* a2) {
    const double width = lfoType == kTypeWahWah ? kWahWidth : kPhaserWidth;
    for (ULONG i = 0; i < count; ++i) {
        const double f = band.fLo + i * band.increment;
        a1[i] = 2.0 * std::exp(-kPi * f / width) * std::cos(2.0 * kPi * f);
        a2[i] = std::exp(-2.0 * kPi * f / width);
    }
}

}  // namespace flange
}  // namespace tw

namespace {

using namespace tw::flange;
using tw::kSpan;
using tw::Lanes;
using tw::Load;
using tw::Splat;

class CTwAudioFlange : public tw::CTwAudioBlock<CTwAudioFlange, ITwAudioFlange> {
public:
    ~CTwAudioFlange() {
        for (Voice& v : voice_) tw::ZeroFree(v.line);
        tw::ZeroFree(a1_);
        tw::ZeroFree(a2_);
    }

    static void ClampParams(FlangeParams& p) { ClampFlangeParams(p); }

    // [streaming thread, or streaming start/stop]
    HRESULT Design(const FlangeParams& p, bool reset) {
        if (p.lfoType != params().lfoType) reset = true;
        lineLength_ = DelayLineLength(sampleRate());
        type_ = p.lfoType;
        dryGain_ = p.dryGain;
        wetGain_ = p.wetGain;
        if (reset) {
            // A reset arrives on the streaming thread (discontinuities, type changes): lines of the
            // size already held are cleared in place; only a new size allocates.
            const size_t lineBytes = static_cast<size_t>(lineLength_) * channels() * sizeof(double);
            for (Voice& v : voice_) {
                if (v.line && lineBytes_ == lineBytes) {
                    std::memset(v.line, 0, lineBytes);
                } else {
                    tw::ZeroFree(v.line);
                    v.line = static_cast<double*>(tw::ZeroAlloc(lineBytes));
                }
                v.write = 0;
                v.n = 0;
            }
            lineBytes_ = lineBytes;
            for (const Voice& v : voice_)
                if (!v.line) lineBytes_ = 0;
            if (!lineBytes_) return E_OUTOFMEMORY;
            if (a1_ && a2_) {
                std::memset(a1_, 0, kSweepTableSize * sizeof(double));
                std::memset(a2_, 0, kSweepTableSize * sizeof(double));
            } else {
                tw::ZeroFree(a1_);
                tw::ZeroFree(a2_);
                a1_ = static_cast<double*>(tw::ZeroAlloc(kSweepTableSize * sizeof(double)));
                a2_ = static_cast<double*>(tw::ZeroAlloc(kSweepTableSize * sizeof(double)));
            }
            if (!a1_ || !a2_) return E_OUTOFMEMORY;
            std::memset(s1_, 0, sizeof(s1_));
            std::memset(s2_, 0, sizeof(s2_));
            sweepPos_ = 0.0;
        }
        switch (type_) {
        case kTypeFlange:
        case kTypeChorus:
            DesignDelayLines(p, reset);
            return S_OK;
        case kTypePhaser:
        case kTypeWahWah:
            DesignSweep(p);
            return S_OK;
        default:
            return E_INVALIDARG;
        }
    }

    // [streaming thread] In place; the flags are ignored (no tail).
    template <class T>
    HRESULT Process(T* buffer, ULONG frames, ULONG* outFrames, DWORD) {
        const WORD ch = channels();
        switch (type_) {
        case kTypeFlange:
            if (ch == 1) RunFlange<T, 1>(buffer, frames);
            else if (ch == 2) RunFlange<T, 2>(buffer, frames);
            break;  // more channels pass unchanged, as with the chorus
        case kTypeChorus:
            if (ch == 1) RunChorusMono(buffer, frames);
            else if (ch == 2) RunChorusStereo(buffer, frames);
            break;
        case kTypePhaser:
            RunSweepChannels<T, false>(buffer, frames, ch);
            break;
        default:
            RunSweepChannels<T, true>(buffer, frames, ch);
            break;
        }
        *outFrames = frames;
        return S_OK;
    }

private:
    struct Voice {
        double* line;  // lineLength_ frames x channels
        int write;     // W, steps down one frame per frame
        double read;   // D, the base read position, steps down with W
        int n;         // LFO count, 0 .. period - 1
        int period;    // N
        double omega;  // LFO phase step per sample
    };

    // The voice's running state, copied into locals around a buffer.
    struct VoiceRun {
        explicit VoiceRun(const Voice& v)
            : line(v.line), write(v.write), read(v.read), n(v.n), period(v.period), omega(v.omega) {}
        void Store(Voice& v) const {
            v.write = write;
            v.read = read;
            v.n = n;
        }
        double* const line;
        int write;
        double read;
        int n;
        const int period;
        const double omega;
    };

    // The voice's LFO values sin(n x omega) for the next `frames` frames, n stepping along.
    static inline void FillLfo(VoiceRun& s, double* sine, ULONG frames) {
        int n = s.n;
        for (ULONG i = 0; i < frames; ++i) {
            sine[i] = std::sin(n * s.omega);
            n = NextLfoCount(n, s.period);
        }
        s.n = n;
    }

    // Reads the voice's C interpolated delayed values into v for LFO value `sine`, then steps D.
    // The read comes before the frame's write, so below one sample of delay it leans to the
    // oldest slot.
    template <int C>
    static inline void Read(VoiceRun& s, int length, double depth, double sine, double* v) {
        int p;
        double frac;
        SplitReadPosition(s.read + depth * sine, length, p, frac);
        const int q = p + 1 == length ? 0 : p + 1;
        const double* a = s.line + static_cast<size_t>(p) * C;
        const double* b = s.line + static_cast<size_t>(q) * C;
        for (int c = 0; c < C; ++c) v[c] = a[c] + frac * (b[c] - a[c]);
        s.read -= 1.0;
        if (s.read < 0.0) s.read = length - 1.0;
    }
    // The same read for one channel (V double) or channels 0 and 1 of a stereo line (V Lanes).
    template <class V>
    static inline V Read(VoiceRun& s, int length, double depth, double sine) {
        constexpr int C = kSpan<V>;
        int p;
        double frac;
        SplitReadPosition(s.read + depth * sine, length, p, frac);
        const int q = p + 1 == length ? 0 : p + 1;
        const V a = Load<V>(s.line + static_cast<size_t>(p) * C);
        const V b = Load<V>(s.line + static_cast<size_t>(q) * C);
        s.read -= 1.0;
        if (s.read < 0.0) s.read = length - 1.0;
        return a + Splat<V>(frac) * (b - a);
    }
    // The slot this frame writes; W then steps down.
    template <int C>
    static inline double* WriteSlot(VoiceRun& s, int length) {
        double* slot = s.line + static_cast<size_t>(s.write) * C;
        if (--s.write < 0) s.write = length - 1;
        return slot;
    }

    void DesignDelayLines(const FlangeParams& p, bool reset) {
        const DWORD rate = sampleRate();
        if (reset) {
            maxDelay_ = MaxDelaySamples(rate, type_);
            for (int k = 0; k < kVoices; ++k) voice_[k].read = BaseDelaySamples(maxDelay_, k);
        }
        for (int k = 0; k < kVoices; ++k) {
            voice_[k].period = LfoPeriodSamples(rate, p.rateMilliHz, k);
            voice_[k].omega = LfoPhaseStep(voice_[k].period);
        }
        depthSamples_ = DepthSamples(p.depthPercent, maxDelay_);
        const bool flange = type_ == kTypeFlange;
        feedback_ = flange ? kFlangeFeedback : 0.0;
        dry_ = flange ? dryGain_ : 0.0;
        const double w = flange ? wetGain_ : kChorusWet;
        wet1_ = kWet1 * w;
        wet2_ = kWet2 * w;
        gainL_ = kGainLeft * w;
        gainR_ = kGainRight * w;
    }

    void DesignSweep(const FlangeParams& p) {
        const SweepShape shape = SweepShapeFor(sampleRate(), p.rateMilliHz);
        count_ = shape.count;
        sweepStep_ = shape.step;
        const SweepBand band = SweepBandFor(sampleRate(), type_, p.depthPercent, count_);
        DesignSweepTables(band, type_, count_, a1_, a2_);
    }

    template <class T, int C>
    void RunFlange(T* buffer, ULONG frames);
    template <class T, class V>
    void RunFlangeLanes(T* buffer, ULONG frames);
    template <class T>
    void RunChorusMono(T* buffer, ULONG frames);
    template <class T>
    void RunChorusStereo(T* buffer, ULONG frames);
    template <class T, bool kWah>
    void RunSweepChannels(T* buffer, ULONG frames, WORD ch);
    template <class T, bool kWah, int C>
    void RunSweep(T* buffer, ULONG frames, int ch);

    Voice voice_[kVoices] = {};
    int lineLength_ = 0;  // L, frames
    size_t lineBytes_ = 0;  // the size of each voice's line as allocated
    int32_t type_ = kTypeFlange;
    double dryGain_ = 0.0, wetGain_ = 0.0;
    // Delay-line design: delays in samples, gains as factors.
    int maxDelay_ = 0;
    double depthSamples_ = 0.0;
    double feedback_ = 0.0, dry_ = 0.0, wet1_ = 0.0, wet2_ = 0.0, gainL_ = 0.0, gainR_ = 0.0;
    // Sweep tables (kSweepTableSize entries, count_ in use), position in entries, step per sample,
    // and the all-pass memories of every channel.
    double* a1_ = nullptr;
    double* a2_ = nullptr;
    ULONG count_ = 0;
    double sweepPos_ = 0.0, sweepStep_ = 0.0;
    double s1_[tw::kMaxBlockChannels] = {}, s2_[tw::kMaxBlockChannels] = {};
};

// ---- per-sample loops -------------------------------------------------------------------------

// One voice with feedback 0.5. Mono mixes wet1 alone; stereo carries wetGain twice, through wet1
// and the channel gain. Both channels share the read position, and the line holds each frame's
// two samples side by side, so stereo runs them in the two lanes of a register (V = Lanes).
template <class T, int C>
void CTwAudioFlange::RunFlange(T* buffer, ULONG frames) {
    if constexpr (C == 2)
        RunFlangeLanes<T, Lanes>(buffer, frames);
    else
        RunFlangeLanes<T, double>(buffer, frames);
}

template <class T, class V>
void CTwAudioFlange::RunFlangeLanes(T* buffer, ULONG frames) {
    constexpr int C = kSpan<V>;
    VoiceRun s(voice_[0]);
    const int length = lineLength_;
    const double depth = depthSamples_;
    const V dry = Splat<V>(dry_), feedback = Splat<V>(feedback_);
    const V wet = tw::Join<V>(C == 1 ? wet1_ : wet1_ * gainL_, wet1_ * gainR_);
    double sine[kLfoBatch];
    for (ULONG done = 0; done < frames;) {
        const ULONG batch = frames - done < kLfoBatch ? frames - done : kLfoBatch;
        FillLfo(s, sine, batch);
        for (ULONG i = 0; i < batch; ++i, buffer += C) {
            const V x = Load<V>(buffer);
            const V v = Read<V>(s, length, depth, sine[i]);
            tw::Store(buffer, dry * x + wet * v);
            tw::Store(WriteSlot<C>(s, length), tw::FlushTiny(x + feedback * v, kFlushThreshold));
        }
        done += batch;
    }
    s.Store(voice_[0]);
}

// Two voices in series without feedback; each line keeps its voice's own input, and each voice
// returns the mean of its input and its mix. The chorus mixes no dry signal (dry is 0).
template <class T>
void CTwAudioFlange::RunChorusMono(T* buffer, ULONG frames) {
    VoiceRun s0(voice_[0]), s1(voice_[1]);
    const int length = lineLength_;
    const double depth = depthSamples_, wet1 = wet1_, wet2 = wet2_;
    double sine0[kLfoBatch], sine1[kLfoBatch];
    for (ULONG done = 0; done < frames;) {
        const ULONG batch = frames - done < kLfoBatch ? frames - done : kLfoBatch;
        FillLfo(s0, sine0, batch);
        FillLfo(s1, sine1, batch);
        for (ULONG i = 0; i < batch; ++i, ++buffer) {
            const double x = *buffer;
            double v;
            Read<1>(s0, length, depth, sine0[i], &v);
            v = tw::FlushTiny(v, kFlushThreshold);
            const double mid = kChorusMean * (x + wet1 * v);
            *WriteSlot<1>(s0, length) = x;

            Read<1>(s1, length, depth, sine1[i], &v);
            v = tw::FlushTiny(v, kFlushThreshold);
            const double y = mid + wet2 * v;
            *WriteSlot<1>(s1, length) = mid;
            *buffer = static_cast<T>(kChorusMean * (mid + y));
        }
        done += batch;
    }
    s0.Store(voice_[0]);
    s1.Store(voice_[1]);
}

template <class T>
void CTwAudioFlange::RunChorusStereo(T* buffer, ULONG frames) {
    VoiceRun s0(voice_[0]), s1(voice_[1]);
    const int length = lineLength_;
    const double depth = depthSamples_;
    const double wet0L = wet1_ * gainL_, wet0R = wet1_ * gainR_, gainL = gainL_, gainR = gainR_;
    double sine0[kLfoBatch], sine1[kLfoBatch];
    for (ULONG done = 0; done < frames;) {
        const ULONG batch = frames - done < kLfoBatch ? frames - done : kLfoBatch;
        FillLfo(s0, sine0, batch);
        FillLfo(s1, sine1, batch);
        for (ULONG i = 0; i < batch; ++i, buffer += 2) {
            const double xL = buffer[0], xR = buffer[1];
            double v[2];
            Read<2>(s0, length, depth, sine0[i], v);
            const double midL = kChorusMean * (xL + wet0L * tw::FlushTiny(v[0], kFlushThreshold));
            const double midR = kChorusMean * (xR + wet0R * tw::FlushTiny(v[1], kFlushThreshold));
            double* slot = WriteSlot<2>(s0, length);
            slot[0] = xL;
            slot[1] = xR;

            Read<2>(s1, length, depth, sine1[i], v);
            const double yL = midL + gainL * tw::FlushTiny(v[0], kFlushThreshold);
            const double yR = midR + gainR * tw::FlushTiny(v[1], kFlushThreshold);
            slot = WriteSlot<2>(s1, length);
            slot[0] = midL;
            slot[1] = midR;
            buffer[0] = static_cast<T>(kChorusMean * (midL + yL));
            buffer[1] = static_cast<T>(kChorusMean * (midR + yR));
        }
        done += batch;
    }
    s0.Store(voice_[0]);
    s1.Store(voice_[1]);
}

template <class T, bool kWah>
void CTwAudioFlange::RunSweepChannels(T* buffer, ULONG frames, WORD ch) {
    if (ch == 1) RunSweep<T, kWah, 1>(buffer, frames, ch);
    else if (ch == 2) RunSweep<T, kWah, 2>(buffer, frames, ch);
    else RunSweep<T, kWah, 0>(buffer, frames, ch);
}

// Frame by frame: every channel sees the same coefficients, so the channels sweep in phase and
// the sweep advances once per frame. C is the channel count, or 0 for any count (ch).
template <class T, bool kWah, int C>
void CTwAudioFlange::RunSweep(T* buffer, ULONG frames, int ch) {
    const int channelCount = C ? C : ch;
    const double* const a1Table = a1_;
    const double* const a2Table = a2_;
    const int last = static_cast<int>(count_) - 1;
    const double top = last;
    const double dry = dryGain_, wet = wetGain_;
    double pos = sweepPos_, step = sweepStep_;
    double s1[tw::kMaxBlockChannels], s2[tw::kMaxBlockChannels];
    for (int k = 0; k < channelCount; ++k) {
        s1[k] = s1_[k];
        s2[k] = s2_[k];
    }
    for (ULONG i = 0; i < frames; ++i, buffer += channelCount) {
        // On a table entry frac is 0 and the entry comes out unchanged; past the end of a
        // shortened table b and c are both the last entry.
        int b = static_cast<int>(pos);
        if (b > last) b = last;
        const int c = b < last ? b + 1 : last;
        const double frac = pos - b;
        const double a1 = a1Table[b] + frac * (a1Table[c] - a1Table[b]);
        const double a2 = a2Table[b] + frac * (a2Table[c] - a2Table[b]);
        pos += step;
        if (pos >= top) {
            pos = top;
            step = -step;
        } else if (pos <= 0.0) {
            pos = 0.0;
            step = -step;
        }
        for (int k = 0; k < channelCount; ++k) {
            const double x = buffer[k];
            const double t = x + a1 * s1[k] - a2 * s2[k];
            const double y = s2[k] + a2 * t - a1 * s1[k];
            s2[k] = s1[k];
            s1[k] = tw::FlushTiny(t, kFlushThreshold);
            buffer[k] = static_cast<T>(dry * x + wet * (kWah ? x - y : y));
        }
    }
    for (int k = 0; k < channelCount; ++k) {
        s1_[k] = s1[k];
        s2_[k] = s2[k];
    }
    sweepPos_ = pos;
    sweepStep_ = step;
}

}  // namespace

HRESULT CreateAudioFlange(ITwAudioFlange** out) { return CTwAudioFlange::Create(out); }
