#include "effects/sample_convert.h"

#include <emmintrin.h>

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
    // Two samples per SSE2 step, with the same double operations as the scalar tail.
    const __m128d scale = _mm_set1_pd(1.0 / 32768.0);
    const __m128d g = _mm_set1_pd(gain);
    size_t i = 0;
    for (; i + 2 <= count; i += 2) {
        const __m128d v = _mm_set_pd(in[i + 1], in[i]);
        const __m128 f = _mm_cvtpd_ps(_mm_mul_pd(_mm_mul_pd(v, scale), g));
        _mm_storel_pi(reinterpret_cast<__m64*>(out + i), f);
    }
    for (; i < count; ++i) out[i] = static_cast<float>(in[i] * (1.0 / 32768.0) * gain);
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
    // Four samples per SSE2 step. MAXPD answers its second operand when either is NaN, so NaN
    // clamps to -32768 like the scalar path; CVTPD2DQ rounds to nearest even in the default mode.
    const __m128d g = _mm_set1_pd(gain);
    const __m128d scale = _mm_set1_pd(32768.0);
    const __m128d lo = _mm_set1_pd(-32768.0);
    const __m128d hi = _mm_set1_pd(32767.0);
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 x = _mm_loadu_ps(in + i);
        __m128d a = _mm_mul_pd(_mm_mul_pd(_mm_cvtps_pd(x), g), scale);
        __m128d b = _mm_mul_pd(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(x, x)), g), scale);
        a = _mm_min_pd(_mm_max_pd(a, lo), hi);
        b = _mm_min_pd(_mm_max_pd(b, lo), hi);
        const __m128i words = _mm_unpacklo_epi64(_mm_cvtpd_epi32(a), _mm_cvtpd_epi32(b));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(words, words));
    }
    for (; i < count; ++i)
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
