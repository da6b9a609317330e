#include "effects/sample_convert.h"

namespace tw {

namespace {

// Round to nearest, ties to even, for |y| < 2^51: adding and removing 1.5 * 2^52 rounds in the
// FPU's default mode, which the module never changes (and which no fast-math flag may fold away).
inline double RoundEven(double y) {
    constexpr double kMagic = 6755399441055744.0;
    return (y + kMagic) - kMagic;
}

inline double ClampRound(double y, double lo, double hi) {
    if (!(y >= lo)) return lo;  // also NaN
    if (y > hi) return hi;
    return RoundEven(y);
}

}  // namespace

void Pcm8ToFloat(const uint8_t* in, float* out, size_t count, float gain) {
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<float>((static_cast<int>(in[i]) - 128) * (1.0 / 128.0) * gain);
}

void Pcm16ToFloat(const int16_t* in, float* out, size_t count, float gain) {
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<float>(in[i] * (1.0 / 32768.0) * gain);
}

void Pcm32ToDouble(const int32_t* in, double* out, size_t count, float gain) {
    for (size_t i = 0; i < count; ++i) out[i] = in[i] * (1.0 / 2147483648.0) * gain;
}

void FloatToPcm8(const float* in, uint8_t* out, size_t count, float gain) {
    for (size_t i = 0; i < count; ++i) {
        const double y = ClampRound(static_cast<double>(in[i]) * gain * 128.0, -128.0, 127.0);
        out[i] = static_cast<uint8_t>(static_cast<int>(y) + 128);
    }
}

void FloatToPcm16(const float* in, int16_t* out, size_t count, float gain) {
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<int16_t>(ClampRound(static_cast<double>(in[i]) * gain * 32768.0, -32768.0, 32767.0));
}

void DoubleToPcm32(const double* in, int32_t* out, size_t count, float gain) {
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<int32_t>(ClampRound(in[i] * gain * 2147483648.0, -2147483648.0, 2147483647.0));
}

namespace {
template <class In, class Out, void (*F)(const In*, Out*, size_t, float)>
void Erased(const void* in, void* out, size_t count, float gain) {
    F(static_cast<const In*>(in), static_cast<Out*>(out), count, gain);
}
}  // namespace

bool ConvertersForPcm(WORD bitsPerSample, PcmConverters* out) {
    *out = PcmConverters{};
    switch (bitsPerSample) {
    case 8:
        *out = {Erased<uint8_t, float, Pcm8ToFloat>, Erased<float, uint8_t, FloatToPcm8>, sizeof(float)};
        return true;
    case 16:
        *out = {Erased<int16_t, float, Pcm16ToFloat>, Erased<float, int16_t, FloatToPcm16>, sizeof(float)};
        return true;
    case 32:
        *out = {Erased<int32_t, double, Pcm32ToDouble>, Erased<double, int32_t, DoubleToPcm32>, sizeof(double)};
        return true;
    default:
        return false;
    }
}

}  // namespace tw
