// Runs the five blocks in a row over N seconds of stereo float audio in 4096-frame buffers.
// scripts/bench runs it under callgrind for two lengths; the difference of the two instruction
// totals over the difference of frames is the cost of one stereo frame, free of set-up costs.
#include "bench/chain_setup.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    const long seconds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1;
    constexpr ULONG kFrames = 4096;
    bench::Chain chain;
    if (!chain.Init(bench::Format(2, false))) {
        std::fprintf(stderr, "block set-up failed\n");
        return 1;
    }
    // The signal is made once, so that the counts are the blocks' own.
    std::vector<float> signal(kFrames * 2), buffer(kFrames * 2);
    bench::FillSignal(signal.data(), signal.size(), 7);
    const long buffers = seconds * 44100 / kFrames;
    double sum = 0;
    for (long i = 0; i < buffers; ++i) {
        std::copy(signal.begin(), signal.end(), buffer.begin());
        chain.Run(buffer.data(), kFrames);
        sum += buffer[0];
    }
    std::printf("%ld %f\n", buffers * kFrames, sum);
    return 0;
}
