#include "tests/filter/fake_blocks.h"

#include <new>

namespace fake {

Config& config() {
    static Config c;
    return c;
}

Log& log() {
    static Log l;
    return l;
}

Made& made() {
    static Made m;
    return m;
}

namespace {

template <class T, class Iface>
HRESULT Make(Kind kind, T*& slot, Iface** out) {
    *out = nullptr;
    if (FAILED(config().createResult[kind])) return config().createResult[kind];
    T* block = new (std::nothrow) T(kind);
    if (!block) return E_OUTOFMEMORY;
    if (log().recordEvents) log().events.push_back(std::string("create ") + kNames[kind]);
    slot = block;
    *out = block;
    return S_OK;
}

HRESULT MakeDist(ITwAudioDistortion** out) { return Make(kDist, made().dist, out); }
HRESULT MakeLfo(ITwAudioFlange** out) { return Make(kLfo, made().lfo, out); }
HRESULT MakeEq(ITwAudioSimpleEQ** out) { return Make(kEq, made().eq, out); }
HRESULT MakeDelay(ITwAudioDelay** out) { return Make(kDelay, made().delay, out); }
HRESULT MakeReverb(ITwAudioReverb** out) { return Make(kReverb, made().reverb, out); }

}  // namespace

const BlockFactories kFactories = {MakeDist, MakeLfo, MakeEq, MakeDelay, MakeReverb};

void Reset() {
    config() = Config{};
    log().events.clear();
    log().recordEvents = true;
}

}  // namespace fake
