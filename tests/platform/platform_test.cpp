#include "platform/platform.h"

#include <gtest/gtest.h>

#include <thread>

TEST(Platform, HresultValuesMatchWindows) {
    EXPECT_EQ(S_OK, 0);
    EXPECT_EQ(S_FALSE, 1);
    EXPECT_EQ(static_cast<uint32_t>(E_POINTER), 0x80004003u);
    EXPECT_EQ(static_cast<uint32_t>(E_INVALIDARG), 0x80070057u);
    EXPECT_EQ(static_cast<uint32_t>(E_OUTOFMEMORY), 0x8007000Eu);
    EXPECT_EQ(static_cast<uint32_t>(E_NOTIMPL), 0x80004001u);
    EXPECT_EQ(static_cast<uint32_t>(E_UNEXPECTED), 0x8000FFFFu);
    EXPECT_EQ(static_cast<uint32_t>(E_FAIL), 0x80004005u);
    EXPECT_EQ(static_cast<uint32_t>(E_NOINTERFACE), 0x80004002u);
    EXPECT_EQ(static_cast<uint32_t>(CLASS_E_CLASSNOTAVAILABLE), 0x80040111u);
    EXPECT_EQ(static_cast<uint32_t>(VFW_E_NOT_CONNECTED), 0x80040209u);
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
    EXPECT_TRUE(FAILED(E_FAIL));
}

TEST(Platform, WaveFormatIsPackedInWindowsFieldOrder) {
    EXPECT_EQ(sizeof(WAVEFORMATEX), 18u);
    EXPECT_EQ(offsetof(WAVEFORMATEX, nChannels), 2u);
    EXPECT_EQ(offsetof(WAVEFORMATEX, nSamplesPerSec), 4u);
    EXPECT_EQ(offsetof(WAVEFORMATEX, nAvgBytesPerSec), 8u);
    EXPECT_EQ(offsetof(WAVEFORMATEX, nBlockAlign), 12u);
    EXPECT_EQ(offsetof(WAVEFORMATEX, wBitsPerSample), 14u);
    EXPECT_EQ(offsetof(WAVEFORMATEX, cbSize), 16u);
    EXPECT_EQ(WAVE_FORMAT_PCM, 1);
    EXPECT_EQ(WAVE_FORMAT_IEEE_FLOAT, 3);
}

TEST(Platform, GuidComparison) {
    const GUID a = {0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
    GUID b = a;
    EXPECT_TRUE(IsEqualGUID(a, b));
    b.Data4[7] = 9;
    EXPECT_FALSE(IsEqualGUID(a, b));
    EXPECT_FALSE(IsEqualGUID(IID_IUnknown, a));
}

TEST(Platform, MulDivRoundsHalfAwayFromZeroWith64BitProduct) {
    EXPECT_EQ(MulDiv(22501, 44100, 10000), 99229);
    EXPECT_EQ(MulDiv(22501, 48000, 10000), 108005);
    EXPECT_EQ(MulDiv(5, 1, 2), 3);    // 2.5 -> 3
    EXPECT_EQ(MulDiv(-5, 1, 2), -3);  // -2.5 -> -3
    EXPECT_EQ(MulDiv(5, -1, 2), -3);
    EXPECT_EQ(MulDiv(5, 1, -2), -3);
    EXPECT_EQ(MulDiv(-5, -1, -2), -3);
    EXPECT_EQ(MulDiv(-7, 1, 3), -2);  // -2.33 -> -2
    EXPECT_EQ(MulDiv(-4, 1, 3), -1);
    EXPECT_EQ(MulDiv(2000000000, 2000000000, 2000000000), 2000000000);  // needs 64 bits
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(2000000000, 4, 1), -1);  // overflow
}

TEST(Platform, CriticalSectionIsRecursiveAndInterlockedCountsAreExact) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);  // the same thread may enter again
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);

    volatile LONG count = 0;
    long plain = 0;
    auto worker = [&] {
        for (int i = 0; i < 20000; ++i) {
            InterlockedIncrement(&count);
            tw::Lock lock(&cs);
            ++plain;
        }
    };
    std::thread t1(worker), t2(worker);
    t1.join();
    t2.join();
    EXPECT_EQ(count, 40000);
    EXPECT_EQ(plain, 40000);
    EXPECT_EQ(InterlockedDecrement(&count), 39999);
    DeleteCriticalSection(&cs);
}

TEST(Platform, ZeroAllocIsZeroFilledAndHookCanRefuse) {
    auto* p = static_cast<unsigned char*>(tw::ZeroAlloc(4096));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(p[i], 0);
    tw::ZeroFree(p);
    tw::SetZeroAllocHook([](size_t) { return false; });
    EXPECT_EQ(tw::ZeroAlloc(16), nullptr);
    tw::SetZeroAllocHook(nullptr);
    void* q = tw::ZeroAlloc(16);
    EXPECT_NE(q, nullptr);
    tw::ZeroFree(q);
}
