// CMediaSample and CMemAllocator: fixed-size buffers in one zero-filled block, handed out as media
// samples that return to their allocator when their last reference goes.
//
// Every outstanding sample holds a reference on its allocator, so an allocator lives until the last
// sample is back. Decommit fails waiting GetBuffer calls at once; the memory is freed when the
// last outstanding sample returns.
#pragma once

#include "platform/dshow/combase.h"
#include "platform/dshow/dshow_api.h"

#include <condition_variable>
#include <mutex>

#ifndef VFW_E_BUFFER_OVERFLOW
#define VFW_E_BUFFER_OVERFLOW ((HRESULT)0x8004020DL)
#endif

class CMemAllocator;

class CMediaSample final : public IMediaSample, public CBaseObject {
public:
    CMediaSample(CMemAllocator* allocator, BYTE* buffer, LONG size);
    ~CMediaSample() override;

    // IUnknown: the sample's own count; at 0 it goes back to its allocator. [any thread]
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IMediaSample. [the thread that holds the sample]
    HRESULT STDMETHODCALLTYPE GetPointer(BYTE** ppBuffer) override;
    LONG STDMETHODCALLTYPE GetSize() override;
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    HRESULT STDMETHODCALLTYPE IsSyncPoint() override;
    HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL bIsSyncPoint) override;
    HRESULT STDMETHODCALLTYPE IsPreroll() override;
    HRESULT STDMETHODCALLTYPE SetPreroll(BOOL bIsPreroll) override;
    LONG STDMETHODCALLTYPE GetActualDataLength() override;
    HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) override;
    HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** ppMediaType) override;
    HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE* pMediaType) override;
    HRESULT STDMETHODCALLTYPE IsDiscontinuity() override;
    HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL bDiscontinuity) override;
    HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
    HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;

private:
    friend class CMemAllocator;

    enum Flags : DWORD {
        kSyncPoint = 0x1,
        kPreroll = 0x2,
        kDiscontinuity = 0x4,
        kTimeValid = 0x8,
        kStopValid = 0x10,
        kMediaTimeValid = 0x20,
    };

    // Back to the state a fresh buffer has: no times, no flags, no type, the whole buffer as data.
    void Clear();

    CMemAllocator* allocator_;
    BYTE* buffer_;
    LONG size_;
    LONG length_;
    DWORD flags_;
    REFERENCE_TIME start_;
    REFERENCE_TIME end_;
    LONGLONG mediaStart_;
    LONGLONG mediaEnd_;
    AM_MEDIA_TYPE* type_;
    volatile LONG ref_;
    CMediaSample* nextFree_;
};

class CMemAllocator final : public CUnknown, public IMemAllocator {
public:
    // A new allocator with one reference for the caller. [any thread]
    static HRESULT CreateInstance(IMemAllocator** out);

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMemAllocator. [any thread; one internal lock]
    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                            ALLOCATOR_PROPERTIES* pActual) override;
    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
    HRESULT STDMETHODCALLTYPE Commit() override;
    HRESULT STDMETHODCALLTYPE Decommit() override;
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                                        REFERENCE_TIME* pEndTime, DWORD dwFlags) override;
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* pBuffer) override;

private:
    friend class CMediaSample;

    CMemAllocator();
    ~CMemAllocator() override;

    // A sample's count reached 0. Drops the sample's reference on the allocator.
    void ReturnSample(CMediaSample* sample);
    bool OwnsSample(const IMediaSample* sample) const;
    HRESULT AllocateLocked();
    void FreeLocked();

    std::mutex mutex_;
    std::condition_variable freed_;
    ALLOCATOR_PROPERTIES props_;
    bool propsSet_;
    bool committed_;
    LONG outstanding_;
    void* memory_;
    CMediaSample** samples_;
    LONG sampleCount_;
    CMediaSample* free_;
};
