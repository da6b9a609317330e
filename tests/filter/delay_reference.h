// A plain reference for what the filter delivers with only the feedback delay on: each channel's
// echo returns D + 1 samples later (the line's window holds D + 1 slots) and is fed back with the
// decay gain; the output is dry * x + wet * echo, with outputs below 2^-32 flushed to 0. At the end
// of the stream the drain delivers whole buffers of n frames, each carrying tail until the tail
// countdown (channels x D x E samples, E echoes until the level fell by e^5) runs out. Every sample
// format is converted on its own here, not through the filter's converters.
#pragma once

#include "platform/platform.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace brio_test {

struct DelaySetting {
    int32_t timeTenthsMs;
    int32_t decayTenthsPct;
    int32_t mixTenthsPct;
};

inline double RefFlush(double v) { return std::fabs(v) < 0x1p-32 ? 0.0 : v; }

inline double RefClampRound(double y, double lo, double hi) {
    if (!(y >= lo)) return lo;  // NaN too
    if (y > hi) return hi;
    return std::nearbyint(y);  // the default rounding mode: to nearest, ties to even
}

// One sample of the stream format at index i as the chain's working value, and back.
inline double RefLoad(const WAVEFORMATEX& f, const BYTE* data, size_t i) {
    if (f.wFormatTag == WAVE_FORMAT_PCM && f.wBitsPerSample == 8) return static_cast<float>((data[i] - 128) / 128.0);
    if (f.wFormatTag == WAVE_FORMAT_PCM && f.wBitsPerSample == 16) {
        int16_t v;
        std::memcpy(&v, data + i * 2, 2);
        return static_cast<float>(v / 32768.0);
    }
    if (f.wFormatTag == WAVE_FORMAT_PCM) {
        int32_t v;
        std::memcpy(&v, data + i * 4, 4);
        return v / 2147483648.0;
    }
    if (f.wBitsPerSample == 32) {
        float v;
        std::memcpy(&v, data + i * 4, 4);
        return v;
    }
    double v;
    std::memcpy(&v, data + i * 8, 8);
    return v;
}

inline void RefStore(const WAVEFORMATEX& f, double y, BYTE* data, size_t i) {
    // 8-, 16-bit PCM and float 32 run on floats: the block's result is a float first.
    if (f.wBitsPerSample <= 16 || (f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && f.wBitsPerSample == 32)) {
        y = static_cast<float>(y);
    }
    if (f.wFormatTag == WAVE_FORMAT_PCM && f.wBitsPerSample == 8) {
        data[i] = static_cast<BYTE>(RefClampRound(y * 128.0, -128.0, 127.0) + 128.0);
    } else if (f.wFormatTag == WAVE_FORMAT_PCM && f.wBitsPerSample == 16) {
        const int16_t v = static_cast<int16_t>(RefClampRound(y * 32768.0, -32768.0, 32767.0));
        std::memcpy(data + i * 2, &v, 2);
    } else if (f.wFormatTag == WAVE_FORMAT_PCM) {
        const int32_t v = static_cast<int32_t>(RefClampRound(y * 2147483648.0, -2147483648.0, 2147483647.0));
        std::memcpy(data + i * 4, &v, 4);
    } else if (f.wBitsPerSample == 32) {
        const float v = static_cast<float>(y);
        std::memcpy(data + i * 4, &v, 4);
    } else {
        std::memcpy(data + i * 8, &y, 8);
    }
}

// The bytes the filter delivers for `input` (whole frames) followed by its drain in buffers of
// drainFrames frames.
inline std::vector<BYTE> ExpectedDelayOutput(const WAVEFORMATEX& f, const std::vector<BYTE>& input,
                                             const DelaySetting& s, ULONG drainFrames) {
    const size_t channels = f.nChannels;
    const size_t align = f.nBlockAlign;
    const double w = s.mixTenthsPct / 1000.0;
    const double dry = 1.0 - w;
    const double wet = w;
    const double feedback = s.decayTenthsPct / 1000.0;
    const int rate = static_cast<int>(f.nSamplesPerSec);
    const int32_t slots = static_cast<int32_t>((22501LL * rate + 5000) / 10000);
    int32_t delay = static_cast<int32_t>((static_cast<int64_t>(s.timeTenthsMs) * rate + 5000) / 10000);
    if (delay < 2) delay = 2;
    if (delay > slots - 1) delay = slots - 1;
    const size_t period = static_cast<size_t>(delay) + 1;

    std::vector<std::vector<double>> line(channels, std::vector<double>(period, 0.0));
    std::vector<size_t> at(channels, 0);
    auto step = [&](size_t c, double x) {
        const double echo = line[c][at[c]];
        line[c][at[c]] = x + feedback * echo;
        at[c] = (at[c] + 1) % period;
        return RefFlush(dry * x + wet * echo);
    };

    const size_t frames = input.size() / align;
    std::vector<BYTE> out(frames * align);
    for (size_t n = 0; n < frames; ++n) {
        for (size_t c = 0; c < channels; ++c) {
            const size_t i = n * channels + c;
            RefStore(f, step(c, RefLoad(f, input.data(), i)), out.data(), i);
        }
    }

    const int32_t echoes =
        feedback != 0.0 ? static_cast<int32_t>(0.5 - 5.0 / std::log(feedback)) : 1;
    int64_t remaining = static_cast<int64_t>(channels) * delay * echoes;
    const BYTE silence = (f.wFormatTag == WAVE_FORMAT_PCM && f.wBitsPerSample == 8) ? 0x80 : 0;
    for (;;) {
        // The countdown of one drain call: channel by channel, each at most what the last ran.
        int64_t count = drainFrames;
        for (size_t c = 0; c < channels; ++c) {
            if (count > remaining) count = remaining > 0 ? remaining : 0;
            remaining -= count;
        }
        std::vector<BYTE> buffer(static_cast<size_t>(drainFrames) * align, silence);
        for (int64_t n = 0; n < count; ++n) {
            for (size_t c = 0; c < channels; ++c) {
                RefStore(f, step(c, 0.0), buffer.data(), static_cast<size_t>(n) * channels + c);
            }
        }
        out.insert(out.end(), buffer.begin(), buffer.end());
        if (remaining <= 0) break;
    }
    return out;
}

}  // namespace brio_test
