// Converters between integer PCM and the chain's working samples. Full scale is +-1.0 with the
// factors 2^-7, 2^-15 and 2^-31; the way back clamps (NaN to the most negative code) and rounds
// to nearest, ties to even. The gain multiplies after the scaling on the way in and before the
// scaling on the way out; the filter always passes 1.0.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>

namespace tw {

void Pcm8ToFloat(const uint8_t* in, float* out, size_t count, float gain);
void Pcm16ToFloat(const int16_t* in, float* out, size_t count, float gain);
void Pcm32ToDouble(const int32_t* in, double* out, size_t count, float gain);
void FloatToPcm8(const float* in, uint8_t* out, size_t count, float gain);
void FloatToPcm16(const float* in, int16_t* out, size_t count, float gain);
void DoubleToPcm32(const double* in, int32_t* out, size_t count, float gain);

// Type-erased routines for a buffer whose PCM type is known only at run time.
using ConvertRoutine = void (*)(const void* in, void* out, size_t count, float gain);

struct PcmConverters {
    ConvertRoutine toWorking = nullptr;    // stored PCM type -> working type
    ConvertRoutine fromWorking = nullptr;  // working type -> stored PCM type
    size_t workingBytes = 0;               // 4 (float) or 8 (double)
};

// The converters for PCM of 8, 16 or 32 bits; false (and empty routines) for anything else.
bool ConvertersForPcm(WORD bitsPerSample, PcmConverters* out);

}  // namespace tw
