// Placeholder pass-through block until the real one lands.
#include "effects/block_base.h"

namespace {
class CTwAudioSimpleEQ : public tw::CTwAudioBlock<CTwAudioSimpleEQ, ITwAudioSimpleEQ> {
public:
    static void ClampParams(SimpleEqParams&) {}
    HRESULT Design(const SimpleEqParams&, bool) { return S_OK; }
    template <class T>
    HRESULT Process(T*, ULONG frames, ULONG* outFrames, DWORD) {
        *outFrames = frames;
        return S_OK;
    }
};
}  // namespace

HRESULT CreateAudioSimpleEQ(ITwAudioSimpleEQ** out) { return CTwAudioSimpleEQ::Create(out); }
