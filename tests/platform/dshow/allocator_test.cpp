#include "platform/dshow/allocator.h"
#include "platform/dshow/media_type.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

namespace {

IMemAllocator* NewAllocator(LONG buffers, LONG bytes, LONG align = 1, LONG prefix = 0) {
    IMemAllocator* allocator = nullptr;
    EXPECT_EQ(CMemAllocator::CreateInstance(&allocator), S_OK);
    ALLOCATOR_PROPERTIES request = {buffers, bytes, align, prefix};
    ALLOCATOR_PROPERTIES actual = {};
    EXPECT_EQ(allocator->SetProperties(&request, &actual), S_OK);
    return allocator;
}

}  // namespace

TEST(DShowMemAllocator, PropertiesAreCheckedAndRoundedToTheAlignment) {
    const LONG before = CBaseObject::ObjectsActive();
    IMemAllocator* allocator = nullptr;
    ASSERT_EQ(CMemAllocator::CreateInstance(&allocator), S_OK);
    EXPECT_EQ(CMemAllocator::CreateInstance(nullptr), E_POINTER);

    // Supported and refused interfaces.
    void* p = nullptr;
    EXPECT_EQ(allocator->QueryInterface(IID_IMediaSample, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(allocator->QueryInterface(IID_IMemAllocator, &p), S_OK);
    static_cast<IUnknown*>(p)->Release();

    ALLOCATOR_PROPERTIES request = {2, 1000, 3, 0};
    ALLOCATOR_PROPERTIES actual = {};
    EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_BADALIGN);
    request.cbAlign = 0;
    EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_BADALIGN);
    EXPECT_EQ(allocator->SetProperties(nullptr, &actual), E_POINTER);
    EXPECT_EQ(allocator->Commit(), VFW_E_SIZENOTSET);  // nothing agreed yet

    request = {3, 1000, 64, 8};
    ASSERT_EQ(allocator->SetProperties(&request, &actual), S_OK);
    EXPECT_EQ(actual.cBuffers, 3);
    EXPECT_EQ(actual.cbBuffer, 1016);  // 1016 + 8 = 1024, a multiple of 64
    EXPECT_EQ(actual.cbAlign, 64);
    EXPECT_EQ(actual.cbPrefix, 8);
    ALLOCATOR_PROPERTIES got = {};
    EXPECT_EQ(allocator->GetProperties(&got), S_OK);
    EXPECT_EQ(got.cbBuffer, 1016);

    IMediaSample* sample = nullptr;
    EXPECT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    EXPECT_EQ(sample, nullptr);
    ASSERT_EQ(allocator->Commit(), S_OK);
    EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_ALREADY_COMMITTED);

    IMediaSample* samples[3] = {};
    for (IMediaSample*& s : samples) {
        ASSERT_EQ(allocator->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
        BYTE* data = nullptr;
        EXPECT_EQ(s->GetPointer(&data), S_OK);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 64, 0u);
        EXPECT_EQ(s->GetSize(), 1016);
        data[1015] = 0x5A;  // the whole buffer is ours
    }
    EXPECT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);

    EXPECT_EQ(allocator->Decommit(), S_OK);
    EXPECT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_BUFFERS_OUTSTANDING);
    for (IMediaSample* s : samples) EXPECT_EQ(s->Release(), 0u);
    EXPECT_EQ(allocator->SetProperties(&request, &actual), S_OK);

    EXPECT_EQ(allocator->Release(), 0u);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(DShowMemAllocator, SamplesKeepTheirAllocatorAliveAndComeBackClean) {
    const LONG before = CBaseObject::ObjectsActive();
    IMemAllocator* allocator = NewAllocator(1, 256);
    ASSERT_EQ(allocator->Commit(), S_OK);

    REFERENCE_TIME start = 100;
    REFERENCE_TIME stop = 200;
    IMediaSample* sample = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&sample, &start, &stop, 0), S_OK);
    REFERENCE_TIME s = 0;
    REFERENCE_TIME e = 0;
    EXPECT_EQ(sample->GetTime(&s, &e), S_OK);
    EXPECT_EQ(s, 100);
    EXPECT_EQ(e, 200);
    EXPECT_EQ(sample->SetTime(&start, nullptr), S_OK);
    EXPECT_EQ(sample->GetTime(&s, &e), VFW_S_NO_STOP_TIME);
    EXPECT_EQ(e, 101);
    EXPECT_EQ(sample->SetTime(nullptr, nullptr), S_OK);
    EXPECT_EQ(sample->GetTime(&s, &e), VFW_E_SAMPLE_TIME_NOT_SET);

    EXPECT_EQ(sample->GetActualDataLength(), 256);
    EXPECT_EQ(sample->SetActualDataLength(257), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(sample->SetActualDataLength(-1), E_INVALIDARG);
    EXPECT_EQ(sample->SetActualDataLength(10), S_OK);
    EXPECT_EQ(sample->IsDiscontinuity(), S_FALSE);
    EXPECT_EQ(sample->SetDiscontinuity(TRUE), S_OK);
    EXPECT_EQ(sample->IsDiscontinuity(), S_OK);
    EXPECT_EQ(sample->SetSyncPoint(TRUE), S_OK);
    EXPECT_EQ(sample->IsSyncPoint(), S_OK);
    EXPECT_EQ(sample->SetPreroll(TRUE), S_OK);
    EXPECT_EQ(sample->IsPreroll(), S_OK);
    LONGLONG ms = 5;
    LONGLONG me = 6;
    EXPECT_EQ(sample->GetMediaTime(&ms, &me), VFW_E_MEDIA_TIME_NOT_SET);
    EXPECT_EQ(sample->SetMediaTime(&ms, &me), S_OK);
    EXPECT_EQ(sample->GetMediaTime(&ms, &me), S_OK);

    AM_MEDIA_TYPE* type = nullptr;
    EXPECT_EQ(sample->GetMediaType(&type), S_FALSE);
    EXPECT_EQ(type, nullptr);
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Audio);
    EXPECT_EQ(sample->SetMediaType(&mt), S_OK);
    ASSERT_EQ(sample->GetMediaType(&type), S_OK);
    EXPECT_TRUE(CMediaType::Equal(*type, mt));
    DeleteMediaType(type);

    // The allocator goes first; the outstanding sample still holds it.
    EXPECT_EQ(allocator->Decommit(), S_OK);
    EXPECT_EQ(allocator->Release(), 1u);
    EXPECT_GT(CBaseObject::ObjectsActive(), before);
    EXPECT_EQ(sample->Release(), 0u);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);

    // A recycled sample carries nothing of its last use.
    allocator = NewAllocator(1, 256);
    ASSERT_EQ(allocator->Commit(), S_OK);
    ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    sample->SetDiscontinuity(TRUE);
    sample->SetActualDataLength(3);
    sample->SetTime(&start, &stop);
    sample->SetMediaType(&mt);
    EXPECT_EQ(allocator->ReleaseBuffer(sample), VFW_E_WRONG_STATE);  // still in use
    sample->Release();
    ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(sample->IsDiscontinuity(), S_FALSE);
    EXPECT_EQ(sample->IsSyncPoint(), S_FALSE);
    EXPECT_EQ(sample->GetActualDataLength(), 256);
    EXPECT_EQ(sample->GetTime(&s, &e), VFW_E_SAMPLE_TIME_NOT_SET);
    EXPECT_EQ(sample->GetMediaType(&type), S_FALSE);
    sample->Release();
    allocator->Decommit();
    EXPECT_EQ(allocator->Release(), 0u);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(DShowMemAllocator, WaitingGetBufferWakesOnReleaseAndFailsOnDecommit) {
    IMemAllocator* allocator = NewAllocator(1, 64);
    ASSERT_EQ(allocator->Commit(), S_OK);
    IMediaSample* held = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&held, nullptr, nullptr, 0), S_OK);

    std::atomic<HRESULT> result{E_FAIL};
    IMediaSample* got = nullptr;
    std::thread waiter([&] { result = allocator->GetBuffer(&got, nullptr, nullptr, 0); });
    held->Release();  // frees the one buffer for the waiter
    waiter.join();
    EXPECT_EQ(result.load(), S_OK);
    ASSERT_NE(got, nullptr);

    result = S_OK;
    IMediaSample* none = nullptr;
    std::thread blocked([&] { result = allocator->GetBuffer(&none, nullptr, nullptr, 0); });
    // Decommit must release the waiter whether or not it is already waiting.
    EXPECT_EQ(allocator->Decommit(), S_OK);
    blocked.join();
    EXPECT_EQ(result.load(), VFW_E_NOT_COMMITTED);
    EXPECT_EQ(none, nullptr);
    got->Release();
    EXPECT_EQ(allocator->Release(), 0u);
}

TEST(DShowMemAllocator, OutOfMemoryAtCommitIsReported) {
    IMemAllocator* allocator = NewAllocator(4, 1 << 20);
    tw::SetZeroAllocHook([](size_t bytes) { return bytes < 4096; });
    EXPECT_EQ(allocator->Commit(), E_OUTOFMEMORY);
    tw::SetZeroAllocHook(nullptr);
    EXPECT_EQ(allocator->Commit(), S_OK);
    allocator->Decommit();
    EXPECT_EQ(allocator->Release(), 0u);
}
