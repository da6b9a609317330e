#include "filter/brio_fx.h"

#include "filter/brio_fx_input_pin.h"
#include "filter/persist.h"
#include "filter/resource_strings.h"
#include "platform/host_timing.h"

#include <cstring>

// ---- Registration record -----------------------------------------------------------------------

const WCHAR kTwBrioFxName[] = TW_W("Orvo BRIO FX");

namespace {

WCHAR g_inputPinName[] = TW_W("Input");
WCHAR g_outputPinName[] = TW_W("Output");

const AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&MEDIATYPE_Audio, &GUID_NULL}};

const AMOVIESETUP_PIN kPins[] = {
    {g_inputPinName, FALSE, FALSE, FALSE, FALSE, &GUID_NULL, g_outputPinName, 1, kPinTypes},
    {g_outputPinName, FALSE, TRUE, FALSE, FALSE, &GUID_NULL, g_inputPinName, 1, kPinTypes},
};

// Primary languages written right to left: Arabic, Hebrew, Urdu, Farsi.
bool IsRightToLeft(WORD langId) {
    const WORD primary = langId & 0x3FF;
    return primary == 1 || primary == 13 || primary == 32 || primary == 41;
}

bool HostSaysSilent(IMediaSample* sample) {
    ITwMediaSampleSilence* query = nullptr;
    if (FAILED(sample->QueryInterface(IID_ITwMediaSampleSilence, reinterpret_cast<void**>(&query))) ||
        !query) {
        return false;
    }
    const bool silent = query->IsSilent() != 0;
    query->Release();
    return silent;
}

}  // namespace

const AMOVIESETUP_FILTER kTwBrioFxSetup = {&CLSID_TwBrioFx, kTwBrioFxName, MERIT_DO_NOT_USE, 2, kPins};

// ---- Object ------------------------------------------------------------------------------------

CUnknown* CTwBrioFx::CreateInstance(IUnknown* outer, HRESULT* hr) {
    CTwBrioFx* filter = new CTwBrioFx(outer);
    if (hr) *hr = filter ? S_OK : E_OUTOFMEMORY;
    return filter;
}

CTwBrioFx::CTwBrioFx(IUnknown* outer)
    : CTransInPlaceFilter(outer, CLSID_TwBrioFx, true),
      fx_(GetOwner()),
      format_(),
      formatSet_(false),
      draining_(false),
      processed_(false),
      resumeWithReset_(false) {}

CTwBrioFx::~CTwBrioFx() = default;

HRESULT STDMETHODCALLTYPE CTwBrioFx::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_ITwBrioFxProp)) return GetInterface(static_cast<ITwBrioFxProp*>(&fx_), ppv);
    if (IsEqualIID(riid, IID_ISpecifyPropertyPages)) {
        return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
    }
    if (IsEqualIID(riid, IID_IPersistStream)) return GetInterface(static_cast<IPersistStream*>(this), ppv);
    if (IsEqualIID(riid, IID_IStaticFilterPreset)) {
        return GetInterface(static_cast<IStaticFilterPreset*>(this), ppv);
    }
    if (IsEqualIID(riid, IID_ITwAudioTransformFloat)) {
        return GetInterface(static_cast<ITwAudioTransformFloat*>(this), ppv);
    }
    if (IsEqualIID(riid, IID_ITwTranslationInfo)) {
        return GetInterface(static_cast<ITwTranslationInfo*>(this), ppv);
    }
    if (IsEqualIID(riid, IID_IMfxSoftSynth)) return GetInterface(static_cast<IMfxSoftSynth*>(&fx_), ppv);
    return CTransInPlaceFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CTwBrioFx::GetClassID(CLSID* pClassID) {
    return CTransInPlaceFilter::GetClassID(pClassID);
}

HRESULT STDMETHODCALLTYPE CTwBrioFx::GetPages(CAUUID* pPages) {
    if (!pPages) return E_POINTER;
    pPages->cElems = 0;
    pPages->pElems = nullptr;
    GUID* pages = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages) return E_OUTOFMEMORY;
    pages[0] = CLSID_TwBrioFxPropPage;
    pPages->cElems = 1;
    pPages->pElems = pages;
    return S_OK;
}

// ---- Persistence and presets -------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CTwBrioFx::IsDirty() { return PersistIsDirty(fx_); }
HRESULT STDMETHODCALLTYPE CTwBrioFx::Load(IStream* pStm) { return PersistLoad(fx_, pStm); }
HRESULT STDMETHODCALLTYPE CTwBrioFx::Save(IStream* pStm, BOOL fClearDirty) {
    return PersistSave(fx_, pStm, fClearDirty);
}
HRESULT STDMETHODCALLTYPE CTwBrioFx::GetSizeMax(ULARGE_INTEGER* pcbSize) {
    return PersistGetSizeMax(pcbSize);
}

HRESULT STDMETHODCALLTYPE CTwBrioFx::GetPresetCount(int* count) {
    if (!count) return E_POINTER;
    *count = kPresetCount;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CTwBrioFx::GetPresetName(int index, WCHAR* buffer, int) {
    return ::GetPresetName(index, buffer);
}

HRESULT STDMETHODCALLTYPE CTwBrioFx::LoadPreset(int index) { return fx_.LoadPreset(index); }

// ---- Language ----------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CTwBrioFx::SetTranslationLanguage(WORD langId) {
    if (langId == 0) langId = tw::kDefaultResourceLanguage;
    tw::SetResourceLanguage(langId);
    if (IsRightToLeft(langId)) {
#ifdef _WIN32
        SetProcessDefaultLayout(LAYOUT_RTL);
#endif
    }
    return S_OK;
}

// ---- Framework hooks ---------------------------------------------------------------------------

CBasePin* CTwBrioFx::GetPin(int n) {
    if (!input_) {
        input_ = new CTwBrioFxInputPin(this, g_inputPinName);
        if (!input_) return nullptr;
        output_ = new CTransInPlaceOutputPin(this, g_outputPinName);
        if (!output_) {
            delete input_;
            input_ = nullptr;
            return nullptr;
        }
    }
    if (n == 0) return input_;
    if (n == 1) return output_;
    return nullptr;
}

const AMOVIESETUP_FILTER* CTwBrioFx::GetSetupData() { return &kTwBrioFxSetup; }

HRESULT CTwBrioFx::CheckInputType(const AM_MEDIA_TYPE* pmt) {
    if (!pmt) return E_POINTER;
    if (!IsEqualGUID(pmt->majortype, MEDIATYPE_Audio) || pmt->bTemporalCompression ||
        pmt->cbFormat < 16 || !pmt->pbFormat) {
        return E_INVALIDARG;
    }
    WAVEFORMATEX wfx = {};
    std::memcpy(&wfx, pmt->pbFormat, 16);
    if (wfx.nChannels != 1 && wfx.nChannels != 2) return E_INVALIDARG;
    const WORD bits = wfx.wBitsPerSample;
    if (wfx.wFormatTag == WAVE_FORMAT_PCM && (bits == 8 || bits == 16 || bits == 32)) return S_OK;
    if (wfx.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && (bits == 32 || bits == 64)) return S_OK;
    return E_INVALIDARG;
}

HRESULT CTwBrioFx::CheckTransform(const AM_MEDIA_TYPE*, const AM_MEDIA_TYPE*) { return S_OK; }

HRESULT CTwBrioFx::GetMediaType(int, CMediaType*) { return E_UNEXPECTED; }

HRESULT CTwBrioFx::SetMediaType(PIN_DIRECTION direction, const AM_MEDIA_TYPE* pmt) {
    WAVEFORMATEX wfx = {};
    if (pmt->pbFormat) std::memcpy(&wfx, pmt->pbFormat, pmt->cbFormat < 16 ? pmt->cbFormat : 16);
    wfx.nBlockAlign = static_cast<WORD>((wfx.wBitsPerSample / 8) * wfx.nChannels);
    wfx.nAvgBytesPerSec = static_cast<DWORD>(wfx.nBlockAlign) * wfx.nSamplesPerSec;
    wfx.cbSize = 0;
    format_ = wfx;
    formatSet_ = true;
    CTransInPlaceFilter::SetMediaType(direction, pmt);
    fx_.SetStreamFormat(&format_);
    fx_.Notify(static_cast<WORD>(direction));
    return S_OK;
}

HRESULT CTwBrioFx::StartStreaming() {
    draining_ = false;
    processed_ = false;
    resumeWithReset_ = false;
    return fx_.StartStreaming(formatSet_ ? &format_ : nullptr);
}

HRESULT CTwBrioFx::StopStreaming() {
    fx_.StopStreaming();
    return S_OK;
}

HRESULT CTwBrioFx::Receive(IMediaSample* sample) {
    const HRESULT hr = Transform(sample);
    if (FAILED(hr)) return hr;
    if (hr == S_FALSE) return S_OK;
    return output_ ? output_->Deliver(sample) : VFW_E_NOT_CONNECTED;
}

// ---- The pipeline ------------------------------------------------------------------------------

ULONG CTwBrioFx::NextSubBlock(ULONG remaining) {
    const LONG ask = remaining > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<LONG>(remaining);
    TempoInfo info = {};
    const LONG frames = fx_.TempoQuery(ask, kTempoQueryAll, &info);
    if (info.flags & kTempoInfoTempoChanged) fx_.FoldTempo(info.tempo);
    if (info.flags & kTempoInfoTimeSigChanged) fx_.SetTimeSignature(info.numerator, info.denominator);
    // A host that answers nothing usable gets the rest as one sub-block.
    if (frames <= 0 || static_cast<ULONG>(frames) > remaining) return remaining;
    return static_cast<ULONG>(frames);
}

HRESULT CTwBrioFx::ProcessFrames(int mode, BYTE* data, ULONG* frames, BOOL silent) {
    const WORD bits = format_.wBitsPerSample;
    if (format_.wFormatTag == WAVE_FORMAT_PCM && (bits == 8 || bits == 16 || bits == 32)) {
        return fx_.ProcessPcm(mode, data, frames, silent);
    }
    if (format_.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && bits == 32) {
        return fx_.ProcessChain(mode, reinterpret_cast<float*>(data), frames, silent);
    }
    if (format_.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && bits == 64) {
        return fx_.ProcessChain(mode, reinterpret_cast<double*>(data), frames, silent);
    }
    return S_OK;  // no such stream gets connected; the buffer stays as it is
}

HRESULT CTwBrioFx::Transform(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    const ULONG align = format_.nBlockAlign;
    if (align == 0) return E_UNEXPECTED;
    LONG length = sample->GetActualDataLength();
    const BOOL silent = HostSaysSilent(sample) ? TRUE : FALSE;

    // A silent sample after every tail has died away passes untouched, its data never fetched.
    const bool skip = silent && fx_.AllTailsFinished();
    BYTE* data = nullptr;
    if (!skip && (FAILED(sample->GetPointer(&data)) || !data)) return E_POINTER;
    processed_ = true;

    int mode;
    if (draining_) {
        length = sample->GetSize();
        mode = kChainDrain;
        if (!silent && data && length > 0) {
            const bool unsigned8 = format_.wFormatTag == WAVE_FORMAT_PCM && format_.wBitsPerSample == 8;
            std::memset(data, unsigned8 ? 0x80 : 0, static_cast<size_t>(length));
        }
    } else {
        mode = sample->IsDiscontinuity() == S_OK ? kChainFirst : kChainNormal;
    }
    const ULONG total = length > 0 ? static_cast<ULONG>(length) / align : 0;
    const bool floatDrain = draining_ && format_.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;

    ULONG done = 0;
    ULONG queried = 0;
    HRESULT r = S_OK;
    for (;;) {
        const ULONG chunk = NextSubBlock(total - done);
        queried += chunk;
        if (skip) {
            // Nothing sounds, so nothing stays to be reset but the blocks' positions: the next
            // processed sample restarts the chain. A drain buffer skipped this way ends the drain.
            if (!draining_) resumeWithReset_ = true;
            r = draining_ ? S_FALSE : S_OK;
            break;
        }
        if (resumeWithReset_ && !draining_) {
            resumeWithReset_ = false;
            mode = kChainFirst;
        }
        BYTE* at = data + static_cast<size_t>(done) * align;
        ULONG out = chunk;
        r = ProcessFrames(mode, at, &out, silent);
        if (floatDrain && SUCCEEDED(r) && out < chunk) {
            // In place, a block's last drain call may have run some channels past the count it
            // reports; the frames after the tail carry silence in every format.
            std::memset(at + static_cast<size_t>(out) * align, 0,
                        static_cast<size_t>(chunk - out) * align);
        }
        done += out;
        if (mode == kChainFirst) mode = kChainNormal;
        if (r != S_OK || done >= total || out == 0) break;
    }
    // The host timeline moves on by the whole buffer, also when the chain stopped early.
    if (!draining_ && SUCCEEDED(r) && queried < total) fx_.AdvancePosition(static_cast<LONG>(total - queried));

    sample->SetActualDataLength(static_cast<LONG>(total * align));
    if (!draining_ && r == S_FALSE) return S_OK;
    return r;
}

HRESULT CTwBrioFx::EndOfStream() {
    if (!output_ || !output_->IsConnected() || !processed_) {
        // Nothing was transformed: no tail to play, but downstream still hears of the end.
        processed_ = false;
        if (output_ && output_->IsConnected()) output_->DeliverEndOfStream();
        return S_OK;
    }
    draining_ = true;
    HRESULT failure = S_OK;
    for (;;) {
        IMediaSample* sample = nullptr;
        HRESULT hr = output_->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
        if (FAILED(hr)) {
            // Stopping or flushing: the stream does not end here.
            draining_ = false;
            processed_ = false;
            return hr;
        }
        if (sample->GetSize() < static_cast<LONG>(format_.nBlockAlign)) {
            sample->Release();  // no frame fits: there is no tail to carry
            break;
        }
        sample->SetActualDataLength(0);
        const HRESULT transformed = Transform(sample);
        if (FAILED(transformed)) {
            sample->Release();
            failure = transformed;
            break;
        }
        hr = output_->Deliver(sample);
        sample->Release();
        if (FAILED(hr)) {
            failure = hr;
            break;
        }
        if (transformed == S_FALSE) break;
    }
    draining_ = false;
    processed_ = false;
    const HRESULT eos = output_->DeliverEndOfStream();
    return FAILED(failure) ? failure : eos;
}

// ---- Float entry -------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CTwBrioFx::StartFloat(UINT channels, UINT sampleRate) {
    if (channels < 1 || channels > 2 || sampleRate == 0) return E_INVALIDARG;
    WAVEFORMATEX wfx = {};
    wfx.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    wfx.nChannels = static_cast<WORD>(channels);
    wfx.nSamplesPerSec = sampleRate;
    wfx.wBitsPerSample = 32;
    wfx.nBlockAlign = static_cast<WORD>(4 * channels);
    wfx.nAvgBytesPerSec = wfx.nBlockAlign * sampleRate;
    wfx.cbSize = 0;
    format_ = wfx;
    formatSet_ = true;
    return StartStreaming();
}

HRESULT STDMETHODCALLTYPE CTwBrioFx::ProcessFloat(float* buffer, UINT frames, BOOL silent) {
    if (!buffer && frames) return E_POINTER;
    processed_ = true;
    const size_t channels = format_.nChannels;
    ULONG done = 0;
    HRESULT r = S_OK;
    do {
        ULONG chunk = NextSubBlock(frames - done);
        r = fx_.ProcessChain(kChainNormal, buffer + done * channels, &chunk, silent);
        done += chunk;
        if (chunk == 0) break;
    } while (r == S_OK && done < frames);
    if (r == S_FALSE && done < frames) fx_.AdvancePosition(static_cast<LONG>(frames - done));
    return r;
}

HRESULT STDMETHODCALLTYPE CTwBrioFx::DrainFloat(float* buffer, UINT* frames) {
    if (!frames) return E_POINTER;
    if (!processed_) {
        *frames = 0;
        return S_FALSE;
    }
    if (!buffer && *frames) return E_POINTER;
    const ULONG in = *frames;
    ULONG out = in;
    const HRESULT r = fx_.ProcessChain(kChainDrain, buffer, &out, FALSE);
    if (SUCCEEDED(r) && out < in) {
        const size_t channels = format_.nChannels;
        std::memset(buffer + out * channels, 0, (in - out) * channels * sizeof(float));
    }
    *frames = out;
    return r;
}

HRESULT STDMETHODCALLTYPE CTwBrioFx::StopFloat() { return StopStreaming(); }

HRESULT STDMETHODCALLTYPE CTwBrioFx::ChangesPending() {
    return fx_.HasPendingChanges() ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CTwBrioFx::UpdateParams(BOOL force, double tempo) {
    fx_.FoldTempo(tempo);
    return fx_.ApplyPending(force);
}
