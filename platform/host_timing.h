// The music host's timing interfaces: the soft-synth interface through which the host hands its
// timing services to a plug-in and reports its transport, and the tempo map, meter map and time
// converter it hands over. They are the host's, not ours: the slot orders and meanings below are
// the ones the host relies on and must not move.
//
// The host's own interface identifiers are not available to us, so the IIDs here are fixed GUIDs
// of our own choosing, each defined once in this header. A host that uses different identifiers
// finds its interfaces refused by QueryInterface and the plug-in runs at 120 BPM in 4/4.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// Time formats of the time converter's records.
enum HostTimeFormat : int32_t {
    kHostTimeSamples = 2,
    kHostTimeTicks = 3,
};

// One time value in a given format; the converter rewrites it in place.
struct HostTime {
    int32_t format;  // HostTimeFormat
    int64_t value;
};
static_assert(sizeof(HostTime) == 16, "HostTime is {int32, pad, int64}");

// The host's tempo map. Tick times are the host's musical clock; tempos are hundredths of BPM.
struct IHostTempoMap : public IUnknown {
    virtual LONG STDMETHODCALLTYPE TicksToMsecs(LONG ticks) = 0;                      // 3
    virtual LONG STDMETHODCALLTYPE MsecsToTicks(LONG msecs) = 0;                      // 4
    virtual int STDMETHODCALLTYPE GetTicksPerQuarterNote() = 0;                       // 5
    virtual int STDMETHODCALLTYPE GetTempoIndexForTime(LONG ticks) = 0;               // 6
    virtual int STDMETHODCALLTYPE GetTempoCount() = 0;                                // 7
    virtual HRESULT STDMETHODCALLTYPE GetTempoAt(int index, LONG* startTicks,
                                                 int* tempoHundredths) = 0;           // 8
};

// The host's meter map. Measures and beats count from 1; the denominator is a power of two given
// by its exponent.
struct IHostMeterMap : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE TicksToMeasureBeatTick(LONG ticks, int* measure, int* beat,
                                                             int* tick) = 0;          // 3
    virtual LONG STDMETHODCALLTYPE MeasureBeatTickToTicks(int measure, int beat, int tick) = 0;  // 4
    virtual int STDMETHODCALLTYPE GetMeterIndexForTime(LONG ticks) = 0;               // 5
    virtual int STDMETHODCALLTYPE GetMeterCount() = 0;                                // 6
    virtual HRESULT STDMETHODCALLTYPE GetMeterAt(int index, int* startMeasure, int* numerator,
                                                 int* denominatorPow2) = 0;           // 7
};

// The host's converter between its time formats.
struct IHostTimeConverter : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ConvertTime(HostTime* time, int32_t toFormat) = 0;  // 3
};

// The soft-synth interface a plug-in implements. The host attaches its timing services, then
// reports transport start, loops and stop in tick times. Slots 8 to 17 carry services this
// plug-in does not take part in; they keep their places so the table lines up.
struct IMfxSoftSynth : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AttachHost(IUnknown* host) = 0;                 // 3
    virtual HRESULT STDMETHODCALLTYPE DetachHost() = 0;                               // 4
    virtual HRESULT STDMETHODCALLTYPE TransportStart(LONG startTicks) = 0;            // 5
    virtual HRESULT STDMETHODCALLTYPE TransportLoop(LONG loopStartTicks,
                                                    LONG loopEndTicks) = 0;           // 6
    virtual HRESULT STDMETHODCALLTYPE TransportStop(LONG stopTicks) = 0;              // 7
    virtual HRESULT STDMETHODCALLTYPE HostNotify(LONG_PTR a, LONG_PTR b, LONG_PTR c,
                                                 LONG_PTR d) = 0;                     // 8
    virtual HRESULT STDMETHODCALLTYPE Reserved9() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved10() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved11() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved13() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved15() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved16() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved17() = 0;
};

// Our fixed stand-ins for the host's identifiers (see the note at the top).
inline constexpr IID IID_IMfxSoftSynth = {
    0x6B1F30A2, 0x4C57, 0x4E0B, {0x9D, 0x21, 0x7A, 0x3E, 0x55, 0xC1, 0x08, 0xB4}};
inline constexpr IID IID_IHostTempoMap = {
    0x6B1F30A3, 0x4C57, 0x4E0B, {0x9D, 0x21, 0x7A, 0x3E, 0x55, 0xC1, 0x08, 0xB4}};
inline constexpr IID IID_IHostMeterMap = {
    0x6B1F30A4, 0x4C57, 0x4E0B, {0x9D, 0x21, 0x7A, 0x3E, 0x55, 0xC1, 0x08, 0xB4}};
inline constexpr IID IID_IHostTimeConverter = {
    0x6B1F30A5, 0x4C57, 0x4E0B, {0x9D, 0x21, 0x7A, 0x3E, 0x55, 0xC1, 0x08, 0xB4}};
