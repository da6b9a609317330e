// The filter's IPersistStream behaviour over a COM stream. The stream holds 116 little-endian
// bytes: the total size 116 (uint32), the IID of ITwBrioFxProp as format identifier, and the
// 96-byte FxParams. There is no version field: size and identifier together select the format.
// The filter object only forwards its IPersistStream slots here. [any thread]
#pragma once

#include "filter/transform.h"
#include "platform/com_stream.h"
#include "platform/platform.h"

#include <cstdint>

inline constexpr ULONG kPersistedSize = 116;
inline constexpr ULONG kPersistHeaderSize = 20;

// The filter's class id into *out; E_POINTER for a null out.
HRESULT PersistGetClassID(REFCLSID filterClsid, CLSID* out);
// S_OK while unsaved changes exist, S_FALSE otherwise.
HRESULT PersistIsDirty(CTwBrioFxTransform& fx);
// Reads the header and the record; a refused header (E_FAIL) or a failed read changes nothing.
HRESULT PersistLoad(CTwBrioFxTransform& fx, IStream* stream);
// Writes header and record; clearDirty clears the dirty flag once both are written.
HRESULT PersistSave(CTwBrioFxTransform& fx, IStream* stream, BOOL clearDirty);
// 116, high part 0.
HRESULT PersistGetSizeMax(ULARGE_INTEGER* size);
