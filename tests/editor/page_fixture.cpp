#ifdef _WIN32

#include "tests/editor/page_fixture.h"

namespace tw::test {

HRESULT STDMETHODCALLTYPE TestSite::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPropertyPageSite)) {
        *ppv = static_cast<IPropertyPageSite*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE TestSite::GetLocaleID(LCID* locale) {
    if (!locale) return E_POINTER;
    *locale = 1033;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSite::GetPageContainer(IUnknown** container) {
    if (container) *container = nullptr;
    return E_NOTIMPL;
}

RecordingFilter::RecordingFilter() : controller(static_cast<ITwBrioFxProp*>(this)) {
    controller.SetParams(&kFxPresets[0].params);
}

HRESULT STDMETHODCALLTYPE RecordingFilter::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ITwBrioFxProp)) {
        *ppv = static_cast<ITwBrioFxProp*>(this);
    } else if (IsEqualIID(riid, IID_IStaticFilterPreset) && offersPresets) {
        *ppv = static_cast<IStaticFilterPreset*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordingFilter::GetPresetCount(int* count) {
    *count = kPresetCount;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordingFilter::GetPresetName(int index, WCHAR* buffer, int reserved) {
    nameReserved.push_back(reserved);
    if (index == failingName) return E_FAIL;
    if (index == 2) {
        lstrcpyW(buffer, L"Rock & Roll");
        return S_OK;
    }
    return ::GetPresetName(index, buffer);
}

HRESULT STDMETHODCALLTYPE RecordingFilter::LoadPreset(int index) {
    loaded.push_back(index);
    return controller.LoadPreset(index);
}

void PumpMessages() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}

PageObject::PageObject() {
    HRESULT hr = E_FAIL;
    object = CreateBrioFxPropPage(nullptr, &hr);
    EXPECT_EQ(hr, S_OK);
    if (object) {
        EXPECT_EQ(object->NonDelegatingUnknown()->QueryInterface(IID_IPropertyPage, reinterpret_cast<void**>(&page)),
                  S_OK);
    }
}

PageObject::~PageObject() {
    if (page) {
        EXPECT_EQ(page->Release(), 0u);
    }
}

FilterObject::FilterObject() {
    HRESULT hr = E_FAIL;
    CUnknown* filter = CTwBrioFx::CreateInstance(nullptr, &hr);
    EXPECT_EQ(hr, S_OK);
    if (!filter) return;
    unknown = filter->NonDelegatingUnknown();
    unknown->AddRef();
    EXPECT_EQ(unknown->QueryInterface(IID_ITwBrioFxProp, reinterpret_cast<void**>(&prop)), S_OK);
    EXPECT_EQ(unknown->QueryInterface(IID_IStaticFilterPreset, reinterpret_cast<void**>(&presets)), S_OK);
    // The construction-time notice has no window to go to yet.
    PumpMessages();
}

FilterObject::~FilterObject() {
    if (prop) prop->Release();
    if (presets) presets->Release();
    if (unknown) {
        EXPECT_EQ(unknown->Release(), 0u);
    }
}

HWND PageWindow(HWND host) {
    for (HWND child = GetWindow(host, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        WCHAR name[16];
        GetClassNameW(child, name, 16);
        if (lstrcmpW(name, L"#32770") == 0) return child;
    }
    return nullptr;
}

std::wstring Text(HWND window) {
    WCHAR buffer[512] = {};
    GetWindowTextW(window, buffer, 512);
    return buffer;
}

}  // namespace tw::test

#endif  // _WIN32
