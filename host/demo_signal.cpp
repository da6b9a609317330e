#include "host/demo_signal.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace host {

namespace {

constexpr int kRate = 44100;
constexpr double kSeconds = 4.0;
constexpr double kPi = 3.14159265358979323846;

// Plucked string: a noise burst circulating through a loop with a two-point average.
void Pluck(std::vector<double>& out, size_t start, double hz, double gain, unsigned seed) {
    const size_t period = static_cast<size_t>(kRate / hz);
    std::vector<double> loop(period);
    for (double& v : loop) {
        seed = seed * 1664525u + 1013904223u;
        v = (static_cast<double>(seed >> 8) / 8388608.0 - 1.0) * gain;
    }
    const size_t length = static_cast<size_t>(kRate * 1.2);
    for (size_t i = 0; i < length && start + i < out.size(); ++i) {
        const size_t k = i % period;
        const double next = loop[(k + 1) % period];
        out[start + i] += loop[k];
        loop[k] = 0.498 * (loop[k] + next);
    }
}

// Kick: a falling sine with a fast decay; snare: decaying noise over a short tone.
void Kick(std::vector<double>& out, size_t start) {
    double phase = 0;
    for (size_t i = 0; i < static_cast<size_t>(kRate * 0.35) && start + i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        phase += 2 * kPi * (50 + 90 * std::exp(-t * 30)) / kRate;
        out[start + i] += 0.8 * std::sin(phase) * std::exp(-t * 9);
    }
}

void Snare(std::vector<double>& out, size_t start, unsigned seed) {
    for (size_t i = 0; i < static_cast<size_t>(kRate * 0.2) && start + i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        seed = seed * 1664525u + 1013904223u;
        const double noise = static_cast<double>(seed >> 8) / 8388608.0 - 1.0;
        out[start + i] += (0.35 * noise + 0.2 * std::sin(2 * kPi * 190 * t)) * std::exp(-t * 22);
    }
}

}  // namespace

AudioData MakeDemoSignal() {
    const size_t frames = static_cast<size_t>(kRate * kSeconds);
    std::vector<double> left(frames), right(frames);
    const double notes[] = {196.0, 246.94, 293.66, 392.0, 329.63, 293.66, 246.94, 220.0};
    const size_t beat = kRate / 4;  // 120 BPM eighth notes
    for (size_t n = 0; n < 12; ++n) {
        const double hz = notes[n % 8];
        Pluck(left, n * beat, hz, 0.35, 17u + static_cast<unsigned>(n));
        Pluck(right, n * beat + 200, hz * 1.003, 0.3, 91u + static_cast<unsigned>(n));
    }
    for (size_t b = 0; b < 8; ++b) {
        const size_t at = b * 2 * beat;
        if (b % 2 == 0) {
            Kick(left, at);
            Kick(right, at);
        } else {
            Snare(left, at, 7u + static_cast<unsigned>(b));
            Snare(right, at, 3u + static_cast<unsigned>(b));
        }
    }
    AudioData data;
    data.info.rate = kRate;
    data.info.channels = 2;
    data.info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    data.info.feed = FeedFormat::Pcm16;
    data.bytes.resize(frames * 4);
    auto* s = reinterpret_cast<int16_t*>(data.bytes.data());
    for (size_t i = 0; i < frames; ++i) {
        s[2 * i] = static_cast<int16_t>(std::lround(std::fmax(-1.0, std::fmin(1.0, left[i] * 0.7)) * 32767));
        s[2 * i + 1] = static_cast<int16_t>(std::lround(std::fmax(-1.0, std::fmin(1.0, right[i] * 0.7)) * 32767));
    }
    data.info.frames = static_cast<int64_t>(frames);
    return data;
}

}  // namespace host
