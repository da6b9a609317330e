// FxParams: the plug-in's 96-byte parameter record, the unit of the parameter interface, the
// built-in presets and the persisted stream. Its order and widths are fixed byte for byte.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>

enum ClockMode : int32_t { kClockTime = 0, kClockTempo = 1 };

enum NoteValue : int32_t {
    kNoteDottedQuarter = 0,
    kNoteQuarter = 1,
    kNoteQuarterTriplet = 2,
    kNoteDottedEighth = 3,
    kNoteEighth = 4,
    kNoteEighthTriplet = 5,
    kNoteDottedSixteenth = 6,
    kNoteSixteenth = 7,
    kNoteSixteenthTriplet = 8,
};

enum LfoType : int32_t { kLfoFlange = 0, kLfoPhaser = 1, kLfoChorus = 2, kLfoWahWah = 3 };

enum LfoPeriod : int32_t {
    kPeriodOneBeat = 0,
    kPeriodTwoBeats = 1,
    kPeriodOneMeasure = 2,
    kPeriodTwoMeasures = 3,
    kPeriodFourMeasures = 4,
};

enum ReverbType : int32_t { kReverbClub = 0, kReverbHall = 1, kReverbPlate = 2, kReverbBigEmptyHall = 3 };

struct FxParams {
    int32_t delayClock;    // ClockMode
    int32_t delayNote;     // NoteValue
    int32_t delayTime;     // tenths of a millisecond, 0..22500
    int32_t delayDecay;    // tenths of a percent, 0..900
    int32_t delayMix;      // tenths of a percent wet, 0..1000
    int32_t delayOn;       // 0..1
    int32_t reverbType;    // ReverbType
    int32_t reverbMix;     // tenths of a percent wet, 0..1000
    int32_t reverbOn;      // 0..1
    int32_t lfoType;       // LfoType
    int32_t lfoClock;      // ClockMode
    int32_t lfoPeriod;     // LfoPeriod
    int32_t lfoRate;       // milli-hertz, 1..11000
    int32_t lfoDepth;      // percent, 1..100
    int32_t lfoOn;         // 0..1
    int32_t distSlew;      // percent, 0..100
    int32_t distHardClip;  // 0..1
    int32_t distOn;        // 0..1
    int32_t eqMid;         // tenths of a dB, -250..250
    int32_t eqBass;        // tenths of a dB, -250..250
    int32_t eqTreble;      // tenths of a dB, -250..250
    int32_t eqOn;          // 0..1
    double tempo;          // beats per minute, 40.0..300.0
};

static_assert(sizeof(FxParams) == 96, "FxParams is 96 bytes");
static_assert(offsetof(FxParams, delayClock) == 0 && offsetof(FxParams, delayNote) == 4 &&
                  offsetof(FxParams, delayTime) == 8 && offsetof(FxParams, delayDecay) == 12 &&
                  offsetof(FxParams, delayMix) == 16 && offsetof(FxParams, delayOn) == 20 &&
                  offsetof(FxParams, reverbType) == 24 && offsetof(FxParams, reverbMix) == 28 &&
                  offsetof(FxParams, reverbOn) == 32 && offsetof(FxParams, lfoType) == 36 &&
                  offsetof(FxParams, lfoClock) == 40 && offsetof(FxParams, lfoPeriod) == 44 &&
                  offsetof(FxParams, lfoRate) == 48 && offsetof(FxParams, lfoDepth) == 52 &&
                  offsetof(FxParams, lfoOn) == 56 && offsetof(FxParams, distSlew) == 60 &&
                  offsetof(FxParams, distHardClip) == 64 && offsetof(FxParams, distOn) == 68 &&
                  offsetof(FxParams, eqMid) == 72 && offsetof(FxParams, eqBass) == 76 &&
                  offsetof(FxParams, eqTreble) == 80 && offsetof(FxParams, eqOn) == 84 &&
                  offsetof(FxParams, tempo) == 88,
              "FxParams offsets");

// The values a new controller loads: those of the first built-in preset, "(Default)".
inline constexpr FxParams kDefaultFxParams = {
    kClockTempo, kNoteQuarter, 11250, 0, 500, 0,  // delay
    kReverbHall, 500, 0,                          // reverb
    kLfoFlange, kClockTime, kPeriodOneMeasure, 100, 50, 0,  // LFO
    0, 0, 0,                                      // distortion
    0, 0, 0, 0,                                   // EQ: mid, bass, treble, on
    120.0,
};

// Pending parameter changes, from the setters to the streaming thread. A block's reset bit also
// counts as its parameter bit.
enum ChangeFlags : uint32_t {
    kChangeDistortion = 0x001,
    kChangeDistortionReset = 0x002,
    kChangeEq = 0x004,
    kChangeEqReset = 0x008,
    kChangeDelay = 0x010,
    kChangeDelayReset = 0x020,
    kChangeDelayMix = 0x040,
    kChangeLfo = 0x080,
    kChangeLfoReset = 0x100,
    kChangeReverb = 0x200,
    kChangeReverbReset = 0x400,
    kChangeReverbMix = 0x800,
    kChangeAllWithReset = 0x52A,  // the five reset bits: everything, with reset
};
