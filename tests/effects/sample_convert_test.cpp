#include "effects/sample_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace tw;

TEST(SampleConvert, Pcm16BothWays) {
    const int16_t in[] = {16384, -32768, 0, 32767, 1};
    float f[5];
    Pcm16ToFloat(in, f, 5, 1.0f);
    EXPECT_EQ(f[0], 0.5f);
    EXPECT_EQ(f[1], -1.0f);
    EXPECT_EQ(f[2], 0.0f);
    EXPECT_EQ(f[3], 32767.0f / 32768.0f);
    EXPECT_EQ(f[4], 1.0f / 32768.0f);
    int16_t back[5];
    FloatToPcm16(f, back, 5, 1.0f);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(back[i], in[i]) << i;

    const float edge[] = {1.0f, -1.0f, 2.0f, -3.0f, std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                          2.5f / 32768.0f, 3.5f / 32768.0f, -2.5f / 32768.0f, 0.5f / 32768.0f};
    int16_t out[11];
    FloatToPcm16(edge, out, 11, 1.0f);
    EXPECT_EQ(out[0], 32767);   // +1.0 clips to the most positive code
    EXPECT_EQ(out[1], -32768);  // -1.0 is the most negative code
    EXPECT_EQ(out[2], 32767);
    EXPECT_EQ(out[3], -32768);
    EXPECT_EQ(out[4], -32768);  // NaN
    EXPECT_EQ(out[5], 32767);
    EXPECT_EQ(out[6], -32768);
    EXPECT_EQ(out[7], 2);  // ties to even
    EXPECT_EQ(out[8], 4);
    EXPECT_EQ(out[9], -2);
    EXPECT_EQ(out[10], 0);
}

TEST(SampleConvert, Pcm8IsUnsignedAroundMidCode) {
    const uint8_t in[] = {128, 0, 255, 192};
    float f[4];
    Pcm8ToFloat(in, f, 4, 1.0f);
    EXPECT_EQ(f[0], 0.0f);
    EXPECT_EQ(f[1], -1.0f);
    EXPECT_EQ(f[2], 0.9921875f);
    EXPECT_EQ(f[3], 0.5f);
    uint8_t back[4];
    FloatToPcm8(f, back, 4, 1.0f);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(back[i], in[i]) << i;

    const float edge[] = {0.5f, 1.0f, -1.5f, std::numeric_limits<float>::quiet_NaN(), 1.5f / 128.0f,
                          2.5f / 128.0f, -0.5f / 128.0f};
    uint8_t out[7];
    FloatToPcm8(edge, out, 7, 1.0f);
    EXPECT_EQ(out[0], 192);
    EXPECT_EQ(out[1], 255);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 0);  // NaN gives -128, stored as 0
    EXPECT_EQ(out[4], 130);  // 1.5 -> 2
    EXPECT_EQ(out[5], 130);  // 2.5 -> 2
    EXPECT_EQ(out[6], 128);  // -0.5 -> -0
}

TEST(SampleConvert, Pcm32ThroughDouble) {
    const int32_t in[] = {INT32_MIN, INT32_MAX, 1 << 30, -1};
    double d[4];
    Pcm32ToDouble(in, d, 4, 1.0f);
    EXPECT_EQ(d[0], -1.0);
    EXPECT_EQ(d[1], 2147483647.0 / 2147483648.0);
    EXPECT_EQ(d[2], 0.5);
    int32_t back[4];
    DoubleToPcm32(d, back, 4, 1.0f);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(back[i], in[i]) << i;

    const double edge[] = {1.0, -2.0, std::nan(""), 0.5 / 2147483648.0, 1.5 / 2147483648.0, -1.5 / 2147483648.0};
    int32_t out[6];
    DoubleToPcm32(edge, out, 6, 1.0f);
    EXPECT_EQ(out[0], INT32_MAX);
    EXPECT_EQ(out[1], INT32_MIN);
    EXPECT_EQ(out[2], INT32_MIN);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(out[4], 2);
    EXPECT_EQ(out[5], -2);
}

TEST(SampleConvert, GainMultipliesAfterScalingInAndBeforeScalingOut) {
    const int16_t in[] = {16384};
    float f[1];
    Pcm16ToFloat(in, f, 1, 0.5f);
    EXPECT_EQ(f[0], 0.25f);
    int16_t out[1];
    FloatToPcm16(f, out, 1, 2.0f);
    EXPECT_EQ(out[0], 16384);

    PcmConverters c;
    EXPECT_TRUE(ConvertersForPcm(16, &c));
    EXPECT_EQ(c.workingBytes, sizeof(float));
    EXPECT_TRUE(ConvertersForPcm(32, &c));
    EXPECT_EQ(c.workingBytes, sizeof(double));
    EXPECT_FALSE(ConvertersForPcm(24, &c));
    EXPECT_EQ(c.toWorking, nullptr);
}

// The vector paths of the 16-bit converters agree with the scalar rule at every code and at the
// awkward inputs, in every position of a four-sample step.
TEST(SampleConvert, Pcm16PathsAgreeWithTheScalarRule) {
    std::vector<int16_t> codes;
    for (int v = -32768; v <= 32767; ++v) codes.push_back(static_cast<int16_t>(v));
    std::vector<float> f(codes.size());
    Pcm16ToFloat(codes.data(), f.data(), codes.size(), 1.0f);
    for (size_t i = 0; i < codes.size(); ++i) ASSERT_EQ(f[i], static_cast<float>(codes[i] / 32768.0)) << i;
    std::vector<int16_t> back(codes.size());
    FloatToPcm16(f.data(), back.data(), f.size(), 1.0f);
    EXPECT_EQ(back, codes);

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> edge = {nan, inf, -inf, 1.0f, -1.0f, 1e30f, -1e30f, 0.5f / 32768.0f,
                                     1.5f / 32768.0f, -2.5f / 32768.0f, 32767.5f / 32768.0f, -0.0f, 3e-40f};
    const std::vector<int16_t> expect = {-32768, 32767, -32768, 32767, -32768, 32767, -32768, 0, 2, -2, 32767, 0, 0};
    for (size_t shift = 0; shift < 4; ++shift) {
        std::vector<float> in(shift, 0.0f);
        in.insert(in.end(), edge.begin(), edge.end());
        std::vector<int16_t> out(in.size());
        FloatToPcm16(in.data(), out.data(), in.size(), 1.0f);
        for (size_t i = 0; i < edge.size(); ++i) EXPECT_EQ(out[shift + i], expect[i]) << "shift " << shift << " item " << i;
    }
}
