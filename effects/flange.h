// LFO modulation block: flange and chorus (modulated delay lines under a sine LFO), phaser and
// wah-wah (one second-order all-pass swept by a triangle LFO through a coefficient table).
// The design maths is kept here as plain functions so that it can be checked without audio; the
// block itself is created through CreateAudioFlange (effects/audio_blocks.h).
#pragma once

#include "effects/audio_blocks.h"

namespace tw {
namespace flange {

// FlangeParams::lfoType
enum : int32_t { kTypeFlange = 0, kTypePhaser = 1, kTypeChorus = 2, kTypeWahWah = 3 };

inline constexpr int kVoices = 2;
// Delay and LFO period of each voice relative to voice 0 (voice 1 runs shorter and faster).
inline constexpr double kVoiceFactor[kVoices] = {1.0, 0.811731};
// Entries of each sweep coefficient table: the most points one half LFO cycle is sampled at.
inline constexpr ULONG kSweepTableSize = 2000;
// |value| below which delay-line writes, chorus reads and all-pass states are stored as 0.
inline constexpr double kFlushThreshold = 2e-11;

// Record limits.
inline constexpr double kMaxGain = 4.0;
inline constexpr uint32_t kMinRateMilliHz = 1, kMaxRateMilliHz = 11000;
inline constexpr uint32_t kMinDepthPercent = 1, kMaxDepthPercent = 100;
inline constexpr int32_t kMinSpare = 1, kMaxSpare = 100;

// Clamps every field into range; lfoType is left for the design to accept or refuse.
void ClampFlangeParams(FlangeParams& p);

// Frames per voice delay line at `rate` Hz: ceil(rate / 5 + 100).
int DelayLineLength(DWORD rate);
// Largest base delay in samples: 1 ms for the flange, 20 ms for the chorus (0 for the sweeps).
int MaxDelaySamples(DWORD rate, int32_t lfoType);
// Voice `voice`'s base delay, trunc(factor x maxDelay).
int BaseDelaySamples(int maxDelay, int voice);
// Voice `voice`'s LFO period in samples.
int LfoPeriodSamples(DWORD rate, uint32_t rateMilliHz, int voice);
// Phase increment per sample of an LFO of `period` samples.
double LfoPhaseStep(int period);
// Swing of the read position either side of the base delay, in samples.
int DepthSamples(uint32_t depthPercent, int maxDelay);

// Table length and per-sample sweep step of a phaser or wah-wah.
struct SweepShape {
    ULONG halfCycle;  // samples per half LFO cycle
    ULONG count;      // table entries, at most kSweepTableSize
    double step;      // table entries per sample, 1 when every entry is visited
};
SweepShape SweepShapeFor(DWORD rate, uint32_t rateMilliHz);
// Ratio between the sweep's centre and either end: 2^(1/r), with r from the depth.
double SweepSpan(uint32_t depthPercent);
// Ends of the sweep as fractions of the sample rate.
struct SweepBand {
    double fLo, fHi, increment;
};
SweepBand SweepBandFor(DWORD rate, int32_t lfoType, uint32_t depthPercent, ULONG count);
// Fills a1[0..count) and a2[0..count) with the all-pass coefficients along the band.
void DesignSweepTables(const SweepBand& band, int32_t lfoType, ULONG count, double* a1, double* a2);

// ---- per-sample steps shared by the block's loops ---------------------------------------------

// Wraps a read position into [0, L) and splits it. A position a hair below zero can round to
// exactly L when L is added; it then stands for slot 0.
inline void SplitReadPosition(double pos, int lineLength, int& slot, double& frac) {
    if (pos >= lineLength) {
        pos -= lineLength;
    } else if (pos < 0.0) {
        pos += lineLength;
    }
    slot = static_cast<int>(pos);
    frac = pos - slot;
    if (slot >= lineLength) slot = 0;
}

// Next LFO count. A no-reset SetFormat can shorten the period below the running count, so the
// count wraps on reaching or passing it.
inline int NextLfoCount(int n, int period) {
    ++n;
    return n >= period ? 0 : n;
}

}  // namespace flange
}  // namespace tw
