#include "filter/transform.h"

#include "filter/presets.h"

#include <cmath>
#include <cstring>

// ---- Fixed data ---------------------------------------------------------------------------------

const ReverbParams kReverbRooms[4] = {
    // cbSize, reserved, wet, dry, combSet, earlyLevel, reverbTime, preDelay, lowCut on/Hz, highCut on/Hz
    {56, 0, 0.25, 0.75, 1, -160, 20, 5, 1, 200, 1, 8000},    // Club
    {56, 0, 0.25, 0.75, 0, -160, 30, 15, 1, 100, 1, 10000},  // Hall
    {56, 0, 0.25, 0.75, 2, -160, 30, 0, 1, 300, 1, 12000},   // Plate
    {56, 0, 0.25, 0.75, 0, -160, 40, 10, 0, 100, 0, 15000},  // Big Empty Hall
};

const BlockFactories kDefaultBlockFactories = {
    CreateAudioDistortion, CreateAudioFlange, CreateAudioSimpleEQ, CreateAudioDelay, CreateAudioReverb,
};

namespace {

// Lengths of the note values in beats, in NoteValue order.
constexpr double kNoteBeats[9] = {1.5, 1.0, 2.0 / 3.0, 0.75, 0.5, 1.0 / 3.0, 0.375, 0.25, 1.0 / 6.0};
// LFO periods: beats for the first two, quarter-measures for the rest, in LfoPeriod order.
constexpr int32_t kPeriodFactors[5] = {1, 2, 4, 8, 16};

constexpr double kMinTempo = 40.0;
constexpr double kMaxTempo = 300.0;
constexpr double kFallbackTempo = 120.0;

// How each field is clamped and which pending bits a change of it sets. Setters compare the
// "unsigned" fields as unsigned 32-bit numbers, so a negative value lands on the maximum.
struct FieldRule {
    int32_t FxParams::*field;
    bool isUnsigned;
    int32_t lo;
    int32_t hi;
    uint32_t bits;
};

enum FieldIndex : int {
    kFDelayClock, kFDelayNote, kFDelayTime, kFDelayDecay, kFDelayMix, kFDelayOn,
    kFReverbType, kFReverbMix, kFReverbOn,
    kFLfoType, kFLfoClock, kFLfoPeriod, kFLfoRate, kFLfoDepth, kFLfoOn,
    kFDistSlew, kFDistHardClip, kFDistOn,
    kFEqMid, kFEqBass, kFEqTreble, kFEqOn,
    kFieldCount,
};

constexpr FieldRule kFieldRules[kFieldCount] = {
    {&FxParams::delayClock, false, 0, 1, 0x030},
    {&FxParams::delayNote, false, 0, 8, 0x030},
    {&FxParams::delayTime, true, 0, 22500, 0x010},
    {&FxParams::delayDecay, true, 0, 900, 0x010},
    {&FxParams::delayMix, true, 0, 1000, 0x040},
    {&FxParams::delayOn, false, 0, 1, 0x030},
    {&FxParams::reverbType, false, 0, 3, 0x200},
    {&FxParams::reverbMix, true, 0, 1000, 0x800},
    {&FxParams::reverbOn, false, 0, 1, 0x200},
    {&FxParams::lfoType, false, 0, 3, 0x180},
    {&FxParams::lfoClock, false, 0, 1, 0x080},
    {&FxParams::lfoPeriod, false, 0, 4, 0x080},
    {&FxParams::lfoRate, true, 1, 11000, 0x180},
    {&FxParams::lfoDepth, true, 1, 100, 0x180},
    {&FxParams::lfoOn, false, 0, 1, 0x080},
    {&FxParams::distSlew, true, 0, 100, 0x001},
    {&FxParams::distHardClip, false, 0, 1, 0x001},
    {&FxParams::distOn, false, 0, 1, 0x001},
    {&FxParams::eqMid, false, -250, 250, 0x004},
    {&FxParams::eqBass, false, -250, 250, 0x004},
    {&FxParams::eqTreble, false, -250, 250, 0x004},
    {&FxParams::eqOn, false, 0, 1, 0x004},
};

int32_t ClampField(const FieldRule& rule, int32_t value, bool bulk) {
    // A whole record may carry a negative delay time; it means "none", not "longest".
    const bool asUnsigned = rule.isUnsigned && !(bulk && rule.field == &FxParams::delayTime);
    if (asUnsigned) {
        const uint32_t u = static_cast<uint32_t>(value);
        if (u < static_cast<uint32_t>(rule.lo)) return rule.lo;
        if (u > static_cast<uint32_t>(rule.hi)) return rule.hi;
        return value;
    }
    if (value < rule.lo) return rule.lo;
    if (value > rule.hi) return rule.hi;
    return value;
}

// Single fields are read by getters without the lock, so every store to them is atomic.
inline int32_t LoadRelaxed(const int32_t& field) { return __atomic_load_n(&field, __ATOMIC_RELAXED); }
inline void StoreRelaxed(int32_t& field, int32_t value) { __atomic_store_n(&field, value, __ATOMIC_RELAXED); }

// A double from the host or a stream into an int32 without undefined conversions.
int32_t RoundToInt32(double value) {
    const double r = std::floor(value + 0.5);
    if (!(r >= 0.0)) return 0;
    if (r >= 2147483647.0) return 2147483647;
    return static_cast<int32_t>(r);
}

void SetMixGains(DelayParams& record, int32_t mix) {
    const double w = mix / 1000.0;
    record.dryGain = 1.0 - w;
    record.wetGain = w;
}

void BuildReverbRecord(ReverbParams& record, int32_t type, int32_t mix) {
    const int32_t row = type < 0 ? 0 : (type > 3 ? 3 : type);
    record = kReverbRooms[row];
    const double w = mix / 1000.0;
    record.wetGain = w;
    record.dryGain = 1.0 - w;
}

template <class B>
HRESULT RunBlock(B* block, float* buffer, ULONG frames, ULONG* out, DWORD flags) {
    return block->ProcessFloat(buffer, frames, out, flags);
}
template <class B>
HRESULT RunBlock(B* block, double* buffer, ULONG frames, ULONG* out, DWORD flags) {
    return block->ProcessDouble(buffer, frames, out, flags);
}

DWORD BlockFlags(bool silent, bool drain) {
    return (silent ? DWORD{kProcessSilent} : DWORD{0}) | (drain ? DWORD{kProcessDrain} : DWORD{0});
}

template <class B>
void ReleaseBlock(B*& block) {
    if (block) block->Release();
    block = nullptr;
}

}  // namespace

// ---- Pure conversions ---------------------------------------------------------------------------

double FoldTempoValue(double tempo) {
    // An infinite tempo would halve forever and NaN passes every comparison; both can come from a
    // stored stream.
    if (!std::isfinite(tempo) || tempo <= 0.0) return kFallbackTempo;
    while (tempo < kMinTempo) tempo *= 2.0;
    while (tempo > kMaxTempo) tempo *= 0.5;
    return tempo;
}

int32_t DelayTempoTime(double tempo, int32_t note, DWORD sampleRate) {
    if (note < 0) note = 0;
    if (note > 8) note = 8;
    if (sampleRate == 0 || !(tempo > 0.0)) return 0;
    const int32_t samples = RoundToInt32(kNoteBeats[note] * 60.0 / tempo * sampleRate);
    return MulDiv(samples, 10000, static_cast<int>(sampleRate));
}

uint32_t LfoTempoRate(double tempo, int32_t period, int32_t numerator, int32_t denominator) {
    if (period < 0) period = 0;
    if (period > 4) period = 4;
    const double f = kPeriodFactors[period];
    // One or two beats of a 1/D note, or f/4 measures of N such beats.
    const double seconds = period <= kPeriodTwoBeats ? f * 240.0 / denominator
                                                     : numerator * 60.0 * f / denominator;
    return static_cast<uint32_t>(RoundToInt32(tempo * 1000.0 / seconds));
}

void ClampRecord(FxParams* params) {
    for (const FieldRule& rule : kFieldRules) params->*rule.field = ClampField(rule, params->*rule.field, true);
}

// ---- Construction -------------------------------------------------------------------------------

CTwBrioFxTransform::CTwBrioFxTransform(IUnknown* outer)
    : outer_(outer),
      params_{},
      pending_(kChangeAllWithReset),
      dirty_(false),
      changeCount_(0),
      numerator_(4),
      denominator_(4),
      slots_{},
      format_(nullptr),
      factories_(kDefaultBlockFactories),
      streaming_(false),
      distortion_(nullptr),
      lfo_(nullptr),
      eq_(nullptr),
      delay_(nullptr),
      reverb_(nullptr),
      distRecord_{40, 0, 0.5, 0.5, 750, 50, 0, 0},
      eqRecord_{16, 0, 0, 0},
      lfoRecord_{40, 0, 0.5, 0.5, 0, 500, 50, 23},
      delayRecord_{40, 0, 0.5, 0.5, 0, 0, 0, 0},
      reverbRecord_(kReverbRooms[kReverbHall]),
      delayIdle_(true),
      reverbIdle_(true),
      convData_(nullptr),
      convCapacity_(0),
      convChannels_(0),
      conv_{} {
    InitializeCriticalSection(&lock_);
    params_.tempo = kFallbackTempo;
    if (SetParams(&kDefaultFxParams) == S_OK) Notify(kNoticeParamsLoaded);
}

CTwBrioFxTransform::~CTwBrioFxTransform() {
    StopStreaming();
    DeleteCriticalSection(&lock_);
}

// ---- IUnknown -----------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CTwBrioFxTransform::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (!outer_) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    return outer_->QueryInterface(riid, ppv);
}

ULONG STDMETHODCALLTYPE CTwBrioFxTransform::AddRef() { return outer_ ? outer_->AddRef() : 1; }

ULONG STDMETHODCALLTYPE CTwBrioFxTransform::Release() { return outer_ ? outer_->Release() : 1; }

// ---- Parameter interface ------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CTwBrioFxTransform::GetParams(FxParams* params) {
    if (!params) return E_POINTER;
    tw::Lock guard(&lock_);
    std::memcpy(params, &params_, sizeof(FxParams));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CTwBrioFxTransform::SetParams(const FxParams* params) {
    if (!params) return E_POINTER;
    FxParams record;
    std::memcpy(&record, params, sizeof(FxParams));
    ClampRecord(&record);
    tw::Lock guard(&lock_);
    StoreRecordLocked(record);
    pending_ = kChangeAllWithReset;
    MarkDirtyLocked();
    FoldTempoLocked(record.tempo);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CTwBrioFxTransform::GetStreamFormat(WAVEFORMATEX* format) {
    if (!format) return E_POINTER;
    tw::Lock guard(&lock_);
    if (!format_) return VFW_E_NOT_CONNECTED;
    // The caller's buffer holds 20 bytes: the 18 of the format and two spare ones.
    unsigned char bytes[20] = {};
    std::memcpy(bytes, format_, sizeof(WAVEFORMATEX));
    bytes[16] = 0;  // cbSize
    bytes[17] = 0;
    std::memcpy(format, bytes, sizeof(bytes));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CTwBrioFxTransform::SetNotifyWindow(HWND window, WORD id) {
    tw::Lock guard(&lock_);
    NotifySlot* slot = nullptr;
    for (NotifySlot& s : slots_)
        if (s.window == window && s.window) slot = &s;
    if (!slot)
        for (NotifySlot& s : slots_)
            if (!s.window && !slot) slot = &s;
    if (!slot) return id == 0 ? S_OK : E_OUTOFMEMORY;
    if (id == 0) {
        *slot = NotifySlot{nullptr, 0};
    } else {
        *slot = NotifySlot{window, id};
    }
    return S_OK;
}

HRESULT CTwBrioFxTransform::GetField(int index, int* value) const {
    if (!value) return E_POINTER;
    *value = LoadRelaxed(params_.*kFieldRules[index].field);
    return S_OK;
}

HRESULT CTwBrioFxTransform::SetField(int index, int value) {
    const FieldRule& rule = kFieldRules[index];
    const int32_t clamped = ClampField(rule, value, false);
    tw::Lock guard(&lock_);
    int32_t& field = params_.*rule.field;
    if (field == clamped) return S_OK;
    StoreRelaxed(field, clamped);
    pending_ |= rule.bits;
    MarkDirtyLocked();
    return S_OK;
}

#define TW_FIELD_ACCESSORS(Name, index)                                                          \
    HRESULT STDMETHODCALLTYPE CTwBrioFxTransform::Get##Name(int* value) { return GetField(index, value); } \
    HRESULT STDMETHODCALLTYPE CTwBrioFxTransform::Set##Name(int value) { return SetField(index, value); }

TW_FIELD_ACCESSORS(DelayClock, kFDelayClock)
TW_FIELD_ACCESSORS(DelayNote, kFDelayNote)
TW_FIELD_ACCESSORS(DelayTime, kFDelayTime)
TW_FIELD_ACCESSORS(DelayDecay, kFDelayDecay)
TW_FIELD_ACCESSORS(DelayMix, kFDelayMix)
TW_FIELD_ACCESSORS(DelayOn, kFDelayOn)
TW_FIELD_ACCESSORS(LfoType, kFLfoType)
TW_FIELD_ACCESSORS(LfoClock, kFLfoClock)
TW_FIELD_ACCESSORS(LfoPeriod, kFLfoPeriod)
TW_FIELD_ACCESSORS(LfoRate, kFLfoRate)
TW_FIELD_ACCESSORS(LfoDepth, kFLfoDepth)
TW_FIELD_ACCESSORS(LfoOn, kFLfoOn)
TW_FIELD_ACCESSORS(ReverbType, kFReverbType)
TW_FIELD_ACCESSORS(ReverbMix, kFReverbMix)
TW_FIELD_ACCESSORS(ReverbOn, kFReverbOn)
TW_FIELD_ACCESSORS(DistSlew, kFDistSlew)
TW_FIELD_ACCESSORS(DistHardClip, kFDistHardClip)
TW_FIELD_ACCESSORS(DistOn, kFDistOn)
TW_FIELD_ACCESSORS(EqMid, kFEqMid)
TW_FIELD_ACCESSORS(EqBass, kFEqBass)
TW_FIELD_ACCESSORS(EqTreble, kFEqTreble)
TW_FIELD_ACCESSORS(EqOn, kFEqOn)

#undef TW_FIELD_ACCESSORS

void CTwBrioFxTransform::StoreRecordLocked(const FxParams& record) {
    for (const FieldRule& rule : kFieldRules) StoreRelaxed(params_.*rule.field, record.*rule.field);
    params_.tempo = record.tempo;
}

void CTwBrioFxTransform::MarkDirtyLocked() {
    dirty_ = true;
    ++changeCount_;
}

// ---- Tempo and time signature -------------------------------------------------------------------

const WAVEFORMATEX* CTwBrioFxTransform::GetStreamFormat() {
    tw::Lock guard(&lock_);
    return format_;
}

bool CTwBrioFxTransform::FoldTempo(double tempo) {
    tw::Lock guard(&lock_);
    return FoldTempoLocked(tempo);
}

bool CTwBrioFxTransform::FoldTempoLocked(double tempo) {
    const double folded = FoldTempoValue(tempo);
    if (folded == params_.tempo) return false;
    params_.tempo = folded;
    if (params_.delayClock == kClockTempo) pending_ |= kChangeDelayReset;
    if (params_.lfoClock == kClockTempo) pending_ |= kChangeLfo;
    return true;
}

void CTwBrioFxTransform::SetTimeSignature(int32_t numerator, int32_t denominator) {
    // A meter without beats would divide the LFO period by zero; keep the last good one.
    if (numerator < 1 || denominator < 1) return;
    tw::Lock guard(&lock_);
    if (numerator == numerator_ && denominator == denominator_) return;
    numerator_ = numerator;
    denominator_ = denominator;
    if (params_.lfoClock == kClockTempo) pending_ |= kChangeLfo;
}

// ---- Snapshot and applying ----------------------------------------------------------------------

uint32_t CTwBrioFxTransform::Snapshot(ChainSnapshot* out) {
    tw::Lock guard(&lock_);
    std::memcpy(&out->params, &params_, sizeof(FxParams));
    out->numerator = numerator_;
    out->denominator = denominator_;
    const uint32_t flags = pending_;
    pending_ = 0;
    return flags;
}

HRESULT CTwBrioFxTransform::ApplyParams(const ChainSnapshot& snapshot, int mode, uint32_t flags) {
    const bool first = mode == kChainFirst;
    if (first) flags |= kChangeAllWithReset;
    const FxParams& p = snapshot.params;
    const WAVEFORMATEX* format = format_;
    HRESULT hr = S_OK;

    if (p.delayOn && delay_) {
        if (flags & (kChangeDelay | kChangeDelayReset)) {
            delayIdle_ = true;
            delayRecord_.delayTime =
                p.delayClock == kClockTempo
                    ? DelayTempoTime(p.tempo, p.delayNote, format ? format->nSamplesPerSec : 0)
                    : p.delayTime;
            delayRecord_.decay = p.delayDecay;
            SetMixGains(delayRecord_, p.delayMix);
            hr = delay_->SetFormat(format, &delayRecord_, first || (flags & kChangeDelayReset));
            if (FAILED(hr)) return hr;
        } else if (flags & kChangeDelayMix) {
            delayIdle_ = true;
            SetMixGains(delayRecord_, p.delayMix);
            delay_->SetMix(&delayRecord_);
        }
    }

    if (p.distOn && distortion_ && (flags & (kChangeDistortion | kChangeDistortionReset))) {
        distRecord_.slewPercent = p.distSlew;
        distRecord_.hardClip = p.distHardClip;
        hr = distortion_->SetFormat(format, &distRecord_, first || (flags & kChangeDistortionReset));
        if (FAILED(hr)) return hr;
    }

    if (p.lfoOn && lfo_ && (flags & (kChangeLfo | kChangeLfoReset))) {
        lfoRecord_.lfoType = p.lfoType;
        lfoRecord_.rateMilliHz =
            p.lfoClock == kClockTempo
                ? LfoTempoRate(p.tempo, p.lfoPeriod, snapshot.numerator, snapshot.denominator)
                : static_cast<uint32_t>(p.lfoRate);
        lfoRecord_.depthPercent = static_cast<uint32_t>(p.lfoDepth);
        hr = lfo_->SetFormat(format, &lfoRecord_, first || (flags & kChangeLfoReset));
        if (FAILED(hr)) return hr;
    }

    if (p.eqOn && eq_ && (flags & (kChangeEq | kChangeEqReset))) {
        eqRecord_.midGain = p.eqMid;
        eqRecord_.bassGain = p.eqBass;
        eqRecord_.trebleGain = p.eqTreble;
        hr = eq_->SetFormat(format, &eqRecord_, first || (flags & kChangeEqReset));
        if (FAILED(hr)) return hr;
    }

    if (p.reverbOn && reverb_) {
        if (first || (flags & (kChangeReverb | kChangeReverbReset))) {
            reverbIdle_ = true;
            BuildReverbRecord(reverbRecord_, p.reverbType, p.reverbMix);
            return reverb_->SetFormat(format, &reverbRecord_, first || (flags & kChangeReverbReset));
        }
        if (flags & kChangeReverbMix) {
            reverbIdle_ = true;
            BuildReverbRecord(reverbRecord_, p.reverbType, p.reverbMix);
            reverb_->SetMix(&reverbRecord_);
        }
    }
    return hr;
}

HRESULT CTwBrioFxTransform::ApplyPending(BOOL force) {
    ChainSnapshot snapshot;
    const uint32_t flags = Snapshot(&snapshot);
    if (!flags && !force) return S_FALSE;
    return ApplyParams(snapshot, force ? kChainFirst : kChainNormal, flags);
}

// ---- Processing ---------------------------------------------------------------------------------

template <class T>
HRESULT CTwBrioFxTransform::RunChain(int mode, T* buffer, ULONG* frames, BOOL silent) {
    if (!frames) return E_POINTER;
    const ULONG n = *frames;
    *frames = 0;
    if (!streaming_) return E_UNEXPECTED;
    if (!buffer && n) return E_POINTER;

    bool s = silent != 0;
    bool t = mode == kChainDrain;

    ChainSnapshot snapshot;
    const uint32_t pending = Snapshot(&snapshot);
    HRESULT r = S_OK;
    if (mode == kChainFirst)
        r = ApplyParams(snapshot, kChainFirst, kChangeAllWithReset);
    else if (pending)
        r = ApplyParams(snapshot, mode, pending);
    if (FAILED(r)) return r;

    const FxParams& p = snapshot.params;
    DWORD b = BlockFlags(s, t);
    ULONG most = 0;
    ULONG out = 0;

    if (p.distOn && !s && !t) {
        r = RunBlock(distortion_, buffer, n, &out, b);
        if (out > most) most = out;
    }
    if (p.eqOn && ((!s && !t) || most > 0)) {
        r = RunBlock(eq_, buffer, n, &out, b);
        if (out > most) most = out;
    }
    if (p.lfoOn && !t) {  // modulation sounds over silent input too
        r = RunBlock(lfo_, buffer, n, &out, b);
        if (out > most) most = out;
    }

    // An idle delay or reverb is skipped while its input is silence or the stream has ended:
    // after a finished tail it was re-applied with reset, and running it again would start a
    // fresh countdown and keep the drain from ever ending.
    HRESULT delayResult = S_FALSE;
    if (p.delayOn && !((s || t) && delayIdle_)) {
        delayResult = RunBlock(delay_, buffer, n, &out, b);
        r = delayResult;
        if (out > most) most = out;
        if (delayResult == S_FALSE && (s || t)) {
            delayIdle_ = true;
            ApplyParams(snapshot, kChainNormal, kChangeDelayReset);
        } else {
            delayIdle_ = false;
        }
    }

    // Echoes still sounding make the reverb's input live.
    t = t && delayResult == S_FALSE;
    s = s && delayResult == S_FALSE;
    b = BlockFlags(s, t);

    if (p.reverbOn && !((s || t) && reverbIdle_)) {
        r = RunBlock(reverb_, buffer, n, &out, b);
        if (out > most) most = out;
        if (r == S_FALSE && (s || t)) {
            reverbIdle_ = true;
            ApplyParams(snapshot, kChainNormal, kChangeReverbReset);
        } else {
            reverbIdle_ = false;
        }
        if (r == S_FALSE && delayResult != S_FALSE) r = delayResult;
    }

    if (r == S_OK && most == 0 && (t || s)) r = S_FALSE;
    *frames = (t || s) ? most : n;
    return r;
}

HRESULT CTwBrioFxTransform::ProcessChain(int mode, float* buffer, ULONG* frames, BOOL silent) {
    return RunChain(mode, buffer, frames, silent);
}

HRESULT CTwBrioFxTransform::ProcessChain(int mode, double* buffer, ULONG* frames, BOOL silent) {
    return RunChain(mode, buffer, frames, silent);
}

HRESULT CTwBrioFxTransform::ProcessPcm(int mode, void* data, ULONG* frames, BOOL silent) {
    if (!frames) return E_POINTER;
    const ULONG n = *frames;
    *frames = 0;
    if (!data && n) return E_POINTER;
    if (n > convCapacity_) {
        const HRESULT hr = ReserveConversion(n);
        if (FAILED(hr)) return hr;
    }
    if (!conv_.toWorking) return E_INVALIDARG;
    const size_t channels = convChannels_;
    conv_.toWorking(data, convData_, static_cast<size_t>(n) * channels, 1.0f);
    ULONG out = n;
    const HRESULT hr = conv_.workingBytes == sizeof(double)
                           ? RunChain(mode, static_cast<double*>(convData_), &out, silent)
                           : RunChain(mode, static_cast<float*>(convData_), &out, silent);
    conv_.fromWorking(convData_, data, static_cast<size_t>(out) * channels, 1.0f);
    *frames = out;
    return hr;
}

bool CTwBrioFxTransform::AllTailsFinished() const {
    if (LoadRelaxed(params_.lfoOn)) return false;
    return (!LoadRelaxed(params_.delayOn) || delayIdle_) && (!LoadRelaxed(params_.reverbOn) || reverbIdle_);
}

bool CTwBrioFxTransform::HasPendingChanges() {
    tw::Lock guard(&lock_);
    return pending_ != 0;
}

// ---- Streaming start and stop -------------------------------------------------------------------

void CTwBrioFxTransform::SetStreamFormat(const WAVEFORMATEX* format) {
    tw::Lock guard(&lock_);
    format_ = format;
}

void CTwBrioFxTransform::SetBlockFactories(const BlockFactories& factories) { factories_ = factories; }

HRESULT CTwBrioFxTransform::StartStreaming(const WAVEFORMATEX* format) {
    StopStreaming();  // whatever a failed start left behind
    if (format) SetStreamFormat(format);
    if (!GetStreamFormat()) return VFW_E_NOT_CONNECTED;
    FoldTempo(kFallbackTempo);
    SetTimeSignature(4, 4);

    HRESULT hr = factories_.distortion(&distortion_);
    if (SUCCEEDED(hr)) hr = factories_.lfo(&lfo_);
    if (SUCCEEDED(hr)) hr = factories_.eq(&eq_);
    if (SUCCEEDED(hr)) hr = factories_.delay(&delay_);
    if (SUCCEEDED(hr)) hr = factories_.reverb(&reverb_);
    if (FAILED(hr)) {
        StopStreaming();
        return hr;
    }
    delayIdle_ = true;
    reverbIdle_ = true;

    ChainSnapshot snapshot;
    Snapshot(&snapshot);
    hr = ApplyParams(snapshot, kChainFirst, kChangeAllWithReset);
    if (SUCCEEDED(hr)) hr = ReserveConversion(kConversionFrames);
    if (FAILED(hr)) {
        StopStreaming();
        return hr;
    }
    streaming_ = true;
    return S_OK;
}

void CTwBrioFxTransform::StopStreaming() {
    streaming_ = false;
    ReleaseBlock(distortion_);
    ReleaseBlock(lfo_);
    ReleaseBlock(eq_);
    ReleaseBlock(delay_);
    ReleaseBlock(reverb_);
    FreeConversion();
}

HRESULT CTwBrioFxTransform::ReserveConversion(ULONG frames) {
    const WAVEFORMATEX* format = format_;
    if (!format || format->wFormatTag != WAVE_FORMAT_PCM) return S_OK;  // float works in place
    FreeConversion();
    tw::PcmConverters conv;
    if (!tw::ConvertersForPcm(format->wBitsPerSample, &conv)) return E_INVALIDARG;
    const size_t bytes = static_cast<size_t>(frames) * format->nChannels * conv.workingBytes;
    convData_ = tw::ZeroAlloc(bytes);
    if (!convData_) return E_OUTOFMEMORY;
    conv_ = conv;
    convCapacity_ = frames;
    convChannels_ = format->nChannels;
    return S_OK;
}

void CTwBrioFxTransform::FreeConversion() {
    tw::ZeroFree(convData_);
    convData_ = nullptr;
    convCapacity_ = 0;
    convChannels_ = 0;
    conv_ = tw::PcmConverters{};
}

// ---- Notices and presets ------------------------------------------------------------------------

void CTwBrioFxTransform::Notify(WORD code) {
    tw::Lock guard(&lock_);
    for (NotifySlot& slot : slots_) {
        if (!slot.window) continue;
        if (!tw::PostNotice(slot.window, slot.id, code)) slot = NotifySlot{nullptr, 0};
    }
}

HRESULT CTwBrioFxTransform::LoadPreset(int index) {
    if (index < 0 || index >= kPresetCount) return E_INVALIDARG;
    const HRESULT hr = SetParams(&kFxPresets[index].params);
    if (SUCCEEDED(hr)) Notify(kNoticeParamsLoaded);
    return hr;
}

// ---- Persistence --------------------------------------------------------------------------------

bool CTwBrioFxTransform::IsDirty() {
    tw::Lock guard(&lock_);
    return dirty_;
}

uint32_t CTwBrioFxTransform::ParamsForSave(FxParams* out) {
    tw::Lock guard(&lock_);
    std::memcpy(out, &params_, sizeof(FxParams));
    return changeCount_;
}

void CTwBrioFxTransform::ClearDirtySince(uint32_t changeCount) {
    tw::Lock guard(&lock_);
    if (changeCount_ == changeCount) dirty_ = false;
}
