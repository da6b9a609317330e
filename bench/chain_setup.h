// The five blocks configured with the controller's fixed values, shared by the benchmarks:
// drive 750, every block on, Hall reverb, 500 ms delay with 50 % decay, flange at 0.5 Hz.
#pragma once

#include "effects/audio_blocks.h"

#include <cstring>

namespace bench {

inline WAVEFORMATEX Format(WORD channels, bool isDouble) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    f.nChannels = channels;
    f.nSamplesPerSec = 44100;
    f.wBitsPerSample = isDouble ? 64 : 32;
    f.nBlockAlign = static_cast<WORD>(channels * f.wBitsPerSample / 8);
    f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
    return f;
}

struct Chain {
    ITwAudioDistortion* distortion = nullptr;
    ITwAudioSimpleEQ* eq = nullptr;
    ITwAudioFlange* lfo = nullptr;
    ITwAudioDelay* delay = nullptr;
    ITwAudioReverb* reverb = nullptr;

    bool Init(const WAVEFORMATEX& f) {
        if (FAILED(CreateAudioDistortion(&distortion)) || FAILED(CreateAudioSimpleEQ(&eq)) ||
            FAILED(CreateAudioFlange(&lfo)) || FAILED(CreateAudioDelay(&delay)) || FAILED(CreateAudioReverb(&reverb)))
            return false;
        DistortionParams d{40, 0, 0.5, 0.5, 750, 50, 0, 0};
        SimpleEqParams e{16, 30, 60, -40};
        FlangeParams l{40, 0, 0.5, 0.5, 0, 500, 50, 23};
        DelayParams dl{40, 0, 0.5, 0.5, 5000, 0, 500, 0};
        ReverbParams r{56, 0, 0.5, 0.5, 0, -160, 30, 15, 1, 100, 1, 10000};
        return SUCCEEDED(distortion->SetFormat(&f, &d, TRUE)) && SUCCEEDED(eq->SetFormat(&f, &e, TRUE)) &&
               SUCCEEDED(lfo->SetFormat(&f, &l, TRUE)) && SUCCEEDED(delay->SetFormat(&f, &dl, TRUE)) &&
               SUCCEEDED(reverb->SetFormat(&f, &r, TRUE));
    }

    template <class T>
    void Run(T* buffer, ULONG frames) {
        ULONG out = 0;
        Process(distortion, buffer, frames, &out);
        Process(eq, buffer, frames, &out);
        Process(lfo, buffer, frames, &out);
        Process(delay, buffer, frames, &out);
        Process(reverb, buffer, frames, &out);
    }

    template <class B>
    static void Process(B* block, float* buffer, ULONG frames, ULONG* out) {
        block->ProcessFloat(buffer, frames, out, 0);
    }
    template <class B>
    static void Process(B* block, double* buffer, ULONG frames, ULONG* out) {
        block->ProcessDouble(buffer, frames, out, 0);
    }

    ~Chain() {
        if (distortion) distortion->Release();
        if (eq) eq->Release();
        if (lfo) lfo->Release();
        if (delay) delay->Release();
        if (reverb) reverb->Release();
    }
};

// A deterministic test signal: a few partials and a little noise, well within full scale.
template <class T>
void FillSignal(T* buffer, size_t samples, unsigned seed) {
    unsigned s = seed;
    for (size_t i = 0; i < samples; ++i) {
        s = s * 1664525u + 1013904223u;
        const double noise = static_cast<double>(s >> 8) / 16777216.0 - 0.5;
        buffer[i] = static_cast<T>(0.3 * ((i / 50) % 2 ? 1.0 : -1.0) * 0.5 + 0.1 * noise);
    }
}

}  // namespace bench
