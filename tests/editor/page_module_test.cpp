#ifdef _WIN32

#include "filter/brio_fx.h"
#include "resources/resource_ids.h"
#include "tests/editor/page_fixture.h"

#include <gtest/gtest.h>

#include <string>

namespace tw::test {
namespace {

using GetClassObjectProc = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadProc = HRESULT(STDAPICALLTYPE*)();

// The module as the build leaves it beside the test programs: build/server/briofx.dll.
std::wstring ModulePath() {
    WCHAR path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    for (int up = 0; up < 3; ++up) s = s.substr(0, s.find_last_of(L"\\/"));
    return s + L"\\server\\briofx.dll";
}

IUnknown* Create(GetClassObjectProc getClass, REFCLSID clsid, REFIID iid, HRESULT* hr) {
    IClassFactory* factory = nullptr;
    *hr = getClass(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(*hr)) return nullptr;
    IUnknown* object = nullptr;
    *hr = factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(&object));
    factory->Release();
    return object;
}

// What a host does: the filter names its page, the module makes it, the page edits the filter.
TEST(PropPageModule, HostOpensTheFiltersPageThroughTheModule) {
    HMODULE module = LoadLibraryW(ModulePath().c_str());
    if (!module) GTEST_SKIP() << "the module is not built beside the tests";
    auto getClass = reinterpret_cast<GetClassObjectProc>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    auto canUnload = reinterpret_cast<CanUnloadProc>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(getClass, nullptr);
    ASSERT_NE(canUnload, nullptr);

    HRESULT hr = E_FAIL;
    IUnknown* filter = Create(getClass, CLSID_TwBrioFx, IID_IUnknown, &hr);
    ASSERT_EQ(hr, S_OK);
    ISpecifyPropertyPages* specify = nullptr;
    ASSERT_EQ(filter->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&specify)), S_OK);
    CAUUID pages = {};
    ASSERT_EQ(specify->GetPages(&pages), S_OK);
    specify->Release();
    ASSERT_EQ(pages.cElems, 1u);
    const CLSID pageClass = pages.pElems[0];
    CoTaskMemFree(pages.pElems);

    auto* page = static_cast<IPropertyPage*>(Create(getClass, pageClass, IID_IPropertyPage, &hr));
    if (hr == CLASS_E_CLASSNOTAVAILABLE) {
        filter->Release();
        FreeLibrary(module);
        GTEST_SKIP() << "the module does not serve the page yet";
    }
    ASSERT_EQ(hr, S_OK);
    ASSERT_NE(page, nullptr);

    PROPPAGEINFO info = {};
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    EXPECT_STREQ(info.pszTitle, L"BRIO FX");
    const std::wstring help = info.pszHelpFile;
    EXPECT_EQ(help.substr(help.size() - 10), L"briofx.chm");  // named after the module
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszHelpFile);

    ControlHost host;
    TestSite site;
    ASSERT_EQ(page->SetPageSite(&site), S_OK);
    ASSERT_EQ(page->SetObjects(1, &filter), S_OK);
    const RECT rect = {0, 0, 760, 250};
    ASSERT_EQ(page->Activate(host.window(), &rect, FALSE), S_OK);
    HWND window = PageWindow(host.window());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(SendMessageW(GetDlgItem(window, IDC_DELAY_TIME), TRKM_GETPOS, 0, 0), 11250);
    EXPECT_EQ(Text(GetDlgItem(window, IDC_LFO_DEPTH_VALUE)), L"50");
    EXPECT_EQ(Text(GetDlgItem(window, IDC_LOGO)), L"BRIO FX ");

    // A click on the EQ box switches the filter's EQ on; a preset from the host shows at its notice.
    SendMessageW(GetDlgItem(window, IDC_EQ_ON), BM_CLICK, 0, 0);
    ITwBrioFxProp* prop = nullptr;
    ASSERT_EQ(filter->QueryInterface(IID_ITwBrioFxProp, reinterpret_cast<void**>(&prop)), S_OK);
    int on = 0;
    prop->GetEqOn(&on);
    EXPECT_EQ(on, 1);
    prop->Release();
    IStaticFilterPreset* presets = nullptr;
    ASSERT_EQ(filter->QueryInterface(IID_IStaticFilterPreset, reinterpret_cast<void**>(&presets)), S_OK);
    ASSERT_EQ(presets->LoadPreset(13), S_OK);
    presets->Release();
    PumpMessages();
    EXPECT_EQ(SendMessageW(GetDlgItem(window, IDC_EQ_BASS), TRKM_GETPOS, 0, 0), 60);
    EXPECT_EQ(IsDlgButtonChecked(window, IDC_DELAY_ON), BST_CHECKED);

    EXPECT_EQ(page->Deactivate(), S_OK);
    EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
    EXPECT_EQ(page->SetPageSite(nullptr), S_OK);
    EXPECT_EQ(canUnload(), S_FALSE);
    EXPECT_EQ(page->Release(), 0u);
    EXPECT_EQ(filter->Release(), 0u);
    EXPECT_EQ(site.refs, 1u);
    EXPECT_EQ(canUnload(), S_OK);
    // The module stays loaded: unloading it takes its window classes with it, and under Wine that
    // also disturbs the same-named classes this test program registers for the control tests.
}

}  // namespace
}  // namespace tw::test

#endif  // _WIN32
