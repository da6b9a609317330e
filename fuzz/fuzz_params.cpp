// Arbitrary bytes as a persisted stream, as a whole parameter record and as a run of single-field
// settings: whatever arrives, the record the controller keeps must lie in range, and the blocks
// must accept it.
//
// Input: byte 0 holds options (bit 0: put a valid header before the stream so the record itself is
// explored; bit 1: run the chain on the result); the rest is the payload.
#include "filter/persist.h"
#include "filter/transform.h"
#include "platform/com_stream.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

class NoOuter : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

[[noreturn]] void Fail(const char* what, int value) {
    std::fprintf(stderr, "out of range: %s = %d\n", what, value);
    std::abort();
}

void Check(const char* what, int32_t value, int32_t lo, int32_t hi) {
    if (value < lo || value > hi) Fail(what, value);
}

// The ranges of the record, written out on their own rather than taken from the controller.
void CheckRecord(const FxParams& p) {
    Check("delayClock", p.delayClock, 0, 1);
    Check("delayNote", p.delayNote, 0, 8);
    Check("delayTime", p.delayTime, 0, 22500);
    Check("delayDecay", p.delayDecay, 0, 900);
    Check("delayMix", p.delayMix, 0, 1000);
    Check("delayOn", p.delayOn, 0, 1);
    Check("reverbType", p.reverbType, 0, 3);
    Check("reverbMix", p.reverbMix, 0, 1000);
    Check("reverbOn", p.reverbOn, 0, 1);
    Check("lfoType", p.lfoType, 0, 3);
    Check("lfoClock", p.lfoClock, 0, 1);
    Check("lfoPeriod", p.lfoPeriod, 0, 4);
    Check("lfoRate", p.lfoRate, 1, 11000);
    Check("lfoDepth", p.lfoDepth, 1, 100);
    Check("lfoOn", p.lfoOn, 0, 1);
    Check("distSlew", p.distSlew, 0, 100);
    Check("distHardClip", p.distHardClip, 0, 1);
    Check("distOn", p.distOn, 0, 1);
    Check("eqMid", p.eqMid, -250, 250);
    Check("eqBass", p.eqBass, -250, 250);
    Check("eqTreble", p.eqTreble, -250, 250);
    Check("eqOn", p.eqOn, 0, 1);
    if (!(p.tempo >= 40.0 && p.tempo <= 300.0)) Fail("tempo", static_cast<int>(p.tempo));
}

void CheckLive(CTwBrioFxTransform& fx) {
    FxParams p;
    fx.GetParams(&p);
    CheckRecord(p);
}

using Setter = HRESULT (CTwBrioFxTransform::*)(int);

const Setter kSetters[] = {
    &CTwBrioFxTransform::SetDelayClock, &CTwBrioFxTransform::SetDelayNote,  &CTwBrioFxTransform::SetDelayTime,
    &CTwBrioFxTransform::SetDelayDecay, &CTwBrioFxTransform::SetDelayMix,   &CTwBrioFxTransform::SetDelayOn,
    &CTwBrioFxTransform::SetLfoType,    &CTwBrioFxTransform::SetLfoClock,   &CTwBrioFxTransform::SetLfoPeriod,
    &CTwBrioFxTransform::SetLfoRate,    &CTwBrioFxTransform::SetLfoDepth,   &CTwBrioFxTransform::SetLfoOn,
    &CTwBrioFxTransform::SetReverbType, &CTwBrioFxTransform::SetReverbMix,  &CTwBrioFxTransform::SetReverbOn,
    &CTwBrioFxTransform::SetDistSlew,   &CTwBrioFxTransform::SetDistHardClip, &CTwBrioFxTransform::SetDistOn,
    &CTwBrioFxTransform::SetEqMid,      &CTwBrioFxTransform::SetEqBass,     &CTwBrioFxTransform::SetEqTreble,
    &CTwBrioFxTransform::SetEqOn,
};

std::vector<unsigned char> ValidHeader() {
    // Saving any record gives the header the loader accepts.
    NoOuter outer;
    CTwBrioFxTransform fx(&outer);
    IStream* stream = nullptr;
    std::vector<unsigned char> header(kPersistHeaderSize);
    if (tw::CreateMemoryStream(&stream) != S_OK) std::abort();
    PersistSave(fx, stream, FALSE);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG got = 0;
    stream->Read(header.data(), kPersistHeaderSize, &got);
    stream->Release();
    return header;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const std::vector<unsigned char> header = ValidHeader();
    const uint8_t options = data[0];
    const uint8_t* payload = data + 1;
    const size_t payloadSize = size - 1;

    NoOuter outer;
    CTwBrioFxTransform fx(&outer);
    FxParams before;
    fx.GetParams(&before);

    // 1. The bytes as a stored stream.
    IStream* stream = nullptr;
    if (tw::CreateMemoryStream(&stream) != S_OK) return 0;
    ULONG written = 0;
    if (options & 1) stream->Write(header.data(), static_cast<ULONG>(header.size()), &written);
    if (payloadSize) stream->Write(payload, static_cast<ULONG>(payloadSize), &written);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    const HRESULT loaded = PersistLoad(fx, stream);
    stream->Release();
    FxParams after;
    fx.GetParams(&after);
    CheckRecord(after);
    if (FAILED(loaded) && std::memcmp(&before, &after, sizeof before) != 0) Fail("failed load changed the record", loaded);

    // 2. The bytes as a whole record.
    if (payloadSize >= sizeof(FxParams)) {
        FxParams record;
        std::memcpy(&record, payload, sizeof record);
        fx.SetParams(&record);
        CheckLive(fx);
        // Saved and loaded again, a clamped record comes back unchanged.
        FxParams saved;
        fx.GetParams(&saved);
        NoOuter outer2;
        CTwBrioFxTransform copy(&outer2);
        if (tw::CreateMemoryStream(&stream) == S_OK) {
            if (PersistSave(fx, stream, TRUE) != S_OK) Fail("save", 0);
            stream->Seek(zero, STREAM_SEEK_SET, nullptr);
            if (PersistLoad(copy, stream) != S_OK) Fail("reload", 0);
            stream->Release();
            FxParams reloaded;
            copy.GetParams(&reloaded);
            if (std::memcmp(&saved, &reloaded, sizeof saved) != 0) Fail("round trip", 0);
        }
    }

    // 3. The rest as single settings: a selector byte and an int32 each.
    for (size_t at = payloadSize >= sizeof(FxParams) ? sizeof(FxParams) : 0; at + 5 <= payloadSize; at += 5) {
        int32_t value;
        std::memcpy(&value, payload + at + 1, sizeof value);
        (fx.*kSetters[payload[at] % (sizeof kSetters / sizeof kSetters[0])])(value);
        CheckLive(fx);
    }

    // 4. The blocks accept whatever the record became.
    if (options & 2) {
        WAVEFORMATEX format{};
        format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
        format.nChannels = static_cast<WORD>(1 + ((options >> 2) & 1));
        format.nSamplesPerSec = 8000;
        format.wBitsPerSample = 32;
        format.nBlockAlign = static_cast<WORD>(4 * format.nChannels);
        format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
        if (fx.StartStreaming(&format) != S_OK) Fail("start", 0);
        fx.FoldTempo(40.0 + (options >> 3) * 8.7);  // a host tempo for the Tempo clocks
        float buffer[2 * 64] = {};
        buffer[0] = 1.0f;
        ULONG n = 64;
        if (FAILED(fx.ProcessChain(kChainFirst, buffer, &n, FALSE))) Fail("first", 0);
        for (float v : buffer)
            if (!std::isfinite(v)) Fail("sample", 0);
        n = 64;
        if (FAILED(fx.ProcessChain(kChainDrain, buffer, &n, FALSE))) Fail("drain", 0);
        fx.StopStreaming();
    }
    return 0;
}
