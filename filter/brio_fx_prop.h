// ITwBrioFxProp: the parameter interface of the filter, field by field, as the property page and
// the filter's own preset and persistence code use it. Values are the record's editor units;
// setters clamp and never reject. The slot order is fixed: a caller in any language indexes it.
#pragma once

#include "filter/fx_params.h"
#include "platform/platform.h"
#include "platform/window_notice.h"

// The identifier is also the format identifier of the persisted stream.
inline constexpr IID IID_ITwBrioFxProp = {
    0x3f6a8c21, 0x5d04, 0x4b7e, {0xa1, 0x93, 0x2c, 0x6e, 0x0b, 0x4d, 0x71, 0xe8}};

struct ITwBrioFxProp : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetParams(FxParams* params) = 0;        // 3
    virtual HRESULT STDMETHODCALLTYPE SetParams(const FxParams* params) = 0;  // 4
    // Copies the stream format into a 20-byte buffer (18 bytes, cbSize 0, two zero bytes);
    // VFW_E_NOT_CONNECTED while no format is set.
    virtual HRESULT STDMETHODCALLTYPE GetStreamFormat(WAVEFORMATEX* format) = 0;  // 5
    // Registers, updates or (id 0) unregisters a window that receives the change notices.
    virtual HRESULT STDMETHODCALLTYPE SetNotifyWindow(HWND window, WORD id) = 0;  // 6

    virtual HRESULT STDMETHODCALLTYPE GetDelayClock(int* value) = 0;  // 7
    virtual HRESULT STDMETHODCALLTYPE SetDelayClock(int value) = 0;   // 8
    virtual HRESULT STDMETHODCALLTYPE GetDelayNote(int* value) = 0;   // 9
    virtual HRESULT STDMETHODCALLTYPE SetDelayNote(int value) = 0;    // 10
    virtual HRESULT STDMETHODCALLTYPE GetDelayTime(int* value) = 0;   // 11
    virtual HRESULT STDMETHODCALLTYPE SetDelayTime(int value) = 0;    // 12
    virtual HRESULT STDMETHODCALLTYPE GetDelayDecay(int* value) = 0;  // 13
    virtual HRESULT STDMETHODCALLTYPE SetDelayDecay(int value) = 0;   // 14
    virtual HRESULT STDMETHODCALLTYPE GetDelayMix(int* value) = 0;    // 15
    virtual HRESULT STDMETHODCALLTYPE SetDelayMix(int value) = 0;     // 16
    virtual HRESULT STDMETHODCALLTYPE GetDelayOn(int* value) = 0;     // 17
    virtual HRESULT STDMETHODCALLTYPE SetDelayOn(int value) = 0;      // 18

    virtual HRESULT STDMETHODCALLTYPE GetLfoType(int* value) = 0;    // 19
    virtual HRESULT STDMETHODCALLTYPE SetLfoType(int value) = 0;     // 20
    virtual HRESULT STDMETHODCALLTYPE GetLfoClock(int* value) = 0;   // 21
    virtual HRESULT STDMETHODCALLTYPE SetLfoClock(int value) = 0;    // 22
    virtual HRESULT STDMETHODCALLTYPE GetLfoPeriod(int* value) = 0;  // 23
    virtual HRESULT STDMETHODCALLTYPE SetLfoPeriod(int value) = 0;   // 24
    virtual HRESULT STDMETHODCALLTYPE GetLfoRate(int* value) = 0;    // 25
    virtual HRESULT STDMETHODCALLTYPE SetLfoRate(int value) = 0;     // 26
    virtual HRESULT STDMETHODCALLTYPE GetLfoDepth(int* value) = 0;   // 27
    virtual HRESULT STDMETHODCALLTYPE SetLfoDepth(int value) = 0;    // 28
    virtual HRESULT STDMETHODCALLTYPE GetLfoOn(int* value) = 0;      // 29
    virtual HRESULT STDMETHODCALLTYPE SetLfoOn(int value) = 0;       // 30

    virtual HRESULT STDMETHODCALLTYPE GetReverbType(int* value) = 0;  // 31
    virtual HRESULT STDMETHODCALLTYPE SetReverbType(int value) = 0;   // 32
    virtual HRESULT STDMETHODCALLTYPE GetReverbMix(int* value) = 0;   // 33
    virtual HRESULT STDMETHODCALLTYPE SetReverbMix(int value) = 0;    // 34
    virtual HRESULT STDMETHODCALLTYPE GetReverbOn(int* value) = 0;    // 35
    virtual HRESULT STDMETHODCALLTYPE SetReverbOn(int value) = 0;     // 36

    virtual HRESULT STDMETHODCALLTYPE GetDistSlew(int* value) = 0;      // 37
    virtual HRESULT STDMETHODCALLTYPE SetDistSlew(int value) = 0;       // 38
    virtual HRESULT STDMETHODCALLTYPE GetDistHardClip(int* value) = 0;  // 39
    virtual HRESULT STDMETHODCALLTYPE SetDistHardClip(int value) = 0;   // 40
    virtual HRESULT STDMETHODCALLTYPE GetDistOn(int* value) = 0;        // 41
    virtual HRESULT STDMETHODCALLTYPE SetDistOn(int value) = 0;         // 42

    virtual HRESULT STDMETHODCALLTYPE GetEqMid(int* value) = 0;     // 43
    virtual HRESULT STDMETHODCALLTYPE SetEqMid(int value) = 0;      // 44
    virtual HRESULT STDMETHODCALLTYPE GetEqBass(int* value) = 0;    // 45
    virtual HRESULT STDMETHODCALLTYPE SetEqBass(int value) = 0;     // 46
    virtual HRESULT STDMETHODCALLTYPE GetEqTreble(int* value) = 0;  // 47
    virtual HRESULT STDMETHODCALLTYPE SetEqTreble(int value) = 0;   // 48
    virtual HRESULT STDMETHODCALLTYPE GetEqOn(int* value) = 0;      // 49
    virtual HRESULT STDMETHODCALLTYPE SetEqOn(int value) = 0;       // 50
};
