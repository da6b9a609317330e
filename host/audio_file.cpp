#include "host/audio_file.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace host {

namespace {

struct SndCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndFile = std::unique_ptr<SNDFILE, SndCloser>;

constexpr size_t kChunkFrames = 65536;

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

bool ProbeAudio(const std::string& path, AudioInfo* info, std::string* error) {
    SF_INFO sfi{};
    SndFile f(sf_open(path.c_str(), SFM_READ, &sfi));
    if (!f) {
        *error = sf_strerror(nullptr);
        return false;
    }
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

bool ReadAudio(const std::string& path, AudioData* data, std::string* error) {
    if (!ProbeAudio(path, &data->info, error)) return false;
    SF_INFO sfi{};
    SndFile f(sf_open(path.c_str(), SFM_READ, &sfi));
    if (!f) {
        *error = sf_strerror(nullptr);
        return false;
    }
    const AudioInfo& info = data->info;
    const size_t ch = static_cast<size_t>(info.channels);
    data->bytes.clear();
    if (info.frames > 0) data->bytes.reserve(static_cast<size_t>(info.frames + kChunkFrames) * data->frameBytes());
    std::vector<int16_t> shorts;
    for (;;) {
        const size_t old = data->bytes.size();
        data->bytes.resize(old + kChunkFrames * data->frameBytes());
        uint8_t* dst = data->bytes.data() + old;
        sf_count_t got = 0;
        switch (info.feed) {
        case FeedFormat::Pcm8:
            // libsndfile hands 8-bit data as shorts scaled by 256.
            shorts.resize(kChunkFrames * ch);
            got = sf_readf_short(f.get(), shorts.data(), kChunkFrames);
            for (size_t i = 0; i < static_cast<size_t>(got) * ch; ++i)
                dst[i] = static_cast<uint8_t>((shorts[i] >> 8) + 128);
            break;
        case FeedFormat::Pcm16: got = sf_readf_short(f.get(), reinterpret_cast<short*>(dst), kChunkFrames); break;
        case FeedFormat::Pcm32: got = sf_readf_int(f.get(), reinterpret_cast<int*>(dst), kChunkFrames); break;
        case FeedFormat::Float32: got = sf_readf_float(f.get(), reinterpret_cast<float*>(dst), kChunkFrames); break;
        case FeedFormat::Float64: got = sf_readf_double(f.get(), reinterpret_cast<double*>(dst), kChunkFrames); break;
        }
        if (got < 0) got = 0;
        data->bytes.resize(old + static_cast<size_t>(got) * data->frameBytes());
        if (got < static_cast<sf_count_t>(kChunkFrames)) break;
    }
    if (sf_error(f.get()) != SF_ERR_NO_ERROR) {
        *error = sf_strerror(f.get());
        return false;
    }
    data->info.frames = data->frameCount();
    return true;
}

bool WriteAudio(const std::string& path, const AudioData& data, int format, std::string* error) {
    SF_INFO sfi{};
    sfi.samplerate = data.info.rate;
    sfi.channels = data.info.channels;
    sfi.format = format;
    if (!sf_format_check(&sfi)) {
        *error = std::string("cannot write ") + SubformatName(format & SF_FORMAT_SUBMASK) + " in a " +
                 ContainerName(format & SF_FORMAT_TYPEMASK) + " file";
        return false;
    }
    SndFile f(sf_open(path.c_str(), SFM_WRITE, &sfi));
    if (!f) {
        *error = sf_strerror(nullptr);
        return false;
    }
    const int sub = format & SF_FORMAT_SUBMASK;
    const bool integerOut = !(sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE || sub == SF_FORMAT_VORBIS ||
                              sub == SF_FORMAT_OPUS);
    if (integerOut) sf_command(f.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);  // values would wrap otherwise

    const size_t ch = static_cast<size_t>(data.info.channels);
    const size_t samples = static_cast<size_t>(data.frameCount()) * ch;
    const sf_count_t frames = data.frameCount();
    sf_count_t written = 0;
    switch (data.info.feed) {
    case FeedFormat::Pcm8: {
        std::vector<short> s(samples);
        for (size_t i = 0; i < samples; ++i) s[i] = static_cast<short>((data.bytes[i] - 128) * 256);
        written = sf_writef_short(f.get(), s.data(), frames);
        break;
    }
    case FeedFormat::Pcm16: {
        const auto* src = reinterpret_cast<const int16_t*>(data.bytes.data());
        if (sub == SF_FORMAT_PCM_S8 || sub == SF_FORMAT_PCM_U8) {
            std::vector<short> s(src, src + samples);
            for (short& v : s) v = RoundShort(v, 8);
            written = sf_writef_short(f.get(), s.data(), frames);
        } else {
            written = sf_writef_short(f.get(), reinterpret_cast<const short*>(src), frames);
        }
        break;
    }
    case FeedFormat::Pcm32: {
        const auto* src = reinterpret_cast<const int32_t*>(data.bytes.data());
        const int shift = sub == SF_FORMAT_PCM_24 ? 8 : sub == SF_FORMAT_PCM_16 ? 16 : sub == SF_FORMAT_PCM_S8 || sub == SF_FORMAT_PCM_U8 ? 24 : 0;
        if (shift) {
            std::vector<int> s(src, src + samples);
            for (int& v : s) v = RoundToStep(v, shift);
            written = sf_writef_int(f.get(), s.data(), frames);
        } else {
            written = sf_writef_int(f.get(), reinterpret_cast<const int*>(src), frames);
        }
        break;
    }
    case FeedFormat::Float32:
        written = sf_writef_float(f.get(), reinterpret_cast<const float*>(data.bytes.data()), frames);
        break;
    case FeedFormat::Float64:
        written = sf_writef_double(f.get(), reinterpret_cast<const double*>(data.bytes.data()), frames);
        break;
    }
    const bool ok = written == frames && sf_error(f.get()) == SF_ERR_NO_ERROR;
    if (!ok) *error = sf_strerror(f.get());
    f.reset();
    if (!ok) std::remove(path.c_str());
    return ok;
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
