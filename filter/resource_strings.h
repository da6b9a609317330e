// The plug-in's resource strings, in the language the host selects. On the windows target they come
// from the resource module's string table in that language; a string the module lacks, and every
// string on the native target, comes from the English table built into the code.
#pragma once

#include "platform/platform.h"

namespace tw {

// Windows language identifier of the English strings; 0 selects it too.
inline constexpr WORD kDefaultResourceLanguage = 1033;

// Makes langId (0 meaning 1033) the language of later loads. A different language empties the
// cache of loaded strings. [any thread]
void SetResourceLanguage(WORD langId);

// The language in use. [any thread]
WORD GetResourceLanguage();

// Copies the string id into buffer, truncated to capacity - 1 characters, always NUL-terminated
// when capacity > 0. Returns the characters copied without the NUL; 0 for an unknown id, a null
// buffer or capacity <= 0 (buffer then holds an empty string when it can). [any thread]
int LoadResString(UINT id, WCHAR* buffer, int capacity);

#ifdef _WIN32
// The module whose string table is searched first; null searches only the built-in table. A new
// module empties the cache. [any thread]
void SetResourceModule(HINSTANCE module);
#endif

}  // namespace tw
