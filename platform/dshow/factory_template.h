// The class-factory template table: one read-only row per creatable class of the module, looked up
// by class id and walked in row order by the module's entry points.
#pragma once

#include "platform/dshow/combase.h"
#include "platform/dshow/dshow_api.h"

// Creates one instance: outer may be null; *hr reports the outcome. Returns the new object (its
// non-delegating IUnknown carries the reference count, still 0) or null.
typedef CUnknown* (*LPFNNewCOMObject)(IUnknown* outer, HRESULT* hr);
// Called with TRUE at process attach and FALSE at detach.
typedef void (*LPFNInitRoutine)(BOOL loading, const CLSID* clsid);

struct CFactoryTemplate {
    const WCHAR* m_Name;
    const CLSID* m_ClsID;
    LPFNNewCOMObject m_lpfnNew;
    LPFNInitRoutine m_lpfnInit;
    const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;

    bool IsClassID(REFCLSID clsid) const { return IsEqualCLSID(*m_ClsID, clsid); }
};

namespace tw {
namespace dshow {

// The row for clsid among count rows, first match in row order; null when none.
inline const CFactoryTemplate* FindTemplate(const CFactoryTemplate* rows, int count, REFCLSID clsid) {
    for (int i = 0; i < count; ++i) {
        if (rows[i].IsClassID(clsid)) return &rows[i];
    }
    return nullptr;
}

// The framework's part of module load and unload: at attach it records the module instance and the
// operating system's platform id (1 when the version query fails), switches off thread
// notifications for the module and calls every row's load hook with TRUE; at detach it calls
// them with FALSE. [loader thread]
void ModuleEntry(void* instance, bool attach, const CFactoryTemplate* rows, int count);
// What ModuleEntry recorded (null and 0 before the first attach).
void* ModuleInstance();
DWORD PlatformId();

}  // namespace dshow
}  // namespace tw
