#include "editor/brio_fx_prop_page.h"

#ifdef _WIN32

#include "editor/control_common.h"
#include "editor/controls.h"
#include "filter/brio_fx.h"
#include "filter/presets.h"
#include "resources/resource_ids.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>

namespace {

using Getter = HRESULT (STDMETHODCALLTYPE ITwBrioFxProp::*)(int*);
using Setter = HRESULT (STDMETHODCALLTYPE ITwBrioFxProp::*)(int);

constexpr WORD kNoticeId = IDM_FILTER_NOTIFY;
constexpr int kPresetMenuLimit = 500;
constexpr int kPresetNameBuffer = 260;
constexpr int kTypedTextMax = 15;
constexpr UINT kTypedValueNotice = 0x200;  // EN_KILLFOCUS
constexpr int kLineStep = 1;
constexpr int kPageStep = 10;
constexpr int kCtrlPageStep = 100;
constexpr int kHelpPathChars = 520;
constexpr WCHAR kMakerPrefix[] = L"Orvo ";
constexpr WCHAR kVersionText[] = L"Version 1.0c (Build 312)";
constexpr WCHAR kMinusInfinity[] = L"-Inf.";

enum class Display { kInteger, kOneDecimal, kThreeDecimals, kSplit };

// One slider with its value field: range and default of the slider, the parameter behind it, how
// its value shows, and what one typed unit is worth (0: the field takes no typed value).
struct SliderRow {
    int slider;
    int value;
    LONG minimum;
    LONG maximum;
    LONG defaultValue;
    Getter get;
    Setter set;
    Display display;
    LONG typedUnits;
    bool fillFromDefault;
};

constexpr SliderRow kSliderRows[] = {
    // In the order the ranges are set up.
    {IDC_DELAY_DECAY, IDC_DELAY_DECAY_VALUE, 0, 900, 450, &ITwBrioFxProp::GetDelayDecay,
     &ITwBrioFxProp::SetDelayDecay, Display::kOneDecimal, 10, false},
    {IDC_DELAY_TIME, IDC_DELAY_TIME_VALUE, 0, 22500, 11250, &ITwBrioFxProp::GetDelayTime,
     &ITwBrioFxProp::SetDelayTime, Display::kOneDecimal, 10, false},
    {IDC_DELAY_MIX, IDC_DELAY_MIX_VALUE, 0, 1000, 500, &ITwBrioFxProp::GetDelayMix, &ITwBrioFxProp::SetDelayMix,
     Display::kSplit, 0, true},
    {IDC_LFO_RATE, IDC_LFO_RATE_VALUE, 1, 11000, 5500, &ITwBrioFxProp::GetLfoRate, &ITwBrioFxProp::SetLfoRate,
     Display::kThreeDecimals, 1000, false},
    {IDC_LFO_DEPTH, IDC_LFO_DEPTH_VALUE, 1, 100, 50, &ITwBrioFxProp::GetLfoDepth, &ITwBrioFxProp::SetLfoDepth,
     Display::kInteger, 1, false},
    {IDC_REVERB_MIX, IDC_REVERB_MIX_VALUE, 0, 1000, 500, &ITwBrioFxProp::GetReverbMix,
     &ITwBrioFxProp::SetReverbMix, Display::kSplit, 0, true},
    {IDC_DIST_SLEW, IDC_DIST_SLEW_VALUE, 0, 100, 50, &ITwBrioFxProp::GetDistSlew, &ITwBrioFxProp::SetDistSlew,
     Display::kInteger, 1, false},
    {IDC_EQ_MID, IDC_EQ_MID_VALUE, -250, 250, 0, &ITwBrioFxProp::GetEqMid, &ITwBrioFxProp::SetEqMid,
     Display::kOneDecimal, 10, true},
    {IDC_EQ_BASS, IDC_EQ_BASS_VALUE, -250, 250, 0, &ITwBrioFxProp::GetEqBass, &ITwBrioFxProp::SetEqBass,
     Display::kOneDecimal, 10, true},
    {IDC_EQ_TREBLE, IDC_EQ_TREBLE_VALUE, -250, 250, 0, &ITwBrioFxProp::GetEqTreble, &ITwBrioFxProp::SetEqTreble,
     Display::kOneDecimal, 10, true},
};

const SliderRow* RowOfSlider(int id) {
    for (const SliderRow& r : kSliderRows) {
        if (r.slider == id) return &r;
    }
    return nullptr;
}

const SliderRow* RowOfValue(int id) {
    for (const SliderRow& r : kSliderRows) {
        if (r.value == id) return &r;
    }
    return nullptr;
}

bool IsEqRow(const SliderRow& row) {
    return row.slider == IDC_EQ_MID || row.slider == IDC_EQ_BASS || row.slider == IDC_EQ_TREBLE;
}

struct CheckRow {
    int id;
    Getter get;
    Setter set;
};

constexpr CheckRow kCheckRows[] = {
    {IDC_DELAY_ON, &ITwBrioFxProp::GetDelayOn, &ITwBrioFxProp::SetDelayOn},
    {IDC_REVERB_ON, &ITwBrioFxProp::GetReverbOn, &ITwBrioFxProp::SetReverbOn},
    {IDC_LFO_ON, &ITwBrioFxProp::GetLfoOn, &ITwBrioFxProp::SetLfoOn},
    {IDC_DIST_ON, &ITwBrioFxProp::GetDistOn, &ITwBrioFxProp::SetDistOn},
    {IDC_EQ_ON, &ITwBrioFxProp::GetEqOn, &ITwBrioFxProp::SetEqOn},
    {IDC_DIST_HARD_CLIP, &ITwBrioFxProp::GetDistHardClip, &ITwBrioFxProp::SetDistHardClip},
};

struct ListItem {
    UINT textId;
    int data;
};

struct ListRow {
    int id;
    Getter get;
    Setter set;
    const ListItem* items;
    int itemCount;
};

constexpr ListItem kClockItems[] = {{IDS_CLOCK_TIME, 0}, {IDS_CLOCK_TEMPO, 1}};
constexpr ListItem kNoteItems[] = {{6050, 0}, {6051, 1}, {6052, 2}, {6053, 3}, {6054, 4},
                                   {6055, 5}, {6056, 6}, {6057, 7}, {6058, 8}};
constexpr ListItem kLfoTypeItems[] = {
    {IDS_LFO_FLANGE, 0}, {IDS_LFO_PHASER, 1}, {IDS_LFO_CHORUS, 2}, {IDS_LFO_WAH_WAH, 3}};
constexpr ListItem kPeriodItems[] = {{6063, 0}, {6064, 1}, {6065, 2}, {6066, 3}, {6067, 4}};
constexpr ListItem kReverbItems[] = {
    {IDS_REVERB_CLUB, 0}, {IDS_REVERB_HALL, 1}, {IDS_REVERB_PLATE, 2}, {IDS_REVERB_BIG_EMPTY_HALL, 3}};

constexpr ListRow kListRows[] = {
    {IDC_DELAY_CLOCK, &ITwBrioFxProp::GetDelayClock, &ITwBrioFxProp::SetDelayClock, kClockItems, 2},
    {IDC_DELAY_NOTE, &ITwBrioFxProp::GetDelayNote, &ITwBrioFxProp::SetDelayNote, kNoteItems, 9},
    {IDC_LFO_TYPE, &ITwBrioFxProp::GetLfoType, &ITwBrioFxProp::SetLfoType, kLfoTypeItems, 4},
    {IDC_LFO_CLOCK, &ITwBrioFxProp::GetLfoClock, &ITwBrioFxProp::SetLfoClock, kClockItems, 2},
    {IDC_LFO_PERIOD, &ITwBrioFxProp::GetLfoPeriod, &ITwBrioFxProp::SetLfoPeriod, kPeriodItems, 5},
    {IDC_REVERB_TYPE, &ITwBrioFxProp::GetReverbType, &ITwBrioFxProp::SetReverbType, kReverbItems, 4},
};

// ---- enable groups ------------------------------------------------------------------------------
constexpr int kDistGroup[] = {IDC_DIST_HARD_CLIP, IDC_DIST_SLEW_LABEL, IDC_DIST_SLEW, IDC_DIST_SLEW_VALUE};
constexpr int kEqGroup[] = {IDC_EQ_TREBLE_LABEL, IDC_EQ_TREBLE, IDC_EQ_TREBLE_VALUE,
                            IDC_EQ_MID_LABEL,    IDC_EQ_MID,    IDC_EQ_MID_VALUE,
                            IDC_EQ_BASS_LABEL,   IDC_EQ_BASS,   IDC_EQ_BASS_VALUE};
constexpr int kReverbGroup[] = {IDC_REVERB_TYPE, IDC_REVERB_MIX_LABEL, IDC_REVERB_MIX, IDC_REVERB_MIX_VALUE};
constexpr int kLfoGroup[] = {IDC_LFO_TYPE,        IDC_LFO_CLOCK_LABEL, IDC_LFO_CLOCK,
                             IDC_LFO_DEPTH_LABEL, IDC_LFO_DEPTH,       IDC_LFO_DEPTH_VALUE};
constexpr int kLfoTempoGroup[] = {IDC_LFO_PERIOD_LABEL, IDC_LFO_PERIOD};
constexpr int kLfoTimeGroup[] = {IDC_LFO_RATE_LABEL, IDC_LFO_RATE, IDC_LFO_RATE_VALUE};
constexpr int kDelayGroup[] = {IDC_DELAY_CLOCK, IDC_DELAY_DECAY_LABEL, IDC_DELAY_DECAY, IDC_DELAY_DECAY_VALUE,
                               IDC_DELAY_MIX_LABEL, IDC_DELAY_MIX, IDC_DELAY_MIX_VALUE};
constexpr int kDelayTempoGroup[] = {IDC_DELAY_NOTE_LABEL, IDC_DELAY_NOTE};
constexpr int kDelayTimeGroup[] = {IDC_DELAY_TIME_LABEL, IDC_DELAY_TIME, IDC_DELAY_TIME_VALUE};

// ---- context help -------------------------------------------------------------------------------
struct HelpRow {
    int id;
    DWORD context;
};

constexpr HelpRow kHelpRows[] = {
    {4000, 1000}, {4001, 1050}, {4002, 1100}, {4003, 1100}, {5000, 1150}, {5001, 1200}, {5002, 1200},
    {5005, 1250}, {5006, 1250}, {5009, 1300}, {5010, 1300}, {3000, 1350}, {8049, 1410}, {8066, 1420},
    {8068, 1430}, {3004, 1600}, {3007, 1650}, {1002, 1700}, {8063, 1720}, {1008, 1860}, {8060, 1860},
    {1006, 1900}, {1007, 1900}, {1009, 2350}, {1012, 2350}, {2010, 2350}, {8067, 2350}, {2000, 1950},
    {8054, 2150},
};

// ---- shared services: number symbols, menu tracking, help ---------------------------------------
bool g_symbolsOverridden = false;
tw::NumberSymbols g_symbols;

tw::NumberSymbols PageSymbols() { return g_symbolsOverridden ? g_symbols : tw::UserNumberSymbols(); }

UINT TrackMenu(HMENU menu, int x, int y, HWND owner) {
    return static_cast<UINT>(TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_RETURNCMD, x, y, 0, owner, nullptr));
}

tw::PageMenuTracker g_menuTracker = nullptr;

// The HTML help window comes from the system's help control, loaded the first time it is needed.
constexpr UINT kHtmlHelpDisplayTopic = 0x0000;
constexpr UINT kHtmlHelpCloseAll = 0x0012;
using HtmlHelpProc = HWND(WINAPI*)(HWND caller, LPCWSTR file, UINT command, DWORD_PTR data);
HMODULE g_htmlHelpModule = nullptr;
HtmlHelpProc g_htmlHelp = nullptr;
bool g_winHelpUsed = false;

bool FileExists(const WCHAR* path) {
    if (!path || !path[0]) return false;
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void SystemHelp(tw::PageHelpKind kind, const WCHAR* file, DWORD context, HWND window) {
    switch (kind) {
        case tw::PageHelpKind::kContextPopup:
            if (!FileExists(file)) return;
            g_winHelpUsed = WinHelpW(window, file, HELP_CONTEXTPOPUP, context) != FALSE || g_winHelpUsed;
            return;
        case tw::PageHelpKind::kHtmlWindow: {
            if (!FileExists(file)) return;
            if (!g_htmlHelp) {
                if (!g_htmlHelpModule) g_htmlHelpModule = LoadLibraryW(L"hhctrl.ocx");
                if (!g_htmlHelpModule) return;
                g_htmlHelp = reinterpret_cast<HtmlHelpProc>(
                    reinterpret_cast<void*>(GetProcAddress(g_htmlHelpModule, "HtmlHelpW")));
                if (!g_htmlHelp) return;
            }
            HWND help = g_htmlHelp(GetDesktopWindow(), file, kHtmlHelpDisplayTopic, 0);
            if (help) {
                BringWindowToTop(help);
                SetForegroundWindow(help);
            }
            return;
        }
        case tw::PageHelpKind::kWindowGone:
            // Popups and help windows must not outlive the window they were opened for.
            if (g_winHelpUsed) {
                WinHelpW(window, nullptr, HELP_QUIT, 0);
                g_winHelpUsed = false;
            }
            if (g_htmlHelp) g_htmlHelp(nullptr, nullptr, kHtmlHelpCloseAll, 0);
            return;
    }
}

tw::PageHelpRoutine g_helpRoutine = nullptr;

void RequestHelp(tw::PageHelpKind kind, const WCHAR* file, DWORD context, HWND window) {
    (g_helpRoutine ? g_helpRoutine : SystemHelp)(kind, file, context, window);
}

// `format` with its first "%s" replaced by `argument`; a translated format is never handed to a
// printf-style routine.
tw::WString FillFormat(const WCHAR* format, const WCHAR* argument) {
    tw::WString out(format);
    const size_t at = out.find(L"%s");
    if (at != tw::WString::npos) out.replace(at, 2, argument);
    return out;
}

tw::WString LoadText(UINT id);

// Doubles every ampersand so that a preset name shows it literally in a menu.
tw::WString EscapeMenuText(const WCHAR* text) {
    tw::WString out;
    for (const WCHAR* p = text; *p; ++p) {
        out += *p;
        if (*p == L'&') out += L'&';
    }
    return out;
}

}  // namespace

// ---- the page ------------------------------------------------------------------------------------

namespace {

tw::WString LoadText(UINT id) {
    WCHAR buffer[512];
    CBasePropertyPage::LoadPageString(id, buffer, 512);
    return buffer;
}

// ---- About box -----------------------------------------------------------------------------------

// Centred over the owner, a third of the way down (the whole screen when the owner is missing or
// minimised).
void PlaceAboutBox(HWND box) {
    HWND owner = GetWindow(box, GW_OWNER);
    RECT area;
    if (owner && !IsIconic(owner)) {
        GetWindowRect(owner, &area);
    } else {
        area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    RECT self;
    GetWindowRect(box, &self);
    const int width = self.right - self.left, height = self.bottom - self.top;
    const int x = area.left + ((area.right - area.left) - width) / 2;
    const int y = area.top + (area.bottom - area.top) / 3 - height / 3;
    SetWindowPos(box, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK AboutProc(HWND box, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            PlaceAboutBox(box);
            const tw::WString name = LoadText(IDS_DISPLAY_NAME);
            SetDlgItemTextW(box, IDC_ABOUT_VERSION, FillFormat(L"%s", kVersionText).c_str());
            SetDlgItemTextW(box, IDC_ABOUT_NAME, FillFormat(LoadText(IDS_ABOUT_NAME_FORMAT).c_str(), name.c_str()).c_str());
            SetWindowTextW(box, FillFormat(LoadText(IDS_ABOUT_TITLE_FORMAT).c_str(), name.c_str()).c_str());
            SetDlgItemTextW(box, IDC_ABOUT_LEGAL, LoadText(IDS_ABOUT_LEGAL).c_str());
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(box, LOWORD(wParam) == IDOK ? 1 : 0);
                return TRUE;
            }
            return FALSE;
        default:
            if (message == tw::LOGON_CLICKED) {
                tw::OpenProductPage();
                return TRUE;
            }
            return FALSE;
    }
}

}  // namespace

CUnknown* CTwBrioFxPropPage::CreateInstance(IUnknown* outer, HRESULT* hr) {
    auto* page = new CTwBrioFxPropPage(outer);
    if (hr) *hr = page ? S_OK : E_OUTOFMEMORY;
    return page;
}

CUnknown* CreateBrioFxPropPage(IUnknown* outer, HRESULT* hr) { return CTwBrioFxPropPage::CreateInstance(outer, hr); }

CTwBrioFxPropPage::CTwBrioFxPropPage(IUnknown* outer)
    : CBasePropertyPage(outer, IDD_BRIOFX_PAGE, IDS_DISPLAY_NAME), helpFile_{}, htmlHelpFile_{}, menuPresets_{} {
    FindHelpFiles();
}

CTwBrioFxPropPage::~CTwBrioFxPropPage() {
    if (window_) {
        HWND doomed = window_;
        window_ = nullptr;
        DestroyWindow(doomed);
    }
    if (prop_) prop_->Release();
}

void CTwBrioFxPropPage::FindHelpFiles() {
    // Named after the module: brio_fx.dll has brio_fx.hlp and brio_fx.chm beside it.
    WCHAR path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(ResourceModule(), path, MAX_PATH);
    helpFile_[0] = htmlHelpFile_[0] = 0;
    if (n == 0 || n >= MAX_PATH - 4) return;
    WCHAR* dot = nullptr;
    for (WCHAR* p = path; *p; ++p) {
        if (*p == L'.') dot = p;
        if (*p == L'\\' || *p == L'/') dot = nullptr;
    }
    if (!dot) dot = path + n;
    lstrcpyW(dot, L".hlp");
    lstrcpynW(helpFile_, path, MAX_PATH);
    lstrcpyW(dot, L".chm");
    lstrcpynW(htmlHelpFile_, path, MAX_PATH);
}

HRESULT STDMETHODCALLTYPE CTwBrioFxPropPage::GetPageInfo(PROPPAGEINFO* info) {
    const HRESULT hr = CBasePropertyPage::GetPageInfo(info);
    if (FAILED(hr)) return hr;
    FindHelpFiles();
    auto* help = static_cast<WCHAR*>(CoTaskMemAlloc(kHelpPathChars * sizeof(WCHAR)));
    if (!help) {
        CoTaskMemFree(info->pszTitle);
        info->pszTitle = nullptr;
        return E_OUTOFMEMORY;
    }
    lstrcpynW(help, htmlHelpFile_, kHelpPathChars);
    info->pszHelpFile = help;
    info->pszDocString = nullptr;
    info->dwHelpContext = 1;
    return S_OK;
}

HRESULT CTwBrioFxPropPage::OnConnect(IUnknown* object) {
    if (!object) return E_POINTER;
    if (prop_) OnDisconnect();
    object_ = object;
    ITwBrioFxProp* prop = nullptr;
    if (FAILED(object->QueryInterface(IID_ITwBrioFxProp, reinterpret_cast<void**>(&prop))) || !prop) {
        object_ = nullptr;
        return E_NOINTERFACE;
    }
    prop_ = prop;
    if (window_) {
        prop_->SetNotifyWindow(window_, kNoticeId);
        UpdateControls(0);
    }
    return S_OK;
}

HRESULT CTwBrioFxPropPage::OnDisconnect() {
    if (!prop_) return E_UNEXPECTED;
    if (window_) prop_->SetNotifyWindow(window_, 0);
    prop_->Release();
    prop_ = nullptr;
    object_ = nullptr;
    return S_OK;
}

HRESULT CTwBrioFxPropPage::OnActivate() {
    // Lets Tab and the mnemonics reach into the page from the host's frame.
    const LONG_PTR exStyle = GetWindowLongPtrW(window_, GWL_EXSTYLE);
    SetWindowLongPtrW(window_, GWL_EXSTYLE, exStyle | WS_EX_CONTROLPARENT);
    return S_OK;
}

HRESULT CTwBrioFxPropPage::OnDeactivate() {
    HWND window = window_;
    if (window) {
        const LONG_PTR exStyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
        SetWindowLongPtrW(window, GWL_EXSTYLE, exStyle & ~static_cast<LONG_PTR>(WS_EX_CONTROLPARENT));
    }
    return S_OK;
}

HRESULT CTwBrioFxPropPage::OnApplyChanges() { return S_OK; }

// ---- controls ------------------------------------------------------------------------------------

void CTwBrioFxPropPage::InitControls() {
    for (const SliderRow& r : kSliderRows) {
        HWND slider = GetDlgItem(window_, r.slider);
        if (!slider) continue;
        SendMessageW(slider, tw::TRKM_SETMIN, 0, r.minimum);
        SendMessageW(slider, tw::TRKM_SETMAX, 0, r.maximum);
        SendMessageW(slider, tw::TRKM_SETDEFAULT, 0, r.defaultValue);
    }
    // Dry/wet and the EQ bands colour the track from their centre value to the thumb.
    for (const SliderRow& r : kSliderRows) {
        if (r.fillFromDefault) SendDlgItemMessageW(window_, r.slider, tw::TRKM_SETFILLFROMDEFAULT, 0, 1);
    }
    for (const ListRow& list : kListRows) {
        HWND box = GetDlgItem(window_, list.id);
        if (!box) continue;
        SendMessageW(box, CB_RESETCONTENT, 0, 0);
        for (int i = 0; i < list.itemCount; ++i) {
            const tw::WString text = LoadText(list.items[i].textId);
            const LRESULT at = SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
            if (at >= 0) SendMessageW(box, CB_SETITEMDATA, static_cast<WPARAM>(at), list.items[i].data);
        }
    }
    SetUpLogoStrip();
}

void CTwBrioFxPropPage::SetUpLogoStrip() {
    HWND strip = GetDlgItem(window_, IDC_LOGO);
    if (!strip) return;
    SendMessageW(strip, tw::LOGOM_RESETBUTTONS, 0, 0);
    const tw::WString about = LoadText(IDS_MENU_ABOUT);
    SendMessageW(strip, tw::LOGOM_ADDBUTTON, MAKEWPARAM(IDM_ABOUT, 0), reinterpret_cast<LPARAM>(about.c_str()));
    SendMessageW(strip, tw::LOGOM_ADDBUTTON, MAKEWPARAM(IDM_HELP, 1), reinterpret_cast<LPARAM>(L"?"));
    // The registered name without the maker: "BRIO FX ".
    tw::WString caption = tw::WString(kTwBrioFxName) + L" ";
    const size_t maker = caption.find(kMakerPrefix);
    if (maker != tw::WString::npos) caption.erase(maker, lstrlenW(kMakerPrefix));
    SetWindowTextW(strip, caption.c_str());
}

void CTwBrioFxPropPage::SetCheck(int id, int value) {
    if (GetDlgItem(window_, id)) CheckDlgButton(window_, id, value ? BST_CHECKED : BST_UNCHECKED);
}

void CTwBrioFxPropPage::EnableIds(const int* ids, int count, bool on) {
    for (int i = 0; i < count; ++i) {
        if (HWND control = GetDlgItem(window_, ids[i])) EnableWindow(control, on);
    }
}

void CTwBrioFxPropPage::SelectItemByData(int id, int value) {
    HWND box = GetDlgItem(window_, id);
    if (!box) return;
    const LRESULT count = SendMessageW(box, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        if (SendMessageW(box, CB_GETITEMDATA, static_cast<WPARAM>(i), 0) == value) {
            if (SendMessageW(box, CB_GETCURSEL, 0, 0) != i) SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
            return;
        }
    }
}

void CTwBrioFxPropPage::ShowValue(int id, const tw::WString& text) {
    if (GetDlgItem(window_, id)) SetDlgItemTextW(window_, id, text.c_str());
}

void CTwBrioFxPropPage::MoveSlider(int id, int value) {
    if (HWND slider = GetDlgItem(window_, id)) SendMessageW(slider, tw::TRKM_SETPOS, 1, value);
}

void CTwBrioFxPropPage::EnableDelayControls(int on, int clock) {
    EnableIds(kDelayGroup, static_cast<int>(std::size(kDelayGroup)), on != 0);
    EnableIds(kDelayTempoGroup, static_cast<int>(std::size(kDelayTempoGroup)), on && clock == 1);
    EnableIds(kDelayTimeGroup, static_cast<int>(std::size(kDelayTimeGroup)), on && clock != 1);
}

void CTwBrioFxPropPage::EnableLfoControls(int on, int clock) {
    EnableIds(kLfoGroup, static_cast<int>(std::size(kLfoGroup)), on != 0);
    EnableIds(kLfoTempoGroup, static_cast<int>(std::size(kLfoTempoGroup)), on && clock == 1);
    EnableIds(kLfoTimeGroup, static_cast<int>(std::size(kLfoTimeGroup)), on && clock != 1);
}

void CTwBrioFxPropPage::UpdateSliderRow(int controlId, int sliderId, int valueId, int value,
                                        const tw::WString& text) {
    // After a drag the slider already stands where the user left it: only a full refresh or a
    // typed value moves it.
    if (controlId == 0 || controlId == valueId) MoveSlider(sliderId, value);
    ShowValue(valueId, text);
}

void CTwBrioFxPropPage::UpdateControls(int controlId) {
    if (!prop_ || !window_) return;
    if (controlId == kNoticeId) controlId = 0;
    const tw::NumberSymbols symbols = PageSymbols();
    auto runs = [controlId](std::initializer_list<int> ids) {
        if (controlId == 0) return true;
        return std::find(ids.begin(), ids.end(), controlId) != ids.end();
    };
    auto get = [this](Getter getter) {
        int v = 0;
        (prop_->*getter)(&v);
        return v;
    };
    auto show = [&symbols](const SliderRow& row, int v) {
        switch (row.display) {
            case Display::kInteger: return tw::FormatFixed(v, 0, symbols);
            case Display::kOneDecimal: return tw::FormatFixed(v, 1, symbols);
            case Display::kThreeDecimals: return tw::FormatFixed(v, 3, symbols);
            case Display::kSplit: return tw::FormatSplit(v, symbols);
        }
        return tw::WString();
    };
    auto row = [&](int sliderId) {
        const SliderRow& r = *RowOfSlider(sliderId);
        if (!runs({r.slider, r.value})) return;
        const int v = get(r.get);
        UpdateSliderRow(controlId, r.slider, r.value, v, show(r, v));
    };

    if (runs({IDC_DELAY_ON})) {
        const int on = get(&ITwBrioFxProp::GetDelayOn);
        SetCheck(IDC_DELAY_ON, on);
        EnableDelayControls(on, get(&ITwBrioFxProp::GetDelayClock));
    }
    if (runs({IDC_LFO_ON})) {
        const int on = get(&ITwBrioFxProp::GetLfoOn);
        SetCheck(IDC_LFO_ON, on);
        EnableLfoControls(on, get(&ITwBrioFxProp::GetLfoClock));
    }
    if (runs({IDC_REVERB_ON})) {
        const int on = get(&ITwBrioFxProp::GetReverbOn);
        SetCheck(IDC_REVERB_ON, on);
        EnableIds(kReverbGroup, static_cast<int>(std::size(kReverbGroup)), on != 0);
    }
    if (runs({IDC_DIST_ON})) {
        const int on = get(&ITwBrioFxProp::GetDistOn);
        SetCheck(IDC_DIST_ON, on);
        EnableIds(kDistGroup, static_cast<int>(std::size(kDistGroup)), on != 0);
    }
    if (runs({IDC_EQ_ON})) {
        const int on = get(&ITwBrioFxProp::GetEqOn);
        SetCheck(IDC_EQ_ON, on);
        EnableIds(kEqGroup, static_cast<int>(std::size(kEqGroup)), on != 0);
    }
    if (runs({IDC_DELAY_CLOCK})) {
        const int clock = get(&ITwBrioFxProp::GetDelayClock);
        SelectItemByData(IDC_DELAY_CLOCK, clock);
        EnableDelayControls(get(&ITwBrioFxProp::GetDelayOn), clock);
    }
    if (runs({IDC_DELAY_NOTE})) SelectItemByData(IDC_DELAY_NOTE, get(&ITwBrioFxProp::GetDelayNote));
    row(IDC_DELAY_TIME);
    row(IDC_DELAY_DECAY);
    row(IDC_DELAY_MIX);
    if (runs({IDC_LFO_CLOCK})) {
        const int clock = get(&ITwBrioFxProp::GetLfoClock);
        SelectItemByData(IDC_LFO_CLOCK, clock);
        EnableLfoControls(get(&ITwBrioFxProp::GetLfoOn), clock);
    }
    if (runs({IDC_LFO_PERIOD})) SelectItemByData(IDC_LFO_PERIOD, get(&ITwBrioFxProp::GetLfoPeriod));
    row(IDC_LFO_RATE);
    row(IDC_LFO_DEPTH);
    if (runs({IDC_REVERB_TYPE})) SelectItemByData(IDC_REVERB_TYPE, get(&ITwBrioFxProp::GetReverbType));
    row(IDC_REVERB_MIX);
    row(IDC_DIST_SLEW);
    row(IDC_EQ_BASS);
    row(IDC_EQ_MID);
    row(IDC_EQ_TREBLE);
    if (runs({IDC_LFO_TYPE})) SelectItemByData(IDC_LFO_TYPE, get(&ITwBrioFxProp::GetLfoType));
    if (runs({IDC_DIST_HARD_CLIP})) SetCheck(IDC_DIST_HARD_CLIP, get(&ITwBrioFxProp::GetDistHardClip));
}

// ---- user input ----------------------------------------------------------------------------------

void CTwBrioFxPropPage::OnSlider(HWND slider, int code) {
    const int id = GetDlgCtrlID(slider);
    const SliderRow* row = RowOfSlider(id);
    if (!row) return;
    const LONG position = static_cast<LONG>(SendMessageW(slider, tw::TRKM_GETPOS, 0, 0));
    const LONG minimum = static_cast<LONG>(SendMessageW(slider, tw::TRKM_GETMIN, 0, 0));
    const LONG maximum = static_cast<LONG>(SendMessageW(slider, tw::TRKM_GETMAX, 0, 0));
    const LONG page = GetKeyState(VK_CONTROL) < 0 ? kCtrlPageStep : kPageStep;
    // Up is the larger value on a vertical slider.
    const LONG sense = (GetWindowLongPtrW(slider, GWL_STYLE) & tw::kSliderVertical) ? -1 : 1;
    int64_t next = position;
    switch (code) {
        case tw::kCodeLineLeft: next -= sense * kLineStep; break;
        case tw::kCodeLineRight: next += sense * kLineStep; break;
        case tw::kCodePageLeft: next -= sense * page; break;
        case tw::kCodePageRight: next += sense * page; break;
        case tw::kCodeToMinimum: next = minimum; break;
        case tw::kCodeToMaximum: next = maximum; break;
        default: break;
    }
    next = std::clamp<int64_t>(next, minimum, maximum);
    const int value = static_cast<int>(SendMessageW(slider, tw::TRKM_SETPOS, 1, static_cast<LPARAM>(next)));
    (prop_->*row->set)(value);
    UpdateControls(id);
}

void CTwBrioFxPropPage::OnTypedValue(int id) {
    const SliderRow* row = RowOfValue(id);
    if (!row || row->typedUnits == 0) return;
    WCHAR text[kTypedTextMax + 1] = {};
    GetDlgItemTextW(window_, id, text, kTypedTextMax + 1);
    LONG value = 0;
    bool have = false;
    if (IsEqRow(*row) && CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, text, std::min(2, lstrlenW(text)),
                                        kMinusInfinity, 2) == CSTR_EQUAL) {
        value = -250;
        have = true;
    } else {
        have = tw::ParseScaled(text, PageSymbols(), row->typedUnits, &value);
    }
    // Text that is no number changes nothing; the refresh below puts the stored value back.
    if (have) (prop_->*row->set)(static_cast<int>(value));
    UpdateControls(id);
}

void CTwBrioFxPropPage::OnCommand(int id, int code, HWND control) {
    if (id == kNoticeId) {
        UpdateControls(0);
        return;
    }
    if (id >= IDM_PRESET_FIRST && id < IDM_PRESET_FIRST + kPresetMenuLimit && !control) {
        LoadPresetCommand(id);
        return;
    }
    if (id == IDM_HELP) {
        ShowHtmlHelp();
        return;
    }
    if (id == IDM_ABOUT) {
        ShowAbout();
        return;
    }
    for (const CheckRow& check : kCheckRows) {
        if (check.id != id) continue;
        if (code != BN_CLICKED) return;
        (prop_->*check.set)(IsDlgButtonChecked(window_, id) == BST_CHECKED ? 1 : 0);
        UpdateControls(id);
        return;
    }
    for (const ListRow& list : kListRows) {
        if (list.id != id) continue;
        // The reverb type applies each highlighted item at once; the others apply a choice when
        // their list closes or loses the focus.
        const bool applies = id == IDC_REVERB_TYPE ? code == CBN_SELCHANGE : code != CBN_SELCHANGE;
        if (!applies) return;
        HWND box = GetDlgItem(window_, id);
        const LRESULT selected = SendMessageW(box, CB_GETCURSEL, 0, 0);
        if (selected != CB_ERR) {
            const LRESULT data = SendMessageW(box, CB_GETITEMDATA, static_cast<WPARAM>(selected), 0);
            if (data != CB_ERR) (prop_->*list.set)(static_cast<int>(data));
        }
        UpdateControls(id);
        return;
    }
    if (code == kTypedValueNotice) OnTypedValue(id);
}

// ---- menu, presets, help, About ------------------------------------------------------------------

void CTwBrioFxPropPage::ShowPageMenu(int x, int y) {
    HMENU menu = CreatePopupMenu();
    HMENU presets = CreatePopupMenu();
    if (!menu || !presets) {
        if (menu) DestroyMenu(menu);
        if (presets) DestroyMenu(presets);
        return;
    }
    menuPresetCount_ = 0;
    IStaticFilterPreset* source = nullptr;
    if (object_ &&
        SUCCEEDED(object_->QueryInterface(IID_IStaticFilterPreset, reinterpret_cast<void**>(&source))) && source) {
        int count = 0;
        if (FAILED(source->GetPresetCount(&count))) count = 0;
        count = std::min(count, kPresetMenuLimit);
        // Index 0 is the filter's start-up record; the menu begins with index 1.
        for (int index = 1; index < count; ++index) {
            WCHAR name[kPresetNameBuffer] = {};
            if (FAILED(source->GetPresetName(index, name, kPresetNameBuffer))) continue;
            name[kPresetNameBuffer - 1] = 0;
            const tw::WString text = EscapeMenuText(name);
            AppendMenuW(presets, MF_STRING, IDM_PRESET_FIRST + menuPresetCount_, text.c_str());
            menuPresets_[menuPresetCount_++] = index;
        }
        source->Release();
    }
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(presets), LoadText(IDS_MENU_PRESETS).c_str());
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_HELP, LoadText(IDS_MENU_HELP).c_str());
    AppendMenuW(menu, MF_STRING, IDM_ABOUT, LoadText(IDS_MENU_ABOUT).c_str());

    HWND window = window_;
    const UINT command = (g_menuTracker ? g_menuTracker : TrackMenu)(menu, x, y, window);
    DestroyMenu(menu);  // also destroys the submenu
    if (command != 0 && IsWindow(window)) SendMessageW(window, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

void CTwBrioFxPropPage::LoadPresetCommand(int command) {
    const int k = command - IDM_PRESET_FIRST;
    // A name that could not be read leaves no menu item, so the items map to indices by table.
    const int index = k < menuPresetCount_ ? menuPresets_[k] : k + 1;
    IStaticFilterPreset* source = nullptr;
    if (object_ &&
        SUCCEEDED(object_->QueryInterface(IID_IStaticFilterPreset, reinterpret_cast<void**>(&source))) && source) {
        source->LoadPreset(index);
        source->Release();
    }
    UpdateControls(0);
}

void CTwBrioFxPropPage::ShowHtmlHelp() { RequestHelp(tw::PageHelpKind::kHtmlWindow, htmlHelpFile_, 0, window_); }

void CTwBrioFxPropPage::ShowContextHelp(const HELPINFO* info) {
    if (!info || info->iContextType != HELPINFO_WINDOW) return;
    const DWORD context = tw::PageHelpContext(info->iCtrlId);
    if (context == 0) return;
    RequestHelp(tw::PageHelpKind::kContextPopup, helpFile_, context, static_cast<HWND>(info->hItemHandle));
}

void CTwBrioFxPropPage::ShowAbout() {
    HWND window = window_;
    DialogBoxParamW(ResourceModule(), MAKEINTRESOURCEW(IDD_ABOUT), window, AboutProc, 0);
    if (IsWindow(window) && window_ == window) SetUpLogoStrip();
}

INT_PTR CTwBrioFxPropPage::OnReceiveMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            if (prop_) prop_->SetNotifyWindow(window, kNoticeId);
            InitControls();
            UpdateControls(0);
            return TRUE;
        case WM_DESTROY:
            if (prop_) prop_->SetNotifyWindow(window, 0);
            RequestHelp(tw::PageHelpKind::kWindowGone, nullptr, 0, window);
            window_ = nullptr;
            return TRUE;
        case WM_COMMAND:
            if (!prop_) return FALSE;
            OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return TRUE;
        case WM_HSCROLL:
        case WM_VSCROLL:
            if (!prop_ || !lParam) return FALSE;
            OnSlider(reinterpret_cast<HWND>(lParam), LOWORD(wParam));
            return TRUE;
        case WM_CONTEXTMENU: {
            int x = static_cast<short>(LOWORD(lParam));
            int y = static_cast<short>(HIWORD(lParam));
            if (x == -1 && y == -1) {
                // Opened from the keyboard: under the page's centre, a quarter of the way down.
                RECT r;
                GetWindowRect(window, &r);
                x = (r.left + r.right) / 2;
                y = r.top + (r.bottom - r.top) / 4;
            }
            ShowPageMenu(x, y);
            return TRUE;
        }
        case WM_HELP:
            ShowContextHelp(reinterpret_cast<const HELPINFO*>(lParam));
            return TRUE;
        default:
            if (message == tw::LOGON_CLICKED) {
                ShowAbout();
                return TRUE;
            }
            return FALSE;
    }
}

namespace tw {

void SetPageNumberSymbols(const NumberSymbols* symbols) {
    g_symbolsOverridden = symbols != nullptr;
    if (symbols) g_symbols = *symbols;
}

void SetPageMenuTracker(PageMenuTracker tracker) { g_menuTracker = tracker; }

void SetPageHelpRoutine(PageHelpRoutine routine) { g_helpRoutine = routine; }

DWORD PageHelpContext(int controlId) {
    for (const HelpRow& r : kHelpRows) {
        if (r.id == controlId) return r.context;
    }
    return 0;
}

}  // namespace tw

#endif  // _WIN32
