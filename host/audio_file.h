// Audio files through libsndfile, read and written with the exact-width calls so that integer
// samples never pass through float. Each file is fed to the filter in a sample format it accepts:
// the file's own where possible, signed 8-bit widened to 16 and 24-bit widened to 32.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
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
    size_t frameBytes() const { return static_cast<size_t>(FeedBits(feed) / 8) * channels; }
};

// A whole signal in memory as interleaved frames of the feed format, bytes per sample FeedBits / 8.
struct AudioData {
    AudioInfo info;
    std::vector<uint8_t> bytes;
    size_t frameBytes() const { return info.frameBytes(); }
    int64_t frameCount() const { return frameBytes() ? static_cast<int64_t>(bytes.size() / frameBytes()) : 0; }
};

// Frames of the feed format coming in, a buffer at a time.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    // Reads up to `frames` frames into `dst`: the count read, 0 at the end, or -1 with `error` set.
    virtual int64_t Read(uint8_t* dst, int64_t frames, std::string* error) = 0;
};

// Frames of the feed format going out, a buffer at a time.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual bool Write(const uint8_t* src, int64_t frames, std::string* error) = 0;
};

// A signal in memory as a source.
class MemorySource final : public FrameSource {
public:
    explicit MemorySource(const AudioData& data) : data_(data) {}
    int64_t Read(uint8_t* dst, int64_t frames, std::string* error) override;

private:
    const AudioData& data_;
    int64_t next_ = 0;
};

struct SndCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndFile = std::unique_ptr<SNDFILE, SndCloser>;

// Reads the header only. On failure `error` says why.
bool ProbeAudio(const std::string& path, AudioInfo* info, std::string* error);

// A file read a buffer at a time in its feed format, so a long file never sits in memory whole.
class AudioReader final : public FrameSource {
public:
    bool Open(const std::string& path, std::string* error);
    const AudioInfo& info() const { return info_; }
    int64_t Read(uint8_t* dst, int64_t frames, std::string* error) override;

private:
    std::string path_;
    SndFile file_;
    AudioInfo info_;
    std::vector<short> shorts_;
};

// A file written a buffer at a time from feed-format frames, converted to the file's sample width
// with rounding, ties to even, and clipping. It goes to a temporary file beside the target that
// replaces the target only on Commit: a failed render leaves no partial file behind, and an output
// that names the input does not truncate the input while it is still being read.
class AudioWriter final : public FrameSink {
public:
    AudioWriter() = default;
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;
    ~AudioWriter() override;  // removes the temporary file unless committed

    // `feed` gives the rate, channels and feed format of the frames; `format` is SF_FORMAT_*.
    bool Open(const std::string& path, const AudioInfo& feed, int format, std::string* error);
    bool Write(const uint8_t* src, int64_t frames, std::string* error) override;
    bool Commit(std::string* error);

private:
    bool Fail(std::string* error);

    std::string path_, temp_;
    SndFile file_;
    AudioInfo feed_;
    int sub_ = 0;
    std::vector<short> shorts_;
    std::vector<int> ints_;
};

// Writes a whole signal as `format` (SF_FORMAT_*), as AudioWriter does.
bool WriteAudio(const std::string& path, const AudioData& data, int format, std::string* error);

// Parses a --format value ("wav", "flac", "aiff", "caf", "au", "w64", "raw" with an optional ":SUB"
// of "u8", "s8", "16", "24", "32", "float", "double") into an SF_FORMAT_*, starting from `base`.
bool ParseFormatOption(const std::string& text, int base, int* format, std::string* error);

}  // namespace host
