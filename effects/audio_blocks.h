// The effect-block contract: the five block interfaces, their parameter records and factories.
// Every block is a reference-counted object used only through the pointer its factory returns;
// the slot order of each interface is fixed, as a caller in any language indexes it.
#pragma once

#include "platform/platform.h"

#include <cstddef>

// Process flags, the last argument of every process entry.
enum : DWORD {
    kProcessDrain = 0x1,   // a block with a tail plays it out
    kProcessSilent = 0x2,  // the input is silence
};

// The version every block reports.
inline constexpr ULONG kTwAudioBlockVersion = 0x01000001;

// ---- Parameter records (little-endian, fixed layouts) ------------------------------------------

struct DistortionParams {
    int32_t cbSize;  // 40
    int32_t reserved1;
    double dryGain;  // 0.0 to 4.0
    double wetGain;  // 0.0 to 4.0
    int32_t drive;        // 0 to 1000
    int32_t slewPercent;  // 0 to 100
    int32_t hardClip;     // 0 soft, 1 hard
    int32_t reserved2;
};

struct SimpleEqParams {
    int32_t cbSize;      // 16
    int32_t midGain;     // tenths of a dB, -250 to 250
    int32_t bassGain;    // tenths of a dB, -250 to 250
    int32_t trebleGain;  // tenths of a dB, -250 to 250
};

struct FlangeParams {
    int32_t cbSize;  // 40
    int32_t reserved1;
    double dryGain;          // 0.0 to 4.0
    double wetGain;          // 0.0 to 4.0
    int32_t lfoType;         // 0 Flange, 1 Phaser, 2 Chorus, 3 Wah-Wah
    uint32_t rateMilliHz;    // 1 to 11000
    uint32_t depthPercent;   // 1 to 100
    int32_t spare;           // 1 to 100, stored only
};

struct DelayParams {
    int32_t cbSize;  // 40
    int32_t reserved1;
    double dryGain;          // 0.0 to 4.0
    double wetGain;          // 0.0 to 4.0
    int32_t delayTime;       // tenths of a millisecond, 0 to 22500
    int32_t reservedDecay;   // clamped like decay, otherwise unused
    int32_t decay;           // tenths of a percent, 0 to 900
    int32_t reserved2;
};

struct ReverbParams {
    int32_t cbSize;  // 56
    int32_t reserved1;
    double wetGain;  // 0.0 to 4.0 (wet before dry, unlike the delay)
    double dryGain;  // 0.0 to 4.0
    int32_t combSet;        // 0 to 2
    int32_t earlyLevel;     // tenths of a dB, -800 (off) to 0
    int32_t reverbTime;     // twentieths of a second, 0 to 100
    int32_t preDelay;       // milliseconds, 0 to 100
    int32_t lowCutEnable;   // 0 or 1
    int32_t lowCutHz;       // 10 to 5000
    int32_t highCutEnable;  // 0 or 1
    int32_t highCutHz;      // 100 to 15000
};

static_assert(sizeof(DistortionParams) == 40 && offsetof(DistortionParams, dryGain) == 8 &&
                  offsetof(DistortionParams, wetGain) == 16 && offsetof(DistortionParams, drive) == 24 &&
                  offsetof(DistortionParams, slewPercent) == 28 && offsetof(DistortionParams, hardClip) == 32 &&
                  offsetof(DistortionParams, reserved2) == 36,
              "DistortionParams layout");
static_assert(sizeof(SimpleEqParams) == 16 && offsetof(SimpleEqParams, midGain) == 4 &&
                  offsetof(SimpleEqParams, bassGain) == 8 && offsetof(SimpleEqParams, trebleGain) == 12,
              "SimpleEqParams layout");
static_assert(sizeof(FlangeParams) == 40 && offsetof(FlangeParams, dryGain) == 8 &&
                  offsetof(FlangeParams, wetGain) == 16 && offsetof(FlangeParams, lfoType) == 24 &&
                  offsetof(FlangeParams, rateMilliHz) == 28 && offsetof(FlangeParams, depthPercent) == 32 &&
                  offsetof(FlangeParams, spare) == 36,
              "FlangeParams layout");
static_assert(sizeof(DelayParams) == 40 && offsetof(DelayParams, dryGain) == 8 &&
                  offsetof(DelayParams, wetGain) == 16 && offsetof(DelayParams, delayTime) == 24 &&
                  offsetof(DelayParams, reservedDecay) == 28 && offsetof(DelayParams, decay) == 32 &&
                  offsetof(DelayParams, reserved2) == 36,
              "DelayParams layout");
static_assert(sizeof(ReverbParams) == 56 && offsetof(ReverbParams, wetGain) == 8 &&
                  offsetof(ReverbParams, dryGain) == 16 && offsetof(ReverbParams, combSet) == 24 &&
                  offsetof(ReverbParams, earlyLevel) == 28 && offsetof(ReverbParams, reverbTime) == 32 &&
                  offsetof(ReverbParams, preDelay) == 36 && offsetof(ReverbParams, lowCutEnable) == 40 &&
                  offsetof(ReverbParams, lowCutHz) == 44 && offsetof(ReverbParams, highCutEnable) == 48 &&
                  offsetof(ReverbParams, highCutHz) == 52,
              "ReverbParams layout");

// ---- Interfaces ------------------------------------------------------------------------------

// Slots after GetVersion/SetFormat (and SetMix) shared by every block.
#define TW_AUDIO_BLOCK_TAIL(Params)                                                                    \
    virtual HRESULT STDMETHODCALLTYPE GetFormat(WAVEFORMATEX* format, ULONG formatSize, Params* params, \
                                                ULONG paramsSize) = 0;                                 \
    virtual HRESULT STDMETHODCALLTYPE ProcessPcm1(void* buffer, ULONG frames, ULONG* outFrames,        \
                                                  DWORD flags) = 0;                                    \
    virtual HRESULT STDMETHODCALLTYPE ProcessPcm2(void* buffer, ULONG frames, ULONG* outFrames,        \
                                                  DWORD flags) = 0;                                    \
    virtual HRESULT STDMETHODCALLTYPE ProcessFloat(float* buffer, ULONG frames, ULONG* outFrames,      \
                                                   DWORD flags) = 0;                                   \
    virtual HRESULT STDMETHODCALLTYPE ProcessPcm3(void* buffer, ULONG frames, ULONG* outFrames,        \
                                                  DWORD flags) = 0;                                    \
    virtual HRESULT STDMETHODCALLTYPE ProcessDouble(double* buffer, ULONG frames, ULONG* outFrames,    \
                                                    DWORD flags) = 0;

#define TW_AUDIO_BLOCK_HEAD(Params)                                                                  \
    virtual ULONG STDMETHODCALLTYPE GetVersion() = 0;                                                \
    virtual HRESULT STDMETHODCALLTYPE SetFormat(const WAVEFORMATEX* format, const Params* params,    \
                                                BOOL reset) = 0;

struct ITwAudioDistortion : public IUnknown {
    typedef DistortionParams Params;
    TW_AUDIO_BLOCK_HEAD(DistortionParams)
    TW_AUDIO_BLOCK_TAIL(DistortionParams)
};

struct ITwAudioSimpleEQ : public IUnknown {
    typedef SimpleEqParams Params;
    TW_AUDIO_BLOCK_HEAD(SimpleEqParams)
    TW_AUDIO_BLOCK_TAIL(SimpleEqParams)
};

struct ITwAudioFlange : public IUnknown {
    typedef FlangeParams Params;
    TW_AUDIO_BLOCK_HEAD(FlangeParams)
    TW_AUDIO_BLOCK_TAIL(FlangeParams)
};

struct ITwAudioDelay : public IUnknown {
    typedef DelayParams Params;
    TW_AUDIO_BLOCK_HEAD(DelayParams)
    // Replaces the live dry and wet gains, unclamped; the stored record and the lines stay.
    virtual HRESULT STDMETHODCALLTYPE SetMix(const DelayParams* params) = 0;
    TW_AUDIO_BLOCK_TAIL(DelayParams)
};

struct ITwAudioReverb : public IUnknown {
    typedef ReverbParams Params;
    TW_AUDIO_BLOCK_HEAD(ReverbParams)
    virtual HRESULT STDMETHODCALLTYPE SetMix(const ReverbParams* params) = 0;
    TW_AUDIO_BLOCK_TAIL(ReverbParams)
};

#undef TW_AUDIO_BLOCK_HEAD
#undef TW_AUDIO_BLOCK_TAIL

// The blocks answer no QueryInterface, so these identifiers are never compared at run time.
inline constexpr IID IID_ITwAudioDistortion = {0x6b1e2a01, 0x41c7, 0x4d0e, {0x9a, 0x31, 0x52, 0x0c, 0x7e, 0x11, 0xd0, 0x01}};
inline constexpr IID IID_ITwAudioSimpleEQ = {0x6b1e2a02, 0x41c7, 0x4d0e, {0x9a, 0x31, 0x52, 0x0c, 0x7e, 0x11, 0xd0, 0x02}};
inline constexpr IID IID_ITwAudioFlange = {0x6b1e2a03, 0x41c7, 0x4d0e, {0x9a, 0x31, 0x52, 0x0c, 0x7e, 0x11, 0xd0, 0x03}};
inline constexpr IID IID_ITwAudioDelay = {0x6b1e2a04, 0x41c7, 0x4d0e, {0x9a, 0x31, 0x52, 0x0c, 0x7e, 0x11, 0xd0, 0x04}};
inline constexpr IID IID_ITwAudioReverb = {0x6b1e2a05, 0x41c7, 0x4d0e, {0x9a, 0x31, 0x52, 0x0c, 0x7e, 0x11, 0xd0, 0x05}};

// ---- Factories: a zero-filled block with a count of 1, not yet valid --------------------------
// S_OK, or E_OUTOFMEMORY with a null pointer (E_POINTER for a null out pointer).

HRESULT CreateAudioDistortion(ITwAudioDistortion** out);
HRESULT CreateAudioSimpleEQ(ITwAudioSimpleEQ** out);
HRESULT CreateAudioFlange(ITwAudioFlange** out);
HRESULT CreateAudioDelay(ITwAudioDelay** out);
HRESULT CreateAudioReverb(ITwAudioReverb** out);
