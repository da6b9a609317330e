// Throughput of each block and of the five in a row at 44.1 kHz in 4096-frame buffers.
// frames/s is reported as items per second; "xRT" is the real-time factor.
#include "bench/chain_setup.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr ULONG kFrames = 4096;
constexpr double kRate = 44100.0;

enum Which { kDistortion, kEq, kLfo, kDelay, kReverb, kAll };

template <class T>
void BlockBench(benchmark::State& state) {
    const Which which = static_cast<Which>(state.range(0));
    const WORD channels = static_cast<WORD>(state.range(1));
    bench::Chain chain;
    if (!chain.Init(bench::Format(channels, sizeof(T) == 8))) {
        state.SkipWithError("block set-up failed");
        return;
    }
    std::vector<T> signal(kFrames * channels), buffer(kFrames * channels);
    bench::FillSignal(signal.data(), signal.size(), 7);
    ULONG out = 0;
    for (auto _ : state) {
        buffer = signal;
        switch (which) {
        case kDistortion: bench::Chain::Process(chain.distortion, buffer.data(), kFrames, &out); break;
        case kEq: bench::Chain::Process(chain.eq, buffer.data(), kFrames, &out); break;
        case kLfo: bench::Chain::Process(chain.lfo, buffer.data(), kFrames, &out); break;
        case kDelay: bench::Chain::Process(chain.delay, buffer.data(), kFrames, &out); break;
        case kReverb: bench::Chain::Process(chain.reverb, buffer.data(), kFrames, &out); break;
        case kAll: chain.Run(buffer.data(), kFrames); break;
        }
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFrames);
    state.counters["xRT"] = benchmark::Counter(static_cast<double>(state.iterations()) * kFrames / kRate,
                                               benchmark::Counter::kIsRate);
}

void Args(benchmark::internal::Benchmark* b) {
    b->ArgNames({"block", "channels"});
    for (int which = kDistortion; which <= kAll; ++which)
        for (int channels : {1, 2}) b->Args({which, channels});
}

}  // namespace

BENCHMARK_TEMPLATE(BlockBench, float)->Apply(Args);
BENCHMARK_TEMPLATE(BlockBench, double)->Apply(Args);

BENCHMARK_MAIN();
