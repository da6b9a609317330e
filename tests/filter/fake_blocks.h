// Recording stand-ins for the five effect blocks, created through the controller's factory seam.
// Each remembers what the controller sent it; the delay and reverb fakes can play a tail that
// follows the blocks' tail protocol (counted down while the drain or silent bit is set).
#pragma once

#include "effects/audio_blocks.h"
#include "filter/transform.h"

#include <string>
#include <vector>

namespace fake {

// What the next blocks made by the fake factories are like. [test thread]
struct Config {
    HRESULT setFormatResult[5] = {S_OK, S_OK, S_OK, S_OK, S_OK};  // dist, lfo, eq, delay, reverb
    LONG tailFrames[5] = {0, 0, 0, 0, 0};                          // 0: no tail
    HRESULT createResult[5] = {S_OK, S_OK, S_OK, S_OK, S_OK};
};

enum Kind { kDist = 0, kLfo = 1, kEq = 2, kDelay = 3, kReverb = 4 };

inline const char* const kNames[5] = {"dist", "lfo", "eq", "delay", "reverb"};

struct Log {
    std::vector<std::string> events;  // "create dist", "process eq 2", "release reverb", ...
    bool recordEvents = true;
};

Config& config();
Log& log();

struct Counters {
    int setFormat = 0;
    int resets = 0;  // SetFormat calls with the reset flag
    int setMix = 0;
    int processed = 0;
    DWORD lastFlags = 0;
    BOOL lastReset = FALSE;
    const WAVEFORMATEX* lastFormat = nullptr;
};

template <class Iface>
class Block : public Iface {
public:
    using Params = typename Iface::Params;

    Block(Kind kind) : kind_(kind), tailFull_(config().tailFrames[kind]), tailLeft_(tailFull_) {}
    virtual ~Block() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOTIMPL;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) {
            Note(std::string("release ") + kNames[kind_]);
            Forget();
            delete this;
        }
        return left;
    }
    ULONG STDMETHODCALLTYPE GetVersion() override { return kTwAudioBlockVersion; }
    HRESULT STDMETHODCALLTYPE SetFormat(const WAVEFORMATEX* format, const Params* params, BOOL reset) override {
        ++counters.setFormat;
        if (reset) ++counters.resets;
        counters.lastReset = reset;
        counters.lastFormat = format;
        if (params) last = live = *params;
        Note(std::string("setformat ") + kNames[kind_] + (reset ? " reset" : ""));
        tailLeft_ = tailFull_;
        draining_ = false;
        return config().setFormatResult[kind_];
    }
    HRESULT STDMETHODCALLTYPE GetFormat(WAVEFORMATEX*, ULONG, Params* params, ULONG) override {
        if (params) *params = last;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ProcessPcm1(void*, ULONG, ULONG*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessPcm2(void*, ULONG, ULONG*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessFloat(float*, ULONG frames, ULONG* out, DWORD flags) override {
        return Process(frames, out, flags);
    }
    HRESULT STDMETHODCALLTYPE ProcessPcm3(void*, ULONG, ULONG*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessDouble(double*, ULONG frames, ULONG* out, DWORD flags) override {
        ++doubleCalls;
        return Process(frames, out, flags);
    }

    Params last{};
    Params lastMix{};
    Params live{};  // the last record of SetFormat with the gains of a later SetMix
    Counters counters;
    int doubleCalls = 0;

protected:
    void Note(const std::string& event) {
        if (log().recordEvents) log().events.push_back(event);
    }

private:
    HRESULT Process(ULONG frames, ULONG* out, DWORD flags) {
        ++counters.processed;
        counters.lastFlags = flags;
        Note(std::string("process ") + kNames[kind_] + " " + std::to_string(flags));
        *out = frames;
        if (tailFull_ == 0) return S_OK;
        if (flags & (kProcessDrain | kProcessSilent)) {
            draining_ = true;
            if (tailLeft_ <= 0) {
                *out = 0;
                return S_FALSE;
            }
            if (static_cast<LONG>(frames) > tailLeft_) *out = static_cast<ULONG>(tailLeft_);
            tailLeft_ -= static_cast<LONG>(*out);
            return tailLeft_ <= 0 ? S_FALSE : S_OK;
        }
        if (draining_) {
            tailLeft_ = tailFull_;
            draining_ = false;
        }
        return S_OK;
    }
    void Forget();

    Kind kind_;
    ULONG refs_ = 1;
    LONG tailFull_;
    LONG tailLeft_;
    bool draining_ = false;
};

template <class Iface>
class MixBlock : public Block<Iface> {
public:
    using Params = typename Iface::Params;
    explicit MixBlock(Kind kind) : Block<Iface>(kind) {}
    HRESULT STDMETHODCALLTYPE SetMix(const Params* params) override {
        ++this->counters.setMix;
        this->lastMix = *params;
        this->live.dryGain = params->dryGain;
        this->live.wetGain = params->wetGain;
        this->Note(std::string("setmix"));
        return S_OK;
    }
};

using Distortion = Block<ITwAudioDistortion>;
using Lfo = Block<ITwAudioFlange>;
using Eq = Block<ITwAudioSimpleEQ>;
using Delay = MixBlock<ITwAudioDelay>;
using Reverb = MixBlock<ITwAudioReverb>;

// The blocks the fake factories made last; null once released.
struct Made {
    Distortion* dist = nullptr;
    Lfo* lfo = nullptr;
    Eq* eq = nullptr;
    Delay* delay = nullptr;
    Reverb* reverb = nullptr;
};
Made& made();

// Factories for CTwBrioFxTransform::SetBlockFactories.
extern const BlockFactories kFactories;

// Clears the log, the configuration and the record of made blocks.
void Reset();

template <class Iface>
void Block<Iface>::Forget() {
    Made& m = made();
    if (static_cast<void*>(m.dist) == this) m.dist = nullptr;
    if (static_cast<void*>(m.lfo) == this) m.lfo = nullptr;
    if (static_cast<void*>(m.eq) == this) m.eq = nullptr;
    if (static_cast<void*>(m.delay) == this) m.delay = nullptr;
    if (static_cast<void*>(m.reverb) == this) m.reverb = nullptr;
}

}  // namespace fake
