// Shared pieces of the controller tests: an outer object that counts what is delegated to it,
// stream formats, and a controller wired to the recording blocks.
#pragma once

#include "filter/transform.h"
#include "tests/filter/fake_blocks.h"
#include "tests/support/wave_format.h"

#include <gtest/gtest.h>

#include <vector>

namespace testing_support {

class CountingOuter : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        ++queries;
        lastIid = riid;
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }

    int queries = 0;
    int refs = 1;
    IID lastIid{};
};

inline WAVEFORMATEX MakeFormat(WORD tag, WORD bits, WORD channels, DWORD rate) {
    return testing_support::MakeWaveFormat(tag, channels, rate, bits);
}

// A controller on the recording blocks with a float stream format.
class ChainTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        fx.SetBlockFactories(fake::kFactories);
    }

    void Start(const FxParams& params, DWORD rate = 44100, WORD channels = 2) {
        format = MakeFormat(WAVE_FORMAT_IEEE_FLOAT, 32, channels, rate);
        ASSERT_EQ(S_OK, fx.SetParams(&params));
        ASSERT_EQ(S_OK, fx.StartStreaming(&format));
        fake::log().events.clear();
    }

    HRESULT Run(int mode, ULONG* frames, BOOL silent = FALSE) {
        return fx.ProcessChain(mode, buffer.data(), frames, silent);
    }

    // One normal call of 256 frames; the count must come back whole.
    void RunNormal() {
        ULONG n = 256;
        ASSERT_EQ(S_OK, Run(kChainNormal, &n));
        ASSERT_EQ(256u, n);
    }

    WAVEFORMATEX format{};
    CountingOuter outer;
    CTwBrioFxTransform fx{&outer};
    std::vector<float> buffer = std::vector<float>(2 * 8192, 0.0f);
};

}  // namespace testing_support
