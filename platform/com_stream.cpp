#include "platform/com_stream.h"

#include <cstring>
#include <new>

#ifdef _WIN32

namespace tw {

HRESULT CreateMemoryStream(IStream** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return CreateStreamOnHGlobal(nullptr, TRUE, out);
}

}  // namespace tw

#else  // native

namespace tw {
namespace {

// Largest stream the memory stream holds; larger sizes fail with STG_E_MEDIUMFULL as a full
// global-memory stream would.
constexpr ULONGLONG kMaxStreamBytes = 0x7FFFFFFFu;

class CMemoryStream final : public IStream {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISequentialStream) ||
            IsEqualIID(riid, IID_IStream)) {
            *ppv = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&refs_));
    }

    ULONG STDMETHODCALLTYPE Release() override {
        const LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0) {
            this->~CMemoryStream();
            ZeroFree(this);
        }
        return static_cast<ULONG>(refs);
    }

    // A read that reaches the end returns what there is with S_OK, as the system's streams do;
    // callers compare the count.
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (pcbRead) *pcbRead = 0;
        if (!pv) return STG_E_INVALIDPOINTER;
        ULONG n = 0;
        if (pos_ < size_) {
            const ULONGLONG avail = size_ - pos_;
            n = cb < avail ? cb : static_cast<ULONG>(avail);
            std::memcpy(pv, data_ + pos_, n);
            pos_ += n;
        }
        if (pcbRead) *pcbRead = n;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (pcbWritten) *pcbWritten = 0;
        if (!pv) return STG_E_INVALIDPOINTER;
        if (cb == 0) return S_OK;
        const ULONGLONG end = pos_ + cb;
        if (end > size_) {
            const HRESULT hr = Resize(end);
            if (FAILED(hr)) return hr;
        }
        std::memcpy(data_ + pos_, pv, cb);
        pos_ = end;
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }

    // Positions past the end are allowed; a later write fills the gap with zeros.
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin,
                                   ULARGE_INTEGER* plibNewPosition) override {
        LONGLONG base;
        switch (dwOrigin) {
        case STREAM_SEEK_SET: base = 0; break;
        case STREAM_SEEK_CUR: base = static_cast<LONGLONG>(pos_); break;
        case STREAM_SEEK_END: base = static_cast<LONGLONG>(size_); break;
        default: return STG_E_INVALIDFUNCTION;
        }
        const LONGLONG move = dlibMove.QuadPart;
        // Positions stay within 0..kMaxStreamBytes, so neither bound can overflow.
        if (move < -base || move > static_cast<LONGLONG>(kMaxStreamBytes) - base) {
            return STG_E_INVALIDFUNCTION;
        }
        pos_ = static_cast<ULONGLONG>(base + move);
        if (plibNewPosition) plibNewPosition->QuadPart = pos_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER libNewSize) override {
        return Resize(libNewSize.QuadPart);
    }

    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER* pcbRead,
                                     ULARGE_INTEGER* pcbWritten) override {
        if (pcbRead) pcbRead->QuadPart = 0;
        if (pcbWritten) pcbWritten->QuadPart = 0;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return E_NOTIMPL;
    }

    // A memory stream has no name, so pwcsName is null with either flag.
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* pstatstg, DWORD) override {
        if (!pstatstg) return STG_E_INVALIDPOINTER;
        std::memset(pstatstg, 0, sizeof(*pstatstg));
        pstatstg->type = STGTY_STREAM;
        pstatstg->cbSize.QuadPart = size_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Clone(IStream** ppstm) override {
        if (ppstm) *ppstm = nullptr;
        return E_NOTIMPL;
    }

    CMemoryStream() = default;
    CMemoryStream(const CMemoryStream&) = delete;
    CMemoryStream& operator=(const CMemoryStream&) = delete;

private:
    ~CMemoryStream() { ZeroFree(data_); }

    // Grows the buffer geometrically; bytes beyond the old size read as zero.
    HRESULT Resize(ULONGLONG newSize) {
        if (newSize > kMaxStreamBytes) return STG_E_MEDIUMFULL;
        if (newSize > capacity_) {
            ULONGLONG capacity = capacity_ < 64 ? 64 : capacity_;
            while (capacity < newSize) capacity *= 2;
            if (capacity > kMaxStreamBytes) capacity = kMaxStreamBytes;
            BYTE* data = static_cast<BYTE*>(ZeroAlloc(static_cast<size_t>(capacity)));
            if (!data) return STG_E_MEDIUMFULL;
            if (size_) std::memcpy(data, data_, static_cast<size_t>(size_));
            ZeroFree(data_);
            data_ = data;
            capacity_ = capacity;
        } else if (newSize < size_) {
            // A shrunk tail must read as zeros if the stream grows again.
            std::memset(data_ + newSize, 0, static_cast<size_t>(size_ - newSize));
        }
        size_ = newSize;
        return S_OK;
    }

    volatile LONG refs_ = 1;
    BYTE* data_ = nullptr;
    ULONGLONG size_ = 0;
    ULONGLONG capacity_ = 0;
    ULONGLONG pos_ = 0;
};

}  // namespace

HRESULT CreateMemoryStream(IStream** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    void* mem = ZeroAlloc(sizeof(CMemoryStream));
    if (!mem) return E_OUTOFMEMORY;
    *out = new (mem) CMemoryStream();
    return S_OK;
}

}  // namespace tw

#endif  // _WIN32
