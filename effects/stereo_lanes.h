// The two channels of a stereo frame in the two lanes of one SSE2 register, part of the x86-64
// baseline on both targets. GCC treats __m128d as a vector of two doubles, so + - * / act lane by
// lane: each lane performs the same IEEE double operations, in the same order, as the one-channel
// code, and a stereo buffer yields exactly the bits of two one-channel passes. Kernels written as
// templates over V (double or Lanes) serve both paths from one text. The reverb pairs its combs
// in lanes the same way.
#pragma once

#include <emmintrin.h>

namespace tw {

using Lanes = __m128d;  // lane 0: left (channel 0), lane 1: right (channel 1)

template <class V>
inline V Splat(double v);
template <>
inline double Splat<double>(double v) { return v; }
template <>
inline Lanes Splat<Lanes>(double v) { return _mm_set1_pd(v); }

inline Lanes MakeLanes(double left, double right) { return _mm_set_pd(right, left); }
inline double Left(Lanes v) { return _mm_cvtsd_f64(v); }
inline double Right(Lanes v) { return _mm_cvtsd_f64(_mm_unpackhi_pd(v, v)); }

// The lane-wise twin of FlushTiny: |v| < threshold gives exactly 0, anything else (NaN included)
// stays as it is.
inline Lanes FlushTiny(Lanes v, double threshold) {
    const Lanes magnitude = _mm_andnot_pd(_mm_set1_pd(-0.0), v);
    return _mm_andnot_pd(_mm_cmplt_pd(magnitude, _mm_set1_pd(threshold)), v);
}

// Exact negation, as the unary minus of one double.
inline Lanes Negate(Lanes v) { return _mm_xor_pd(v, _mm_set1_pd(-0.0)); }

// Lane-wise select: where `mask` is all ones take a, else b.
inline Lanes Select(Lanes mask, Lanes a, Lanes b) { return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b)); }

// One interleaved frame of channels 0 and 1, widened from float exactly.
inline Lanes LoadFrame(const double* frame) { return _mm_loadu_pd(frame); }
inline Lanes LoadFrame(const float* frame) {
    return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(frame))));
}

// Stores channels 0 and 1 of a frame; float rounds to nearest, as a scalar conversion does.
inline void StoreFrame(double* frame, Lanes v) { _mm_storeu_pd(frame, v); }
inline void StoreFrame(float* frame, Lanes v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(frame), _mm_castps_si128(_mm_cvtpd_ps(v)));
}

// ---- Kernels over V: one channel (double) or channels 0 and 1 (Lanes) ---------------------------

// True for the two-lane type, V being double or Lanes (told apart by size: a type trait or a
// specialisation on Lanes would make GCC drop the vector attributes, with a warning).
template <class V>
inline constexpr bool kIsLanes = sizeof(V) == sizeof(Lanes);

// Channels one step of a kernel over V covers.
template <class V>
inline constexpr int kSpan = kIsLanes<V> ? 2 : 1;

// The value(s) of a per-channel state for the channels a kernel runs: the left one alone for
// double, both for Lanes; Split writes them back the same way.
template <class V>
inline V Join(double left, double right) {
    if constexpr (kIsLanes<V>) {
        return MakeLanes(left, right);
    } else {
        static_cast<void>(right);
        return left;
    }
}
inline void Split(double v, double& left, double&) { left = v; }
inline void Split(Lanes v, double& left, double& right) {
    left = Left(v);
    right = Right(v);
}

// A sample (double) or channels 0 and 1 of a frame (Lanes), in the working type T of a buffer.
template <class V, class T>
inline V Load(const T* frame) {
    if constexpr (kIsLanes<V>)
        return LoadFrame(frame);
    else
        return static_cast<double>(*frame);
}
template <class T>
inline void Store(T* frame, double v) { *frame = static_cast<T>(v); }
template <class T>
inline void Store(T* frame, Lanes v) { StoreFrame(frame, v); }

}  // namespace tw
