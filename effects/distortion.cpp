// Placeholder pass-through block until the real one lands.
#include "effects/block_base.h"

namespace {
class CTwAudioDistortion : public tw::CTwAudioBlock<CTwAudioDistortion, ITwAudioDistortion> {
public:
    static void ClampParams(DistortionParams&) {}
    HRESULT Design(const DistortionParams&, bool) { return S_OK; }
    template <class T>
    HRESULT Process(T*, ULONG frames, ULONG* outFrames, DWORD) {
        *outFrames = frames;
        return S_OK;
    }
};
}  // namespace

HRESULT CreateAudioDistortion(ITwAudioDistortion** out) { return CTwAudioDistortion::Create(out); }
