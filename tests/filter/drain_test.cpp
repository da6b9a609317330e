// The chain on the real blocks: every built-in preset plays its tails out and the end-of-stream
// drain finishes, and steady processing allocates nothing.
#include "filter/presets.h"
#include "filter/transform.h"
#include "tests/filter/test_support.h"

#include "tests/support/alloc_counter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <vector>

using testing_support::CountingOuter;
using testing_support::MakeFormat;

namespace {

// Far longer than any preset's tail (the longest, two delay seconds and a two-second room).
constexpr ULONG kDrainLimitFrames = 30 * 44100;
constexpr ULONG kSignalFrames = 8192;

}  // namespace

TEST(ChainDrain, EveryPresetDrainsToTheEnd) {
    for (int preset = 0; preset < kPresetCount; ++preset) {
        for (WORD channels = 1; channels <= 2; ++channels) {
            for (ULONG block : {64u, 1024u, 4096u}) {
                SCOPED_TRACE("preset " + std::to_string(preset) + ", " + std::to_string(channels) + " ch, " +
                             std::to_string(block) + " frames");
                CountingOuter outer;
                CTwBrioFxTransform fx(&outer);
                ASSERT_EQ(S_OK, fx.LoadPreset(preset));
                WAVEFORMATEX format = MakeFormat(WAVE_FORMAT_IEEE_FLOAT, 32, channels, 44100);
                ASSERT_EQ(S_OK, fx.StartStreaming(&format));

                std::vector<float> buffer(static_cast<size_t>(block) * channels);
                ULONG played = 0;
                int mode = kChainFirst;
                while (played < kSignalFrames) {
                    for (size_t i = 0; i < buffer.size(); ++i) {
                        const double t = static_cast<double>(played + i / channels) / 44100.0;
                        buffer[i] = static_cast<float>(0.5 * std::sin(2.0 * 3.14159265358979 * 440.0 * t));
                    }
                    ULONG n = block;
                    ASSERT_EQ(S_OK, fx.ProcessChain(mode, buffer.data(), &n, FALSE));
                    ASSERT_EQ(block, n);
                    played += block;
                    mode = kChainNormal;
                }

                // The filter hands silence in each drain buffer.
                ULONG drained = 0;
                HRESULT hr = S_OK;
                while (hr == S_OK && drained < kDrainLimitFrames) {
                    std::fill(buffer.begin(), buffer.end(), 0.0f);
                    ULONG n = block;
                    hr = fx.ProcessChain(kChainDrain, buffer.data(), &n, FALSE);
                    ASSERT_LE(n, block);
                    drained += block;
                }
                EXPECT_EQ(S_FALSE, hr);
                ULONG n = block;
                EXPECT_EQ(S_FALSE, fx.ProcessChain(kChainDrain, buffer.data(), &n, FALSE));
                EXPECT_EQ(0u, n);
                const FxParams& p = kFxPresets[preset].params;
                if (!p.lfoOn) {
                    EXPECT_TRUE(fx.AllTailsFinished());
                }
                fx.StopStreaming();
            }
        }
    }
}

TEST(ChainDrain, SteadyProcessingAllocatesNothing) {
    CountingOuter outer;
    CTwBrioFxTransform fx(&outer);
    FxParams p = kDefaultFxParams;
    p.delayOn = p.reverbOn = p.lfoOn = p.distOn = p.eqOn = 1;
    fx.SetParams(&p);
    WAVEFORMATEX format = MakeFormat(WAVE_FORMAT_PCM, 16, 2, 48000);
    ASSERT_EQ(S_OK, fx.StartStreaming(&format));
    std::vector<int16_t> pcm(2 * 1024, 1000);
    ULONG n = 1024;
    ASSERT_EQ(S_OK, fx.ProcessPcm(kChainFirst, pcm.data(), &n, FALSE));

    int allocations;
    {
        testing_support::AllocationCounter counter;
        for (int i = 0; i < 50; ++i) {
            n = 1024;
            fx.ProcessPcm(kChainNormal, pcm.data(), &n, FALSE);
            fx.SetDistSlew(i);   // edits reach the blocks without allocating
            fx.SetDelayMix(i * 10);
            fx.SetReverbMix(i * 10);
            fx.SetEqBass(i);
        }
        allocations = counter.count();
    }
    EXPECT_EQ(0, allocations);
    fx.StopStreaming();
}
