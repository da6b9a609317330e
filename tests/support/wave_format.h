// A plain PCM or IEEE float format: interleaved frames of `channels` samples of `bits` bits each.
#pragma once

#include "platform/platform.h"

namespace testing_support {

inline WAVEFORMATEX MakeWaveFormat(WORD tag, WORD channels, DWORD rate, WORD bits) {
    WAVEFORMATEX f{};
    f.wFormatTag = tag;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

}  // namespace testing_support
