// Audio files through libsndfile, read and written with the exact-width calls so that integer
// samples never pass through float. Each file is fed to the filter in a sample format it accepts:
// the file's own where possible, signed 8-bit widened to 16 and 24-bit widened to 32.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

namespace host {

// What the filter is fed.
enum class FeedFormat { Pcm8, Pcm16, Pcm32, Float32, Float64 };

int FeedBits(FeedFormat f);
bool FeedIsFloat(FeedFormat f);
const char* FeedName(FeedFormat f);

// The feed format for a libsndfile subformat; false for one we cannot carry exactly.
bool FeedFormatFor(int sfSubformat, FeedFormat* out);
const char* SubformatName(int sfSubformat);
const char* ContainerName(int sfMajor);

struct AudioInfo {
    int64_t frames = 0;
    int rate = 0;
    int channels = 0;
    int format = 0;  // SF_FORMAT_* major | subformat
    FeedFormat feed = FeedFormat::Pcm16;
};

// A whole file in memory as interleaved frames of the feed format, bytes per sample FeedBits / 8.
struct AudioData {
    AudioInfo info;
    std::vector<uint8_t> bytes;
    size_t frameBytes() const { return static_cast<size_t>(FeedBits(info.feed) / 8) * info.channels; }
    int64_t frameCount() const { return frameBytes() ? static_cast<int64_t>(bytes.size() / frameBytes()) : 0; }
};

// Reads the header only. On failure `error` says why.
bool ProbeAudio(const std::string& path, AudioInfo* info, std::string* error);
// Reads the whole file in its feed format.
bool ReadAudio(const std::string& path, AudioData* data, std::string* error);
// Writes `data` (feed-format samples) as `format` (SF_FORMAT_*), converting to the file's sample
// width with rounding, ties to even, and clipping. Removes a partly written file on failure.
bool WriteAudio(const std::string& path, const AudioData& data, int format, std::string* error);

// Parses a --format value ("wav", "flac", "aiff", "caf", "au", "w64", "raw" with an optional ":SUB"
// of "u8", "s8", "16", "24", "32", "float", "double") into an SF_FORMAT_*, starting from `base`.
bool ParseFormatOption(const std::string& text, int base, int* format, std::string* error);

}  // namespace host
