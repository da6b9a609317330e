// brio-fx end to end: real files in a temporary folder, the real program, its exit codes.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Outcome {
    int code = -1;
    std::string out, err;
};

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/brio-fx-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    Outcome Exec(const std::string& args) const {
        const std::string cmd = std::string(BRIO_FX_EXE) + " " + args + " >'" + Path("stdout") + "' 2>'" +
                                Path("stderr") + "'";
        Outcome r;
        const int status = std::system(cmd.c_str());
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = Slurp(Path("stdout"));
        r.err = Slurp(Path("stderr"));
        return r;
    }

    static std::string Slurp(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        std::ostringstream s;
        s << f.rdbuf();
        return s.str();
    }
    static bool Exists(const std::string& path) {
        struct stat st;
        return stat(path.c_str(), &st) == 0;
    }

    // Writes `frames` frames of `signal(frame, channel)` in the given format.
    template <class F>
    void WriteFile(const std::string& path, int format, int channels, int frames, F signal, int rate = 44100) {
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = format;
        SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
        std::vector<double> buf(static_cast<size_t>(frames) * channels);
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c) buf[static_cast<size_t>(i) * channels + c] = signal(i, c);
        sf_writef_double(f, buf.data(), frames);
        sf_close(f);
    }

    // Reads a file's samples as doubles (exact for every integer width) and its info.
    static std::vector<double> ReadFile(const std::string& path, SF_INFO* info) {
        *info = SF_INFO{};
        SNDFILE* f = sf_open(path.c_str(), SFM_READ, info);
        if (!f) return {};
        std::vector<double> buf(static_cast<size_t>(info->frames) * info->channels);
        sf_command(f, SFC_SET_NORM_DOUBLE, nullptr, SF_FALSE);
        sf_readf_double(f, buf.data(), info->frames);
        sf_close(f);
        return buf;
    }

    std::string dir_;
};

const int kFormats[] = {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                        SF_FORMAT_WAV | SF_FORMAT_PCM_32, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                        SF_FORMAT_WAV | SF_FORMAT_DOUBLE};

double Tone(int i, int c) { return 0.4 * std::sin(0.03 * i + c) + 0.1 * std::sin(0.171 * i); }

TEST_F(HostTest, EveryPresetInEveryFormatAndIdentityWithEveryBlockOff) {
    for (int format : kFormats) {
        for (int channels : {1, 2}) {
            const std::string in = Path("in.wav");
            WriteFile(in, format, channels, 6000, Tone);
            SF_INFO inInfo;
            const std::vector<double> input = ReadFile(in, &inInfo);
            for (int preset = 0; preset < 14; ++preset) {
                const std::string out = Path("out.wav");
                const Outcome r = Exec("render '" + in + "' '" + out + "' --quiet --buffer 1024 --preset " +
                                   std::to_string(preset));
                ASSERT_EQ(r.code, 0) << r.err << " format " << format << " preset " << preset;
                SF_INFO info;
                const std::vector<double> output = ReadFile(out, &info);
                EXPECT_EQ(info.format, format);
                EXPECT_EQ(info.channels, channels);
                EXPECT_EQ(info.samplerate, 44100);
                ASSERT_GE(info.frames, 6000);
                if (preset == 1) {  // "Default all parameters": every block off
                    EXPECT_EQ(info.frames, 6000) << "no tail without delay or reverb";
                    EXPECT_EQ(output, input) << "format " << format;
                }
            }
        }
    }
}

TEST_F(HostTest, SlapbackEchoesAtTheirPositionsWithATail) {
    const std::string in = Path("impulse.wav");
    WriteFile(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 10000, [](int i, int) { return i == 0 ? 0.5 : 0.0; });
    const Outcome r = Exec("render '" + in + "' '" + Path("out.wav") + "' --preset 'slapback delay' --json");
    ASSERT_EQ(r.code, 0) << r.err;
    SF_INFO info;
    const std::vector<double> out = ReadFile(Path("out.wav"), &info);
    // 50 ms at 44100 Hz is D = 2205; the window holds D + 1 slots, so echoes come every 2206.
    const int period = 2206;
    ASSERT_GT(info.frames, 4 * period);
    EXPECT_NEAR(out[0], 0.5 * 0.7, 1e-6);  // dry 1 - 0.3
    double expect = 0.5 * 0.3;             // wet 0.3, then feedback 0.3 per round
    for (int k = 1; k <= 3; ++k) {
        EXPECT_NEAR(out[static_cast<size_t>(k * period)], expect, 1e-6) << "echo " << k;
        for (int i = (k - 1) * period + 1; i < k * period; ++i) ASSERT_EQ(out[static_cast<size_t>(i)], 0.0) << i;
        expect *= 0.3;
    }
    EXPECT_GT(info.frames, 10000) << "the echoes ring on past the input";
    EXPECT_NE(r.out.find("\"frames_in\":10000"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"tail_frames\":"), std::string::npos);
    EXPECT_EQ(r.out.front(), '{');
}

TEST_F(HostTest, StreamedOutputDoesNotDependOnBufferSizeOrOutputPlace) {
    const std::string in = Path("impulse.wav");
    WriteFile(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 3000, [](int i, int c) { return i == 10 * c ? 0.5 : 0.0; });
    // Echo gaps of 2205 silent frames span many 64-frame buffers in the tail: held-back silence must
    // be written once the next echo arrives, and dropped after the last one.
    Outcome r = Exec("render '" + in + "' '" + Path("small.wav") + "' --quiet --buffer 64 --preset 'slapback delay'");
    ASSERT_EQ(r.code, 0) << r.err;
    r = Exec("render '" + in + "' '" + Path("large.wav") + "' --quiet --preset 'slapback delay'");
    ASSERT_EQ(r.code, 0) << r.err;
    // Samples, not bytes: a float file's header carries the time it was written.
    SF_INFO info, other;
    const std::vector<double> out = ReadFile(Path("large.wav"), &info);
    EXPECT_TRUE(ReadFile(Path("small.wav"), &other) == out);
    ASSERT_GT(info.frames, 3 * 2206);
    EXPECT_TRUE(out[out.size() - 2] != 0.0 || out.back() != 0.0) << "the output ends at its last sound";

    // An output naming the input is written beside it and replaces it only when done.
    const std::string same = Path("same.wav");
    {
        std::ofstream copy(same, std::ios::binary);
        copy << Slurp(in);
    }
    r = Exec("render '" + same + "' '" + same + "' --quiet --preset 'slapback delay'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(ReadFile(same, &other) == out);

    // A refused render leaves an existing output as it was and no temporary file behind.
    {
        std::ofstream keep(Path("keep.wav"), std::ios::binary);
        keep << "keep";
    }
    r = Exec("render '" + in + "' '" + Path("keep.wav") + "' --preset 99");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(Slurp(Path("keep.wav")), "keep");
    std::vector<std::string> names;
    if (DIR* d = opendir(dir_.c_str())) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"impulse.wav", "keep.wav", "large.wav", "same.wav", "small.wav",
                                               "stderr", "stdout"}));

    r = Exec("render '" + in + "' '" + Path("no-such-dir/out.wav") + "'");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("no-such-dir/out.wav"), std::string::npos) << r.err;
}

TEST_F(HostTest, SavedSettingsReproduceTheRender) {
    const std::string in = Path("in.wav");
    WriteFile(in, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 20000, Tone);
    Outcome r = Exec("render '" + in + "' '" + Path("a.wav") +
                 "' --quiet --preset 'Club Guitar' --set distOn=1 --set eqOn=1 --set eqBass=60 --save '" +
                 Path("s.fx") + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Slurp(Path("s.fx")).size(), 116u);
    r = Exec("render '" + in + "' '" + Path("b.wav") + "' --quiet --load '" + Path("s.fx") + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Slurp(Path("a.wav")), Slurp(Path("b.wav")));
}

TEST_F(HostTest, TwentyFourBitRoundTripsInTwentyFourBit) {
    const std::string in = Path("in24.wav");
    WriteFile(in, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 5000, Tone);
    const Outcome r = Exec("render '" + in + "' '" + Path("out.wav") + "' --quiet --preset 1");
    ASSERT_EQ(r.code, 0) << r.err;
    SF_INFO a, b;
    const std::vector<double> x = ReadFile(in, &a), y = ReadFile(Path("out.wav"), &b);
    EXPECT_EQ(b.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_EQ(x, y);
}

// First frame at which two renders differ, or -1.
int FirstDifference(const std::vector<double>& a, const std::vector<double>& b, int channels) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return static_cast<int>(i) / channels;
    return a.size() == b.size() ? -1 : static_cast<int>(n) / channels;
}

TEST_F(HostTest, TempoModeDelayFollowsTheHostTempoAndItsMapCutsBuffers) {
    const std::string impulse = Path("impulse.wav");
    WriteFile(impulse, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 30000, [](int i, int) { return i == 0 ? 0.5 : 0.0; });
    // A dotted eighth is 0.75 beats: at 100 BPM 19845 samples (D = 19845), at 120 BPM 16538.
    for (const auto& tc : {std::pair<int, int>{100, 19846}, std::pair<int, int>{120, 16539}}) {
        const Outcome r = Exec("render '" + impulse + "' '" + Path("t.wav") + "' --quiet --preset 'Dotted Eighth Delay' --tempo " +
                           std::to_string(tc.first));
        ASSERT_EQ(r.code, 0) << r.err;
        SF_INFO info;
        const std::vector<double> out = ReadFile(Path("t.wav"), &info);
        int first = -1;
        for (size_t i = 1; i < out.size() && first < 0; ++i)
            if (out[i] != 0.0) first = static_cast<int>(i);
        EXPECT_EQ(first, tc.second) << tc.first << " BPM";
    }

    // A tempo change at 0.5 s (frame 22050, inside the sixth 4096-frame buffer) resets the Tempo-mode
    // delay exactly there: renders with and without it agree up to that frame and no further.
    const std::string noise = Path("noise.wav");
    unsigned seed = 1;
    WriteFile(noise, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 40000, [&seed](int, int) {
        seed = seed * 1664525u + 1013904223u;
        return (static_cast<double>(seed >> 8) / 16777216.0 - 0.5) * 0.5;
    });
    {
        std::ofstream map(Path("map.txt"));
        map << "# seconds bpm [meter]\n0 120\n0.5 100\n";
    }
    Outcome r = Exec("render '" + noise + "' '" + Path("steady.wav") + "' --quiet --no-tail --preset 'Dotted Eighth Delay' --tempo 120");
    ASSERT_EQ(r.code, 0) << r.err;
    r = Exec("render '" + noise + "' '" + Path("mapped.wav") + "' --quiet --no-tail --preset 'Dotted Eighth Delay' --tempo-map '" +
             Path("map.txt") + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    SF_INFO a, b;
    EXPECT_EQ(FirstDifference(ReadFile(Path("steady.wav"), &a), ReadFile(Path("mapped.wav"), &b), 2), 22050);
}

TEST_F(HostTest, ErrorsNameTheCauseExitWithTheirCodeAndLeaveNoOutput) {
    const std::string good = Path("good.wav");
    WriteFile(good, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 1000, Tone);
    const std::string out = Path("out.wav");

    Outcome r = Exec("render '" + Path("missing.wav") + "' '" + out + "'");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("missing.wav"), std::string::npos) << r.err;

    WriteFile(Path("three.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 3, 100, Tone);
    r = Exec("render '" + Path("three.wav") + "' '" + out + "'");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("3 channels"), std::string::npos) << r.err;

    {
        std::ofstream bad(Path("bad.fx"), std::ios::binary);
        bad << std::string(120, '\0');
    }
    r = Exec("render '" + good + "' '" + out + "' --load '" + Path("bad.fx") + "'");
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("bad.fx"), std::string::npos) << r.err;
    {
        std::ofstream bad(Path("id.fx"), std::ios::binary);
        std::string bytes(116, '\0');
        bytes[0] = 116;  // right size, wrong identifier
        bad << bytes;
    }
    r = Exec("render '" + good + "' '" + out + "' --load '" + Path("id.fx") + "'");
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("id.fx"), std::string::npos) << r.err;

    r = Exec("render '" + good + "' '" + out + "' --preset 'No Such Preset'");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("No Such Preset"), std::string::npos) << r.err;
    r = Exec("render '" + good + "' '" + out + "' --set noSuchField=3");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("noSuchField"), std::string::npos) << r.err;
    r = Exec("bogus");
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(Exists(out));

    // Out of range values are stored clamped, with a warning showing the stored value.
    r = Exec("render '" + good + "' '" + out + "' --set lfoRate=20000");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("stored 11000"), std::string::npos) << r.err;
}

TEST_F(HostTest, ListingsAndInfo) {
    Outcome r = Exec("presets");
    ASSERT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Th-THUMP"), std::string::npos);
    EXPECT_NE(r.out.find("(Default)"), std::string::npos);
    r = Exec("params");
    ASSERT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("delayTime"), std::string::npos);
    EXPECT_NE(r.out.find("0..22500"), std::string::npos);
    WriteFile(Path("s8.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, 10, Tone);
    r = Exec("info '" + Path("s8.wav") + "'");
    ASSERT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("32-bit PCM"), std::string::npos) << r.out;
}

}  // namespace
