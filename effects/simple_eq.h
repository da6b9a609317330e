// Three-band EQ: its filter records and the coefficient maths, as plain functions of numbers.
// Frequencies are fractions of the sample rate throughout.
#pragma once

#include "effects/audio_blocks.h"

namespace tw {

// One two-pole section: memories, then coefficients.
struct EqSection {
    double s1, s2;
    double a1, a2;    // feedback
    double b0;        // input gain of the bass sections
    double inGain;    // input gain of the treble sections
    double direct;    // gain of the section's input in its output
    double filtered;  // gain of the filtered signal in its output
};

enum : int32_t { kShelfOff = 0, kShelfBoost = 1, kShelfCut = 2 };

struct EqMid {
    int32_t active;
    double s1, s2;
    double a1, a2, b0;
    double k;  // gain of the band-pass difference added to the signal
};

struct EqShelves {
    int32_t bassKind;  // kShelfOff, kShelfBoost or kShelfCut
    EqSection bassA, bassB;
    int32_t trebleKind;
    EqSection trebleC, trebleD;
};

// Clamps each gain into -250 to 250 tenths of a dB; cbSize stays as given.
void ClampSimpleEqParams(SimpleEqParams& p);

// Resonator with unity gain at zero frequency and zero memories.
EqSection DesignResonator(double f, double q);

// Level of the treble sections' input, dB, interpolated from the treble level table.
double TrebleLevelDb(double f);

// Ratio by which the mid band's nominal frequency is moved so that its peak lands where it is meant
// to, for bandwidth value z, from the measured-frequency tables.
double MidFrequencyRatio(double f, double z);

// Both shelves of the first channel for a clamped record, with zero memories.
EqShelves DesignShelves(const SimpleEqParams& clamped, DWORD sampleRate);

// The mid band of the first channel: flag and coefficients; the memories stay as they are.
void DesignMid(int32_t midGain, DWORD sampleRate, EqMid* mid);

}  // namespace tw
