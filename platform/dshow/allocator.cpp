#include "platform/dshow/allocator.h"

#include "platform/dshow/media_type.h"

#include <cstdint>
#include <new>

// ---- CMediaSample ------------------------------------------------------------------------------

CMediaSample::CMediaSample(CMemAllocator* allocator, BYTE* buffer, LONG size)
    : allocator_(allocator),
      buffer_(buffer),
      size_(size),
      length_(size),
      flags_(0),
      start_(0),
      end_(0),
      mediaStart_(0),
      mediaEnd_(0),
      type_(nullptr),
      ref_(0),
      nextFree_(nullptr) {}

CMediaSample::~CMediaSample() { DeleteMediaType(type_); }

void CMediaSample::Clear() {
    length_ = size_;
    flags_ = 0;
    start_ = end_ = 0;
    mediaStart_ = mediaEnd_ = 0;
    DeleteMediaType(type_);
    type_ = nullptr;
}

HRESULT STDMETHODCALLTYPE CMediaSample::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMediaSample)) {
        return GetInterface(static_cast<IMediaSample*>(this), ppv);
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CMediaSample::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&ref_));
}

ULONG STDMETHODCALLTYPE CMediaSample::Release() {
    const LONG count = InterlockedDecrement(&ref_);
    if (count == 0) allocator_->ReturnSample(this);
    return static_cast<ULONG>(count < 0 ? 0 : count);
}

HRESULT STDMETHODCALLTYPE CMediaSample::GetPointer(BYTE** ppBuffer) {
    if (!ppBuffer) return E_POINTER;
    *ppBuffer = buffer_;
    return S_OK;
}

LONG STDMETHODCALLTYPE CMediaSample::GetSize() { return size_; }

HRESULT STDMETHODCALLTYPE CMediaSample::GetTime(REFERENCE_TIME* pTimeStart,
                                                 REFERENCE_TIME* pTimeEnd) {
    if (!pTimeStart || !pTimeEnd) return E_POINTER;
    if (!(flags_ & kTimeValid)) return VFW_E_SAMPLE_TIME_NOT_SET;
    *pTimeStart = start_;
    if (!(flags_ & kStopValid)) {
        *pTimeEnd = start_ + 1;
        return VFW_S_NO_STOP_TIME;
    }
    *pTimeEnd = end_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMediaSample::SetTime(REFERENCE_TIME* pTimeStart,
                                                 REFERENCE_TIME* pTimeEnd) {
    flags_ &= ~static_cast<DWORD>(kTimeValid | kStopValid);
    if (!pTimeStart) return S_OK;  // no start time: the times are cleared
    start_ = *pTimeStart;
    flags_ |= kTimeValid;
    if (pTimeEnd) {
        end_ = *pTimeEnd;
        flags_ |= kStopValid;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMediaSample::IsSyncPoint() {
    return (flags_ & kSyncPoint) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CMediaSample::SetSyncPoint(BOOL bIsSyncPoint) {
    flags_ = bIsSyncPoint ? (flags_ | kSyncPoint) : (flags_ & ~static_cast<DWORD>(kSyncPoint));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMediaSample::IsPreroll() { return (flags_ & kPreroll) ? S_OK : S_FALSE; }

HRESULT STDMETHODCALLTYPE CMediaSample::SetPreroll(BOOL bIsPreroll) {
    flags_ = bIsPreroll ? (flags_ | kPreroll) : (flags_ & ~static_cast<DWORD>(kPreroll));
    return S_OK;
}

LONG STDMETHODCALLTYPE CMediaSample::GetActualDataLength() { return length_; }

HRESULT STDMETHODCALLTYPE CMediaSample::SetActualDataLength(LONG length) {
    if (length < 0) return E_INVALIDARG;
    if (length > size_) return VFW_E_BUFFER_OVERFLOW;
    length_ = length;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMediaSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType) {
    if (!ppMediaType) return E_POINTER;
    *ppMediaType = nullptr;
    if (!type_) return S_FALSE;  // the type has not changed
    *ppMediaType = CreateMediaType(type_);
    return *ppMediaType ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CMediaSample::SetMediaType(AM_MEDIA_TYPE* pMediaType) {
    DeleteMediaType(type_);
    type_ = nullptr;
    if (!pMediaType) return S_OK;
    type_ = CreateMediaType(pMediaType);
    return type_ ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CMediaSample::IsDiscontinuity() {
    return (flags_ & kDiscontinuity) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CMediaSample::SetDiscontinuity(BOOL bDiscontinuity) {
    flags_ = bDiscontinuity ? (flags_ | kDiscontinuity)
                            : (flags_ & ~static_cast<DWORD>(kDiscontinuity));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMediaSample::GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    if (!pTimeStart || !pTimeEnd) return E_POINTER;
    if (!(flags_ & kMediaTimeValid)) return VFW_E_MEDIA_TIME_NOT_SET;
    *pTimeStart = mediaStart_;
    *pTimeEnd = mediaEnd_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMediaSample::SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    if (!pTimeStart) {
        flags_ &= ~static_cast<DWORD>(kMediaTimeValid);
        return S_OK;
    }
    if (!pTimeEnd) return E_POINTER;
    mediaStart_ = *pTimeStart;
    mediaEnd_ = *pTimeEnd;
    flags_ |= kMediaTimeValid;
    return S_OK;
}

// ---- CMemAllocator -----------------------------------------------------------------------------

HRESULT CMemAllocator::CreateInstance(IMemAllocator** out) {
    if (!out) return E_POINTER;
    CMemAllocator* allocator = new CMemAllocator();
    if (!allocator) {
        *out = nullptr;
        return E_OUTOFMEMORY;
    }
    allocator->NonDelegatingAddRef();
    *out = allocator;
    return S_OK;
}

CMemAllocator::CMemAllocator()
    : CUnknown(nullptr),
      props_(),
      propsSet_(false),
      committed_(false),
      outstanding_(0),
      memory_(nullptr),
      samples_(nullptr),
      sampleCount_(0),
      free_(nullptr) {}

CMemAllocator::~CMemAllocator() {
    // Every sample holds a reference on us, so none is outstanding here.
    FreeLocked();
}

HRESULT STDMETHODCALLTYPE CMemAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IMemAllocator)) {
        return GetInterface(static_cast<IMemAllocator*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                                        ALLOCATOR_PROPERTIES* pActual) {
    if (!pRequest || !pActual) return E_POINTER;
    std::lock_guard<std::mutex> guard(mutex_);
    if (committed_) return VFW_E_ALREADY_COMMITTED;
    if (outstanding_ > 0) return VFW_E_BUFFERS_OUTSTANDING;
    const LONG align = pRequest->cbAlign;
    if (align <= 0 || (align & (align - 1)) != 0) return VFW_E_BADALIGN;
    if (pRequest->cbPrefix < 0) return E_INVALIDARG;

    ALLOCATOR_PROPERTIES props = *pRequest;
    if (props.cbBuffer > 0) {
        // Each buffer and its prefix end on the alignment.
        const int64_t whole =
            (static_cast<int64_t>(props.cbBuffer) + props.cbPrefix + align - 1) / align * align;
        if (whole - props.cbPrefix > INT32_MAX) return E_OUTOFMEMORY;
        props.cbBuffer = static_cast<LONG>(whole - props.cbPrefix);
    }
    FreeLocked();  // a decommitted block waiting for its samples is gone by now
    props_ = props;
    propsSet_ = true;
    *pActual = props;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMemAllocator::GetProperties(ALLOCATOR_PROPERTIES* pProps) {
    if (!pProps) return E_POINTER;
    std::lock_guard<std::mutex> guard(mutex_);
    *pProps = props_;
    return S_OK;
}

HRESULT CMemAllocator::AllocateLocked() {
    const LONG align = props_.cbAlign;
    const int64_t stride = static_cast<int64_t>(props_.cbBuffer) + props_.cbPrefix;
    const int64_t total = stride * props_.cBuffers + align;
    if (total > INT32_MAX) return E_OUTOFMEMORY;
    memory_ = tw::ZeroAlloc(static_cast<size_t>(total));
    samples_ = static_cast<CMediaSample**>(
        tw::ZeroAlloc(sizeof(CMediaSample*) * static_cast<size_t>(props_.cBuffers)));
    if (!memory_ || !samples_) {
        FreeLocked();
        return E_OUTOFMEMORY;
    }
    const uintptr_t base = reinterpret_cast<uintptr_t>(memory_);
    const uintptr_t aligned =
        (base + static_cast<uintptr_t>(props_.cbPrefix) + align - 1) & ~static_cast<uintptr_t>(align - 1);
    BYTE* first = reinterpret_cast<BYTE*>(aligned);
    for (LONG i = 0; i < props_.cBuffers; ++i) {
        CMediaSample* sample = new CMediaSample(this, first + stride * i, props_.cbBuffer);
        if (!sample) {
            FreeLocked();
            return E_OUTOFMEMORY;
        }
        samples_[i] = sample;
        sampleCount_ = i + 1;
        sample->nextFree_ = free_;
        free_ = sample;
    }
    return S_OK;
}

void CMemAllocator::FreeLocked() {
    for (LONG i = 0; i < sampleCount_; ++i) delete samples_[i];
    tw::ZeroFree(samples_);
    tw::ZeroFree(memory_);
    samples_ = nullptr;
    memory_ = nullptr;
    sampleCount_ = 0;
    free_ = nullptr;
}

HRESULT STDMETHODCALLTYPE CMemAllocator::Commit() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (committed_) return S_OK;
    if (!propsSet_ || props_.cBuffers <= 0 || props_.cbBuffer <= 0) return VFW_E_SIZENOTSET;
    if (!memory_) {
        const HRESULT hr = AllocateLocked();
        if (FAILED(hr)) return hr;
    }
    committed_ = true;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMemAllocator::Decommit() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!committed_) return S_OK;
    committed_ = false;
    if (outstanding_ == 0) FreeLocked();
    freed_.notify_all();  // waiting GetBuffer calls fail now
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMemAllocator::GetBuffer(IMediaSample** ppBuffer,
                                                    REFERENCE_TIME* pStartTime,
                                                    REFERENCE_TIME* pEndTime, DWORD dwFlags) {
    if (!ppBuffer) return E_POINTER;
    *ppBuffer = nullptr;
    CMediaSample* sample = nullptr;
    {
        std::unique_lock<std::mutex> guard(mutex_);
        for (;;) {
            if (!committed_) return VFW_E_NOT_COMMITTED;
            if (free_) break;
            if (dwFlags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
            freed_.wait(guard);
        }
        sample = free_;
        free_ = sample->nextFree_;
        sample->nextFree_ = nullptr;
        ++outstanding_;
        sample->ref_ = 1;
    }
    NonDelegatingAddRef();  // the sample's hold on us, dropped when it comes back
    if (pStartTime) sample->SetTime(pStartTime, pEndTime);
    *ppBuffer = sample;
    return S_OK;
}

bool CMemAllocator::OwnsSample(const IMediaSample* sample) const {
    for (LONG i = 0; i < sampleCount_; ++i) {
        if (static_cast<const IMediaSample*>(samples_[i]) == sample) return true;
    }
    return false;
}

HRESULT STDMETHODCALLTYPE CMemAllocator::ReleaseBuffer(IMediaSample* pBuffer) {
    // Samples come back by themselves when released; this only confirms that a free one is ours.
    if (!pBuffer) return E_POINTER;
    std::lock_guard<std::mutex> guard(mutex_);
    if (!OwnsSample(pBuffer)) return E_INVALIDARG;
    return static_cast<CMediaSample*>(pBuffer)->ref_ == 0 ? S_OK : VFW_E_WRONG_STATE;
}

void CMemAllocator::ReturnSample(CMediaSample* sample) {
    sample->Clear();
    {
        std::lock_guard<std::mutex> guard(mutex_);
        sample->nextFree_ = free_;
        free_ = sample;
        --outstanding_;
        if (!committed_ && outstanding_ == 0) FreeLocked();
        freed_.notify_one();
    }
    NonDelegatingRelease();  // may delete the allocator: nothing of it is touched after this
}
