// What the property page tests drive the page with: a host window, a page site, the real filter or
// a recording stand-in, and a helper that pumps the page's posted messages.
#pragma once

#ifdef _WIN32

#include "editor/brio_fx_prop_page.h"
#include "filter/brio_fx.h"
#include "filter/presets.h"
#include "filter/transform.h"
#include "tests/editor/control_host.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tw::test {

// A host's page site: answers the four calls and counts its references.
class TestSite : public IPropertyPageSite {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD flags) override {
        statusChanges.push_back(flags);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* locale) override;
    HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown** container) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return S_FALSE; }

    ULONG refs = 1;
    std::vector<DWORD> statusChanges;
};

// An object with the controller inside, the parameter and preset interfaces outside, that
// records each setter call and can make single preset names fail.
class RecordingFilter : public ITwBrioFxProp, public IStaticFilterPreset {
public:
    struct Call {
        std::string field;
        int value;
    };

    RecordingFilter();
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }

    HRESULT STDMETHODCALLTYPE GetParams(FxParams* p) override { return controller.GetParams(p); }
    HRESULT STDMETHODCALLTYPE SetParams(const FxParams* p) override { return controller.SetParams(p); }
    HRESULT STDMETHODCALLTYPE GetStreamFormat(WAVEFORMATEX* f) override { return controller.GetStreamFormat(f); }
    HRESULT STDMETHODCALLTYPE SetNotifyWindow(HWND window, WORD id) override {
        notifyCalls.push_back({window, id});
        return controller.SetNotifyWindow(window, id);
    }

#define TW_RECORDED_FIELD(Name)                                                      \
    HRESULT STDMETHODCALLTYPE Get##Name(int* v) override { return controller.Get##Name(v); } \
    HRESULT STDMETHODCALLTYPE Set##Name(int v) override {                           \
        calls.push_back({#Name, v});                                                 \
        return controller.Set##Name(v);                                              \
    }
    TW_RECORDED_FIELD(DelayClock)
    TW_RECORDED_FIELD(DelayNote)
    TW_RECORDED_FIELD(DelayTime)
    TW_RECORDED_FIELD(DelayDecay)
    TW_RECORDED_FIELD(DelayMix)
    TW_RECORDED_FIELD(DelayOn)
    TW_RECORDED_FIELD(LfoType)
    TW_RECORDED_FIELD(LfoClock)
    TW_RECORDED_FIELD(LfoPeriod)
    TW_RECORDED_FIELD(LfoRate)
    TW_RECORDED_FIELD(LfoDepth)
    TW_RECORDED_FIELD(LfoOn)
    TW_RECORDED_FIELD(ReverbType)
    TW_RECORDED_FIELD(ReverbMix)
    TW_RECORDED_FIELD(ReverbOn)
    TW_RECORDED_FIELD(DistSlew)
    TW_RECORDED_FIELD(DistHardClip)
    TW_RECORDED_FIELD(DistOn)
    TW_RECORDED_FIELD(EqMid)
    TW_RECORDED_FIELD(EqBass)
    TW_RECORDED_FIELD(EqTreble)
    TW_RECORDED_FIELD(EqOn)
#undef TW_RECORDED_FIELD

    HRESULT STDMETHODCALLTYPE GetPresetCount(int* count) override;
    HRESULT STDMETHODCALLTYPE GetPresetName(int index, WCHAR* buffer, int reserved) override;
    HRESULT STDMETHODCALLTYPE LoadPreset(int index) override;

    CTwBrioFxTransform controller;
    ULONG refs = 1;
    bool offersPresets = true;
    int failingName = -1;  // this index's name query fails
    std::vector<Call> calls;
    struct NotifyCall {
        HWND window;
        WORD id;
    };
    std::vector<NotifyCall> notifyCalls;
    std::vector<int> loaded;
    std::vector<int> nameReserved;
};

// Handles posted messages of this thread (the filter's notices among them).
void PumpMessages();

// The page created as the class table creates it, with its IPropertyPage.
struct PageObject {
    PageObject();
    ~PageObject();
    PageObject(const PageObject&) = delete;
    PageObject& operator=(const PageObject&) = delete;
    CUnknown* object = nullptr;
    IPropertyPage* page = nullptr;
};

// The real filter (one reference held) with its parameter and preset interfaces.
struct FilterObject {
    FilterObject();
    ~FilterObject();
    FilterObject(const FilterObject&) = delete;
    FilterObject& operator=(const FilterObject&) = delete;
    IUnknown* unknown = nullptr;
    ITwBrioFxProp* prop = nullptr;
    IStaticFilterPreset* presets = nullptr;
};

// The dialog the page made inside its host.
HWND PageWindow(HWND host);
std::wstring Text(HWND window);

}  // namespace tw::test

#endif  // _WIN32
