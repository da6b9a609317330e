#include "filter/presets.h"

#include "filter/resource_strings.h"

namespace {

// Rows in record order: delay clock, note, time, decay, mix, on; reverb type, mix, on; LFO type,
// clock, period, rate, depth, on; distortion slew, hard clip, on; EQ mid, bass, treble, on; tempo.
// Times in tenths of a ms, decay and mix in tenths of a percent, rate in mHz, EQ in tenths of a dB.
constexpr FxParams MakeRecord(int32_t delayOn, int32_t delayClock, int32_t delayNote,
                              int32_t delayTime, int32_t delayDecay, int32_t delayMix,
                              int32_t reverbOn, int32_t reverbType, int32_t reverbMix,
                              int32_t lfoOn, int32_t lfoType, int32_t lfoClock, int32_t lfoPeriod,
                              int32_t lfoRate, int32_t lfoDepth, int32_t distOn, int32_t distSlew,
                              int32_t distHardClip, int32_t eqOn, int32_t eqMid, int32_t eqBass,
                              int32_t eqTreble) {
    return FxParams{delayClock, delayNote, delayTime, delayDecay, delayMix, delayOn,
                    reverbType, reverbMix, reverbOn,
                    lfoType, lfoClock, lfoPeriod, lfoRate, lfoDepth, lfoOn,
                    distSlew, distHardClip, distOn,
                    eqMid, eqBass, eqTreble, eqOn,
                    120.0};
}

}  // namespace

// Arguments grouped by block, each group led by its on switch:
// delay (on, clock, note, time, decay, mix), reverb (on, type, mix),
// LFO (on, type, clock, period, rate, depth), distortion (on, slew, hard), EQ (on, mid, bass, treble).
const FxPreset kFxPresets[kPresetCount] = {
    {6020, MakeRecord(0, 1, 1, 11250, 0, 500, 0, 1, 500, 0, 0, 0, 2, 100, 50, 0, 0, 0, 0, 0, 0, 0)},
    {6021, MakeRecord(0, 1, 1, 11250, 0, 500, 0, 1, 500, 0, 0, 0, 2, 100, 50, 0, 0, 0, 0, 0, 0, 0)},
    {6022, MakeRecord(1, 1, 3, 11250, 500, 500, 0, 1, 500, 0, 0, 0, 2, 100, 50, 0, 0, 0, 0, 0, 0, 0)},
    {6023, MakeRecord(1, 1, 5, 11250, 500, 500, 0, 1, 500, 0, 0, 0, 2, 100, 50, 0, 0, 0, 0, 0, 0, 0)},
    {6024, MakeRecord(1, 0, 1, 500, 300, 300, 0, 1, 500, 0, 0, 0, 2, 100, 50, 0, 0, 0, 0, 0, 0, 0)},
    {6025, MakeRecord(1, 0, 1, 10, 900, 250, 1, 1, 200, 0, 0, 0, 2, 100, 50, 0, 0, 0, 0, 0, 0, 0)},
    {6026, MakeRecord(1, 0, 1, 200, 700, 500, 0, 1, 500, 1, 0, 1, 1, 100, 100, 1, 0, 0, 0, 0, 0, 0)},
    {6027, MakeRecord(0, 1, 1, 11250, 0, 500, 0, 1, 500, 1, 1, 1, 1, 100, 50, 0, 0, 0, 0, 0, 0, 0)},
    {6028, MakeRecord(0, 1, 1, 11250, 0, 500, 0, 1, 500, 1, 0, 1, 2, 100, 100, 0, 0, 0, 0, 0, 0, 0)},
    {6029, MakeRecord(0, 1, 1, 11250, 0, 500, 0, 1, 500, 1, 3, 1, 0, 100, 50, 0, 0, 0, 0, 0, 0, 0)},
    {6030, MakeRecord(0, 1, 1, 11250, 0, 500, 0, 1, 500, 1, 2, 0, 2, 40, 50, 0, 0, 0, 0, 0, 0, 0)},
    {6031, MakeRecord(1, 0, 1, 500, 300, 300, 1, 0, 200, 1, 2, 0, 2, 40, 50, 0, 0, 0, 0, 0, 0, 0)},
    {6032, MakeRecord(1, 1, 1, 500, 300, 300, 1, 3, 100, 0, 0, 0, 2, 100, 50, 0, 0, 0, 0, 0, 0, 0)},
    {6033, MakeRecord(1, 1, 4, 11250, 0, 600, 0, 1, 500, 0, 0, 0, 2, 100, 50, 0, 0, 0, 1, -250, 60, -250)},
};

HRESULT GetPresetName(int index, WCHAR* buffer) {
    if (index < 0 || index >= kPresetCount) return E_INVALIDARG;
    if (!buffer) return E_POINTER;
    tw::LoadResString(kFxPresets[index].nameId, buffer, kPresetNameChars);
    return S_OK;
}
