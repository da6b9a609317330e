#include "filter/resource_strings.h"

#include <cstring>

namespace tw {
namespace {

struct BuiltinString {
    UINT id;
    const WCHAR* text;
};

// The English strings, in any order; a new string is one more row.
constexpr BuiltinString kEnglishStrings[] = {
    // Preset names.
    {6020, TW_W("(Default)")},
    {6021, TW_W("Default all parameters")},
    {6022, TW_W("Dotted Eighth Delay")},
    {6023, TW_W("Triplet Delay")},
    {6024, TW_W("Slapback Delay")},
    {6025, TW_W("Delay Chirp")},
    {6026, TW_W("Delay Crunch")},
    {6027, TW_W("Two Beat Phaser")},
    {6028, TW_W("One Measure Flanger")},
    {6029, TW_W("One Beat Wah")},
    {6030, TW_W("Guitar Chorus")},
    {6031, TW_W("Club Guitar")},
    {6032, TW_W("Distant Echoes")},
    {6033, TW_W("Th-THUMP")},
};

// Loaded strings point into the module image or into kEnglishStrings, so the cache holds
// pointers only. A full cache simply stops caching.
constexpr int kCacheSlots = 128;

struct CachedString {
    UINT id;
    const WCHAR* text;
    int length;
};

struct LoaderState {
    LoaderState() { InitializeCriticalSection(&lock); }
    ~LoaderState() { DeleteCriticalSection(&lock); }
    LoaderState(const LoaderState&) = delete;
    LoaderState& operator=(const LoaderState&) = delete;

    CRITICAL_SECTION lock;
    WORD language = kDefaultResourceLanguage;
#ifdef _WIN32
    HINSTANCE module = nullptr;
#endif
    CachedString cache[kCacheSlots] = {};
    int cached = 0;
};

LoaderState& State() {
    static LoaderState state;
    return state;
}

int Length(const WCHAR* text) {
    int n = 0;
    while (text[n]) ++n;
    return n;
}

bool FindBuiltin(UINT id, const WCHAR** text, int* length) {
    for (const BuiltinString& s : kEnglishStrings) {
        if (s.id == id) {
            *text = s.text;
            *length = Length(s.text);
            return true;
        }
    }
    return false;
}

#ifdef _WIN32
// A string-table resource holds 16 strings, each a length word and that many characters, under
// the block number id / 16 + 1. An empty entry means the string is absent.
bool FindInModule(HINSTANCE module, UINT id, WORD language, const WCHAR** text, int* length) {
    HRSRC res = FindResourceExW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(id / 16 + 1),
                                language);
    if (!res) return false;
    HGLOBAL loaded = LoadResource(module, res);
    if (!loaded) return false;
    const WCHAR* p = static_cast<const WCHAR*>(LockResource(loaded));
    if (!p) return false;
    const WCHAR* end = p + SizeofResource(module, res) / sizeof(WCHAR);
    for (UINT i = 0; i < id % 16; ++i) {
        if (p >= end) return false;
        p += 1 + static_cast<WORD>(*p);
    }
    if (p >= end || *p == 0 || p + 1 + static_cast<WORD>(*p) > end) return false;
    *length = static_cast<WORD>(*p);
    *text = p + 1;
    return true;
}
#endif

// Finds id in the current language, falling back to English. Called under the lock.
bool Find(LoaderState& st, UINT id, const WCHAR** text, int* length) {
#ifdef _WIN32
    if (st.module) {
        if (FindInModule(st.module, id, st.language, text, length)) return true;
        if (st.language != kDefaultResourceLanguage &&
            FindInModule(st.module, id, kDefaultResourceLanguage, text, length)) {
            return true;
        }
    }
#else
    (void)st;
#endif
    return FindBuiltin(id, text, length);
}

}  // namespace

void SetResourceLanguage(WORD langId) {
    if (langId == 0) langId = kDefaultResourceLanguage;
    LoaderState& st = State();
    Lock lock(&st.lock);
    if (langId != st.language) {
        st.language = langId;
        st.cached = 0;
    }
}

WORD GetResourceLanguage() {
    LoaderState& st = State();
    Lock lock(&st.lock);
    return st.language;
}

#ifdef _WIN32
void SetResourceModule(HINSTANCE module) {
    LoaderState& st = State();
    Lock lock(&st.lock);
    if (module != st.module) {
        st.module = module;
        st.cached = 0;
    }
}
#endif

int LoadResString(UINT id, WCHAR* buffer, int capacity) {
    if (!buffer || capacity <= 0) return 0;
    buffer[0] = 0;

    LoaderState& st = State();
    Lock lock(&st.lock);
    const WCHAR* text = nullptr;
    int length = 0;
    bool found = false;
    for (int i = 0; i < st.cached; ++i) {
        if (st.cache[i].id == id) {
            text = st.cache[i].text;
            length = st.cache[i].length;
            found = true;
            break;
        }
    }
    if (!found) {
        if (!Find(st, id, &text, &length)) return 0;
        if (st.cached < kCacheSlots) st.cache[st.cached++] = {id, text, length};
    }
    const int n = length < capacity - 1 ? length : capacity - 1;
    std::memcpy(buffer, text, static_cast<size_t>(n) * sizeof(WCHAR));
    buffer[n] = 0;
    return n;
}

}  // namespace tw
