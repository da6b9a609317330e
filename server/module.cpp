#include "server/module.h"

#include "filter/resource_strings.h"
#include "platform/dshow/combase.h"
#include "server/class_factory.h"

#ifdef TW_SERVER_WITH_EDITOR
#include "editor/brio_fx_prop_page.h"
#include "editor/controls.h"
#endif

#ifndef _WIN32
#include <dlfcn.h>
#include <climits>
#include <cstdlib>
#endif

const CFactoryTemplate g_Templates[] = {
    {kTwBrioFxName, &CLSID_TwBrioFx, CTwBrioFx::CreateInstance, nullptr, &kTwBrioFxSetup},
#ifdef TW_SERVER_WITH_EDITOR
    {TW_W("Orvo BRIO FX Property Page"), &CLSID_TwBrioFxPropPage, CreateBrioFxPropPage, nullptr, nullptr},
#endif
};
const int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

namespace {

volatile LONG g_serverLocks = 0;

#ifdef _WIN32
HINSTANCE g_module = nullptr;

// The shared framework for this module: error boxes off, and the module as the resource module
// its dialogs, strings and bitmaps come from.
bool InitFramework(HINSTANCE module) {
    SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    g_module = module;
    tw::SetResourceModule(module);
    return true;
}

void ShutdownFramework() {
    tw::SetResourceModule(nullptr);
    g_module = nullptr;
}
#endif

HRESULT RegisterAll(bool registering) {
    HRESULT hr = S_OK;
    for (int i = 0; i < g_cTemplates; ++i) {
        WCHAR name[tw::server::kMaxPathChars];
        tw::dshow::WideCopy(name, tw::server::kMaxPathChars, g_Templates[i].m_Name);
        hr = tw::server::WriteClassKey(*g_Templates[i].m_ClsID, name, registering);
        if (FAILED(hr)) break;
    }
    return hr;
}

}  // namespace

namespace tw {
namespace server {

void LockModule(bool lock) {
    if (lock) {
        InterlockedIncrement(&g_serverLocks);
    } else {
        InterlockedDecrement(&g_serverLocks);
    }
}

LONG ServerLocks() { return g_serverLocks; }

DWORD ModuleFileName(WCHAR* buffer, DWORD capacity) {
    if (!buffer || capacity == 0) return 0;
#ifdef _WIN32
    const DWORD n = GetModuleFileNameW(g_module, buffer, capacity);
    buffer[n < capacity ? n : capacity - 1] = 0;
    return n < capacity ? n : capacity - 1;
#else
    buffer[0] = 0;
    Dl_info info = {};
    if (!dladdr(reinterpret_cast<void*>(&DllGetClassObject), &info) || !info.dli_fname) return 0;
    char resolved[PATH_MAX];
    const char* path = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
    // UTF-8 to UTF-16, cut at the capacity.
    DWORD n = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(path);
    while (*p && n + 1 < capacity) {
        uint32_t c = *p++;
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (more) c &= (0x3F >> more);
        for (; more > 0 && (*p & 0xC0) == 0x80; --more) c = (c << 6) | (*p++ & 0x3F);
        if (c >= 0x10000) {
            if (n + 2 >= capacity) break;
            c -= 0x10000;
            buffer[n++] = static_cast<WCHAR>(0xD800 + (c >> 10));
            buffer[n++] = static_cast<WCHAR>(0xDC00 + (c & 0x3FF));
        } else {
            buffer[n++] = static_cast<WCHAR>(c);
        }
    }
    buffer[n] = 0;
    return n;
#endif
}

}  // namespace server
}  // namespace tw

// ---- Entry points ------------------------------------------------------------------------------

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        if (!InitFramework(instance)) return FALSE;
#ifdef TW_SERVER_WITH_EDITOR
        tw::RegisterEditorClasses(instance);
#endif
    } else if (reason == DLL_PROCESS_DETACH) {
#ifdef TW_SERVER_WITH_EDITOR
        tw::UnregisterEditorClasses(instance);
#endif
        ShutdownFramework();
    }
    if (reason == DLL_PROCESS_ATTACH || reason == DLL_PROCESS_DETACH) {
        tw::dshow::ModuleEntry(instance, reason == DLL_PROCESS_ATTACH, g_Templates, g_cTemplates);
    }
    return TRUE;
}
#endif

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
        return E_NOINTERFACE;
    }
    const CFactoryTemplate* row = tw::dshow::FindTemplate(g_Templates, g_cTemplates, rclsid);
    if (!row) return CLASS_E_CLASSNOTAVAILABLE;
    CClassFactory* factory = new CClassFactory(row);
    if (!factory) return E_OUTOFMEMORY;
    factory->AddRef();
    *ppv = static_cast<IClassFactory*>(factory);
    return S_OK;
}

STDAPI DllCanUnloadNow() {
    return (tw::server::ServerLocks() > 0 || CBaseObject::ObjectsActive() != 0) ? S_FALSE : S_OK;
}

STDAPI DllRegisterServer() { return RegisterAll(true); }

STDAPI DllUnregisterServer() { return RegisterAll(false); }
