// The built-in demo signal: a few seconds of plucked notes and drum hits, 44.1 kHz stereo 16-bit.
#pragma once

#include "host/audio_file.h"

namespace host {

AudioData MakeDemoSignal();

}  // namespace host
