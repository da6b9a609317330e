// CMFXTempo: the host's tempo and time signature at every point of the audio. The host attaches its
// timing services through IMfxSoftSynth and reports its transport; the streaming thread asks, once
// per sub-block, how many frames remain until the next tempo or time-signature change and which
// values are in effect there.
#pragma once

#include "platform/host_timing.h"
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>

// TempoInfo::flags
enum TempoInfoFlags : int32_t {
    kTempoInfoTempo = 0x1,           // tempo holds the host's tempo
    kTempoInfoTempoChanged = 0x2,    // ... and it differs from the last one reported
    kTempoInfoTimeSig = 0x4,         // numerator/denominator hold the host's time signature
    kTempoInfoTimeSigChanged = 0x8,  // ... and it differs from the last one reported
};

// TempoQuery options: which values to look up.
enum TempoQueryOptions : DWORD {
    kTempoQueryTempo = 0x1,
    kTempoQueryTimeSig = 0x4,
    kTempoQueryAll = kTempoQueryTempo | kTempoQueryTimeSig,
};

// The result of one tempo query. Without a host it carries 120 BPM in 4/4 and no flags.
struct TempoInfo {
    int32_t flags;  // TempoInfoFlags
    double tempo;   // beats per minute
    int32_t numerator;
    int32_t denominator;
};
static_assert(offsetof(TempoInfo, tempo) == 8 && offsetof(TempoInfo, numerator) == 16 &&
                  offsetof(TempoInfo, denominator) == 20 && sizeof(TempoInfo) == 24,
              "TempoInfo layout");

// Base of the effect-chain controller. Its IUnknown is the filter's: the owner supplies
// QueryInterface, AddRef and Release, and the stream format for the sample rate.
class CMFXTempo : public IMfxSoftSynth {
public:
    // IMfxSoftSynth. [host threads; takes the tempo lock]
    HRESULT STDMETHODCALLTYPE AttachHost(IUnknown* host) override;
    HRESULT STDMETHODCALLTYPE DetachHost() override;
    HRESULT STDMETHODCALLTYPE TransportStart(LONG startTicks) override;
    HRESULT STDMETHODCALLTYPE TransportLoop(LONG loopStartTicks, LONG loopEndTicks) override;
    HRESULT STDMETHODCALLTYPE TransportStop(LONG stopTicks) override;
    HRESULT STDMETHODCALLTYPE HostNotify(LONG_PTR a, LONG_PTR b, LONG_PTR c, LONG_PTR d) override;
    HRESULT STDMETHODCALLTYPE Reserved9() override;
    HRESULT STDMETHODCALLTYPE Reserved10() override;
    HRESULT STDMETHODCALLTYPE Reserved11() override;
    HRESULT STDMETHODCALLTYPE Reserved12() override;
    HRESULT STDMETHODCALLTYPE Reserved13() override;
    HRESULT STDMETHODCALLTYPE Reserved14() override;
    HRESULT STDMETHODCALLTYPE Reserved15() override;
    HRESULT STDMETHODCALLTYPE Reserved16() override;
    HRESULT STDMETHODCALLTYPE Reserved17() override;

    // The stream format whose sample rate converts host times; null while none is set.
    // [any thread, called under the tempo lock]
    virtual const WAVEFORMATEX* GetStreamFormat() = 0;

    // Fills info (tempo 120.0 in 4/4 and no flags when the host offers nothing) and returns the
    // frames, at most framesRemaining, until the next tempo or time-signature change; advances the
    // host position by that many frames. options: TempoQueryOptions. info may be null.
    // [streaming thread; holds the tempo lock for the whole query, including the host's calls]
    LONG TempoQuery(LONG framesRemaining, DWORD options, TempoInfo* info);

    // Moves the host position on by frames the chain did not run through a query.
    // [streaming thread; takes the tempo lock]
    void AdvancePosition(LONG frames);

    CMFXTempo(const CMFXTempo&) = delete;
    CMFXTempo& operator=(const CMFXTempo&) = delete;

protected:
    CMFXTempo();
    ~CMFXTempo();  // releases the host's interfaces; not virtual: COM objects go through Release

private:
    // Index of the next entry found by the last query, valid while set.
    struct Cursor {
        bool set;
        int index;
    };

    void ReleaseHostInterfaces();
    LONGLONG TicksToSamples(LONG ticks);
    LONG SamplesToTicks(LONGLONG samples);
    DWORD SampleRate();
    void ResolvePendingStart();
    LONGLONG MeterStartSamples(int startMeasure);
    void QueryTempo(LONGLONG p, LONG t, LONGLONG* end, LONG* count, TempoInfo* info);
    void QueryTimeSig(LONGLONG p, LONG t, LONGLONG* end, LONG* count, TempoInfo* info);

    CRITICAL_SECTION lock_;
    bool attached_ = false;
    bool firstQuery_ = false;
    bool startPending_ = false;  // transport started before the sample rate was known
    LONG pendingStartTicks_ = 0;
    LONGLONG position_ = 0;      // samples since transport start, plus the start in samples
    LONGLONG loopStart_ = 0;
    LONGLONG loopEnd_ = 0;
    LONGLONG loopOffset_ = 0;    // total length of all loops since transport start
    LONG loopStartTicks_ = 0;
    LONG loopEndTicks_ = 0;
    double lastTempo_ = 120.0;
    int32_t lastNumerator_ = 4;
    int32_t lastDenominator_ = 4;
    Cursor tempoCursor_ = {false, 0};
    Cursor meterCursor_ = {false, 0};
    int ticksPerQuarter_ = 1;
    IHostTempoMap* tempoMap_ = nullptr;
    IHostMeterMap* meterMap_ = nullptr;
    IHostTimeConverter* timeConverter_ = nullptr;
};
