// The registry calls self-registration makes, and class-id text. On the windows target they are the
// system's; natively a stand-in keeps one in-memory key tree (HKEY_CLASSES_ROOT with its CLSID key)
// with the same calls, results and deletion rules, so registration is written and tested once.
#pragma once

#include "platform/platform.h"

#ifndef _WIN32

struct HKEY__;
typedef HKEY__* HKEY;
typedef DWORD REGSAM;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u)))

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L

#define REG_NONE 0
#define REG_SZ 1
#define REG_OPTION_NON_VOLATILE 0
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, HKEY* result);
LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                     REGSAM access, void* security, HKEY* result, DWORD* disposition);
LONG RegCloseKey(HKEY key);
// Fails with ERROR_ACCESS_DENIED while the key has subkeys, as the system's does.
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey);
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD bytes);
LONG RegQueryValueExW(HKEY key, LPCWSTR name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* bytes);
// *nameChars: the buffer's size in characters in, the name's length without its NUL out.
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* nameChars, DWORD* reserved,
                   LPWSTR keyClass, DWORD* classChars, void* lastWriteTime);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with its NUL: 39 characters written and returned; 0
// when capacity is too small.
int StringFromGUID2(REFGUID guid, WCHAR* text, int capacity);

namespace tw {
namespace registry {

// Test seams of the stand-in: back to a tree holding only HKEY_CLASSES_ROOT\CLSID, or (without
// CLSID) to an empty HKEY_CLASSES_ROOT. Keys still open become invalid. [test thread]
void Reset(bool withClsidKey = true);
// Keys open at the moment.
int OpenKeyCount();

}  // namespace registry
}  // namespace tw

#endif  // !_WIN32
