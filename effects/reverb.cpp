// Placeholder pass-through block until the real one lands: no tail.
#include "effects/block_base.h"

namespace {
class CTwAudioReverb : public tw::CTwAudioBlock<CTwAudioReverb, ITwAudioReverb> {
public:
    static void ClampParams(ReverbParams&) {}
    HRESULT Design(const ReverbParams&, bool) { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetMix(const ReverbParams*) override { return S_OK; }
    template <class T>
    HRESULT Process(T*, ULONG frames, ULONG* outFrames, DWORD flags) {
        if (flags & (kProcessDrain | kProcessSilent)) return S_FALSE;
        *outFrames = frames;
        return S_OK;
    }
};
}  // namespace

HRESULT CreateAudioReverb(ITwAudioReverb** out) { return CTwAudioReverb::Create(out); }
