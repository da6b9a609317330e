// The module: its entry points, the class table they serve and the self-registration they do.
#pragma once

#include "filter/brio_fx.h"
#include "platform/dshow/factory_template.h"
#include "platform/platform.h"
#include "platform/registry.h"

#ifdef _WIN32
STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
STDAPI DllCanUnloadNow();
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();
#else
#ifndef STDAPI
#define STDAPI extern "C" HRESULT
#endif
STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
STDAPI DllCanUnloadNow();
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();
#endif

// The creatable classes, looked up by class id and walked in row order by the entry points.
extern const CFactoryTemplate g_Templates[];
extern const int g_cTemplates;

namespace tw {
namespace server {

// Longest path and name the registration writes, in characters with the NUL.
inline constexpr DWORD kMaxPathChars = 260;

// Writes (registering) or removes the class key HKEY_CLASSES_ROOT\CLSID\{clsid}: its name, and
// InprocServer32 naming this module with ThreadingModel "Both". E_FAIL when the class id cannot be
// formatted or CLSID cannot be opened, or (registering) the class key cannot be made; a failed
// removal is not reported. [application thread]
HRESULT WriteClassKey(REFCLSID clsid, const WCHAR* name, bool registering);

// Deletes parent\name with every key beneath it; ERROR_SUCCESS also when it did not exist.
LONG DeleteKeyTree(HKEY parent, const WCHAR* name);

// This module's file, at most capacity - 1 characters and a NUL; the characters written.
DWORD ModuleFileName(WCHAR* buffer, DWORD capacity);

// LockServer's count, changed with interlocked operations. [any thread]
void LockModule(bool lock);
LONG ServerLocks();

}  // namespace server
}  // namespace tw
