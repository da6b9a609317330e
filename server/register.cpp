#include "server/module.h"

namespace tw {
namespace server {

namespace {

LONG SetString(HKEY key, const WCHAR* name, const WCHAR* text) {
    const DWORD bytes = static_cast<DWORD>((tw::dshow::WideLength(text) + 1) * sizeof(WCHAR));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
}

}  // namespace

LONG DeleteKeyTree(HKEY parent, const WCHAR* name) {
    LONG result = RegDeleteKeyW(parent, name);
    if (result == ERROR_SUCCESS) return result;
    HKEY key = nullptr;
    result = RegOpenKeyExW(parent, name, 0, KEY_READ, &key);
    if (result == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (result != ERROR_SUCCESS) return result;
    // Always the first child: each one deleted moves the next to index 0.
    for (;;) {
        WCHAR child[kMaxPathChars + 1];
        DWORD chars = kMaxPathChars + 1;
        if (RegEnumKeyExW(key, 0, child, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        if (DeleteKeyTree(key, child) != ERROR_SUCCESS) break;
    }
    RegCloseKey(key);
    return RegDeleteKeyW(parent, name);
}

HRESULT WriteClassKey(REFCLSID clsid, const WCHAR* name, bool registering) {
    WCHAR clsidText[42];
    if (StringFromGUID2(clsid, clsidText, 42) == 0) return E_FAIL;
    HKEY clsidKey = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, TW_W("CLSID"), 0, KEY_ALL_ACCESS, &clsidKey) != ERROR_SUCCESS) {
        return E_FAIL;
    }
    if (registering) {
        HKEY classKey = nullptr;
        if (RegCreateKeyExW(clsidKey, clsidText, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &classKey, nullptr) != ERROR_SUCCESS) {
            RegCloseKey(clsidKey);
            return E_FAIL;
        }
        SetString(classKey, nullptr, name);
        HKEY serverKey = nullptr;
        if (RegCreateKeyExW(classKey, TW_W("InProcServer32"), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &serverKey, nullptr) == ERROR_SUCCESS) {
            WCHAR path[kMaxPathChars] = {};
            ModuleFileName(path, kMaxPathChars);
            SetString(serverKey, nullptr, path);
            // "Both" and its NUL: 10 bytes.
            SetString(serverKey, TW_W("ThreadingModel"), TW_W("Both"));
            RegCloseKey(serverKey);
        }
        RegCloseKey(classKey);
    } else {
        DeleteKeyTree(clsidKey, clsidText);
    }
    RegCloseKey(clsidKey);
    return S_OK;
}

}  // namespace server
}  // namespace tw
