#include "platform/registry.h"

#ifndef _WIN32

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using WideString = std::u16string;

struct Value {
    DWORD type;
    std::vector<BYTE> data;
};

// Names compare without regard to ASCII case, as the system's do; they keep their spelling.
struct NameLess {
    static char16_t Fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c; }
    bool operator()(const WideString& a, const WideString& b) const {
        const size_t n = a.size() < b.size() ? a.size() : b.size();
        for (size_t i = 0; i < n; ++i) {
            const char16_t x = Fold(a[i]);
            const char16_t y = Fold(b[i]);
            if (x != y) return x < y;
        }
        return a.size() < b.size();
    }
};

struct Key {
    std::map<WideString, std::unique_ptr<Key>, NameLess> children;  // enumerated in name order
    std::map<WideString, Value, NameLess> values;                   // "" is the default value
};

// An open key remembers its path, not the node: a key deleted while open simply stops resolving.
struct OpenKey {
    std::vector<WideString> path;
};

std::mutex g_mutex;
std::unique_ptr<Key> g_root;
int g_openKeys = 0;

Key* Root() {
    if (!g_root) {
        g_root = std::make_unique<Key>();
        g_root->children[u"CLSID"] = std::make_unique<Key>();
    }
    return g_root.get();
}

bool PathOf(HKEY key, std::vector<WideString>* path) {
    if (key == HKEY_CLASSES_ROOT) {
        path->clear();
        return true;
    }
    if (!key) return false;
    *path = reinterpret_cast<OpenKey*>(key)->path;
    return true;
}

Key* Resolve(const std::vector<WideString>& path) {
    Key* node = Root();
    for (const WideString& part : path) {
        auto it = node->children.find(part);
        if (it == node->children.end()) return nullptr;
        node = it->second.get();
    }
    return node;
}

// Splits "a\b\c" into its parts; false for an empty part.
bool Split(LPCWSTR text, std::vector<WideString>* parts) {
    parts->clear();
    if (!text || !*text) return true;
    WideString part;
    for (const WCHAR* c = text;; ++c) {
        if (*c == u'\\' || *c == 0) {
            if (part.empty()) return false;
            parts->push_back(part);
            part.clear();
            if (*c == 0) break;
        } else {
            part.push_back(*c);
        }
    }
    return true;
}

HKEY NewHandle(std::vector<WideString> path) {
    OpenKey* open = new OpenKey{std::move(path)};
    ++g_openKeys;
    return reinterpret_cast<HKEY>(open);
}

}  // namespace

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, HKEY* result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(g_mutex);
    std::vector<WideString> path;
    std::vector<WideString> parts;
    if (!PathOf(key, &path) || !Resolve(path)) return ERROR_INVALID_HANDLE;
    if (!Split(subKey, &parts)) return ERROR_INVALID_PARAMETER;
    path.insert(path.end(), parts.begin(), parts.end());
    if (!Resolve(path)) return ERROR_FILE_NOT_FOUND;
    *result = NewHandle(std::move(path));
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM, void*, HKEY* result,
                     DWORD* disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(g_mutex);
    std::vector<WideString> path;
    std::vector<WideString> parts;
    if (!PathOf(key, &path)) return ERROR_INVALID_HANDLE;
    Key* node = Resolve(path);
    if (!node) return ERROR_INVALID_HANDLE;
    if (!Split(subKey, &parts)) return ERROR_INVALID_PARAMETER;
    bool created = false;
    for (const WideString& part : parts) {
        std::unique_ptr<Key>& child = node->children[part];
        if (!child) {
            child = std::make_unique<Key>();
            created = true;
        }
        node = child.get();
        path.push_back(part);
    }
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle(std::move(path));
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (key == HKEY_CLASSES_ROOT) return ERROR_SUCCESS;
    if (!key) return ERROR_INVALID_HANDLE;
    std::lock_guard<std::mutex> guard(g_mutex);
    delete reinterpret_cast<OpenKey*>(key);
    --g_openKeys;
    return ERROR_SUCCESS;
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    std::lock_guard<std::mutex> guard(g_mutex);
    std::vector<WideString> path;
    std::vector<WideString> parts;
    if (!PathOf(key, &path) || !Resolve(path)) return ERROR_INVALID_HANDLE;
    if (!Split(subKey, &parts) || parts.empty()) return ERROR_INVALID_PARAMETER;
    path.insert(path.end(), parts.begin(), parts.end() - 1);
    Key* parent = Resolve(path);
    if (!parent) return ERROR_FILE_NOT_FOUND;
    auto it = parent->children.find(parts.back());
    if (it == parent->children.end()) return ERROR_FILE_NOT_FOUND;
    if (!it->second->children.empty()) return ERROR_ACCESS_DENIED;
    parent->children.erase(it);
    return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD bytes) {
    std::lock_guard<std::mutex> guard(g_mutex);
    std::vector<WideString> path;
    if (!PathOf(key, &path)) return ERROR_INVALID_HANDLE;
    Key* node = Resolve(path);
    if (!node) return ERROR_INVALID_HANDLE;
    if (bytes && !data) return ERROR_INVALID_PARAMETER;
    Value& value = node->values[name ? WideString(name) : WideString()];
    value.type = type;
    value.data.assign(data, data + bytes);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, DWORD*, DWORD* type, BYTE* data, DWORD* bytes) {
    std::lock_guard<std::mutex> guard(g_mutex);
    std::vector<WideString> path;
    if (!PathOf(key, &path)) return ERROR_INVALID_HANDLE;
    Key* node = Resolve(path);
    if (!node) return ERROR_INVALID_HANDLE;
    auto it = node->values.find(name ? WideString(name) : WideString());
    if (it == node->values.end()) return ERROR_FILE_NOT_FOUND;
    const Value& value = it->second;
    if (type) *type = value.type;
    const DWORD size = static_cast<DWORD>(value.data.size());
    if (data) {
        if (!bytes) return ERROR_INVALID_PARAMETER;
        if (*bytes < size) {
            *bytes = size;
            return ERROR_MORE_DATA;
        }
        if (size) std::memcpy(data, value.data.data(), size);
    }
    if (bytes) *bytes = size;
    return ERROR_SUCCESS;
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* nameChars, DWORD*, LPWSTR, DWORD*,
                   void*) {
    if (!name || !nameChars) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(g_mutex);
    std::vector<WideString> path;
    if (!PathOf(key, &path)) return ERROR_INVALID_HANDLE;
    Key* node = Resolve(path);
    if (!node) return ERROR_INVALID_HANDLE;
    if (index >= node->children.size()) return ERROR_NO_MORE_ITEMS;
    auto it = node->children.begin();
    for (DWORD i = 0; i < index; ++i) ++it;
    const WideString& child = it->first;
    if (child.size() + 1 > *nameChars) return ERROR_MORE_DATA;
    std::memcpy(name, child.c_str(), (child.size() + 1) * sizeof(WCHAR));
    *nameChars = static_cast<DWORD>(child.size());
    return ERROR_SUCCESS;
}

int StringFromGUID2(REFGUID guid, WCHAR* text, int capacity) {
    if (!text || capacity < 39) return 0;
    char ascii[40];
    std::snprintf(ascii, sizeof ascii, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    for (int i = 0; i < 39; ++i) text[i] = static_cast<WCHAR>(ascii[i]);
    return 39;
}

namespace tw {
namespace registry {

void Reset(bool withClsidKey) {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_root = std::make_unique<Key>();
    if (withClsidKey) g_root->children[u"CLSID"] = std::make_unique<Key>();
}

int OpenKeyCount() {
    std::lock_guard<std::mutex> guard(g_mutex);
    return g_openKeys;
}

}  // namespace registry
}  // namespace tw

#endif  // !_WIN32
