// Placeholder pass-through block until the real one lands.
#include "effects/block_base.h"

namespace {
class CTwAudioFlange : public tw::CTwAudioBlock<CTwAudioFlange, ITwAudioFlange> {
public:
    static void ClampParams(FlangeParams&) {}
    HRESULT Design(const FlangeParams&, bool) { return S_OK; }
    template <class T>
    HRESULT Process(T*, ULONG frames, ULONG* outFrames, DWORD) {
        *outFrames = frames;
        return S_OK;
    }
};
}  // namespace

HRESULT CreateAudioFlange(ITwAudioFlange** out) { return CTwAudioFlange::Create(out); }
