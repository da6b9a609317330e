// CTwBrioFx: the plug-in's COM object, a DirectShow in-place audio transform filter that runs every
// buffer through the effect chain. It also processes plain float buffers for hosts that feed it
// directly (ITwAudioTransformFloat), and exposes the embedded controller's interfaces
// (ITwBrioFxProp, IMfxSoftSynth) as its own: every interface pointer is this one object.
//
// Threads: Receive, Transform and EndOfStream run on the streaming thread under the framework's
// receive lock; state changes on the application thread under the filter lock; the parameter,
// preset and persistence interfaces on any thread through the controller's own lock. The drain,
// processed and resume-with-reset flags belong to the streaming thread and streaming start.
#pragma once

#include "filter/brio_fx_prop.h"
#include "filter/presets.h"
#include "filter/transform.h"
#include "platform/com_stream.h"
#include "platform/dshow/dshow_api.h"
#include "platform/dshow/transform.h"
#include "platform/platform.h"

// The filter's class id, registered by the server and reported by GetClassID.
inline constexpr CLSID CLSID_TwBrioFx = {
    0xaf5d06f1, 0xd364, 0x4c48, {0x95, 0x6b, 0x4d, 0x4c, 0x80, 0x20, 0xed, 0x69}};
// The property page's class id, the one page GetPages names.
inline constexpr CLSID CLSID_TwBrioFxPropPage = {
    0xde1fff13, 0x49ab, 0x4d9b, {0xb0, 0x68, 0xd5, 0xe6, 0xda, 0x88, 0xe4, 0x5a}};

inline constexpr IID IID_ITwAudioTransformFloat = {
    0xfdebfca2, 0xa351, 0x4e92, {0x83, 0x5f, 0x79, 0x4b, 0x98, 0x3a, 0x63, 0x66}};
inline constexpr IID IID_ITwTranslationInfo = {
    0x8b5f36b4, 0xe3a7, 0x4920, {0x99, 0x90, 0x25, 0x56, 0xf0, 0xf1, 0x4a, 0x18}};
// The host's media-sample extension that tells silent samples apart.
inline constexpr IID IID_ITwMediaSampleSilence = {
    0xfa8d44b0, 0xf09f, 0x4e0f, {0xa4, 0x82, 0xc7, 0xc7, 0x81, 0x8f, 0xfb, 0x2a}};

// Plain 32-bit float buffers of interleaved frames, without the DirectShow streaming machinery.
// Not to be called concurrently with itself or with DirectShow streaming on the same object.
struct ITwAudioTransformFloat : public IUnknown {
    // Float 32-bit stream of 1 or 2 channels at sampleRate, then streaming start.
    virtual HRESULT STDMETHODCALLTYPE StartFloat(UINT channels, UINT sampleRate) = 0;  // 3
    // The chain in place, cut at host tempo changes; S_FALSE: silent input and no tail sounds.
    virtual HRESULT STDMETHODCALLTYPE ProcessFloat(float* buffer, UINT frames, BOOL silent) = 0;  // 4
    // One drain call over *frames frames; *frames comes back as the frames that carry tail.
    // S_FALSE once the tails are finished (or when nothing was processed since the start).
    virtual HRESULT STDMETHODCALLTYPE DrainFloat(float* buffer, UINT* frames) = 0;  // 5
    virtual HRESULT STDMETHODCALLTYPE StopFloat() = 0;  // 6
    // S_OK while parameter changes wait for the next buffer, S_FALSE otherwise.
    virtual HRESULT STDMETHODCALLTYPE ChangesPending() = 0;  // 7
    // Takes the host tempo and applies what is pending (force: everything, with reset);
    // S_FALSE when nothing was applied.
    virtual HRESULT STDMETHODCALLTYPE UpdateParams(BOOL force, double tempo) = 0;  // 8
};

// The host's language for the plug-in's resource strings.
struct ITwTranslationInfo : public IUnknown {
    // A Windows language identifier, 0 meaning 1033. Right-to-left languages switch the process
    // default layout.
    virtual HRESULT STDMETHODCALLTYPE SetTranslationLanguage(WORD langId) = 0;  // 3
};

// A host's media samples may answer this; a sample without it is not silent.
struct ITwMediaSampleSilence : public IUnknown {
    // Nonzero when the sample holds only silence.
    virtual BOOL STDMETHODCALLTYPE IsSilent() = 0;  // 3
};

// The filter's display name, also its registry name.
extern const WCHAR kTwBrioFxName[];
// The filter's registration record for the filter mapper (two pins of major type audio).
extern const AMOVIESETUP_FILTER kTwBrioFxSetup;

class CTwBrioFxInputPin;

class CTwBrioFx final : public CTransInPlaceFilter,
                        public ISpecifyPropertyPages,
                        public IPersistStream,
                        public IStaticFilterPreset,
                        public ITwAudioTransformFloat,
                        public ITwTranslationInfo {
public:
    // The class table's create function: a new filter (reference count 0) or null with *hr set.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

    DECLARE_IUNKNOWN
    // The controller's ITwBrioFxProp, then the filter's own interfaces, then IMfxSoftSynth,
    // then the framework's. [any thread]
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IPersist (IMediaFilter's and IPersistStream's). [any thread]
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override;

    // ISpecifyPropertyPages: the property page, in task memory. [application thread]
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pPages) override;

    // IPersistStream. [any thread]
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(IStream* pStm) override;
    HRESULT STDMETHODCALLTYPE Save(IStream* pStm, BOOL fClearDirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* pcbSize) override;

    // IStaticFilterPreset. [any thread]
    HRESULT STDMETHODCALLTYPE GetPresetCount(int* count) override;
    HRESULT STDMETHODCALLTYPE GetPresetName(int index, WCHAR* buffer, int reserved) override;
    HRESULT STDMETHODCALLTYPE LoadPreset(int index) override;

    // ITwAudioTransformFloat. [the host's processing thread]
    HRESULT STDMETHODCALLTYPE StartFloat(UINT channels, UINT sampleRate) override;
    HRESULT STDMETHODCALLTYPE ProcessFloat(float* buffer, UINT frames, BOOL silent) override;
    HRESULT STDMETHODCALLTYPE DrainFloat(float* buffer, UINT* frames) override;
    HRESULT STDMETHODCALLTYPE StopFloat() override;
    HRESULT STDMETHODCALLTYPE ChangesPending() override;
    HRESULT STDMETHODCALLTYPE UpdateParams(BOOL force, double tempo) override;

    // ITwTranslationInfo. [application thread]
    HRESULT STDMETHODCALLTYPE SetTranslationLanguage(WORD langId) override;

    // ---- Framework hooks ---------------------------------------------------------------------
    // Both pins on first use (input first); null past 1 or when they cannot be made.
    CBasePin* GetPin(int n) override;
    const AMOVIESETUP_FILTER* GetSetupData() override;
    // Audio, no temporal compression, at least 16 format bytes, 1 or 2 channels, PCM 8/16/32 or
    // float 32/64; anything else E_INVALIDARG.
    HRESULT CheckInputType(const AM_MEDIA_TYPE* pmt) override;
    HRESULT CheckTransform(const AM_MEDIA_TYPE* in, const AM_MEDIA_TYPE* out) override;
    HRESULT GetMediaType(int position, CMediaType* pmt) override;
    // Stores the format with block align and byte rate recomputed, tells the controller and the
    // notify windows (code: the pin direction). Always S_OK.
    HRESULT SetMediaType(PIN_DIRECTION direction, const AM_MEDIA_TYPE* pmt) override;
    HRESULT StartStreaming() override;
    HRESULT StopStreaming() override;
    // Transform in place and deliver that very sample; S_FALSE from Transform delivers nothing.
    // [streaming thread, receive lock]
    HRESULT Receive(IMediaSample* sample) override;
    // Plays the tails out into empty output buffers, then passes end-of-stream on.
    // [streaming thread, receive lock]
    HRESULT EndOfStream() override;
    // The pipeline over one sample, in place. In drain mode S_FALSE: the tails are finished.
    // [streaming thread, receive lock]
    HRESULT Transform(IMediaSample* sample) override;

    // ---- For tests ---------------------------------------------------------------------------
    CTwBrioFxTransform& Controller() { return fx_; }
    const WAVEFORMATEX& StreamFormat() const { return format_; }

private:
    explicit CTwBrioFx(IUnknown* outer);
    ~CTwBrioFx() override;

    // One chain call over frames at data (sample bytes of the stream format); *frames comes back
    // as the chain's count.
    HRESULT ProcessFrames(int mode, BYTE* data, ULONG* frames, BOOL silent);
    // The host's tempo and time signature in effect for the next frames; returns the frames to
    // the next change (at least 1 while frames remain).
    ULONG NextSubBlock(ULONG remaining);

    CTwBrioFxTransform fx_;
    WAVEFORMATEX format_;
    bool formatSet_;
    // Streaming thread and streaming start only.
    bool draining_;
    bool processed_;
    bool resumeWithReset_;
};
