// The one implementation of the effect-block contract that every block reuses: reference count,
// valid flag, stored format and record, format validation, the integer-PCM entries with their
// scratch buffer, GetVersion, GetFormat and QueryInterface.
//
// A block derives from CTwAudioBlock<Block, Interface> and supplies, all public:
//   static void ClampParams(Params& p);                  // field by field, never rejects
//   HRESULT Design(const Params& clamped, bool reset);   // may allocate; stored record still the old one
//                                                        // (the copy is stored afterwards, also on failure)
//   template <class T> HRESULT Process(T* buffer, ULONG frames, ULONG* outFrames, DWORD flags);
//                                                        // T is float or double; valid, non-null buffer
// and frees its own lines in its destructor. Delay and reverb add SetMix themselves.
#pragma once

#include "effects/audio_blocks.h"
#include "effects/sample_convert.h"

#include <cmath>
#include <cstring>
#include <new>

namespace tw {

// Rates and channel counts every block accepts.
inline constexpr DWORD kMinBlockRate = 2000;
inline constexpr DWORD kMaxBlockRate = 192000;
inline constexpr WORD kMaxBlockChannels = 16;
inline constexpr ULONG kScratchFrames = 4096;

// Flushes a recursive state to exactly zero below a block's named threshold.
inline double FlushTiny(double v, double threshold) { return std::fabs(v) < threshold ? 0.0 : v; }

// True when `given` must be (re)validated against the stored format: a byte difference over the
// first 16 bytes for PCM and IEEE float, and always for any other tag (which is then refused).
bool BlockFormatDiffers(const WAVEFORMATEX& given, const WAVEFORMATEX& stored);

// Builds the normalised copy of `given` and checks it: S_OK, or E_INVALIDARG when the given
// derived fields disagree with the copy or the format lies outside the accepted set.
HRESULT NormaliseBlockFormat(const WAVEFORMATEX& given, WAVEFORMATEX* normalised);

// Conversion buffer of the integer entries: `capacity` frames of the working type.
class PcmScratch {
public:
    PcmScratch() = default;
    ~PcmScratch() { ZeroFree(data_); }
    PcmScratch(const PcmScratch&) = delete;
    PcmScratch& operator=(const PcmScratch&) = delete;

    // New format: converters of its PCM type and a fresh buffer of 4096 frames (none for float).
    HRESULT Reset(const WAVEFORMATEX& format);
    // Grows the buffer to `frames` when it holds fewer.
    HRESULT Reserve(ULONG frames);

    void* data() const { return data_; }
    const PcmConverters& converters() const { return conv_; }
    bool hasConverters() const { return conv_.toWorking != nullptr; }

private:
    void* data_ = nullptr;
    ULONG capacity_ = 0;
    WORD channels_ = 0;
    PcmConverters conv_{};
};

template <class Derived, class Iface>
class CTwAudioBlock : public Iface {
public:
    using Params = typename Iface::Params;

    // [any thread] The factory: a zero-filled block with a count of 1, not valid.
    static HRESULT Create(Iface** out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        void* memory = ZeroAlloc(sizeof(Derived));
        if (!memory) return E_OUTOFMEMORY;
        *out = new (memory) Derived();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOTIMPL;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left > 0) return static_cast<ULONG>(left);
        Derived* self = static_cast<Derived*>(this);
        self->~Derived();
        ZeroFree(self);
        return 0;
    }
    ULONG STDMETHODCALLTYPE GetVersion() override { return kTwAudioBlockVersion; }

    // [streaming thread, or streaming start/stop]
    HRESULT STDMETHODCALLTYPE SetFormat(const WAVEFORMATEX* format, const Params* params, BOOL reset) override {
        bool doReset = reset || !valid_;
        valid_ = FALSE;
        if (format && BlockFormatDiffers(*format, format_)) {
            WAVEFORMATEX normalised;
            HRESULT hr = NormaliseBlockFormat(*format, &normalised);
            if (FAILED(hr)) return hr;
            format_ = normalised;
            hr = scratch_.Reset(format_);
            if (FAILED(hr)) return hr;
            doReset = true;
        }
        if (format_.wFormatTag == 0) return E_INVALIDARG;  // nothing to configure against
        Params record = params ? *params : params_;
        if (record.cbSize != static_cast<int32_t>(sizeof(Params))) return E_INVALIDARG;
        Derived::ClampParams(record);
        const HRESULT hr = static_cast<Derived*>(this)->Design(record, doReset);
        params_ = record;  // the clamped copy is kept even when the design fails; the block stays not valid
        if (FAILED(hr)) return hr;
        valid_ = TRUE;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetFormat(WAVEFORMATEX* format, ULONG formatSize, Params* params,
                                        ULONG paramsSize) override {
        if (format) std::memcpy(format, &format_, formatSize < sizeof(format_) ? formatSize : sizeof(format_));
        if (params) std::memcpy(params, &params_, paramsSize < sizeof(params_) ? paramsSize : sizeof(params_));
        return S_OK;
    }

    // [streaming thread]
    HRESULT STDMETHODCALLTYPE ProcessPcm1(void* buffer, ULONG frames, ULONG* outFrames, DWORD flags) override {
        return ProcessPcm(buffer, frames, outFrames, flags);
    }
    HRESULT STDMETHODCALLTYPE ProcessPcm2(void* buffer, ULONG frames, ULONG* outFrames, DWORD flags) override {
        return ProcessPcm(buffer, frames, outFrames, flags);
    }
    HRESULT STDMETHODCALLTYPE ProcessFloat(float* buffer, ULONG frames, ULONG* outFrames, DWORD flags) override {
        return ProcessWorking(buffer, frames, outFrames, flags);
    }
    HRESULT STDMETHODCALLTYPE ProcessPcm3(void* buffer, ULONG frames, ULONG* outFrames, DWORD flags) override {
        return ProcessPcm(buffer, frames, outFrames, flags);
    }
    HRESULT STDMETHODCALLTYPE ProcessDouble(double* buffer, ULONG frames, ULONG* outFrames, DWORD flags) override {
        return ProcessWorking(buffer, frames, outFrames, flags);
    }

    const WAVEFORMATEX& format() const { return format_; }
    const Params& params() const { return params_; }
    bool valid() const { return valid_ != 0; }
    WORD channels() const { return format_.nChannels; }
    DWORD sampleRate() const { return format_.nSamplesPerSec; }

protected:
    CTwAudioBlock() = default;
    ~CTwAudioBlock() = default;

private:
    template <class T>
    HRESULT ProcessWorking(T* buffer, ULONG frames, ULONG* outFrames, DWORD flags) {
        if (!outFrames) return E_POINTER;
        *outFrames = 0;
        if (!valid_) return E_FAIL;
        if (!buffer && frames) return E_POINTER;
        return static_cast<Derived*>(this)->Process(buffer, frames, outFrames, flags);
    }

    // The integer entries convert through the scratch buffer at unity gain; with a stored float
    // format the buffer already holds working samples and goes straight to the matching entry.
    HRESULT ProcessPcm(void* buffer, ULONG frames, ULONG* outFrames, DWORD flags) {
        if (!outFrames) return E_POINTER;
        *outFrames = 0;
        if (!valid_) return E_FAIL;
        if (!buffer && frames) return E_POINTER;
        if (format_.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) return ProcessStoredFloat(buffer, frames, outFrames, flags);
        HRESULT hr = scratch_.Reserve(frames);
        if (FAILED(hr)) return hr;
        const PcmConverters& conv = scratch_.converters();
        const size_t samples = static_cast<size_t>(frames) * format_.nChannels;
        conv.toWorking(buffer, scratch_.data(), samples, 1.0f);
        ULONG done = 0;
        if (conv.workingBytes == sizeof(double))
            hr = ProcessWorking(static_cast<double*>(scratch_.data()), frames, &done, flags);
        else
            hr = ProcessWorking(static_cast<float*>(scratch_.data()), frames, &done, flags);
        if (FAILED(hr)) return hr;
        conv.fromWorking(scratch_.data(), buffer, static_cast<size_t>(done) * format_.nChannels, 1.0f);
        *outFrames = done;
        return hr;
    }

    // Kept out of line: callers hold integer buffers, and the compiler cannot know the type here.
    [[gnu::noinline]] HRESULT ProcessStoredFloat(void* buffer, ULONG frames, ULONG* outFrames, DWORD flags) {
        if (format_.wBitsPerSample == 64)
            return ProcessWorking(static_cast<double*>(buffer), frames, outFrames, flags);
        return ProcessWorking(static_cast<float*>(buffer), frames, outFrames, flags);
    }

    volatile LONG refs_ = 1;
    BOOL valid_ = FALSE;
    WAVEFORMATEX format_{};
    Params params_{};
    PcmScratch scratch_;
};

}  // namespace tw
