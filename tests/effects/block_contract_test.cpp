// The common block contract, exercised through small blocks defined here.
#include "effects/block_base.h"

#include "tests/support/wave_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

WAVEFORMATEX MakeFormat(WORD tag, WORD channels, DWORD rate, WORD bits) {
    return testing_support::MakeWaveFormat(tag, channels, rate, bits);
}

// Halves every sample by its `drive` field (drive 500 -> x * 0.5) and counts designs and resets.
class TestBlock : public tw::CTwAudioBlock<TestBlock, ITwAudioDistortion> {
public:
    static void ClampParams(DistortionParams& p) {
        if (p.drive < 0) p.drive = 0;
        if (p.drive > 1000) p.drive = 1000;
    }
    HRESULT Design(const DistortionParams& p, bool reset) {
        ++designs;
        if (reset) ++resets;
        gain = p.drive / 1000.0;
        return S_OK;
    }
    template <class T>
    HRESULT Process(T* buffer, ULONG frames, ULONG* outFrames, DWORD) {
        for (size_t i = 0; i < size_t(frames) * channels(); ++i) buffer[i] = static_cast<T>(buffer[i] * gain);
        *outFrames = frames;
        return S_OK;
    }
    int designs = 0;
    int resets = 0;
    double gain = 0;
};

// A twelve-slot block with SetMix in slot 5, as the delay and the reverb have.
class TestMixBlock : public tw::CTwAudioBlock<TestMixBlock, ITwAudioDelay> {
public:
    static void ClampParams(DelayParams&) {}
    HRESULT Design(const DelayParams&, bool) { return S_OK; }
    template <class T>
    HRESULT Process(T*, ULONG frames, ULONG* outFrames, DWORD) {
        *outFrames = frames;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMix(const DelayParams* p) override {
        mixCalls++;
        return p ? S_OK : E_POINTER;
    }
    int mixCalls = 0;
};

DistortionParams Record(int drive) {
    DistortionParams p{};
    p.cbSize = sizeof(p);
    p.drive = drive;
    return p;
}

// The function table as a caller in another language sees it: plain pointers taking `this`.
struct BlockVtbl11 {
    HRESULT (*QueryInterface)(void*, const IID*, void**);
    ULONG (*AddRef)(void*);
    ULONG (*Release)(void*);
    ULONG (*GetVersion)(void*);
    HRESULT (*SetFormat)(void*, const WAVEFORMATEX*, const void*, BOOL);
    HRESULT (*GetFormat)(void*, WAVEFORMATEX*, ULONG, void*, ULONG);
    HRESULT (*ProcessPcm1)(void*, void*, ULONG, ULONG*, DWORD);
    HRESULT (*ProcessPcm2)(void*, void*, ULONG, ULONG*, DWORD);
    HRESULT (*ProcessFloat)(void*, float*, ULONG, ULONG*, DWORD);
    HRESULT (*ProcessPcm3)(void*, void*, ULONG, ULONG*, DWORD);
    HRESULT (*ProcessDouble)(void*, double*, ULONG, ULONG*, DWORD);
};
struct BlockVtbl12 {
    HRESULT (*QueryInterface)(void*, const IID*, void**);
    ULONG (*AddRef)(void*);
    ULONG (*Release)(void*);
    ULONG (*GetVersion)(void*);
    HRESULT (*SetFormat)(void*, const WAVEFORMATEX*, const void*, BOOL);
    HRESULT (*SetMix)(void*, const void*);
    HRESULT (*GetFormat)(void*, WAVEFORMATEX*, ULONG, void*, ULONG);
    HRESULT (*ProcessPcm1)(void*, void*, ULONG, ULONG*, DWORD);
    HRESULT (*ProcessPcm2)(void*, void*, ULONG, ULONG*, DWORD);
    HRESULT (*ProcessFloat)(void*, float*, ULONG, ULONG*, DWORD);
    HRESULT (*ProcessPcm3)(void*, void*, ULONG, ULONG*, DWORD);
    HRESULT (*ProcessDouble)(void*, double*, ULONG, ULONG*, DWORD);
};

}  // namespace

TEST(BlockContract, SlotOrderThroughPlainFunctionTables) {
    ITwAudioDistortion* block = nullptr;
    ASSERT_EQ(TestBlock::Create(&block), S_OK);
    auto* vt = *reinterpret_cast<BlockVtbl11**>(block);
    EXPECT_EQ(vt->QueryInterface(block, &IID_IUnknown, nullptr), E_NOTIMPL);
    EXPECT_EQ(vt->AddRef(block), 2u);
    EXPECT_EQ(vt->GetVersion(block), 0x01000001u);
    const WAVEFORMATEX fmt = MakeFormat(WAVE_FORMAT_IEEE_FLOAT, 1, 44100, 32);
    const DistortionParams rec = Record(500);
    EXPECT_EQ(vt->SetFormat(block, &fmt, &rec, FALSE), S_OK);
    WAVEFORMATEX got{};
    EXPECT_EQ(vt->GetFormat(block, &got, sizeof(got), nullptr, 0), S_OK);
    EXPECT_EQ(got.nSamplesPerSec, 44100u);
    float f[2] = {1.0f, -0.5f};
    ULONG out = 99;
    EXPECT_EQ(vt->ProcessFloat(block, f, 2, &out, 0), S_OK);
    EXPECT_EQ(f[0], 0.5f);
    double d[1] = {1.0};
    EXPECT_EQ(vt->ProcessDouble(block, d, 1, &out, 0), S_OK);
    EXPECT_EQ(d[0], 0.5);
    EXPECT_EQ(vt->Release(block), 1u);
    EXPECT_EQ(vt->Release(block), 0u);

    ITwAudioDelay* mix = nullptr;
    ASSERT_EQ(TestMixBlock::Create(&mix), S_OK);
    auto* vt12 = *reinterpret_cast<BlockVtbl12**>(mix);
    DelayParams dp{};
    dp.cbSize = sizeof(dp);
    EXPECT_EQ(vt12->GetVersion(mix), 0x01000001u);
    EXPECT_EQ(vt12->SetMix(mix, &dp), S_OK);
    EXPECT_EQ(static_cast<TestMixBlock*>(mix)->mixCalls, 1);
    EXPECT_EQ(vt12->ProcessFloat(mix, f, 1, &out, 0), E_FAIL);  // not yet valid
    EXPECT_EQ(vt12->Release(mix), 0u);
}

TEST(BlockContract, FreshBlockFailsEveryProcessEntry) {
    ITwAudioDistortion* block = nullptr;
    ASSERT_EQ(TestBlock::Create(&block), S_OK);
    float f[4] = {0.25f, 0.25f, 0.25f, 0.25f};
    double d[2] = {0.25, 0.25};
    int16_t s[2] = {100, 100};
    ULONG out = 7;
    EXPECT_EQ(block->ProcessFloat(f, 2, &out, 0), E_FAIL);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(f[0], 0.25f);
    out = 7;
    EXPECT_EQ(block->ProcessDouble(d, 2, &out, 0), E_FAIL);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(block->ProcessPcm1(s, 2, &out, 0), E_FAIL);
    EXPECT_EQ(block->ProcessPcm2(s, 2, &out, 0), E_FAIL);
    EXPECT_EQ(block->ProcessPcm3(s, 2, &out, 0), E_FAIL);
    EXPECT_EQ(s[0], 100);
    EXPECT_EQ(block->ProcessFloat(f, 2, nullptr, 0), E_POINTER);
    EXPECT_EQ(block->Release(), 0u);
    EXPECT_EQ(TestBlock::Create(nullptr), E_POINTER);
}

TEST(BlockContract, FormatAcceptanceAndNormalisation) {
    ITwAudioDistortion* block = nullptr;
    ASSERT_EQ(TestBlock::Create(&block), S_OK);
    const DistortionParams rec = Record(500);

    WAVEFORMATEX bad = MakeFormat(WAVE_FORMAT_PCM, 2, 44100, 16);
    bad.nBlockAlign = 2;  // the normalised copy has 4
    EXPECT_EQ(block->SetFormat(&bad, &rec, FALSE), E_INVALIDARG);
    WAVEFORMATEX badRate = MakeFormat(WAVE_FORMAT_PCM, 2, 44100, 16);
    badRate.nAvgBytesPerSec = 1;
    EXPECT_EQ(block->SetFormat(&badRate, &rec, FALSE), E_INVALIDARG);
    WAVEFORMATEX f = MakeFormat(WAVE_FORMAT_PCM, 2, 1000, 16);
    EXPECT_EQ(block->SetFormat(&f, &rec, FALSE), E_INVALIDARG);
    f = MakeFormat(WAVE_FORMAT_PCM, 17, 44100, 16);
    EXPECT_EQ(block->SetFormat(&f, &rec, FALSE), E_INVALIDARG);
    f = MakeFormat(WAVE_FORMAT_PCM, 2, 44100, 24);
    EXPECT_EQ(block->SetFormat(&f, &rec, FALSE), E_INVALIDARG);
    f = MakeFormat(WAVE_FORMAT_IEEE_FLOAT, 2, 44100, 16);
    EXPECT_EQ(block->SetFormat(&f, &rec, FALSE), E_INVALIDARG);
    f = MakeFormat(2, 2, 44100, 16);  // ADPCM tag
    EXPECT_EQ(block->SetFormat(&f, &rec, FALSE), E_INVALIDARG);
    f = MakeFormat(WAVE_FORMAT_PCM, 0, 44100, 16);
    EXPECT_EQ(block->SetFormat(&f, &rec, FALSE), E_INVALIDARG);
    EXPECT_EQ(block->SetFormat(nullptr, &rec, FALSE), E_INVALIDARG);  // no format stored yet

    f = MakeFormat(WAVE_FORMAT_IEEE_FLOAT, 16, 192000, 64);
    f.cbSize = 22;  // cbSize is not compared for PCM and IEEE float, and is stored as 0
    EXPECT_EQ(block->SetFormat(&f, &rec, FALSE), S_OK);
    WAVEFORMATEX got{};
    EXPECT_EQ(block->GetFormat(&got, sizeof(got), nullptr, 0), S_OK);
    EXPECT_EQ(got.nChannels, 16);
    EXPECT_EQ(got.nBlockAlign, 128);
    EXPECT_EQ(got.nAvgBytesPerSec, 192000u * 128u);
    EXPECT_EQ(got.cbSize, 0);
    f = MakeFormat(WAVE_FORMAT_PCM, 1, 2000, 8);
    EXPECT_EQ(block->SetFormat(&f, &rec, FALSE), S_OK);

    // A refused format leaves the block not valid until the next successful call.
    f = MakeFormat(WAVE_FORMAT_PCM, 2, 44100, 24);
    EXPECT_EQ(block->SetFormat(&f, &rec, FALSE), E_INVALIDARG);
    float x[1] = {1.0f};
    ULONG out = 0;
    EXPECT_EQ(block->ProcessFloat(x, 1, &out, 0), E_FAIL);
    EXPECT_EQ(block->SetFormat(nullptr, nullptr, FALSE), S_OK);  // stored format and record again
    EXPECT_EQ(block->ProcessFloat(x, 1, &out, 0), S_OK);
    block->Release();
}

TEST(BlockContract, RecordSizeClampAndResetRules) {
    ITwAudioDistortion* block = nullptr;
    ASSERT_EQ(TestBlock::Create(&block), S_OK);
    auto* impl = static_cast<TestBlock*>(block);
    const WAVEFORMATEX f = MakeFormat(WAVE_FORMAT_PCM, 2, 44100, 16);
    DistortionParams rec = Record(5000);
    rec.cbSize = 36;
    EXPECT_EQ(block->SetFormat(&f, &rec, FALSE), E_INVALIDARG);
    rec.cbSize = 40;
    EXPECT_EQ(block->SetFormat(nullptr, &rec, FALSE), S_OK);  // the format of the failed call was stored
    EXPECT_EQ(impl->resets, 1);  // first success after a failure: reset forced
    DistortionParams got{};
    EXPECT_EQ(block->GetFormat(nullptr, 0, &got, sizeof(got)), S_OK);
    EXPECT_EQ(got.drive, 1000);  // clamped copy stored
    DistortionParams half{};
    EXPECT_EQ(block->GetFormat(nullptr, 0, &half, 8), S_OK);  // copy limited to the given size
    EXPECT_EQ(half.cbSize, 40);
    EXPECT_EQ(half.drive, 0);

    EXPECT_EQ(block->SetFormat(&f, &rec, FALSE), S_OK);  // same format: no forced reset
    EXPECT_EQ(impl->resets, 1);
    EXPECT_EQ(block->SetFormat(&f, &rec, TRUE), S_OK);
    EXPECT_EQ(impl->resets, 2);
    const WAVEFORMATEX g = MakeFormat(WAVE_FORMAT_PCM, 2, 48000, 16);
    EXPECT_EQ(block->SetFormat(&g, &rec, FALSE), S_OK);  // changed format: reset forced
    EXPECT_EQ(impl->resets, 3);
    EXPECT_EQ(impl->designs, 4);

    EXPECT_EQ(block->AddRef(), 2u);
    EXPECT_EQ(block->Release(), 1u);
    EXPECT_EQ(block->Release(), 0u);
}

TEST(BlockContract, IntegerEntriesRoundTripThroughTheBlock) {
    const DistortionParams half = Record(500);
    struct Case {
        WORD bits;
    } cases[] = {{8}, {16}, {32}};
    for (const Case& c : cases) {
        ITwAudioDistortion* block = nullptr;
        ASSERT_EQ(TestBlock::Create(&block), S_OK);
        const WAVEFORMATEX f = MakeFormat(WAVE_FORMAT_PCM, 2, 44100, c.bits);
        ASSERT_EQ(block->SetFormat(&f, &half, FALSE), S_OK);
        ULONG out = 0;
        if (c.bits == 8) {
            uint8_t b[4] = {0, 255, 128, 192};
            EXPECT_EQ(block->ProcessPcm1(b, 2, &out, 0), S_OK);
            EXPECT_EQ(b[0], 64);   // -1.0 -> -0.5
            EXPECT_EQ(b[1], 192);  // 0.9921875 -> 0.49609375 -> 63.5 -> 64 (ties to even)
            EXPECT_EQ(b[2], 128);
            EXPECT_EQ(b[3], 160);
        } else if (c.bits == 16) {
            // 5000 frames: the scratch buffer grows past its 4096 frames.
            std::vector<int16_t> s(10000, 1000);
            s[1] = -32768;
            s[2] = 3;  // 1.5 -> 2 (ties to even)
            EXPECT_EQ(block->ProcessPcm2(s.data(), 5000, &out, 0), S_OK);
            EXPECT_EQ(out, 5000u);
            EXPECT_EQ(s[0], 500);
            EXPECT_EQ(s[1], -16384);
            EXPECT_EQ(s[2], 2);
            EXPECT_EQ(s[9999], 500);
        } else {
            int32_t w[2] = {INT32_MIN, 5};
            EXPECT_EQ(block->ProcessPcm3(w, 1, &out, 0), S_OK);
            EXPECT_EQ(w[0], INT32_MIN / 2);
            EXPECT_EQ(w[1], 2);  // 2.5 -> 2
        }
        EXPECT_EQ(out, c.bits == 16 ? 5000u : c.bits == 8 ? 2u : 1u);
        block->Release();
    }

    // With a float format stored, an integer entry processes the buffer as that format.
    ITwAudioDistortion* block = nullptr;
    ASSERT_EQ(TestBlock::Create(&block), S_OK);
    const WAVEFORMATEX f = MakeFormat(WAVE_FORMAT_IEEE_FLOAT, 1, 44100, 64);
    ASSERT_EQ(block->SetFormat(&f, &half, FALSE), S_OK);
    double d[1] = {0.5};
    ULONG out = 0;
    EXPECT_EQ(block->ProcessPcm1(d, 1, &out, 0), S_OK);
    EXPECT_EQ(d[0], 0.25);
    block->Release();
}

TEST(BlockContract, AllocationFailureLeavesBlockNotValid) {
    ITwAudioDistortion* block = nullptr;
    tw::SetZeroAllocHook([](size_t) { return false; });
    EXPECT_EQ(TestBlock::Create(&block), E_OUTOFMEMORY);
    EXPECT_EQ(block, nullptr);
    tw::SetZeroAllocHook(nullptr);

    ASSERT_EQ(TestBlock::Create(&block), S_OK);
    const DistortionParams rec = Record(500);
    const WAVEFORMATEX f = MakeFormat(WAVE_FORMAT_PCM, 2, 44100, 16);
    tw::SetZeroAllocHook([](size_t) { return false; });
    EXPECT_EQ(block->SetFormat(&f, &rec, FALSE), E_OUTOFMEMORY);  // scratch buffer
    tw::SetZeroAllocHook(nullptr);
    float x[2] = {1, 1};
    ULONG out = 0;
    EXPECT_EQ(block->ProcessFloat(x, 1, &out, 0), E_FAIL);
    block->Release();
}
