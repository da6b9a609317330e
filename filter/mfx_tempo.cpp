#include "filter/mfx_tempo.h"

#include <cmath>
#include <cstdint>

namespace {

constexpr double kDefaultTempo = 120.0;
constexpr int32_t kDefaultNumerator = 4;
constexpr int32_t kDefaultDenominator = 4;
// Largest power-of-two exponent of a time-signature denominator we shift by.
constexpr int kMaxDenominatorPow2 = 30;

LONG ClampToLong(double v) {
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return static_cast<LONG>(v);
}

LONG ClampToLong(LONGLONG v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<LONG>(v);
}

int32_t DenominatorFromPow2(int k) {
    if (k < 0) k = 0;
    if (k > kMaxDenominatorPow2) k = kMaxDenominatorPow2;
    return static_cast<int32_t>(1) << k;
}

}  // namespace

CMFXTempo::CMFXTempo() { InitializeCriticalSection(&lock_); }

CMFXTempo::~CMFXTempo() {
    ReleaseHostInterfaces();
    DeleteCriticalSection(&lock_);
}

void CMFXTempo::ReleaseHostInterfaces() {
    if (tempoMap_) tempoMap_->Release();
    if (meterMap_) meterMap_->Release();
    if (timeConverter_) timeConverter_->Release();
    tempoMap_ = nullptr;
    meterMap_ = nullptr;
    timeConverter_ = nullptr;
}

// The host hands over a reference with the call; the three interfaces queried from it keep it
// alive, so that reference is given back at once.
HRESULT STDMETHODCALLTYPE CMFXTempo::AttachHost(IUnknown* host) {
    tw::Lock lock(&lock_);
    if (!host) return E_POINTER;
    if (attached_) return E_UNEXPECTED;
    void* p = nullptr;
    if (SUCCEEDED(host->QueryInterface(IID_IHostTempoMap, &p))) {
        tempoMap_ = static_cast<IHostTempoMap*>(p);
    }
    p = nullptr;
    if (SUCCEEDED(host->QueryInterface(IID_IHostMeterMap, &p))) {
        meterMap_ = static_cast<IHostMeterMap*>(p);
    }
    p = nullptr;
    if (SUCCEEDED(host->QueryInterface(IID_IHostTimeConverter, &p))) {
        timeConverter_ = static_cast<IHostTimeConverter*>(p);
    }
    host->Release();
    attached_ = true;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMFXTempo::DetachHost() {
    tw::Lock lock(&lock_);
    ReleaseHostInterfaces();
    attached_ = false;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMFXTempo::TransportStart(LONG startTicks) {
    tw::Lock lock(&lock_);
    ticksPerQuarter_ = tempoMap_ ? tempoMap_->GetTicksPerQuarterNote() : 1;
    if (ticksPerQuarter_ < 1) ticksPerQuarter_ = 1;
    // Without a converter the tempo map needs the sample rate; a start before the stream format
    // is known is converted by the first query that has one.
    startPending_ = !timeConverter_ && tempoMap_ && SampleRate() == 0;
    pendingStartTicks_ = startTicks;
    position_ = startPending_ ? 0 : TicksToSamples(startTicks);
    lastTempo_ = kDefaultTempo;
    loopStart_ = 0;
    loopEnd_ = 0;
    loopOffset_ = 0;
    loopStartTicks_ = 0;
    loopEndTicks_ = 0;
    firstQuery_ = true;
    lastNumerator_ = kDefaultNumerator;
    lastDenominator_ = kDefaultDenominator;
    tempoCursor_ = {false, 0};
    meterCursor_ = {false, 0};
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMFXTempo::TransportLoop(LONG loopStartTicks, LONG loopEndTicks) {
    tw::Lock lock(&lock_);
    loopStart_ = TicksToSamples(loopStartTicks);
    loopEnd_ = TicksToSamples(loopEndTicks);
    loopOffset_ += loopEnd_ - loopStart_;
    loopStartTicks_ = loopStartTicks;
    loopEndTicks_ = loopEndTicks;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMFXTempo::TransportStop(LONG) {
    tw::Lock lock(&lock_);
    loopOffset_ = 0;
    tempoCursor_ = {false, 0};
    meterCursor_ = {false, 0};
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMFXTempo::HostNotify(LONG_PTR, LONG_PTR, LONG_PTR, LONG_PTR) {
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMFXTempo::Reserved9() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE CMFXTempo::Reserved10() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE CMFXTempo::Reserved11() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE CMFXTempo::Reserved12() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE CMFXTempo::Reserved13() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE CMFXTempo::Reserved14() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE CMFXTempo::Reserved15() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE CMFXTempo::Reserved16() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE CMFXTempo::Reserved17() { return E_NOTIMPL; }

DWORD CMFXTempo::SampleRate() {
    const WAVEFORMATEX* format = GetStreamFormat();
    return format ? format->nSamplesPerSec : 0;
}

// Host ticks to samples: the host's converter when it has one, else through milliseconds of
// the tempo map; 0 when neither can answer.
LONGLONG CMFXTempo::TicksToSamples(LONG ticks) {
    if (timeConverter_) {
        HostTime time = {kHostTimeTicks, ticks};
        if (SUCCEEDED(timeConverter_->ConvertTime(&time, kHostTimeSamples))) return time.value;
    }
    if (tempoMap_) {
        const DWORD rate = SampleRate();
        if (rate == 0) return 0;
        const LONG ms = tempoMap_->TicksToMsecs(ticks);
        return static_cast<LONGLONG>(std::floor(rate / 1000.0 * ms + 0.5));
    }
    return 0;
}

LONG CMFXTempo::SamplesToTicks(LONGLONG samples) {
    if (timeConverter_) {
        HostTime time = {kHostTimeSamples, samples};
        if (SUCCEEDED(timeConverter_->ConvertTime(&time, kHostTimeTicks))) {
            return ClampToLong(time.value);
        }
    }
    if (tempoMap_) {
        const DWORD rate = SampleRate();
        if (rate == 0) return 0;
        const LONG ms = ClampToLong(std::floor(static_cast<double>(samples) * 1000.0 / rate + 0.5));
        return tempoMap_->MsecsToTicks(ms);
    }
    return 0;
}

void CMFXTempo::ResolvePendingStart() {
    if (!startPending_ || SampleRate() == 0) return;
    startPending_ = false;
    position_ += TicksToSamples(pendingStartTicks_);
}

LONGLONG CMFXTempo::MeterStartSamples(int startMeasure) {
    return TicksToSamples(meterMap_->MeasureBeatTickToTicks(startMeasure, 1, 0));
}

LONG CMFXTempo::TempoQuery(LONG framesRemaining, DWORD options, TempoInfo* info) {
    TempoInfo scratch;
    if (!info) info = &scratch;
    info->flags = 0;
    info->tempo = kDefaultTempo;
    info->numerator = kDefaultNumerator;
    info->denominator = kDefaultDenominator;
    if (framesRemaining < 0) framesRemaining = 0;

    tw::Lock lock(&lock_);
    ResolvePendingStart();
    const LONGLONG p = position_ - loopOffset_;  // the host's timeline position in samples
    LONGLONG end = p + framesRemaining;
    LONG count = framesRemaining;
    const bool wantTempo = tempoMap_ && (options & kTempoQueryTempo);
    const bool wantTimeSig = meterMap_ && (options & kTempoQueryTimeSig);
    if (wantTempo || wantTimeSig) {
        const LONG t = SamplesToTicks(p);
        if (wantTempo) QueryTempo(p, t, &end, &count, info);
        if (wantTimeSig) QueryTimeSig(p, t, &end, &count, info);
    }
    position_ += count;
    firstQuery_ = false;
    return count;
}

// Reports the tempo in effect at p and cuts the window [p, *end) before the next change inside
// it. The cursor is only a hint: it is used when its entry starts at or before p, which a loop
// or a window cut shorter by the meter can leave untrue.
void CMFXTempo::QueryTempo(LONGLONG p, LONG t, LONGLONG* end, LONG* count, TempoInfo* info) {
    const int n = tempoMap_->GetTempoCount();
    tempoCursor_.set = tempoCursor_.set && n > 0;
    if (n <= 0) return;

    LONG start = 0;
    int hundredths = 0;
    int index = -1;
    if (tempoCursor_.set) {
        const int hint = tempoCursor_.index < n - 1 ? tempoCursor_.index : n - 1;
        if (SUCCEEDED(tempoMap_->GetTempoAt(hint, &start, &hundredths)) &&
            TicksToSamples(start) <= p) {
            index = hint;
        }
    }
    if (index < 0) {
        index = tempoMap_->GetTempoIndexForTime(t);
        if (index < 0) index = 0;
        if (index > n - 1) index = n - 1;
        if (FAILED(tempoMap_->GetTempoAt(index, &start, &hundredths))) {
            tempoCursor_.set = false;
            return;
        }
    }
    tempoCursor_.set = false;

    double tempo = hundredths / 100.0;
    info->tempo = tempo;
    info->flags |= kTempoInfoTempo;
    if (firstQuery_ || tempo != lastTempo_) info->flags |= kTempoInfoTempoChanged;
    lastTempo_ = tempo;

    for (int next = index + 1; next < n; ++next) {
        if (FAILED(tempoMap_->GetTempoAt(next, &start, &hundredths))) break;
        const LONGLONG s = TicksToSamples(start);
        if (s <= p) {
            tempo = hundredths / 100.0;
            info->tempo = tempo;
            info->flags |= kTempoInfoTempo | kTempoInfoTempoChanged;
            lastTempo_ = tempo;
            continue;
        }
        if (s < *end) {
            *count = static_cast<LONG>(s - p);
            *end = s;
            tempoCursor_ = {true, next};
        }
        break;
    }
}

// The time signature in the same way; entries start at their measure's first beat.
void CMFXTempo::QueryTimeSig(LONGLONG p, LONG t, LONGLONG* end, LONG* count, TempoInfo* info) {
    const int n = meterMap_->GetMeterCount();
    meterCursor_.set = meterCursor_.set && n > 0;
    if (n <= 0) return;

    int measure = 0;
    int numerator = 0;
    int pow2 = 0;
    int index = -1;
    if (meterCursor_.set) {
        const int hint = meterCursor_.index < n - 1 ? meterCursor_.index : n - 1;
        if (SUCCEEDED(meterMap_->GetMeterAt(hint, &measure, &numerator, &pow2)) &&
            MeterStartSamples(measure) <= p) {
            index = hint;
        }
    }
    if (index < 0) {
        index = meterMap_->GetMeterIndexForTime(t);
        if (index < 0) index = 0;
        if (index > n - 1) index = n - 1;
        if (FAILED(meterMap_->GetMeterAt(index, &measure, &numerator, &pow2))) {
            meterCursor_.set = false;
            return;
        }
    }
    meterCursor_.set = false;

    int32_t denominator = DenominatorFromPow2(pow2);
    info->numerator = numerator;
    info->denominator = denominator;
    info->flags |= kTempoInfoTimeSig;
    if (firstQuery_ || numerator != lastNumerator_ || denominator != lastDenominator_) {
        info->flags |= kTempoInfoTimeSigChanged;
    }
    lastNumerator_ = numerator;
    lastDenominator_ = denominator;

    for (int next = index + 1; next < n; ++next) {
        if (FAILED(meterMap_->GetMeterAt(next, &measure, &numerator, &pow2))) break;
        const LONGLONG s = MeterStartSamples(measure);
        if (s <= p) {
            denominator = DenominatorFromPow2(pow2);
            info->numerator = numerator;
            info->denominator = denominator;
            info->flags |= kTempoInfoTimeSig | kTempoInfoTimeSigChanged;
            lastNumerator_ = numerator;
            lastDenominator_ = denominator;
            continue;
        }
        if (s < *end) {
            *count = static_cast<LONG>(s - p);
            *end = s;
            meterCursor_ = {true, next};
        }
        break;
    }
}

void CMFXTempo::AdvancePosition(LONG frames) {
    tw::Lock lock(&lock_);
    position_ += frames;
}
