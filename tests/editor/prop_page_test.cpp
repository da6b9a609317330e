#ifdef _WIN32

#include "editor/control_common.h"
#include "editor/controls.h"
#include "resources/resource_ids.h"
#include "tests/editor/page_fixture.h"
#include "tests/editor/png_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace tw::test {
namespace {

using Getter = HRESULT (STDMETHODCALLTYPE ITwBrioFxProp::*)(int*);

struct HelpCall {
    PageHelpKind kind;
    std::wstring file;
    DWORD context;
};
std::vector<HelpCall> g_help;

void RecordHelp(PageHelpKind kind, const WCHAR* file, DWORD context, HWND) {
    g_help.push_back({kind, file ? file : L"", context});
}

// What the menu tracker saw, and the command it answers with.
struct MenuItem {
    UINT id;
    std::wstring text;
    bool separator;
    bool popup;
};
struct MenuSeen {
    int x = 0, y = 0;
    std::vector<MenuItem> items;
    std::vector<MenuItem> presets;
    bool opened = false;
};
MenuSeen g_menu;
UINT g_menuAnswer = 0;

std::vector<MenuItem> ReadMenu(HMENU menu) {
    std::vector<MenuItem> out;
    const int n = GetMenuItemCount(menu);
    for (int i = 0; i < n; ++i) {
        WCHAR text[300] = {};
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = 300;
        GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
        out.push_back({info.wID, text, (info.fType & MFT_SEPARATOR) != 0, info.hSubMenu != nullptr});
    }
    return out;
}

UINT RecordMenu(HMENU menu, int x, int y, HWND) {
    g_menu.opened = true;
    g_menu.x = x;
    g_menu.y = y;
    g_menu.items = ReadMenu(menu);
    if (HMENU presets = GetSubMenu(menu, 0)) g_menu.presets = ReadMenu(presets);
    return g_menuAnswer;
}

std::vector<std::wstring> g_opened;
void RecordOpen(const WCHAR* address) { g_opened.push_back(address); }

void SetCtrl(bool down) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = down ? 0x80 : 0;
    SetKeyboardState(keys);
}

// The folder of the test program, where the screenshots go.
std::wstring OutputFolder() {
    WCHAR path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L"\\/") + 1);
}

// Copies the window's screen area: under a bare X server a dialog printed through PrintWindow
// comes without its child controls, the screen holds it whole once it has painted.
bool SaveScreenshot(HWND window, const wchar_t* name) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    for (int i = 0; i < 10; ++i) {
        PumpMessages();
        Sleep(30);
    }
    // The client area: without a window manager the X server shows no frames.
    RECT r;
    GetClientRect(window, &r);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    std::vector<uint32_t> pixels(static_cast<const uint32_t*>(bits),
                                 static_cast<const uint32_t*>(bits) + static_cast<size_t>(w) * h);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    const std::vector<uint8_t> png = EncodePng(w, h, pixels);
    FILE* f = _wfopen((OutputFolder() + name).c_str(), L"wb");
    if (!f) return false;
    const bool ok = fwrite(png.data(), 1, png.size(), f) == png.size();
    fclose(f);
    return ok && !png.empty();
}

class PropPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        const NumberSymbols us = UsNumberSymbols();
        SetPageNumberSymbols(&us);
        SetPageHelpRoutine(RecordHelp);
        SetPageMenuTracker(RecordMenu);
        g_help.clear();
        g_menu = MenuSeen();
        g_menuAnswer = 0;
        ASSERT_NE(page.page, nullptr);
        ASSERT_NE(filter.prop, nullptr);
    }
    void TearDown() override {
        if (window) Close();
        SetPageNumberSymbols(nullptr);
        SetPageHelpRoutine(nullptr);
        SetPageMenuTracker(nullptr);
        SetLogoPageOpener(nullptr);
        SetCtrl(false);
    }

    void Open(IUnknown* object) {
        ASSERT_EQ(page.page->SetPageSite(&site), S_OK);
        ASSERT_EQ(page.page->SetObjects(1, &object), S_OK);
        const RECT rect = {0, 0, 760, 250};
        ASSERT_EQ(page.page->Activate(host.window(), &rect, FALSE), S_OK);
        window = PageWindow(host.window());
        ASSERT_NE(window, nullptr);
    }
    void Close() {
        EXPECT_EQ(page.page->Deactivate(), S_OK);
        EXPECT_EQ(page.page->SetObjects(0, nullptr), S_OK);
        EXPECT_EQ(page.page->SetPageSite(nullptr), S_OK);
        window = nullptr;
    }

    HWND Item(int id) { return GetDlgItem(window, id); }
    std::wstring Value(int id) { return Text(Item(id)); }
    LONG Pos(int id) { return static_cast<LONG>(SendMessageW(Item(id), TRKM_GETPOS, 0, 0)); }
    bool Enabled(int id) { return IsWindowEnabled(Item(id)) != FALSE; }
    bool Checked(int id) { return IsDlgButtonChecked(window, id) == BST_CHECKED; }
    int Get(Getter getter) {
        int v = -12345;
        (filter.prop->*getter)(&v);
        return v;
    }
    void Key(int id, UINT key) {
        SendMessageW(Item(id), WM_KEYDOWN, key, 1);
        SendMessageW(Item(id), WM_KEYUP, key, 0xC0000001);
    }
    void Mouse(int id, UINT message, int x, WPARAM keys = MK_LBUTTON) {
        RECT r;
        GetClientRect(Item(id), &r);
        SendMessageW(Item(id), message, keys, MAKELPARAM(x, r.bottom / 2));
    }
    int ThumbX(int id) {
        const LRESULT info = SendMessageW(Item(id), TRKM_GETTRACKINFO, 0, 0);
        const int64_t start = HIWORD(info), length = LOWORD(info);
        const int64_t lo = static_cast<LONG>(SendMessageW(Item(id), TRKM_GETMIN, 0, 0));
        const int64_t hi = static_cast<LONG>(SendMessageW(Item(id), TRKM_GETMAX, 0, 0));
        return static_cast<int>(start + (Pos(id) - lo) * length / (hi - lo));
    }
    void Notice() {
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_FILTER_NOTIFY, 100), 0);
    }
    // Selects the list item carrying `data` without a notification.
    void Choose(int id, int data) {
        const LRESULT n = SendMessageW(Item(id), CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < n; ++i) {
            if (SendMessageW(Item(id), CB_GETITEMDATA, static_cast<WPARAM>(i), 0) == data) {
                SendMessageW(Item(id), CB_SETCURSEL, static_cast<WPARAM>(i), 0);
            }
        }
    }
    void ListNotify(int id, WORD code) {
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(Item(id)));
    }
    std::wstring Selected(int id) {
        const LRESULT i = SendMessageW(Item(id), CB_GETCURSEL, 0, 0);
        if (i < 0) return L"(none)";
        WCHAR text[64] = {};
        SendMessageW(Item(id), CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        return text;
    }
    void Type(int id, const wchar_t* text) {
        SetWindowTextW(Item(id), text);
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0x200), reinterpret_cast<LPARAM>(Item(id)));
    }

    ControlHost host;
    FilterObject filter;
    PageObject page;
    TestSite site;
    HWND window = nullptr;
};

TEST_F(PropPageTest, AnswersAHostAsAPropertyPage) {
    IPropertyPage* p = page.page;
    IUnknown* unknown = nullptr;
    EXPECT_EQ(p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(unknown, page.object->NonDelegatingUnknown());
    unknown->Release();
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(p->QueryInterface(IID_ITwBrioFxProp, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);

    // Before a site and objects.
    EXPECT_EQ(p->SetPageSite(nullptr), E_UNEXPECTED);
    EXPECT_EQ(p->Apply(), E_UNEXPECTED);
    EXPECT_EQ(p->IsPageDirty(), S_FALSE);
    EXPECT_EQ(p->Show(SW_SHOW), E_UNEXPECTED);
    const RECT rect = {0, 0, 760, 250};
    EXPECT_EQ(p->Move(&rect), E_UNEXPECTED);
    EXPECT_EQ(p->Deactivate(), E_UNEXPECTED);
    EXPECT_EQ(p->SetObjects(0, nullptr), E_UNEXPECTED);  // nothing connected
    EXPECT_EQ(p->Help(nullptr), E_NOTIMPL);
    EXPECT_EQ(p->TranslateAccelerator(nullptr), E_NOTIMPL);

    // Page info: the title, the dialog's measured size, the help file named after the module.
    EXPECT_EQ(p->GetPageInfo(nullptr), E_POINTER);
    PROPPAGEINFO info = {};
    ASSERT_EQ(p->GetPageInfo(&info), S_OK);
    EXPECT_STREQ(info.pszTitle, L"BRIO FX");
    EXPECT_GT(info.size.cx, 300);  // 498 x 153 dialog units, more than the fallback size
    EXPECT_GT(info.size.cy, 150);
    EXPECT_GT(info.size.cx, 3 * info.size.cy);
    ASSERT_NE(info.pszHelpFile, nullptr);
    const std::wstring help = info.pszHelpFile;
    EXPECT_EQ(help.substr(help.size() - 16), L"editor_tests.chm");
    EXPECT_EQ(info.pszDocString, nullptr);
    EXPECT_EQ(info.dwHelpContext, 1u);
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszHelpFile);

    // Site: one reference while held, refused twice.
    ASSERT_EQ(p->SetPageSite(&site), S_OK);
    EXPECT_EQ(site.refs, 2u);
    TestSite second;
    EXPECT_EQ(p->SetPageSite(&second), E_UNEXPECTED);
    EXPECT_EQ(second.refs, 1u);

    // Objects.
    IUnknown* none[1] = {nullptr};
    EXPECT_EQ(p->SetObjects(1, nullptr), E_POINTER);
    EXPECT_EQ(p->SetObjects(1, none), E_POINTER);
    EXPECT_EQ(p->SetObjects(2, &filter.unknown), E_UNEXPECTED);
    IUnknown* wrong = &site;  // answers no ITwBrioFxProp
    EXPECT_EQ(p->SetObjects(1, &wrong), E_NOINTERFACE);
    EXPECT_EQ(site.refs, 2u);
    EXPECT_EQ(p->SetObjects(1, &filter.unknown), S_OK);
    filter.unknown->AddRef();
    EXPECT_EQ(filter.unknown->Release(), 4u);  // ours, the two interfaces we hold, the page's

    // Activation.
    EXPECT_EQ(p->Activate(host.window(), nullptr, FALSE), E_POINTER);
    ASSERT_EQ(p->Activate(host.window(), &rect, FALSE), S_OK);
    window = PageWindow(host.window());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(p->Activate(host.window(), &rect, FALSE), E_UNEXPECTED);
    EXPECT_TRUE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
    EXPECT_TRUE(GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE);
    EXPECT_EQ(GetParent(window), host.window());

    EXPECT_EQ(p->Show(SW_MINIMIZE), E_INVALIDARG);
    EXPECT_EQ(p->Show(SW_HIDE), S_OK);
    EXPECT_FALSE(GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE);
    EXPECT_EQ(p->Show(SW_SHOWNORMAL), S_OK);
    EXPECT_TRUE(GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE);
    EXPECT_EQ(p->Move(nullptr), E_POINTER);
    const RECT moved = {10, 20, 700, 260};
    EXPECT_EQ(p->Move(&moved), S_OK);
    RECT r;
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, host.window(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(r.right - r.left, 690);

    // Editing leaves the page clean; Apply has nothing to do.
    SendMessageW(Item(IDC_DELAY_ON), BM_CLICK, 0, 0);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetDelayOn), 1);
    EXPECT_EQ(p->IsPageDirty(), S_FALSE);
    FxParams before{}, after{};
    filter.prop->GetParams(&before);
    EXPECT_EQ(p->Apply(), S_OK);
    filter.prop->GetParams(&after);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof(FxParams)), 0);

    ASSERT_EQ(p->Deactivate(), S_OK);
    EXPECT_FALSE(IsWindow(window));
    window = nullptr;
    EXPECT_EQ(p->Deactivate(), E_UNEXPECTED);
    EXPECT_EQ(p->Show(SW_SHOW), E_UNEXPECTED);

    EXPECT_EQ(p->SetObjects(0, nullptr), S_OK);
    filter.unknown->AddRef();
    EXPECT_EQ(filter.unknown->Release(), 3u);  // the page let go
    EXPECT_EQ(p->Apply(), E_UNEXPECTED);
    EXPECT_EQ(p->SetPageSite(nullptr), S_OK);
    EXPECT_EQ(site.refs, 1u);
}

TEST_F(PropPageTest, ShowsTheFiltersSettingsWhenActivated) {
    Open(filter.unknown);

    // The filter's start-up record: every block off, delay on Tempo with a quarter note.
    EXPECT_EQ(Value(IDC_DELAY_TIME_VALUE), L"1,125.0");
    EXPECT_EQ(Value(IDC_DELAY_DECAY_VALUE), L"0.0");
    EXPECT_EQ(Value(IDC_DELAY_MIX_VALUE), L"50.0/50.0");
    EXPECT_EQ(Value(IDC_LFO_RATE_VALUE), L"0.100");
    EXPECT_EQ(Value(IDC_LFO_DEPTH_VALUE), L"50");
    EXPECT_EQ(Value(IDC_REVERB_MIX_VALUE), L"50.0/50.0");
    EXPECT_EQ(Value(IDC_DIST_SLEW_VALUE), L"0");
    EXPECT_EQ(Value(IDC_EQ_TREBLE_VALUE), L"0.0");
    EXPECT_EQ(Value(IDC_EQ_MID_VALUE), L"0.0");
    EXPECT_EQ(Value(IDC_EQ_BASS_VALUE), L"0.0");
    EXPECT_EQ(Pos(IDC_DELAY_TIME), 11250);
    EXPECT_EQ(Pos(IDC_LFO_RATE), 100);
    EXPECT_EQ(Pos(IDC_LFO_DEPTH), 50);
    for (int id : {IDC_DELAY_ON, IDC_REVERB_ON, IDC_LFO_ON, IDC_DIST_ON, IDC_EQ_ON, IDC_DIST_HARD_CLIP}) {
        EXPECT_FALSE(Checked(id)) << id;
    }

    // Slider ranges.
    struct Range {
        int id;
        LONG lo, hi;
    };
    for (const Range& r : {Range{1006, 0, 900}, Range{1008, 0, 22500}, Range{1009, 0, 1000}, Range{3004, 1, 11000},
                           Range{3007, 1, 100}, Range{2010, 0, 1000}, Range{4003, 0, 100}, Range{5002, -250, 250},
                           Range{5006, -250, 250}, Range{5010, -250, 250}}) {
        EXPECT_EQ(SendMessageW(Item(r.id), TRKM_GETMIN, 0, 0), r.lo) << r.id;
        EXPECT_EQ(SendMessageW(Item(r.id), TRKM_GETMAX, 0, 0), r.hi) << r.id;
    }
    // Fill from default is on for the dry/wet and EQ sliders only (switching it reports the old state).
    for (int id : {1009, 2010, 5002, 5006, 5010}) {
        EXPECT_EQ(SendMessageW(Item(id), TRKM_SETFILLFROMDEFAULT, 0, 1), -1) << id;
    }
    for (int id : {1006, 1008, 3004, 3007, 4003}) {
        EXPECT_EQ(SendMessageW(Item(id), TRKM_SETFILLFROMDEFAULT, 0, 0), 0) << id;
    }

    // Lists: sorted where the dialog says so, items found by their data.
    auto items = [this](int id) {
        std::vector<std::pair<std::wstring, int>> out;
        const LRESULT n = SendMessageW(Item(id), CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < n; ++i) {
            WCHAR text[64] = {};
            SendMessageW(Item(id), CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            out.push_back({text, static_cast<int>(SendMessageW(Item(id), CB_GETITEMDATA, static_cast<WPARAM>(i), 0))});
        }
        return out;
    };
    using Items = std::vector<std::pair<std::wstring, int>>;
    EXPECT_EQ(items(IDC_LFO_TYPE), (Items{{L"Chorus", 2}, {L"Flange", 0}, {L"Phaser", 1}, {L"Wah-Wah", 3}}));
    EXPECT_EQ(items(IDC_REVERB_TYPE), (Items{{L"Big Empty Hall", 3}, {L"Club", 0}, {L"Hall", 1}, {L"Plate", 2}}));
    EXPECT_EQ(items(IDC_DELAY_CLOCK), (Items{{L"Tempo", 1}, {L"Time", 0}}));
    EXPECT_EQ(items(IDC_LFO_CLOCK), (Items{{L"Tempo", 1}, {L"Time", 0}}));
    EXPECT_EQ(items(IDC_LFO_PERIOD), (Items{{L"One Beat", 0}, {L"Two Beats", 1}, {L"One Measure", 2},
                                            {L"Two Measures", 3}, {L"Four Measures", 4}}));
    const Items notes = items(IDC_DELAY_NOTE);
    ASSERT_EQ(notes.size(), 9u);
    EXPECT_EQ(notes[0], (std::pair<std::wstring, int>{L"Dotted Quarter Note", 0}));
    EXPECT_EQ(notes[8], (std::pair<std::wstring, int>{L"Quarter Sixteenth Triplet", 8}));
    EXPECT_EQ(Selected(IDC_DELAY_CLOCK), L"Tempo");
    EXPECT_EQ(Selected(IDC_DELAY_NOTE), L"Quarter Note");
    EXPECT_EQ(Selected(IDC_LFO_TYPE), L"Flange");
    EXPECT_EQ(Selected(IDC_LFO_CLOCK), L"Time");
    EXPECT_EQ(Selected(IDC_LFO_PERIOD), L"One Measure");
    EXPECT_EQ(Selected(IDC_REVERB_TYPE), L"Hall");

    // Every block is off: only the check boxes are live.
    for (int id : {4001, 4002, 4003, 8048, 5001, 5002, 8045, 5005, 5006, 8046, 5009, 5010, 8047, 8049, 1013, 8066,
                   1014, 8068, 8052, 3004, 8050, 8053, 3007, 8051, 8061, 1010, 8063, 1011, 1008, 8060, 1007, 1006,
                   8059, 1012, 1009, 8062, 8054, 8067, 2010, 8064}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    for (int id : {4000, 5000, 3000, 1002, 2000}) EXPECT_TRUE(Enabled(id)) << id;

    // The logo strip: the filter's name without the maker, and two buttons.
    EXPECT_EQ(Text(Item(IDC_LOGO)), L"BRIO FX ");
}

TEST_F(PropPageTest, FormatsValuesWithTheUsersSymbols) {
    Open(filter.unknown);
    filter.prop->SetDelayTime(22500);
    filter.prop->SetLfoRate(11000);
    filter.prop->SetDelayMix(0);
    filter.prop->SetReverbMix(1000);
    filter.prop->SetEqTreble(-250);
    filter.prop->SetDistSlew(100);
    Notice();
    EXPECT_EQ(Value(IDC_DELAY_TIME_VALUE), L"2,250.0");
    EXPECT_EQ(Value(IDC_LFO_RATE_VALUE), L"11.000");
    EXPECT_EQ(Value(IDC_DELAY_MIX_VALUE), L"100.0/0.0");
    EXPECT_EQ(Value(IDC_REVERB_MIX_VALUE), L"0.0/100.0");
    EXPECT_EQ(Value(IDC_EQ_TREBLE_VALUE), L"-25.0");
    EXPECT_EQ(Value(IDC_DIST_SLEW_VALUE), L"100");
    EXPECT_EQ(Pos(IDC_DELAY_TIME), 22500);
    EXPECT_EQ(Pos(IDC_EQ_TREBLE), -250);

    NumberSymbols german = UsNumberSymbols();
    german.decimal[0] = L',';
    german.thousand[0] = L'.';
    SetPageNumberSymbols(&german);
    filter.prop->SetDelayMix(300);
    Notice();
    EXPECT_EQ(Value(IDC_DELAY_TIME_VALUE), L"2.250,0");
    EXPECT_EQ(Value(IDC_LFO_RATE_VALUE), L"11,000");
    EXPECT_EQ(Value(IDC_DELAY_MIX_VALUE), L"70,0/30,0");
    // Typed text is read with the same symbols.
    filter.prop->SetDelayOn(1);
    filter.prop->SetDelayClock(0);
    Type(IDC_DELAY_TIME_VALUE, L"1.234,56");
    EXPECT_EQ(Get(&ITwBrioFxProp::GetDelayTime), 12345);
    EXPECT_EQ(Value(IDC_DELAY_TIME_VALUE), L"1.234,5");
}

TEST_F(PropPageTest, SlidersSetTheirParameterFromKeysAndDrags) {
    filter.prop->SetDelayOn(1);
    filter.prop->SetDelayClock(0);
    Open(filter.unknown);
    const Getter decay = &ITwBrioFxProp::GetDelayDecay;

    Key(IDC_DELAY_DECAY, VK_RIGHT);
    EXPECT_EQ(Get(decay), 1);
    EXPECT_EQ(Value(IDC_DELAY_DECAY_VALUE), L"0.1");
    Key(IDC_DELAY_DECAY, VK_PRIOR);  // page up: +10
    EXPECT_EQ(Get(decay), 11);
    SetCtrl(true);
    Key(IDC_DELAY_DECAY, VK_PRIOR);  // with Ctrl: +100
    SetCtrl(false);
    EXPECT_EQ(Get(decay), 111);
    EXPECT_EQ(Pos(IDC_DELAY_DECAY), 111);
    EXPECT_EQ(Value(IDC_DELAY_DECAY_VALUE), L"11.1");
    Key(IDC_DELAY_DECAY, VK_NEXT);
    EXPECT_EQ(Get(decay), 101);
    Key(IDC_DELAY_DECAY, VK_LEFT);
    EXPECT_EQ(Get(decay), 100);
    Key(IDC_DELAY_DECAY, VK_END);
    EXPECT_EQ(Get(decay), 900);
    EXPECT_EQ(Value(IDC_DELAY_DECAY_VALUE), L"90.0");
    Key(IDC_DELAY_DECAY, VK_RIGHT);  // clamped at the end
    EXPECT_EQ(Get(decay), 900);
    Key(IDC_DELAY_DECAY, VK_HOME);
    EXPECT_EQ(Get(decay), 0);
    Key(IDC_DELAY_DECAY, '5');
    EXPECT_EQ(Get(decay), 450);
    Key(IDC_DELAY_DECAY, '0');
    EXPECT_EQ(Get(decay), 0);

    // Double click on the thumb: back to the default.
    int x = ThumbX(IDC_DELAY_DECAY);
    Mouse(IDC_DELAY_DECAY, WM_LBUTTONDOWN, x);
    Mouse(IDC_DELAY_DECAY, WM_LBUTTONUP, x, 0);
    Mouse(IDC_DELAY_DECAY, WM_LBUTTONDBLCLK, x);
    Mouse(IDC_DELAY_DECAY, WM_LBUTTONUP, x, 0);
    EXPECT_EQ(Get(decay), 450);
    EXPECT_EQ(Value(IDC_DELAY_DECAY_VALUE), L"45.0");

    // A drag to the far end of the delay time track.
    const Getter time = &ITwBrioFxProp::GetDelayTime;
    x = ThumbX(IDC_DELAY_TIME);
    Mouse(IDC_DELAY_TIME, WM_LBUTTONDOWN, x);
    Mouse(IDC_DELAY_TIME, WM_MOUSEMOVE, x + 1000);
    EXPECT_EQ(Get(time), 22500);  // taken during the drag
    EXPECT_EQ(Value(IDC_DELAY_TIME_VALUE), L"2,250.0");
    Mouse(IDC_DELAY_TIME, WM_LBUTTONUP, x + 1000, 0);
    EXPECT_EQ(Get(time), 22500);
    EXPECT_EQ(Pos(IDC_DELAY_TIME), 22500);

    // With Ctrl the drag is fine: three pixels left are two units.
    x = ThumbX(IDC_DELAY_TIME);
    Mouse(IDC_DELAY_TIME, WM_LBUTTONDOWN, x);
    Mouse(IDC_DELAY_TIME, WM_MOUSEMOVE, x - 3, MK_LBUTTON | MK_CONTROL);
    Mouse(IDC_DELAY_TIME, WM_LBUTTONUP, x - 3, 0);
    EXPECT_EQ(Get(time), 22498);
    EXPECT_EQ(Value(IDC_DELAY_TIME_VALUE), L"2,249.8");

    // The logarithmic rate slider and the EQ's signed range.
    filter.prop->SetLfoOn(1);
    filter.prop->SetEqOn(1);
    Notice();
    Key(IDC_LFO_RATE, VK_END);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetLfoRate), 11000);
    EXPECT_EQ(Value(IDC_LFO_RATE_VALUE), L"11.000");
    Key(IDC_LFO_RATE, VK_HOME);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetLfoRate), 1);
    EXPECT_EQ(Value(IDC_LFO_RATE_VALUE), L"0.001");
    Key(IDC_EQ_BASS, VK_HOME);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetEqBass), -250);
    EXPECT_EQ(Value(IDC_EQ_BASS_VALUE), L"-25.0");
    Key(IDC_EQ_BASS, '5');
    EXPECT_EQ(Get(&ITwBrioFxProp::GetEqBass), 0);
}

TEST_F(PropPageTest, CheckBoxesSwitchBlocksAndTheirControlGroups) {
    Open(filter.unknown);
    // Delay on, clock Tempo: the note value is live, the time is not.
    SendMessageW(Item(IDC_DELAY_ON), BM_CLICK, 0, 0);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetDelayOn), 1);
    for (int id : {8061, 1007, 1006, 8059, 1012, 1009, 8062, 1010, 8063}) EXPECT_TRUE(Enabled(id)) << id;
    for (int id : {1011, 1008, 8060}) EXPECT_FALSE(Enabled(id)) << id;

    // Clock to Time swaps them.
    Choose(IDC_DELAY_CLOCK, 0);
    ListNotify(IDC_DELAY_CLOCK, CBN_CLOSEUP);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetDelayClock), 0);
    for (int id : {1011, 1008, 8060}) EXPECT_TRUE(Enabled(id)) << id;
    for (int id : {1010, 8063}) EXPECT_FALSE(Enabled(id)) << id;

    // Off: everything but the check box.
    SendMessageW(Item(IDC_DELAY_ON), BM_CLICK, 0, 0);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetDelayOn), 0);
    for (int id : {8061, 1010, 8063, 1011, 1008, 8060, 1007, 1006, 8059, 1012, 1009, 8062}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    EXPECT_TRUE(Enabled(IDC_DELAY_ON));

    // LFO: Time shows the rate, Tempo the period.
    SendMessageW(Item(IDC_LFO_ON), BM_CLICK, 0, 0);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetLfoOn), 1);
    for (int id : {8049, 1013, 8066, 8053, 3007, 8051, 8052, 3004, 8050}) EXPECT_TRUE(Enabled(id)) << id;
    for (int id : {1014, 8068}) EXPECT_FALSE(Enabled(id)) << id;
    Choose(IDC_LFO_CLOCK, 1);
    ListNotify(IDC_LFO_CLOCK, CBN_KILLFOCUS);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetLfoClock), 1);
    for (int id : {1014, 8068}) EXPECT_TRUE(Enabled(id)) << id;
    for (int id : {8052, 3004, 8050}) EXPECT_FALSE(Enabled(id)) << id;

    // The other three blocks and hard clipping.
    SendMessageW(Item(IDC_REVERB_ON), BM_CLICK, 0, 0);
    SendMessageW(Item(IDC_DIST_ON), BM_CLICK, 0, 0);
    SendMessageW(Item(IDC_EQ_ON), BM_CLICK, 0, 0);
    SendMessageW(Item(IDC_DIST_HARD_CLIP), BM_CLICK, 0, 0);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetReverbOn), 1);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetDistOn), 1);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetEqOn), 1);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetDistHardClip), 1);
    for (int id : {8054, 8067, 2010, 8064, 4001, 4002, 4003, 8048, 5001, 5002, 8045, 5005, 5006, 8046, 5009, 5010,
                   8047}) {
        EXPECT_TRUE(Enabled(id)) << id;
    }
    SendMessageW(Item(IDC_EQ_ON), BM_CLICK, 0, 0);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetEqOn), 0);
    for (int id : {5001, 5002, 8045, 5005, 5006, 8046, 5009, 5010, 8047}) EXPECT_FALSE(Enabled(id)) << id;
}

TEST_F(PropPageTest, ListsApplyWhenClosedAndTheReverbTypeAtOnce) {
    RecordingFilter recorder;
    recorder.controller.SetDelayOn(1);
    recorder.controller.SetReverbOn(1);
    Open(static_cast<ITwBrioFxProp*>(&recorder));
    ASSERT_EQ(recorder.notifyCalls.size(), 1u);
    EXPECT_EQ(recorder.notifyCalls[0].window, window);
    EXPECT_EQ(recorder.notifyCalls[0].id, 32700);
    recorder.calls.clear();

    // Opening and closing the note list without a change still sets the (same) value.
    ListNotify(IDC_DELAY_NOTE, CBN_DROPDOWN);
    ListNotify(IDC_DELAY_NOTE, CBN_CLOSEUP);
    ASSERT_EQ(recorder.calls.size(), 2u);
    EXPECT_EQ(recorder.calls[1].field, "DelayNote");
    EXPECT_EQ(recorder.calls[1].value, 1);
    // A highlight moving in the open list changes nothing until the list closes.
    recorder.calls.clear();
    Choose(IDC_DELAY_NOTE, 7);
    ListNotify(IDC_DELAY_NOTE, CBN_SELCHANGE);
    EXPECT_TRUE(recorder.calls.empty());
    ListNotify(IDC_DELAY_NOTE, CBN_SELENDOK);
    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_EQ(recorder.calls[0].value, 7);
    int v = 0;
    recorder.controller.GetDelayNote(&v);
    EXPECT_EQ(v, 7);

    // The reverb type applies on selection change only; arrow keys step through it.
    recorder.calls.clear();
    ListNotify(IDC_REVERB_TYPE, CBN_CLOSEUP);
    EXPECT_TRUE(recorder.calls.empty());
    SetFocus(Item(IDC_REVERB_TYPE));
    SendMessageW(Item(IDC_REVERB_TYPE), WM_KEYDOWN, VK_DOWN, 1);  // Hall -> Plate in sorted order
    ASSERT_FALSE(recorder.calls.empty());
    EXPECT_EQ(recorder.calls.back().field, "ReverbType");
    EXPECT_EQ(recorder.calls.back().value, 2);
    SendMessageW(Item(IDC_REVERB_TYPE), WM_KEYDOWN, VK_UP, 1);
    SendMessageW(Item(IDC_REVERB_TYPE), WM_KEYDOWN, VK_UP, 1);  // Club
    EXPECT_EQ(recorder.calls.back().value, 0);
    recorder.controller.GetReverbType(&v);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(Selected(IDC_REVERB_TYPE), L"Club");

    // The LFO type and period lists by data, not position.
    Choose(IDC_LFO_TYPE, 3);
    ListNotify(IDC_LFO_TYPE, CBN_SELENDOK);
    recorder.controller.GetLfoType(&v);
    EXPECT_EQ(v, 3);
    Choose(IDC_LFO_PERIOD, 4);
    ListNotify(IDC_LFO_PERIOD, CBN_CLOSEUP);
    recorder.controller.GetLfoPeriod(&v);
    EXPECT_EQ(v, 4);

    Close();
    ASSERT_FALSE(recorder.notifyCalls.empty());
    EXPECT_EQ(recorder.notifyCalls.back().id, 0);  // unregistered at destruction
    EXPECT_EQ(recorder.refs, 1u);
}

TEST_F(PropPageTest, TypedValuesAreConvertedAndClamped) {
    for (auto setter : {&ITwBrioFxProp::SetDelayOn, &ITwBrioFxProp::SetLfoOn, &ITwBrioFxProp::SetEqOn,
                        &ITwBrioFxProp::SetDistOn}) {
        (filter.prop->*setter)(1);
    }
    filter.prop->SetDelayClock(0);
    Open(filter.unknown);

    Type(IDC_EQ_TREBLE_VALUE, L"-inf");
    EXPECT_EQ(Get(&ITwBrioFxProp::GetEqTreble), -250);
    EXPECT_EQ(Value(IDC_EQ_TREBLE_VALUE), L"-25.0");
    EXPECT_EQ(Pos(IDC_EQ_TREBLE), -250);
    Type(IDC_EQ_MID_VALUE, L"-Inf.");
    EXPECT_EQ(Get(&ITwBrioFxProp::GetEqMid), -250);
    Type(IDC_EQ_BASS_VALUE, L"6.05");  // truncated toward zero
    EXPECT_EQ(Get(&ITwBrioFxProp::GetEqBass), 60);
    EXPECT_EQ(Pos(IDC_EQ_BASS), 60);
    Type(IDC_EQ_BASS_VALUE, L"-3.99");
    EXPECT_EQ(Get(&ITwBrioFxProp::GetEqBass), -39);
    Type(IDC_EQ_BASS_VALUE, L"99");
    EXPECT_EQ(Get(&ITwBrioFxProp::GetEqBass), 250);
    EXPECT_EQ(Value(IDC_EQ_BASS_VALUE), L"25.0");

    Type(IDC_DELAY_TIME_VALUE, L"1,500.25");
    EXPECT_EQ(Get(&ITwBrioFxProp::GetDelayTime), 15002);
    EXPECT_EQ(Pos(IDC_DELAY_TIME), 15002);
    EXPECT_EQ(Value(IDC_DELAY_TIME_VALUE), L"1,500.2");
    Type(IDC_DELAY_DECAY_VALUE, L"99999");  // snaps to the limit
    EXPECT_EQ(Get(&ITwBrioFxProp::GetDelayDecay), 900);
    EXPECT_EQ(Value(IDC_DELAY_DECAY_VALUE), L"90.0");
    Type(IDC_LFO_RATE_VALUE, L"2.5");
    EXPECT_EQ(Get(&ITwBrioFxProp::GetLfoRate), 2500);
    EXPECT_EQ(Value(IDC_LFO_RATE_VALUE), L"2.500");
    Type(IDC_LFO_DEPTH_VALUE, L"77");
    EXPECT_EQ(Get(&ITwBrioFxProp::GetLfoDepth), 77);
    Type(IDC_DIST_SLEW_VALUE, L"33.9");
    EXPECT_EQ(Get(&ITwBrioFxProp::GetDistSlew), 33);
    EXPECT_EQ(Value(IDC_DIST_SLEW_VALUE), L"33");

    // The dry/wet fields take nothing; text that is no number changes nothing and is put back.
    Type(IDC_DELAY_MIX_VALUE, L"10");
    EXPECT_EQ(Get(&ITwBrioFxProp::GetDelayMix), 500);
    Type(IDC_LFO_DEPTH_VALUE, L"lots");
    EXPECT_EQ(Get(&ITwBrioFxProp::GetLfoDepth), 77);
    EXPECT_EQ(Value(IDC_LFO_DEPTH_VALUE), L"77");
    // Only the first 15 characters count.
    Type(IDC_LFO_DEPTH_VALUE, L"000000000000012345");
    EXPECT_EQ(Get(&ITwBrioFxProp::GetLfoDepth), 12);
}

TEST_F(PropPageTest, PresetMenuListsThirteenPresetsAndLoadsTheChosenOne) {
    Open(filter.unknown);
    RECT r;
    GetWindowRect(window, &r);
    SendMessageW(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window), MAKELPARAM(-1, -1));
    ASSERT_TRUE(g_menu.opened);
    EXPECT_EQ(g_menu.x, (r.left + r.right) / 2);
    EXPECT_EQ(g_menu.y, r.top + (r.bottom - r.top) / 4);
    ASSERT_EQ(g_menu.items.size(), 4u);
    EXPECT_TRUE(g_menu.items[0].popup);
    EXPECT_EQ(g_menu.items[0].text, L"Presets");
    EXPECT_TRUE(g_menu.items[1].separator);
    EXPECT_EQ(g_menu.items[2].text, L"Help");
    EXPECT_EQ(g_menu.items[2].id, 41000u);
    EXPECT_EQ(g_menu.items[3].text, L"About...");
    EXPECT_EQ(g_menu.items[3].id, 41001u);
    ASSERT_EQ(g_menu.presets.size(), 13u);
    EXPECT_EQ(g_menu.presets[0].text, L"Default all parameters");
    EXPECT_EQ(g_menu.presets[0].id, 40500u);
    EXPECT_EQ(g_menu.presets[12].text, L"Th-THUMP");
    EXPECT_EQ(g_menu.presets[12].id, 40512u);

    // Choosing "Th-THUMP" (index 13) from a click position.
    g_menuAnswer = 40512;
    SendMessageW(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window), MAKELPARAM(300, 200));
    EXPECT_EQ(g_menu.x, 300);
    EXPECT_EQ(g_menu.y, 200);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetDelayOn), 1);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetDelayNote), 4);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetDelayMix), 600);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetEqOn), 1);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetEqMid), -250);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetEqBass), 60);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetEqTreble), -250);
    // The page shows it at once, before the filter's own notice arrives.
    EXPECT_TRUE(Checked(IDC_DELAY_ON));
    EXPECT_TRUE(Checked(IDC_EQ_ON));
    EXPECT_EQ(Selected(IDC_DELAY_NOTE), L"Eighth Note");
    EXPECT_EQ(Value(IDC_DELAY_MIX_VALUE), L"40.0/60.0");
    EXPECT_EQ(Value(IDC_EQ_MID_VALUE), L"-25.0");
    EXPECT_EQ(Value(IDC_EQ_BASS_VALUE), L"6.0");
    EXPECT_EQ(Pos(IDC_EQ_BASS), 60);
    EXPECT_TRUE(Enabled(IDC_EQ_BASS));
    PumpMessages();
    EXPECT_EQ(Value(IDC_EQ_BASS_VALUE), L"6.0");

    // The first item applies index 1, which switches every block off again.
    g_menuAnswer = 40500;
    SendMessageW(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window), MAKELPARAM(10, 10));
    EXPECT_EQ(Get(&ITwBrioFxProp::GetDelayOn), 0);
    EXPECT_EQ(Get(&ITwBrioFxProp::GetEqOn), 0);
    EXPECT_FALSE(Checked(IDC_EQ_ON));
    EXPECT_EQ(Value(IDC_EQ_BASS_VALUE), L"0.0");

    // Help and About from the menu.
    g_menuAnswer = 41000;
    SendMessageW(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window), MAKELPARAM(10, 10));
    ASSERT_EQ(g_help.size(), 1u);
    EXPECT_EQ(g_help[0].kind, PageHelpKind::kHtmlWindow);
}

TEST_F(PropPageTest, PresetMenuSkipsFailingNamesAndWorksWithoutPresets) {
    RecordingFilter recorder;
    recorder.failingName = 3;
    Open(static_cast<ITwBrioFxProp*>(&recorder));
    g_menuAnswer = 40502;  // the third item: index 4, since index 3 has no name
    SendMessageW(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window), MAKELPARAM(10, 10));
    ASSERT_EQ(g_menu.presets.size(), 12u);
    EXPECT_EQ(g_menu.presets[1].text, L"Rock && Roll");  // shown with a literal ampersand
    EXPECT_EQ(g_menu.presets[2].text, L"Slapback Delay");
    EXPECT_EQ(g_menu.presets[2].id, 40502u);
    EXPECT_EQ(g_menu.presets[11].id, 40511u);
    for (int reserved : recorder.nameReserved) EXPECT_EQ(reserved, 260);
    EXPECT_EQ(recorder.loaded, std::vector<int>{4});
    int v = 0;
    recorder.controller.GetDelayTime(&v);
    EXPECT_EQ(v, 500);  // "Slapback Delay"
    EXPECT_EQ(Value(IDC_DELAY_TIME_VALUE), L"50.0");

    // Without the preset interface the submenu is empty and the rest still works.
    recorder.offersPresets = false;
    g_menuAnswer = 41000;
    SendMessageW(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window), MAKELPARAM(10, 10));
    ASSERT_EQ(g_menu.items.size(), 4u);
    EXPECT_TRUE(g_menu.presets.empty());
    EXPECT_EQ(g_help.size(), 1u);
    Close();
    EXPECT_EQ(recorder.refs, 1u);
}

TEST_F(PropPageTest, FilterNoticeRefreshesThePage) {
    Open(filter.unknown);
    filter.prop->SetDelayTime(22500);
    filter.prop->SetEqBass(-120);
    EXPECT_EQ(Value(IDC_DELAY_TIME_VALUE), L"1,125.0");  // the page holds no copy, but shows what it read

    // A host loads a preset: the filter posts its notice to the page.
    ASSERT_EQ(filter.presets->LoadPreset(4), S_OK);  // "Slapback Delay"
    EXPECT_FALSE(Checked(IDC_DELAY_ON));
    PumpMessages();
    EXPECT_TRUE(Checked(IDC_DELAY_ON));
    EXPECT_EQ(Selected(IDC_DELAY_CLOCK), L"Time");
    EXPECT_EQ(Value(IDC_DELAY_TIME_VALUE), L"50.0");
    EXPECT_EQ(Value(IDC_DELAY_DECAY_VALUE), L"30.0");
    EXPECT_EQ(Value(IDC_DELAY_MIX_VALUE), L"70.0/30.0");
    EXPECT_EQ(Pos(IDC_DELAY_TIME), 500);
    EXPECT_TRUE(Enabled(IDC_DELAY_TIME));
    EXPECT_FALSE(Enabled(IDC_DELAY_NOTE));

    // After deactivation the window is gone from the filter's list.
    Close();
    ASSERT_EQ(filter.presets->LoadPreset(1), S_OK);
    MSG m;
    EXPECT_FALSE(PeekMessageW(&m, nullptr, WM_COMMAND, WM_COMMAND, PM_NOREMOVE));
}

TEST_F(PropPageTest, ContextHelpAndTheHelpWindow) {
    Open(filter.unknown);
    auto help = [this](int id) {
        HELPINFO info = {};
        info.cbSize = sizeof(info);
        info.iContextType = HELPINFO_WINDOW;
        info.iCtrlId = id;
        info.hItemHandle = Item(id);
        SendMessageW(window, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    };
    struct Row {
        int id;
        DWORD context;
    };
    for (const Row& r : {Row{4000, 1000}, Row{4001, 1050}, Row{4003, 1100}, Row{5009, 1300}, Row{8049, 1410},
                         Row{8066, 1420}, Row{8068, 1430}, Row{3004, 1600}, Row{1008, 1860}, Row{8060, 1860},
                         Row{1007, 1900}, Row{8067, 2350}, Row{2000, 1950}, Row{8054, 2150}}) {
        g_help.clear();
        help(r.id);
        ASSERT_EQ(g_help.size(), 1u) << r.id;
        EXPECT_EQ(g_help[0].kind, PageHelpKind::kContextPopup);
        EXPECT_EQ(g_help[0].context, r.context) << r.id;
        EXPECT_EQ(g_help[0].file.substr(g_help[0].file.size() - 16), L"editor_tests.hlp");
    }
    g_help.clear();
    for (int id : {8062, 8064, 8050, 8061, 3007 - 1}) help(id);  // no topic
    EXPECT_TRUE(g_help.empty());
    EXPECT_EQ(PageHelpContext(3007), 1650u);

    // The "?" button of the logo strip posts the help command.
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_HELP, 0), reinterpret_cast<LPARAM>(Item(IDC_LOGO)));
    ASSERT_EQ(g_help.size(), 1u);
    EXPECT_EQ(g_help[0].kind, PageHelpKind::kHtmlWindow);
    EXPECT_EQ(g_help[0].file.substr(g_help[0].file.size() - 16), L"editor_tests.chm");
    g_help.clear();
    Close();
    ASSERT_EQ(g_help.size(), 1u);
    EXPECT_EQ(g_help[0].kind, PageHelpKind::kWindowGone);

    // The system's help with no help files beside the module: nothing happens.
    SetPageHelpRoutine(nullptr);
    Open(filter.unknown);
    help(4000);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_HELP, 0), 0);
    EXPECT_TRUE(IsWindow(window));
}

// The About box runs its own message loop; this timer, a thread timer, fires inside it.
struct AboutSeen {
    bool found = false;
    std::wstring title, version, name, legal, logo;
    RECT box = {};
    bool saved = false;
    bool ownerDisabled = false;
};
AboutSeen g_about;

BOOL CALLBACK FindAbout(HWND window, LPARAM found) {
    WCHAR name[16];
    GetClassNameW(window, name, 16);
    if (lstrcmpW(name, L"#32770") == 0 && IsWindowVisible(window) && GetDlgItem(window, IDC_ABOUT_VERSION)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

int g_aboutTicks = 0;

void CALLBACK InspectAbout(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindAbout, reinterpret_cast<LPARAM>(&box));
    if (!box && ++g_aboutTicks < 50) return;
    KillTimer(nullptr, timer);
    if (!box) return;
    g_about.found = true;
    g_about.title = Text(box);
    g_about.version = Text(GetDlgItem(box, IDC_ABOUT_VERSION));
    g_about.name = Text(GetDlgItem(box, IDC_ABOUT_NAME));
    g_about.legal = Text(GetDlgItem(box, IDC_ABOUT_LEGAL));
    g_about.logo = Text(GetDlgItem(box, IDC_LOGO));
    GetWindowRect(box, &g_about.box);
    g_about.ownerDisabled = !IsWindowEnabled(GetWindow(box, GW_OWNER));
    g_about.saved = SaveScreenshot(box, L"about_box.png");
    // A click on the caption-less strip goes to the box, which opens the product page.
    SendMessageW(box, LOGON_CLICKED, 0, 0);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
}

TEST_F(PropPageTest, AboutBoxShowsVersionNameAndLegalNotice) {
    Open(filter.unknown);
    ShowWindow(host.window(), SW_SHOWNORMAL);
    SetLogoPageOpener(RecordOpen);
    g_opened.clear();
    g_about = AboutSeen();
    SetTimer(nullptr, 0, 100, InspectAbout);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), reinterpret_cast<LPARAM>(Item(IDC_LOGO)));
    ASSERT_TRUE(g_about.found);
    EXPECT_EQ(g_about.title, L"About BRIO FX");
    EXPECT_EQ(g_about.version, L"Version 1.0c (Build 312)");
    EXPECT_EQ(g_about.name, L"BRIO FX");
    EXPECT_EQ(g_about.legal.substr(0, 14), L"Copyright (C) ");
    EXPECT_EQ(g_about.logo, L"");
    EXPECT_TRUE(g_about.ownerDisabled);
    EXPECT_TRUE(g_about.saved);
    EXPECT_EQ(g_opened.size(), 1u);

    // Centred over the host, a third of the way down.
    RECT owner;
    GetWindowRect(host.window(), &owner);
    const int w = g_about.box.right - g_about.box.left, h = g_about.box.bottom - g_about.box.top;
    EXPECT_NEAR(g_about.box.left, owner.left + (owner.right - owner.left - w) / 2, 1);
    EXPECT_NEAR(g_about.box.top, owner.top + (owner.bottom - owner.top) / 3 - h / 3, 1);

    // The strip is set up again afterwards, and the page works on.
    EXPECT_EQ(Text(Item(IDC_LOGO)), L"BRIO FX ");
    EXPECT_TRUE(IsWindowEnabled(host.window()));
    ShowWindow(host.window(), SW_HIDE);
}

// Keys for the system's popup menu, posted from inside its own message loop: down to "Presets",
// down past the separator to "Help", Enter. A menu still open after the last tick is ended.
int g_menuTicks = 0;
HWND g_menuPage = nullptr;

void CALLBACK DriveMenu(HWND, UINT, UINT_PTR timer, DWORD) {
    const int tick = g_menuTicks++;
    if (tick == 1 || tick == 2) {
        PostMessageW(g_menuPage, WM_KEYDOWN, VK_DOWN, 1);
    } else if (tick == 3) {
        PostMessageW(g_menuPage, WM_KEYDOWN, VK_RETURN, 1);
    } else if (tick > 30) {
        KillTimer(nullptr, timer);
        EndMenu();
    }
}

TEST_F(PropPageTest, TheSystemMenuDeliversItsCommand) {
    Open(filter.unknown);
    SetPageMenuTracker(nullptr);
    g_menuTicks = 0;
    g_menuPage = window;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, DriveMenu);
    SendMessageW(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window), MAKELPARAM(100, 100));
    KillTimer(nullptr, timer);
    PumpMessages();
    ASSERT_EQ(g_help.size(), 1u);
    EXPECT_EQ(g_help[0].kind, PageHelpKind::kHtmlWindow);
}

TEST_F(PropPageTest, ScreenshotsOfThePage) {
    Open(filter.unknown);
    RECT r;
    GetWindowRect(window, &r);
    RECT frame = {0, 0, r.right - r.left, r.bottom - r.top};
    AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
    SetWindowPos(host.window(), nullptr, 40, 40, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER);
    PROPPAGEINFO info = {};
    ASSERT_EQ(page.page->GetPageInfo(&info), S_OK);
    const RECT full = {0, 0, info.size.cx, info.size.cy};
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszHelpFile);
    page.page->Move(&full);
    ShowWindow(host.window(), SW_SHOWNORMAL);
    EXPECT_TRUE(SaveScreenshot(window, L"page_default.png"));

    g_menuAnswer = 40512;  // "Th-THUMP"
    SendMessageW(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window), MAKELPARAM(10, 10));
    EXPECT_EQ(Get(&ITwBrioFxProp::GetEqOn), 1);
    EXPECT_TRUE(SaveScreenshot(window, L"page_th_thump.png"));
    ShowWindow(host.window(), SW_HIDE);
}

TEST_F(PropPageTest, WithoutAFilterThePageIgnoresInput) {
    ASSERT_EQ(page.page->SetPageSite(&site), S_OK);
    const RECT rect = {0, 0, 760, 250};
    ASSERT_EQ(page.page->Activate(host.window(), &rect, FALSE), S_OK);
    window = PageWindow(host.window());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Value(IDC_DELAY_TIME_VALUE), L"1000");  // the dialog's placeholder
    Key(IDC_DELAY_DECAY, VK_END);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_HELP, 0), 0);
    EXPECT_TRUE(g_help.empty());

    // Connecting an active page registers it and fills every control.
    ASSERT_EQ(page.page->SetObjects(1, &filter.unknown), S_OK);
    EXPECT_EQ(Value(IDC_DELAY_TIME_VALUE), L"1,125.0");
    EXPECT_EQ(Get(&ITwBrioFxProp::GetDelayDecay), 0);
    filter.presets->LoadPreset(12);
    PumpMessages();
    EXPECT_TRUE(Checked(IDC_REVERB_ON));
    EXPECT_EQ(Selected(IDC_REVERB_TYPE), L"Big Empty Hall");

    // Another object replaces the first, which the page lets go.
    RecordingFilter recorder;
    IUnknown* second = static_cast<ITwBrioFxProp*>(&recorder);
    ASSERT_EQ(page.page->SetObjects(1, &second), S_OK);
    EXPECT_EQ(recorder.refs, 2u);
    EXPECT_FALSE(Checked(IDC_REVERB_ON));
    filter.unknown->AddRef();
    EXPECT_EQ(filter.unknown->Release(), 3u);
    Close();
    EXPECT_EQ(recorder.refs, 1u);
}

}  // namespace
}  // namespace tw::test

#endif  // _WIN32
