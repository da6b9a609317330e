// CTwBrioFxTransform: the effect-chain controller. It owns the parameter record, exposes it field
// by field through ITwBrioFxProp, turns editor units into the five blocks' records, and runs every
// buffer through distortion, EQ, LFO, delay and reverb in that order.
//
// Threads: the setters, SetParams, the notices and persistence come from application and editor
// threads; the tempo base's IMfxSoftSynth from the host's threads; streaming start and stop from
// the application thread, serialised with streaming by the filter; everything else from the
// streaming thread. One recursive lock guards the record, the pending flags, the dirty flag, the
// time signature and the notify slots, and is held only for copies and compares. The blocks, the
// conversion buffer and the idle flags belong to the streaming thread.
#pragma once

#include "effects/audio_blocks.h"
#include "effects/sample_convert.h"
#include "filter/brio_fx_prop.h"
#include "filter/fx_params.h"
#include "filter/mfx_tempo.h"
#include "platform/platform.h"
#include "platform/window_notice.h"

#include <cstdint>

// Modes of one chain call.
enum ChainMode : int {
    kChainFirst = 0,   // first buffer after a start or discontinuity: everything applied with reset
    kChainNormal = 1,  // pending changes only
    kChainDrain = 2,   // input has ended: only the delay and the reverb play out their tails
};

// The command identifier of the notice and its code after a preset or stream load.
inline constexpr WORD kNoticeCommandId = 32700;
inline constexpr WORD kNoticeParamsLoaded = 100;

// Frames the integer conversion buffer holds from streaming start on.
inline constexpr ULONG kConversionFrames = 4096;

// Room records of the reverb, one per ReverbType; the gains are placeholders that the mix replaces.
extern const ReverbParams kReverbRooms[4];

// The factories the controller creates its blocks with; tests hand in recording blocks.
struct BlockFactories {
    HRESULT (*distortion)(ITwAudioDistortion** out);
    HRESULT (*lfo)(ITwAudioFlange** out);
    HRESULT (*eq)(ITwAudioSimpleEQ** out);
    HRESULT (*delay)(ITwAudioDelay** out);
    HRESULT (*reverb)(ITwAudioReverb** out);
};
extern const BlockFactories kDefaultBlockFactories;

// What one chain call works on: the record and the time signature, copied under the lock.
struct ChainSnapshot {
    FxParams params;
    int32_t numerator;
    int32_t denominator;
};

// Host tempo folded into 40..300 BPM by octaves; anything not a positive finite number is 120.
double FoldTempoValue(double tempo);

// A note value at a tempo as a delay time in tenths of a millisecond, via whole samples.
int32_t DelayTempoTime(double tempo, int32_t note, DWORD sampleRate);

// An LFO period at a tempo and time signature as a rate in milli-hertz (not clamped to the
// block's range; the block clamps).
uint32_t LfoTempoRate(double tempo, int32_t period, int32_t numerator, int32_t denominator);

// Brings every integer field of a whole record into range by the rules of SetParams.
void ClampRecord(FxParams* params);

class CTwBrioFxTransform : public CMFXTempo, public ITwBrioFxProp {
public:
    // outer: the owning object's IUnknown, which answers for this one.
    explicit CTwBrioFxTransform(IUnknown* outer);
    ~CTwBrioFxTransform();
    CTwBrioFxTransform(const CTwBrioFxTransform&) = delete;
    CTwBrioFxTransform& operator=(const CTwBrioFxTransform&) = delete;

    // IUnknown, delegated to the outer object. [any thread]
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // ITwBrioFxProp. [any thread; setters, SetParams, GetParams and SetNotifyWindow take the lock,
    // getters read one 32-bit field without it]
    HRESULT STDMETHODCALLTYPE GetParams(FxParams* params) override;
    HRESULT STDMETHODCALLTYPE SetParams(const FxParams* params) override;
    HRESULT STDMETHODCALLTYPE GetStreamFormat(WAVEFORMATEX* format) override;
    HRESULT STDMETHODCALLTYPE SetNotifyWindow(HWND window, WORD id) override;
    HRESULT STDMETHODCALLTYPE GetDelayClock(int* value) override;
    HRESULT STDMETHODCALLTYPE SetDelayClock(int value) override;
    HRESULT STDMETHODCALLTYPE GetDelayNote(int* value) override;
    HRESULT STDMETHODCALLTYPE SetDelayNote(int value) override;
    HRESULT STDMETHODCALLTYPE GetDelayTime(int* value) override;
    HRESULT STDMETHODCALLTYPE SetDelayTime(int value) override;
    HRESULT STDMETHODCALLTYPE GetDelayDecay(int* value) override;
    HRESULT STDMETHODCALLTYPE SetDelayDecay(int value) override;
    HRESULT STDMETHODCALLTYPE GetDelayMix(int* value) override;
    HRESULT STDMETHODCALLTYPE SetDelayMix(int value) override;
    HRESULT STDMETHODCALLTYPE GetDelayOn(int* value) override;
    HRESULT STDMETHODCALLTYPE SetDelayOn(int value) override;
    HRESULT STDMETHODCALLTYPE GetLfoType(int* value) override;
    HRESULT STDMETHODCALLTYPE SetLfoType(int value) override;
    HRESULT STDMETHODCALLTYPE GetLfoClock(int* value) override;
    HRESULT STDMETHODCALLTYPE SetLfoClock(int value) override;
    HRESULT STDMETHODCALLTYPE GetLfoPeriod(int* value) override;
    HRESULT STDMETHODCALLTYPE SetLfoPeriod(int value) override;
    HRESULT STDMETHODCALLTYPE GetLfoRate(int* value) override;
    HRESULT STDMETHODCALLTYPE SetLfoRate(int value) override;
    HRESULT STDMETHODCALLTYPE GetLfoDepth(int* value) override;
    HRESULT STDMETHODCALLTYPE SetLfoDepth(int value) override;
    HRESULT STDMETHODCALLTYPE GetLfoOn(int* value) override;
    HRESULT STDMETHODCALLTYPE SetLfoOn(int value) override;
    HRESULT STDMETHODCALLTYPE GetReverbType(int* value) override;
    HRESULT STDMETHODCALLTYPE SetReverbType(int value) override;
    HRESULT STDMETHODCALLTYPE GetReverbMix(int* value) override;
    HRESULT STDMETHODCALLTYPE SetReverbMix(int value) override;
    HRESULT STDMETHODCALLTYPE GetReverbOn(int* value) override;
    HRESULT STDMETHODCALLTYPE SetReverbOn(int value) override;
    HRESULT STDMETHODCALLTYPE GetDistSlew(int* value) override;
    HRESULT STDMETHODCALLTYPE SetDistSlew(int value) override;
    HRESULT STDMETHODCALLTYPE GetDistHardClip(int* value) override;
    HRESULT STDMETHODCALLTYPE SetDistHardClip(int value) override;
    HRESULT STDMETHODCALLTYPE GetDistOn(int* value) override;
    HRESULT STDMETHODCALLTYPE SetDistOn(int value) override;
    HRESULT STDMETHODCALLTYPE GetEqMid(int* value) override;
    HRESULT STDMETHODCALLTYPE SetEqMid(int value) override;
    HRESULT STDMETHODCALLTYPE GetEqBass(int* value) override;
    HRESULT STDMETHODCALLTYPE SetEqBass(int value) override;
    HRESULT STDMETHODCALLTYPE GetEqTreble(int* value) override;
    HRESULT STDMETHODCALLTYPE SetEqTreble(int value) override;
    HRESULT STDMETHODCALLTYPE GetEqOn(int* value) override;
    HRESULT STDMETHODCALLTYPE SetEqOn(int value) override;

    // The tempo base's view of the stream format. [any thread]
    const WAVEFORMATEX* GetStreamFormat() override;

    // ---- For the filter ----------------------------------------------------------------------

    // Points the controller at the filter's copy of the connected format (or null).
    // [application thread, serialised with streaming; takes the lock]
    void SetStreamFormat(const WAVEFORMATEX* format);

    // Creates the blocks, applies everything with reset and sizes the conversion buffer; a
    // failure releases whatever was made and is returned. [application thread, while stopped]
    HRESULT StartStreaming(const WAVEFORMATEX* format);
    // Releases the blocks and the conversion buffer. [application thread, while stopped]
    void StopStreaming();

    // The host's tempo; true when the stored tempo changed. [any thread; takes the lock]
    bool FoldTempo(double tempo);
    // The host's time signature. [any thread; takes the lock]
    void SetTimeSignature(int32_t numerator, int32_t denominator);

    // Copies the record and time signature and takes the pending changes. [any thread; lock]
    uint32_t Snapshot(ChainSnapshot* out);
    // Pushes the snapshot to the enabled blocks (mode kChainFirst: everything, with reset).
    // [streaming thread, or streaming start]
    HRESULT ApplyParams(const ChainSnapshot& snapshot, int mode, uint32_t flags);
    // Applies what is pending (or, forced, everything with reset); S_FALSE when nothing was.
    // [streaming thread]
    HRESULT ApplyPending(BOOL force);

    // Runs the chain in place over *frames interleaved frames; *frames comes back as the count
    // the blocks produced. S_FALSE in drain mode: the tails are finished. [streaming thread]
    HRESULT ProcessChain(int mode, float* buffer, ULONG* frames, BOOL silent);
    HRESULT ProcessChain(int mode, double* buffer, ULONG* frames, BOOL silent);
    // The chain over integer PCM through the conversion buffer. [streaming thread]
    HRESULT ProcessPcm(int mode, void* data, ULONG* frames, BOOL silent);

    // True when a silent buffer may pass untouched: no LFO, and neither delay nor reverb sounds.
    // [streaming thread]
    bool AllTailsFinished() const;
    // True while changes wait for the next sub-block. [any thread; takes the lock]
    bool HasPendingChanges();

    // Posts WM_COMMAND (code << 16 | id) to every registered window, dropping gone ones.
    // [any thread; takes the lock]
    void Notify(WORD code);

    // Loads a built-in preset through SetParams and tells the windows. E_INVALIDARG outside
    // 0..13. [any thread]
    HRESULT LoadPreset(int index);

    // Persistence. [any thread; take the lock]
    bool IsDirty();
    // The record to save, with the number of changes made so far.
    uint32_t ParamsForSave(FxParams* out);
    // Clears the dirty flag unless a change came after the record was taken for saving.
    void ClearDirtySince(uint32_t changeCount);

    // Test seam: the factories for the next StartStreaming. [application thread, while stopped]
    void SetBlockFactories(const BlockFactories& factories);

private:
    struct NotifySlot {
        HWND window;
        WORD id;
    };

    HRESULT SetField(int index, int value);
    HRESULT GetField(int index, int* value) const;
    void StoreRecordLocked(const FxParams& record);
    bool FoldTempoLocked(double tempo);
    void MarkDirtyLocked();

    template <class T>
    HRESULT RunChain(int mode, T* buffer, ULONG* frames, BOOL silent);
    HRESULT ReserveConversion(ULONG frames);
    void FreeConversion();

    IUnknown* outer_;
    CRITICAL_SECTION lock_;

    // Guarded by lock_ (the record's int fields are also read singly without it).
    FxParams params_;
    uint32_t pending_;
    bool dirty_;
    uint32_t changeCount_;
    int32_t numerator_;
    int32_t denominator_;
    NotifySlot slots_[2];
    const WAVEFORMATEX* format_;

    // Streaming thread and streaming start/stop only.
    BlockFactories factories_;
    bool streaming_;
    ITwAudioDistortion* distortion_;
    ITwAudioFlange* lfo_;
    ITwAudioSimpleEQ* eq_;
    ITwAudioDelay* delay_;
    ITwAudioReverb* reverb_;
    DistortionParams distRecord_;
    SimpleEqParams eqRecord_;
    FlangeParams lfoRecord_;
    DelayParams delayRecord_;
    ReverbParams reverbRecord_;
    bool delayIdle_;
    bool reverbIdle_;

    // Conversion buffer of the integer formats.
    void* convData_;
    ULONG convCapacity_;
    WORD convChannels_;
    tw::PcmConverters conv_;
};
