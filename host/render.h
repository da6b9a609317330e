// Rendering one file's audio through the filter, created through the module's class factory and
// connected between a source pin and a sink pin of the host's own.
#pragma once

#include "filter/fx_params.h"
#include "host/audio_file.h"
#include "host/tempo_map.h"

#include <functional>
#include <string>
#include <vector>

namespace host {

// Exit codes of the program.
enum ExitCode { kExitOk = 0, kExitUsage = 1, kExitIo = 2, kExitRefused = 3 };

// One settings step, applied to the filter in command-line order.
struct SettingStep {
    enum Kind { kPreset, kSet, kLoad } kind;
    std::string text;   // preset index or name, FIELD=VALUE, or a settings file
};

struct RenderOptions {
    std::vector<SettingStep> steps;
    std::string saveFile;          // --save
    int bufferFrames = 4096;
    bool tail = true;              // --no-tail drops the drained tail
    bool haveTempoMap = false;     // --tempo / --meter / --tempo-map
    std::vector<TempoChange> tempoChanges;
    bool quiet = false;
};

struct RenderStats {
    int64_t framesIn = 0;
    int64_t framesOut = 0;
    int64_t tailFrames = 0;
    double peak = 0;          // of the output, full scale 1.0
    int64_t clipped = 0;      // output samples at or beyond full scale
    std::vector<std::string> warnings;
    FxParams params{};        // the settings the render used
};

using Progress = std::function<void(int64_t done, int64_t total)>;

// Renders the frames of `in` (described by `info`; `info.frames` only paces the progress) into `out`
// in the same feed format, rate and channels, a buffer at a time. On failure returns the exit code
// and a one-line reason in `error`.
int RenderStream(const AudioInfo& info, FrameSource* in, FrameSink* out, const RenderOptions& options,
                 RenderStats* stats, const Progress& progress, std::string* error);

// The built-in presets as the filter names them.
struct PresetInfo {
    std::string name;
    FxParams params;
};
bool ListPresets(std::vector<PresetInfo>* presets, std::string* error);

}  // namespace host
