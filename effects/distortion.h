// Distortion: the coefficients its per-sample loop reads, designed from a clamped record.
#pragma once

#include "effects/audio_blocks.h"

namespace tw {

struct DistortionCoefficients {
    double slew;       // 0 to 0.99, never 1: the limiter always moves
    double stepLimit;  // largest change of the limiter's output per sample, linear amplitude
    double rampWidth;  // hard clipping ramps through zero for |x| below this, linear amplitude
    double slope;      // gain beyond the threshold; exactly 1.0 leaves buffers untouched
    double threshold;  // clipping threshold, linear amplitude
    double makeUp;     // gain after shaping
    double dryGain;
    double wetGain;
    int lag;           // comb read distance, samples (0 to 50)
    bool hardClip;
};

// Clamps every field into its accepted range; cbSize and the reserved fields stay as given.
void ClampDistortionParams(DistortionParams& p);

// Derives the coefficients of a clamped record. Nothing depends on the sample rate.
DistortionCoefficients DesignDistortion(const DistortionParams& clamped);

}  // namespace tw
