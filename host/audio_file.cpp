#include "host/audio_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace host {

namespace {

// Rounds a 32-bit value to a multiple of 2^shift, ties to even, clamped to the narrower range,
// because libsndfile truncates when it writes a wider int into a narrower file.
int32_t RoundToStep(int32_t v, int shift) {
    const int64_t step = int64_t{1} << shift;
    int64_t q = static_cast<int64_t>(v) >> shift;  // floor
    const int64_t rem = static_cast<int64_t>(v) - q * step;
    if (rem > step / 2 || (rem == step / 2 && (q & 1))) ++q;
    const int64_t maxQ = (int64_t{1} << (31 - shift)) - 1;
    if (q > maxQ) q = maxQ;
    return static_cast<int32_t>(q * step);
}

int16_t RoundShort(int16_t v, int shift) {
    int32_t r = RoundToStep(static_cast<int32_t>(v) << 16, shift + 16);
    return static_cast<int16_t>(r >> 16);
}

// What the filter would be fed from a file libsndfile opened.
bool DescribeFeed(const SF_INFO& sfi, AudioInfo* info, std::string* error) {
    if (sfi.channels < 1 || sfi.channels > 2) {
        *error = "has " + std::to_string(sfi.channels) + " channels; the filter takes mono or stereo";
        return false;
    }
    FeedFormat feed;
    if (!FeedFormatFor(sfi.format & SF_FORMAT_SUBMASK, &feed)) {
        *error = std::string("unsupported sample encoding (") + SubformatName(sfi.format & SF_FORMAT_SUBMASK) + ")";
        return false;
    }
    if (sfi.samplerate < 2000 || sfi.samplerate > 192000) {
        *error = "sample rate " + std::to_string(sfi.samplerate) + " Hz is outside 2000 to 192000 Hz";
        return false;
    }
    info->frames = sfi.frames;
    info->rate = sfi.samplerate;
    info->channels = sfi.channels;
    info->format = sfi.format;
    info->feed = feed;
    return true;
}

}  // namespace

int FeedBits(FeedFormat f) {
    switch (f) {
    case FeedFormat::Pcm8: return 8;
    case FeedFormat::Pcm16: return 16;
    case FeedFormat::Pcm32: return 32;
    case FeedFormat::Float32: return 32;
    case FeedFormat::Float64: return 64;
    }
    return 0;
}

bool FeedIsFloat(FeedFormat f) { return f == FeedFormat::Float32 || f == FeedFormat::Float64; }

const char* FeedName(FeedFormat f) {
    switch (f) {
    case FeedFormat::Pcm8: return "8-bit unsigned PCM";
    case FeedFormat::Pcm16: return "16-bit PCM";
    case FeedFormat::Pcm32: return "32-bit PCM";
    case FeedFormat::Float32: return "32-bit float";
    case FeedFormat::Float64: return "64-bit float";
    }
    return "?";
}

bool FeedFormatFor(int sub, FeedFormat* out) {
    switch (sub) {
    case SF_FORMAT_PCM_U8: *out = FeedFormat::Pcm8; return true;
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
    case SF_FORMAT_GSM610:
        *out = FeedFormat::Pcm16;
        return true;
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32: *out = FeedFormat::Pcm32; return true;
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS: *out = FeedFormat::Float32; return true;
    case SF_FORMAT_DOUBLE: *out = FeedFormat::Float64; return true;
    default: return false;
    }
}

const char* SubformatName(int sub) {
    switch (sub) {
    case SF_FORMAT_PCM_U8: return "8-bit unsigned PCM";
    case SF_FORMAT_PCM_S8: return "8-bit signed PCM";
    case SF_FORMAT_PCM_16: return "16-bit PCM";
    case SF_FORMAT_PCM_24: return "24-bit PCM";
    case SF_FORMAT_PCM_32: return "32-bit PCM";
    case SF_FORMAT_FLOAT: return "32-bit float";
    case SF_FORMAT_DOUBLE: return "64-bit float";
    case SF_FORMAT_ULAW: return "u-law";
    case SF_FORMAT_ALAW: return "A-law";
    case SF_FORMAT_VORBIS: return "Vorbis";
    case SF_FORMAT_OPUS: return "Opus";
    default: return "other encoding";
    }
}

const char* ContainerName(int major) {
    switch (major) {
    case SF_FORMAT_WAV: return "WAV";
    case SF_FORMAT_WAVEX: return "WAVE_FORMAT_EXTENSIBLE";
    case SF_FORMAT_AIFF: return "AIFF";
    case SF_FORMAT_AU: return "AU";
    case SF_FORMAT_RAW: return "raw";
    case SF_FORMAT_W64: return "W64";
    case SF_FORMAT_CAF: return "CAF";
    case SF_FORMAT_FLAC: return "FLAC";
    case SF_FORMAT_OGG: return "Ogg";
    case SF_FORMAT_RF64: return "RF64";
    default: return "other container";
    }
}

int64_t MemorySource::Read(uint8_t* dst, int64_t frames, std::string*) {
    const int64_t n = std::min(frames, data_.frameCount() - next_);
    const size_t fb = data_.frameBytes();
    std::memcpy(dst, data_.bytes.data() + static_cast<size_t>(next_) * fb, static_cast<size_t>(n) * fb);
    next_ += n;
    return n;
}

bool ProbeAudio(const std::string& path, AudioInfo* info, std::string* error) {
    SF_INFO sfi{};
    SndFile f(sf_open(path.c_str(), SFM_READ, &sfi));
    if (!f) {
        *error = sf_strerror(nullptr);
        return false;
    }
    return DescribeFeed(sfi, info, error);
}

bool AudioReader::Open(const std::string& path, std::string* error) {
    SF_INFO sfi{};
    file_.reset(sf_open(path.c_str(), SFM_READ, &sfi));
    if (!file_) {
        *error = sf_strerror(nullptr);
        return false;
    }
    path_ = path;
    return DescribeFeed(sfi, &info_, error);
}

int64_t AudioReader::Read(uint8_t* dst, int64_t frames, std::string* error) {
    sf_count_t got = 0;
    switch (info_.feed) {
    case FeedFormat::Pcm8: {
        // libsndfile hands 8-bit data as shorts scaled by 256.
        const size_t samples = static_cast<size_t>(frames) * info_.channels;
        if (shorts_.size() < samples) shorts_.resize(samples);
        got = sf_readf_short(file_.get(), shorts_.data(), frames);
        for (size_t i = 0; i < static_cast<size_t>(got > 0 ? got : 0) * info_.channels; ++i)
            dst[i] = static_cast<uint8_t>((shorts_[i] >> 8) + 128);
        break;
    }
    case FeedFormat::Pcm16: got = sf_readf_short(file_.get(), reinterpret_cast<short*>(dst), frames); break;
    case FeedFormat::Pcm32: got = sf_readf_int(file_.get(), reinterpret_cast<int*>(dst), frames); break;
    case FeedFormat::Float32: got = sf_readf_float(file_.get(), reinterpret_cast<float*>(dst), frames); break;
    case FeedFormat::Float64: got = sf_readf_double(file_.get(), reinterpret_cast<double*>(dst), frames); break;
    }
    if (got < frames && sf_error(file_.get()) != SF_ERR_NO_ERROR) {
        *error = path_ + ": " + sf_strerror(file_.get());
        return -1;
    }
    return got > 0 ? got : 0;
}

AudioWriter::~AudioWriter() {
    if (file_) {
        file_.reset();
        std::remove(temp_.c_str());
    }
}

bool AudioWriter::Open(const std::string& path, const AudioInfo& feed, int format, std::string* error) {
    SF_INFO sfi{};
    sfi.samplerate = feed.rate;
    sfi.channels = feed.channels;
    sfi.format = format;
    if (!sf_format_check(&sfi)) {
        *error = path + ": cannot write " + SubformatName(format & SF_FORMAT_SUBMASK) + " in a " +
                 ContainerName(format & SF_FORMAT_TYPEMASK) + " file";
        return false;
    }
    // The temporary file gets the permissions a newly created file gets.
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(&temp[0]);
    if (fd < 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    file_.reset(sf_open_fd(fd, SFM_WRITE, &sfi, SF_TRUE));
    if (!file_) {
        *error = path + ": " + sf_strerror(nullptr);
        close(fd);
        std::remove(temp.c_str());
        return false;
    }
    path_ = path;
    temp_ = temp;
    feed_ = feed;
    sub_ = format & SF_FORMAT_SUBMASK;
    const bool integerOut = !(sub_ == SF_FORMAT_FLOAT || sub_ == SF_FORMAT_DOUBLE || sub_ == SF_FORMAT_VORBIS ||
                              sub_ == SF_FORMAT_OPUS);
    if (integerOut) sf_command(file_.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);  // values would wrap otherwise
    return true;
}

bool AudioWriter::Write(const uint8_t* src, int64_t frames, std::string* error) {
    const size_t samples = static_cast<size_t>(frames) * feed_.channels;
    sf_count_t written = 0;
    switch (feed_.feed) {
    case FeedFormat::Pcm8: {
        if (shorts_.size() < samples) shorts_.resize(samples);
        for (size_t i = 0; i < samples; ++i) shorts_[i] = static_cast<short>((src[i] - 128) * 256);
        written = sf_writef_short(file_.get(), shorts_.data(), frames);
        break;
    }
    case FeedFormat::Pcm16: {
        const auto* s = reinterpret_cast<const short*>(src);
        if (sub_ == SF_FORMAT_PCM_S8 || sub_ == SF_FORMAT_PCM_U8) {
            if (shorts_.size() < samples) shorts_.resize(samples);
            for (size_t i = 0; i < samples; ++i) shorts_[i] = RoundShort(s[i], 8);
            s = shorts_.data();
        }
        written = sf_writef_short(file_.get(), s, frames);
        break;
    }
    case FeedFormat::Pcm32: {
        const auto* s = reinterpret_cast<const int*>(src);
        const int shift = sub_ == SF_FORMAT_PCM_24                                ? 8
                          : sub_ == SF_FORMAT_PCM_16                              ? 16
                          : sub_ == SF_FORMAT_PCM_S8 || sub_ == SF_FORMAT_PCM_U8 ? 24
                                                                                  : 0;
        if (shift) {
            if (ints_.size() < samples) ints_.resize(samples);
            for (size_t i = 0; i < samples; ++i) ints_[i] = RoundToStep(s[i], shift);
            s = ints_.data();
        }
        written = sf_writef_int(file_.get(), s, frames);
        break;
    }
    case FeedFormat::Float32: written = sf_writef_float(file_.get(), reinterpret_cast<const float*>(src), frames); break;
    case FeedFormat::Float64: written = sf_writef_double(file_.get(), reinterpret_cast<const double*>(src), frames); break;
    }
    if (written != frames || sf_error(file_.get()) != SF_ERR_NO_ERROR) return Fail(error);
    return true;
}

bool AudioWriter::Fail(std::string* error) {
    *error = path_ + ": " + sf_strerror(file_.get());
    return false;
}

bool AudioWriter::Commit(std::string* error) {
    // The header is completed on close; a failing close (a full disk) shows in the error state.
    if (sf_error(file_.get()) != SF_ERR_NO_ERROR) return Fail(error);
    const int closed = sf_close(file_.release());
    if (closed != 0 || std::rename(temp_.c_str(), path_.c_str()) != 0) {
        *error = path_ + ": " + (closed != 0 ? sf_error_number(closed) : std::strerror(errno));
        std::remove(temp_.c_str());
        return false;
    }
    return true;
}

bool WriteAudio(const std::string& path, const AudioData& data, int format, std::string* error) {
    AudioWriter writer;
    return writer.Open(path, data.info, format, error) && writer.Write(data.bytes.data(), data.frameCount(), error) &&
           writer.Commit(error);
}

bool ParseFormatOption(const std::string& text, int base, int* format, std::string* error) {
    std::string major = text, sub;
    const size_t colon = text.find(':');
    if (colon != std::string::npos) {
        major = text.substr(0, colon);
        sub = text.substr(colon + 1);
    }
    int m = base & SF_FORMAT_TYPEMASK;
    if (!major.empty()) {
        struct { const char* name; int value; } majors[] = {
            {"wav", SF_FORMAT_WAV}, {"aiff", SF_FORMAT_AIFF}, {"aif", SF_FORMAT_AIFF}, {"au", SF_FORMAT_AU},
            {"raw", SF_FORMAT_RAW}, {"w64", SF_FORMAT_W64}, {"caf", SF_FORMAT_CAF}, {"flac", SF_FORMAT_FLAC},
            {"rf64", SF_FORMAT_RF64}};
        bool found = false;
        for (auto& mm : majors)
            if (major == mm.name) { m = mm.value; found = true; }
        if (!found) {
            *error = "unknown container '" + major + "' (wav, aiff, au, raw, w64, caf, flac, rf64)";
            return false;
        }
    }
    int s = base & SF_FORMAT_SUBMASK;
    if (!sub.empty()) {
        struct { const char* name; int value; } subs[] = {
            {"u8", SF_FORMAT_PCM_U8}, {"s8", SF_FORMAT_PCM_S8}, {"16", SF_FORMAT_PCM_16}, {"24", SF_FORMAT_PCM_24},
            {"32", SF_FORMAT_PCM_32}, {"float", SF_FORMAT_FLOAT}, {"double", SF_FORMAT_DOUBLE}};
        bool found = false;
        for (auto& ss : subs)
            if (sub == ss.name) { s = ss.value; found = true; }
        if (!found) {
            *error = "unknown sample format '" + sub + "' (u8, s8, 16, 24, 32, float, double)";
            return false;
        }
    }
    *format = m | s;
    return true;
}

}  // namespace host
