// Placeholder pass-through block until the real one lands: no tail.
#include "effects/block_base.h"

namespace {
class CTwAudioDelay : public tw::CTwAudioBlock<CTwAudioDelay, ITwAudioDelay> {
public:
    static void ClampParams(DelayParams&) {}
    HRESULT Design(const DelayParams&, bool) { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetMix(const DelayParams*) override { return S_OK; }
    template <class T>
    HRESULT Process(T*, ULONG frames, ULONG* outFrames, DWORD flags) {
        if (flags & (kProcessDrain | kProcessSilent)) return S_FALSE;
        *outFrames = frames;
        return S_OK;
    }
};
}  // namespace

HRESULT CreateAudioDelay(ITwAudioDelay** out) { return CTwAudioDelay::Create(out); }
