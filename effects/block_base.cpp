#include "effects/block_base.h"

namespace tw {

namespace {
constexpr size_t kFormatCompareBytes = 16;  // tag through bits per sample
}

bool BlockFormatDiffers(const WAVEFORMATEX& given, const WAVEFORMATEX& stored) {
    if (given.wFormatTag != WAVE_FORMAT_PCM && given.wFormatTag != WAVE_FORMAT_IEEE_FLOAT) return true;
    return std::memcmp(&given, &stored, kFormatCompareBytes) != 0;
}

HRESULT NormaliseBlockFormat(const WAVEFORMATEX& given, WAVEFORMATEX* normalised) {
    WAVEFORMATEX copy = given;
    copy.nBlockAlign = static_cast<WORD>(copy.nChannels * (copy.wBitsPerSample / 8));
    copy.nAvgBytesPerSec = copy.nSamplesPerSec * copy.nBlockAlign;
    copy.cbSize = 0;
    // Only PCM and IEEE float reach a comparison over 16 bytes; any other tag is refused below.
    if (std::memcmp(&copy, &given, kFormatCompareBytes) != 0) return E_INVALIDARG;
    const WORD bits = given.wBitsPerSample;
    const bool pcm = given.wFormatTag == WAVE_FORMAT_PCM && (bits == 8 || bits == 16 || bits == 32);
    const bool ieee = given.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && (bits == 32 || bits == 64);
    if (!pcm && !ieee) return E_INVALIDARG;
    if (given.nSamplesPerSec < kMinBlockRate || given.nSamplesPerSec > kMaxBlockRate) return E_INVALIDARG;
    if (given.nChannels < 1 || given.nChannels > kMaxBlockChannels) return E_INVALIDARG;
    *normalised = copy;
    return S_OK;
}

HRESULT PcmScratch::Reset(const WAVEFORMATEX& format) {
    ZeroFree(data_);
    data_ = nullptr;
    capacity_ = 0;
    channels_ = format.nChannels;
    if (format.wFormatTag != WAVE_FORMAT_PCM || !ConvertersForPcm(format.wBitsPerSample, &conv_)) {
        conv_ = PcmConverters{};
        return S_OK;
    }
    return Reserve(kScratchFrames);
}

HRESULT PcmScratch::Reserve(ULONG frames) {
    if (frames <= capacity_ && data_) return S_OK;
    if (!hasConverters()) return E_INVALIDARG;
    ZeroFree(data_);  // the old buffer goes first: its contents never outlive a call
    capacity_ = 0;
    data_ = ZeroAlloc(static_cast<size_t>(frames) * channels_ * conv_.workingBytes);
    if (!data_) return E_OUTOFMEMORY;
    capacity_ = frames;
    return S_OK;
}

}  // namespace tw
