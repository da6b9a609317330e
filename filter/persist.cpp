#include "filter/persist.h"

#include <cstring>

namespace {

static_assert(kPersistHeaderSize + sizeof(FxParams) == kPersistedSize, "stream layout");

void PutU32(unsigned char* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// The identifier as a GUID lies in memory: Data1..Data3 little-endian, then the eight bytes.
void PutGuid(unsigned char* at, const GUID& guid) {
    PutU32(at, guid.Data1);
    at[4] = static_cast<unsigned char>(guid.Data2);
    at[5] = static_cast<unsigned char>(guid.Data2 >> 8);
    at[6] = static_cast<unsigned char>(guid.Data3);
    at[7] = static_cast<unsigned char>(guid.Data3 >> 8);
    std::memcpy(at + 8, guid.Data4, 8);
}

void BuildHeader(unsigned char* header) {
    PutU32(header, kPersistedSize);
    PutGuid(header + 4, IID_ITwBrioFxProp);
}

// A write that stores fewer bytes than asked without an error would pass for a saved project.
HRESULT WriteAll(IStream* stream, const void* data, ULONG bytes) {
    ULONG written = 0;
    const HRESULT hr = stream->Write(data, bytes, &written);
    if (FAILED(hr)) return hr;
    return written == bytes ? hr : STG_E_MEDIUMFULL;
}

}  // namespace

HRESULT PersistGetClassID(REFCLSID filterClsid, CLSID* out) {
    if (!out) return E_POINTER;
    *out = filterClsid;
    return S_OK;
}

HRESULT PersistIsDirty(CTwBrioFxTransform& fx) { return fx.IsDirty() ? S_OK : S_FALSE; }

HRESULT PersistLoad(CTwBrioFxTransform& fx, IStream* stream) {
    if (!stream) return E_POINTER;
    unsigned char header[kPersistHeaderSize] = {};
    ULONG got = 0;
    HRESULT hr = stream->Read(header, kPersistHeaderSize, &got);
    if (FAILED(hr)) return hr;
    unsigned char expected[kPersistHeaderSize];
    BuildHeader(expected);
    if (got != kPersistHeaderSize || std::memcmp(header, expected, kPersistHeaderSize) != 0) return E_FAIL;

    FxParams record;
    got = 0;
    hr = stream->Read(&record, sizeof(FxParams), &got);
    if (SUCCEEDED(hr)) {
        // A record cut short must not pass for a loaded one: the settings stay as they were.
        if (got == sizeof(FxParams))
            fx.SetParams(&record);
        else
            hr = E_FAIL;
    }
    fx.Notify(kNoticeParamsLoaded);
    return hr;
}

HRESULT PersistSave(CTwBrioFxTransform& fx, IStream* stream, BOOL clearDirty) {
    if (!stream) return E_POINTER;
    unsigned char header[kPersistHeaderSize];
    BuildHeader(header);
    HRESULT hr = WriteAll(stream, header, kPersistHeaderSize);
    if (FAILED(hr)) return hr;
    FxParams record;
    const uint32_t changes = fx.ParamsForSave(&record);
    hr = WriteAll(stream, &record, sizeof(FxParams));
    if (FAILED(hr)) return hr;
    // A change made while saving is not in the stream, so it keeps the flag set.
    if (clearDirty) fx.ClearDirtySince(changes);
    return S_OK;
}

HRESULT PersistGetSizeMax(ULARGE_INTEGER* size) {
    if (!size) return E_POINTER;
    size->QuadPart = kPersistedSize;
    return S_OK;
}
