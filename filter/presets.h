// The built-in presets: fourteen complete parameter records with their string-table names, and the
// host-facing interface that lists and loads them.
#pragma once

#include "filter/fx_params.h"
#include "platform/platform.h"

inline constexpr int kPresetCount = 14;
inline constexpr UINT kPresetNameIdFirst = 6020;  // row i is named by string 6020 + i
// A name buffer must hold this many characters: the longest name, 22, and its NUL.
inline constexpr int kPresetNameChars = 23;

struct FxPreset {
    UINT nameId;
    FxParams params;
};

// Row 0 is also the record a new filter starts with.
extern const FxPreset kFxPresets[kPresetCount];

// Copies the name of preset index, in the current resource language, with its NUL into buffer,
// which holds kPresetNameChars characters; a longer translation is cut to fit. E_INVALIDARG for
// an index outside 0..13, E_POINTER for a null buffer. [any thread]
HRESULT GetPresetName(int index, WCHAR* buffer);

// The filter's preset list for hosts and the property page.
struct IStaticFilterPreset : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPresetCount(int* count) = 0;  // 3
    // The name buffer has no size of its own (see kPresetNameChars); reserved is not used.
    virtual HRESULT STDMETHODCALLTYPE GetPresetName(int index, WCHAR* buffer, int reserved) = 0;  // 4
    virtual HRESULT STDMETHODCALLTYPE LoadPreset(int index) = 0;  // 5
};

inline constexpr IID IID_IStaticFilterPreset = {
    0x3E8A51D7, 0x92B4, 0x4F6C, {0xA1, 0x0D, 0x5B, 0x73, 0xC2, 0x9E, 0x44, 0x18}};
