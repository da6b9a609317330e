#include "platform/dshow/factory_template.h"

namespace tw {
namespace dshow {

namespace {
void* g_instance = nullptr;
DWORD g_platformId = 0;
}  // namespace

void ModuleEntry(void* instance, bool attach, const CFactoryTemplate* rows, int count) {
    if (attach) {
        g_instance = instance;
#ifdef _WIN32
        DisableThreadLibraryCalls(static_cast<HMODULE>(instance));
        OSVERSIONINFOW version = {};
        version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        g_platformId = GetVersionExW(&version) ? version.dwPlatformId : 1;
#pragma GCC diagnostic pop
#else
        g_platformId = 1;
#endif
    }
    for (int i = 0; i < count; ++i) {
        if (rows[i].m_lpfnInit) rows[i].m_lpfnInit(attach ? TRUE : FALSE, rows[i].m_ClsID);
    }
}

void* ModuleInstance() { return g_instance; }
DWORD PlatformId() { return g_platformId; }

}  // namespace dshow
}  // namespace tw
