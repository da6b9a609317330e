// CMediaType: an AM_MEDIA_TYPE that owns its format block (task memory, as every DirectShow party
// frees format blocks with CoTaskMemFree) and its pUnk reference.
#pragma once

#include "platform/dshow/dshow_api.h"
#include "platform/platform.h"

class CMediaType : public AM_MEDIA_TYPE {
public:
    CMediaType();
    // A deep copy; when the format block cannot be copied the copy is empty (use Set() to learn
    // of the failure).
    CMediaType(const CMediaType& other);
    ~CMediaType();
    CMediaType& operator=(const CMediaType& other);

    // Deep copies; E_OUTOFMEMORY when the format block cannot be copied (this is then emptied).
    HRESULT Set(const AM_MEDIA_TYPE& other);
    // Frees the format block and releases pUnk; the type becomes empty (GUID_NULL throughout).
    void Reset();

    // Same major type, subtype, format type and format bytes.
    bool operator==(const CMediaType& other) const;
    bool operator!=(const CMediaType& other) const { return !(*this == other); }
    static bool Equal(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);

    bool IsValid() const { return !IsEqualGUID(majortype, GUID_NULL); }
    const GUID* Type() const { return &majortype; }
    const GUID* Subtype() const { return &subtype; }
    const GUID* FormatType() const { return &formattype; }
    ULONG FormatLength() const { return cbFormat; }
    BYTE* Format() const { return pbFormat; }
    BOOL IsTemporalCompressed() const { return bTemporalCompression; }

    void SetType(const GUID* type) { majortype = *type; }
    void SetSubtype(const GUID* type) { subtype = *type; }
    void SetFormatType(const GUID* type) { formattype = *type; }
    void SetTemporalCompression(BOOL compressed) { bTemporalCompression = compressed; }
    void SetSampleSize(ULONG size);
    // Replaces the format block with a copy of length bytes; false when out of memory.
    bool SetFormat(const BYTE* format, ULONG length);
    // A zeroed format block of length bytes (the old one is freed); null when out of memory.
    BYTE* AllocFormatBuffer(ULONG length);
};

// The helpers DirectShow parties use on AM_MEDIA_TYPE structures.
// Frees the format block and releases pUnk (the structure itself stays).
void FreeMediaType(AM_MEDIA_TYPE& type);
// A task-memory AM_MEDIA_TYPE and its format block freed together.
void DeleteMediaType(AM_MEDIA_TYPE* type);
// Deep copy into an uninitialised target; E_OUTOFMEMORY when the format block cannot be copied.
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
// A task-memory deep copy; null when out of memory.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);
