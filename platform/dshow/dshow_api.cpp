// On the windows target this one source defines the DirectShow GUIDs the SDK headers only declare
// (the module links no GUID library of the SDK's); natively it provides task memory.
#include "platform/platform.h"

#ifdef _WIN32

// After platform.h, so that only the DirectShow headers define their GUIDs here. <uuids.h> has no
// include guard: this source must not include dshow_api.h as well.
#include <initguid.h>
#include <strmif.h>
#include <uuids.h>

#else

#include "platform/dshow/dshow_api.h"

// Task memory is the module's zero-filled allocation, so tests can count and fail it too.
void* CoTaskMemAlloc(size_t bytes) { return tw::ZeroAlloc(bytes); }
void CoTaskMemFree(void* p) { tw::ZeroFree(p); }

#endif
