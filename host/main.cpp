// brio-fx: renders audio files through the BRIO FX filter.
#include "host/audio_file.h"
#include "host/demo_signal.h"
#include "host/param_table.h"
#include "host/render.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace host;

namespace {

const char kUsage[] =
    "usage: brio-fx render IN OUT [options]   render IN through the filter into OUT\n"
    "       brio-fx presets                   the built-in presets\n"
    "       brio-fx params                    every setting with its unit, range and default\n"
    "       brio-fx info FILE                 what the filter would be fed\n"
    "       brio-fx demo [DIR]                render a built-in test signal through every preset\n"
    "render options:\n"
    "  --preset N|NAME     a built-in preset by index or name (case-insensitive)\n"
    "  --set FIELD=VALUE   one setting, in the record's units (repeatable)\n"
    "  --load FILE         settings saved with --save (or by a host)\n"
    "  --save FILE         save the settings used\n"
    "  --tempo BPM         host tempo for Tempo-mode delay and LFO\n"
    "  --meter N/D         host time signature\n"
    "  --tempo-map FILE    lines 'SECONDS BPM [N/D]' ('-' keeps the tempo)\n"
    "  --buffer N          frames per buffer (default 4096)\n"
    "  --format FMT        output container and sample format, e.g. wav, flac:24, wav:float\n"
    "  --no-tail           stop at the end of the input\n"
    "  --quiet             no summary\n"
    "  --json              machine-readable summary on standard output\n"
    "exit codes: 0 done, 1 usage, 2 input/output, 3 refused by the filter\n";

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "brio-fx: %s\n", message.c_str());
    return code;
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "brio-fx: %s\n%s", message.c_str(), kUsage);
    return kExitUsage;
}

bool ReadText(const std::string& path, std::string* text, std::string* error) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        *error = std::strerror(errno);
        return false;
    }
    std::ostringstream s;
    s << f.rdbuf();
    *text = s.str();
    return true;
}

std::string JsonEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
            continue;
        }
        out += c;
    }
    return out;
}

double Decibels(double peak) { return peak > 0 ? 20 * std::log10(peak) : -INFINITY; }

void ProgressBar(int64_t done, int64_t total) {
    if (total <= 0) return;
    done = std::min(done, total);  // a header's frame count can fall short of what is read
    const int width = 40;
    const int filled = static_cast<int>(width * done / total);
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################", width - filled, "",
                 static_cast<int>(100 * done / total));
    if (done >= total) std::fprintf(stderr, "\r%*s\r", width + 8, "");
    std::fflush(stderr);
}

int CmdPresets() {
    std::vector<PresetInfo> presets;
    std::string error;
    if (!ListPresets(&presets, &error)) return Fail(kExitRefused, error);
    for (size_t i = 0; i < presets.size(); ++i)
        std::printf("%2zu  %-24s %s\n", i, presets[i].name.c_str(), DescribeBlocks(presets[i].params).c_str());
    return kExitOk;
}

int CmdParams() {
    std::printf("%-13s %-12s %-14s %s\n", "field", "unit", "range", "default");
    for (const ParamField& f : ParamFields()) {
        const std::string range = std::to_string(f.minimum) + ".." + std::to_string(f.maximum);
        std::printf("%-13s %-12s %-14s %s", f.name, f.unit, range.c_str(),
                    DescribeValue(f, GetField(kDefaultFxParams, f)).c_str());
        if (!f.choices.empty()) {
            std::printf("   values:");
            for (size_t i = 0; i < f.choices.size(); ++i) std::printf(" %zu=%s", i, f.choices[i]);
        }
        std::printf("\n");
    }
    std::printf("%-13s %-12s %-14s %s\n", "tempo", "BPM", "40..300", "120 (from the host: --tempo)");
    return kExitOk;
}

int CmdInfo(const std::string& path) {
    AudioInfo info;
    std::string error;
    if (!ProbeAudio(path, &info, &error)) return Fail(kExitIo, path + ": " + error);
    std::printf("%s: %s, %s, %d Hz, %d channel%s, %lld frames (%.3f s)\n", path.c_str(),
                ContainerName(info.format & SF_FORMAT_TYPEMASK), SubformatName(info.format & SF_FORMAT_SUBMASK),
                info.rate, info.channels, info.channels == 1 ? "" : "s", static_cast<long long>(info.frames),
                static_cast<double>(info.frames) / info.rate);
    std::printf("fed to the filter as %s\n", FeedName(info.feed));
    return kExitOk;
}

struct Summary {
    std::string input, output;
    RenderStats stats;
    int rate = 0;
};

void PrintSummary(const Summary& s, bool json) {
    if (json) {
        std::printf("{\"input\":\"%s\",\"output\":\"%s\",\"frames_in\":%lld,\"frames_out\":%lld,"
                    "\"tail_frames\":%lld,\"peak\":%.9g,\"clipped_samples\":%lld,\"sample_rate\":%d}\n",
                    JsonEscape(s.input).c_str(), JsonEscape(s.output).c_str(),
                    static_cast<long long>(s.stats.framesIn), static_cast<long long>(s.stats.framesOut),
                    static_cast<long long>(s.stats.tailFrames), s.stats.peak,
                    static_cast<long long>(s.stats.clipped), s.rate);
        return;
    }
    std::printf("%s -> %s: %lld frames in, %lld out (tail %.3f s), peak %.1f dBFS, %lld clipped samples\n",
                s.input.c_str(), s.output.c_str(), static_cast<long long>(s.stats.framesIn),
                static_cast<long long>(s.stats.framesOut), static_cast<double>(s.stats.tailFrames) / s.rate,
                Decibels(s.stats.peak), static_cast<long long>(s.stats.clipped));
}

int CmdRender(int argc, char** argv) {
    if (argc < 2) return Usage("render needs IN and OUT");
    const std::string in = argv[0], out = argv[1];
    RenderOptions options;
    std::string formatText;
    bool json = false;
    double tempo = 0;
    int num = 0, den = 0;
    std::string tempoMapFile;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string* v) {
            if (i + 1 >= argc) return false;
            *v = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--preset" || a == "--set" || a == "--load") {
            if (!value(&v)) return Usage(a + " needs a value");
            options.steps.push_back({a == "--preset" ? SettingStep::kPreset
                                     : a == "--set"  ? SettingStep::kSet
                                                     : SettingStep::kLoad,
                                     v});
        } else if (a == "--save") {
            if (!value(&options.saveFile)) return Usage("--save needs a file");
        } else if (a == "--tempo") {
            if (!value(&v)) return Usage("--tempo needs a value");
            char* end = nullptr;
            tempo = std::strtod(v.c_str(), &end);
            if (*end != '\0' || !(tempo >= 1.0 && tempo <= 1000.0))
                return Usage("--tempo: '" + v + "' is not a tempo from 1 to 1000 BPM");
        } else if (a == "--meter") {
            if (!value(&v)) return Usage("--meter needs N/D");
            if (!ParseMeter(v, &num, &den)) return Usage("--meter: '" + v + "' is not N/D with D a power of two");
        } else if (a == "--tempo-map") {
            if (!value(&tempoMapFile)) return Usage("--tempo-map needs a file");
        } else if (a == "--buffer") {
            if (!value(&v)) return Usage("--buffer needs a frame count");
            char* end = nullptr;
            const long n = std::strtol(v.c_str(), &end, 10);
            if (*end != '\0' || n < 1 || n > 1048576) return Usage("--buffer: '" + v + "' is not 1 to 1048576 frames");
            options.bufferFrames = static_cast<int>(n);
        } else if (a == "--format") {
            if (!value(&formatText)) return Usage("--format needs a value");
        } else if (a == "--no-tail") {
            options.tail = false;
        } else if (a == "--quiet") {
            options.quiet = true;
        } else if (a == "--json") {
            json = true;
        } else {
            return Usage("unknown option '" + a + "'");
        }
    }
    if (tempo > 0 || num > 0) options.tempoChanges.push_back({0.0, tempo, num, den});
    if (!tempoMapFile.empty()) {
        std::string text, error;
        if (!ReadText(tempoMapFile, &text, &error)) return Fail(kExitIo, tempoMapFile + ": " + error);
        if (!ParseTempoMapText(text, &options.tempoChanges, &error)) return Fail(kExitUsage, tempoMapFile + ": " + error);
    }
    options.haveTempoMap = !options.tempoChanges.empty();

    AudioReader input;
    std::string error;
    if (!input.Open(in, &error)) return Fail(kExitIo, in + ": " + error);
    const AudioInfo& info = input.info();
    int outFormat = info.format;
    if (!formatText.empty() && !ParseFormatOption(formatText, info.format, &outFormat, &error))
        return Usage("--format: " + error);

    AudioWriter output;
    if (!output.Open(out, info, outFormat, &error)) return Fail(kExitIo, error);
    RenderStats stats;
    const bool bar = !options.quiet && !json && isatty(STDERR_FILENO) && info.frames > static_cast<int64_t>(info.rate) * 10;
    const int code = RenderStream(info, &input, &output, options, &stats, bar ? Progress(ProgressBar) : Progress(), &error);
    if (code != kExitOk) return Fail(code, error);
    if (!output.Commit(&error)) return Fail(kExitIo, error);
    for (const std::string& w : stats.warnings)
        if (!options.quiet) std::fprintf(stderr, "brio-fx: warning: %s\n", w.c_str());
    if (!options.quiet || json) PrintSummary({in, out, stats, info.rate}, json);
    return kExitOk;
}

int CmdDemo(const std::string& dir) {
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) return Fail(kExitIo, dir + ": " + std::strerror(errno));
    const AudioData signal = MakeDemoSignal();
    std::string error;
    const std::string dry = dir + "/input.wav";
    if (!WriteAudio(dry, signal, signal.info.format, &error)) return Fail(kExitIo, error);
    std::vector<PresetInfo> presets;
    if (!ListPresets(&presets, &error)) return Fail(kExitRefused, error);
    std::printf("demo signal: %s (%.2f s, 44.1 kHz stereo 16-bit)\n\n", dry.c_str(),
                static_cast<double>(signal.frameCount()) / signal.info.rate);
    std::printf("%2s  %-24s %-44s %8s %8s %9s\n", "#", "preset", "output", "length", "tail", "peak");
    for (size_t i = 0; i < presets.size(); ++i) {
        RenderOptions options;
        options.steps.push_back({SettingStep::kPreset, std::to_string(i)});
        RenderStats stats;
        char number[24];
        std::snprintf(number, sizeof number, "%02zu-", i);
        std::string slug;
        for (char c : presets[i].name) {
            if (std::isalnum(static_cast<unsigned char>(c)))
                slug += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            else if (!slug.empty() && slug.back() != '-')
                slug += '-';
        }
        while (!slug.empty() && slug.back() == '-') slug.pop_back();
        const std::string path = dir + "/" + number + slug + ".wav";
        MemorySource source(signal);
        AudioWriter out;
        if (!out.Open(path, signal.info, signal.info.format, &error)) return Fail(kExitIo, error);
        const int code = RenderStream(signal.info, &source, &out, options, &stats, Progress(), &error);
        if (code != kExitOk) return Fail(code, "preset " + std::to_string(i) + ": " + error);
        if (!out.Commit(&error)) return Fail(kExitIo, error);
        std::printf("%2zu  %-24s %-44s %7.2fs %7.2fs %6.1f dB\n", i, presets[i].name.c_str(), path.c_str(),
                    static_cast<double>(stats.framesOut) / signal.info.rate,
                    static_cast<double>(stats.tailFrames) / signal.info.rate, Decibels(stats.peak));
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage("no command");
    const std::string cmd = argv[1];
    if (cmd == "render") return CmdRender(argc - 2, argv + 2);
    if (cmd == "presets") return argc == 2 ? CmdPresets() : Usage("presets takes no arguments");
    if (cmd == "params") return argc == 2 ? CmdParams() : Usage("params takes no arguments");
    if (cmd == "info") return argc == 3 ? CmdInfo(argv[2]) : Usage("info takes one FILE");
    if (cmd == "demo") return argc <= 3 ? CmdDemo(argc == 3 ? argv[2] : "demo-out") : Usage("demo takes one DIR");
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    return Usage("unknown command '" + cmd + "'");
}
