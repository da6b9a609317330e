// Pieces of the tests that run the built module with the system's own clients (windows target).
#pragma once

#include "server/module.h"

#include <string>

namespace brio_wine {

// The built module as the system names it (the build's path on drive Z:).
inline std::wstring DllPath() {
    std::wstring path = L"Z:";
    for (const char* c = BRIOFX_MODULE_PATH; *c; ++c) path.push_back(*c == '/' ? L'\\' : static_cast<wchar_t>(*c));
    return path;
}

inline std::wstring GuidText(REFGUID guid) {
    WCHAR text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

inline std::wstring ClsidKey(REFCLSID clsid) { return L"CLSID\\" + GuidText(clsid); }

inline bool KeyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// A string value under HKEY_CLASSES_ROOT, or "<missing>".
inline std::wstring ReadString(const std::wstring& path, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return L"<missing>";
    wchar_t data[600] = {};
    DWORD bytes = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    const LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) return L"<missing>";
    return type == REG_SZ ? std::wstring(data) : L"<not a string>";
}

inline DWORD ReadDword(const std::wstring& path, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    DWORD value = 0;
    DWORD bytes = sizeof(value);
    DWORD type = 0;
    const LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes);
    RegCloseKey(key);
    return r == ERROR_SUCCESS && type == REG_DWORD ? value : 0;
}

class ComScope {
public:
    ComScope() : hr_(CoInitialize(nullptr)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT hr_;
};

// The built module, loaded by the system's loader, used through its exports only.
class Module {
public:
    Module() : module_(LoadLibraryW(DllPath().c_str())) {
        if (module_) {
            getClassObject_ = reinterpret_cast<GetClassObject>(
                reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
            canUnload_ = reinterpret_cast<NoArgs>(reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
            unregister_ = reinterpret_cast<NoArgs>(
                reinterpret_cast<void*>(GetProcAddress(module_, "DllUnregisterServer")));
        }
    }
    ~Module() {
        if (module_) FreeLibrary(module_);
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    bool Loaded() const { return module_ && getClassObject_ && canUnload_ && unregister_; }

    HRESULT Create(REFIID riid, void** ppv) {
        IClassFactory* factory = nullptr;
        HRESULT hr = getClassObject_(CLSID_TwBrioFx, IID_IClassFactory, reinterpret_cast<void**>(&factory));
        if (FAILED(hr)) return hr;
        hr = factory->CreateInstance(nullptr, riid, ppv);
        factory->Release();
        return hr;
    }
    HRESULT CanUnloadNow() { return canUnload_(); }
    HRESULT Unregister() { return unregister_(); }

private:
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using NoArgs = HRESULT(STDAPICALLTYPE*)();

    HMODULE module_;
    GetClassObject getClassObject_ = nullptr;
    NoArgs canUnload_ = nullptr;
    NoArgs unregister_ = nullptr;
};

}  // namespace brio_wine
