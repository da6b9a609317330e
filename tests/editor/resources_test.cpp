#ifdef _WIN32

#include "editor/controls.h"
#include "resources/resource_ids.h"
#include "tests/editor/control_host.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

namespace tw::test {
namespace {

// ---- reading a DIALOGEX template -----------------------------------------------------------------

struct Item {
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::wstring cls;  // a standard class as "#128".."#133"
    std::wstring text;
};

struct Dialog {
    DWORD style = 0;
    int cx = 0, cy = 0;
    int points = 0;
    std::wstring face;
    std::vector<Item> items;
};

class Reader {
public:
    explicit Reader(const BYTE* p) : base_(p), p_(p) {}
    WORD Word() {
        WORD v;
        memcpy(&v, p_, 2);
        p_ += 2;
        return v;
    }
    DWORD Dword() {
        DWORD v;
        memcpy(&v, p_, 4);
        p_ += 4;
        return v;
    }
    std::wstring SzOrOrd() {
        const WORD first = Word();
        if (first == 0xFFFF) return L"#" + std::to_wstring(Word());
        std::wstring s;
        for (WORD c = first; c; c = Word()) s += static_cast<WCHAR>(c);
        return s;
    }
    void Align() {
        while ((p_ - base_) % 4) ++p_;
    }
    void Skip(size_t n) { p_ += n; }

private:
    const BYTE* base_;
    const BYTE* p_;
};

Dialog ReadDialog(int id) {
    Dialog d;
    HRSRC found = FindResourceW(TestModule(), MAKEINTRESOURCEW(id), reinterpret_cast<LPCWSTR>(RT_DIALOG));
    if (!found) return d;
    Reader r(static_cast<const BYTE*>(LockResource(LoadResource(TestModule(), found))));
    if (r.Word() != 1 || r.Word() != 0xFFFF) return d;  // DIALOGEX
    r.Dword();                                           // help id
    r.Dword();                                           // extended style
    d.style = r.Dword();
    const int count = r.Word();
    r.Word();
    r.Word();
    d.cx = static_cast<SHORT>(r.Word());
    d.cy = static_cast<SHORT>(r.Word());
    r.SzOrOrd();  // menu
    r.SzOrOrd();  // class
    r.SzOrOrd();  // title
    if (d.style & DS_SETFONT) {
        d.points = r.Word();
        r.Word();  // weight
        r.Skip(2); // italic, charset
        d.face = r.SzOrOrd();
    }
    for (int i = 0; i < count; ++i) {
        r.Align();
        Item it;
        r.Dword();  // help id
        r.Dword();  // extended style
        it.style = r.Dword();
        it.x = static_cast<SHORT>(r.Word());
        it.y = static_cast<SHORT>(r.Word());
        it.cx = static_cast<SHORT>(r.Word());
        it.cy = static_cast<SHORT>(r.Word());
        it.id = static_cast<int>(r.Dword());
        it.cls = r.SzOrOrd();
        it.text = r.SzOrOrd();
        r.Skip(r.Word());
        d.items.push_back(it);
    }
    return d;
}

bool SameName(std::wstring a, std::wstring b) {
    for (auto& c : a) c = static_cast<WCHAR>(towlower(c));
    for (auto& c : b) c = static_cast<WCHAR>(towlower(c));
    return a == b;
}

std::wstring LoadText(UINT id) {
    WCHAR buffer[512] = {};
    LoadStringW(TestModule(), id, buffer, 512);
    return buffer;
}

// ---- the page's layout ---------------------------------------------------------------------------

enum Kind { kLogo, kGroup, kCheck, kLabel, kValue, kList, kSortedList, kSlider, kRateSlider };

struct Row {
    int id;
    Kind kind;
    const WCHAR* text;
    int x, y, cx, cy;
};

const Row kPage[] = {
    {2, kLogo, L"", 0, 1, 498, 16},
    {-1, kGroup, L"", 2, 15, 494, 24},
    {4000, kCheck, L"Dist&ortion", 10, 25, 46, 8},
    {4002, kLabel, L"Sle&w (%):", 66, 25, 38, 8},
    {4003, kSlider, L"", 108, 23, 165, 12},
    {8048, kValue, L"100", 281, 25, 24, 8},
    {4001, kCheck, L"Hard cl&ipping", 328, 25, 75, 8},
    {-1, kGroup, L"", 2, 38, 158, 89},
    {5000, kCheck, L"E&Q", 8, 47, 26, 10},
    {5001, kLabel, L"Tr&eble (dB):", 8, 64, 40, 8},
    {5002, kSlider, L"", 53, 62, 78, 12},
    {8045, kValue, L"-Inf.", 136, 64, 19, 8},
    {5005, kLabel, L"&Mid (dB):", 8, 87, 39, 8},
    {5006, kSlider, L"", 53, 85, 78, 12},
    {8046, kValue, L"-Inf.", 136, 87, 19, 8},
    {5009, kLabel, L"Ba&ss (dB):", 8, 110, 39, 8},
    {5010, kSlider, L"", 53, 108, 78, 12},
    {8047, kValue, L"-Inf.", 136, 110, 19, 8},
    {-1, kGroup, L"", 162, 38, 157, 89},
    {3000, kCheck, L"&LFO:", 168, 47, 39, 10},
    {8049, kSortedList, L"", 208, 45, 107, 99},
    {1013, kLabel, L"LFO Cloc&k:", 168, 63, 38, 8},
    {8066, kSortedList, L"", 208, 61, 107, 150},
    {1014, kLabel, L"&Period:", 168, 79, 36, 8},
    {8068, kList, L"", 208, 77, 107, 102},
    {8052, kLabel, L"R&ate (Hz):", 168, 97, 37, 8},
    {3004, kRateSlider, L"", 208, 95, 78, 12},
    {8050, kValue, L"10,000", 289, 97, 24, 8},
    {8053, kLabel, L"Dept&h (%):", 168, 113, 37, 8},
    {3007, kSlider, L"", 208, 111, 79, 12},
    {8051, kValue, L"100", 293, 113, 20, 8},
    {-1, kGroup, L"", 322, 38, 174, 89},
    {1002, kCheck, L"&Delay:", 328, 47, 39, 10},
    {8061, kSortedList, L"", 377, 45, 115, 122},
    {1010, kLabel, L"No&te Value:", 328, 63, 41, 8},
    {8063, kList, L"", 377, 61, 115, 160},
    {1011, kLabel, L"&Time (ms):", 328, 79, 41, 8},
    {1008, kSlider, L"", 377, 77, 76, 12},
    {8060, kValue, L"1000", 467, 79, 23, 8},
    {1007, kLabel, L"De&cay (%):", 328, 96, 41, 8},
    {1006, kSlider, L"", 377, 94, 76, 12},
    {8059, kValue, L"100", 467, 96, 23, 8},
    {1012, kLabel, L"Dr&y / Wet (%):", 328, 111, 50, 8},
    {1009, kSlider, L"", 377, 109, 76, 12},
    {8062, kValue, L"50.0/50.0", 458, 111, 32, 8},
    {-1, kGroup, L"", 2, 126, 494, 24},
    {2000, kCheck, L"Re&verb:", 7, 136, 49, 10},
    {8054, kSortedList, L"", 57, 134, 160, 50},
    {8067, kLabel, L"Dry / &Wet (%):", 237, 136, 50, 8},
    {2010, kSlider, L"", 289, 134, 165, 12},
    {8064, kValue, L"50.0/50.0", 458, 136, 32, 8},
};

void ExpectKind(const Item& it, Kind kind) {
    const DWORD low = it.style & 0xFFFF;
    switch (kind) {
        case kLogo: EXPECT_TRUE(SameName(it.cls, kLogoClassName)); break;
        case kGroup:
            EXPECT_EQ(it.cls, L"#128");
            EXPECT_EQ(low & 0xF, static_cast<DWORD>(BS_GROUPBOX));
            break;
        case kCheck:
            EXPECT_EQ(it.cls, L"#128");
            EXPECT_EQ(low & 0xF, static_cast<DWORD>(BS_AUTOCHECKBOX));
            EXPECT_TRUE(it.style & WS_TABSTOP);
            break;
        case kLabel:
        case kValue:
            EXPECT_EQ(it.cls, L"#130");
            EXPECT_EQ(low & SS_TYPEMASK, static_cast<DWORD>(kind == kLabel ? SS_LEFT : SS_RIGHT));
            break;
        case kList:
        case kSortedList:
            EXPECT_EQ(it.cls, L"#133");
            EXPECT_EQ(low & 3, static_cast<DWORD>(CBS_DROPDOWNLIST));
            EXPECT_EQ((low & CBS_SORT) != 0, kind == kSortedList);
            EXPECT_TRUE(it.style & WS_VSCROLL);
            EXPECT_TRUE(it.style & WS_TABSTOP);
            break;
        case kSlider:
        case kRateSlider:
            EXPECT_TRUE(SameName(it.cls, kTrackbarClassName));
            EXPECT_EQ(low, kind == kSlider ? 0x202u : 0x2C2u);
            EXPECT_TRUE(it.style & WS_TABSTOP);
            break;
    }
}

TEST(PageResources, DialogTemplateMatchesTheLayout) {
    const Dialog d = ReadDialog(IDD_BRIOFX_PAGE);
    EXPECT_EQ(d.cx, 498);
    EXPECT_EQ(d.cy, 153);
    EXPECT_EQ(d.points, 8);
    EXPECT_EQ(d.face, L"MS Shell Dlg");
    EXPECT_TRUE(d.style & WS_CHILD);
    EXPECT_FALSE(d.style & WS_VISIBLE);
    ASSERT_EQ(d.items.size(), std::size(kPage));
    for (size_t i = 0; i < d.items.size(); ++i) {
        const Item& it = d.items[i];
        const Row& row = kPage[i];
        SCOPED_TRACE(row.id);
        EXPECT_EQ(static_cast<SHORT>(it.id), row.id);
        EXPECT_EQ(it.text, row.text);
        EXPECT_EQ(it.x, row.x);
        EXPECT_EQ(it.y, row.y);
        EXPECT_EQ(it.cx, row.cx);
        EXPECT_EQ(it.cy, row.cy);
        EXPECT_TRUE(it.style & WS_VISIBLE);
        EXPECT_TRUE(it.style & WS_CHILD);
        ExpectKind(it, row.kind);
    }
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

TEST(PageResources, PageAndAboutBoxCreateWithTheirControls) {
    ControlHost host;
    HWND page = CreateDialogParamW(TestModule(), MAKEINTRESOURCEW(IDD_BRIOFX_PAGE), host.window(), PlainDialogProc, 0);
    ASSERT_NE(page, nullptr);
    for (const Row& row : kPage) {
        if (row.id < 0) continue;
        HWND control = GetDlgItem(page, row.id);
        ASSERT_NE(control, nullptr) << row.id;
        // Position and size are mapped apart, as the dialog manager does.
        RECT expected = {row.x, row.y, row.cx, row.cy};
        MapDialogRect(page, &expected);
        RECT actual;
        GetWindowRect(control, &actual);
        MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, expected.left) << row.id;
        EXPECT_EQ(actual.top, expected.top) << row.id;
        if (row.kind == kSlider || row.kind == kRateSlider) {
            EXPECT_EQ(actual.right - actual.left, expected.right) << row.id;
            EXPECT_EQ(actual.bottom - actual.top, expected.bottom) << row.id;
            EXPECT_EQ(SendMessageW(control, TRKM_GETMAX, 0, 0), 100) << row.id;  // a live slider
        }
    }
    RECT client, size = {0, 0, 498, 153};
    GetClientRect(page, &client);
    MapDialogRect(page, &size);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);
    DestroyWindow(page);

    const Dialog about = ReadDialog(IDD_ABOUT);
    std::vector<int> ids;
    for (const Item& it : about.items) ids.push_back(it.id);
    EXPECT_EQ(ids, (std::vector<int>{IDC_LOGO, IDC_ABOUT_NAME, IDC_ABOUT_VERSION, IDC_ABOUT_LEGAL, IDOK}));
    EXPECT_TRUE(SameName(about.items[0].cls, kLogoClassName));
    EXPECT_TRUE(about.items[0].text.empty());  // no caption: a click tells the box
    EXPECT_EQ(about.face, L"MS Shell Dlg");
    HWND box = CreateDialogParamW(TestModule(), MAKEINTRESOURCEW(IDD_ABOUT), host.window(), PlainDialogProc, 0);
    ASSERT_NE(box, nullptr);
    for (int id : ids) EXPECT_NE(GetDlgItem(box, id), nullptr) << id;
    DestroyWindow(box);
}

TEST(PageResources, StringTableTexts) {
    struct Text {
        UINT id;
        const WCHAR* text;
    };
    const Text texts[] = {
        {1000, L"BRIO FX"},
        {6000, L"Presets"},
        {6001, L"Help"},
        {6003, L"About..."},
        {6010, L"%s"},
        {6017, L"About %s"},
        {6020, L"(Default)"},
        {6021, L"Default all parameters"},
        {6022, L"Dotted Eighth Delay"},
        {6023, L"Triplet Delay"},
        {6024, L"Slapback Delay"},
        {6025, L"Delay Chirp"},
        {6026, L"Delay Crunch"},
        {6027, L"Two Beat Phaser"},
        {6028, L"One Measure Flanger"},
        {6029, L"One Beat Wah"},
        {6030, L"Guitar Chorus"},
        {6031, L"Club Guitar"},
        {6032, L"Distant Echoes"},
        {6033, L"Th-THUMP"},
        {6044, L"Club"},
        {6045, L"Hall"},
        {6046, L"Plate"},
        {6047, L"Big Empty Hall"},
        {6048, L"Time"},
        {6049, L"Tempo"},
        {6050, L"Dotted Quarter Note"},
        {6051, L"Quarter Note"},
        {6052, L"Quarter Note Triplet"},
        {6053, L"Dotted Eighth Note"},
        {6054, L"Eighth Note"},
        {6055, L"Quarter Eighth Triplet"},
        {6056, L"Dotted Sixteenth Note"},
        {6057, L"Sixteenth Note"},
        {6058, L"Quarter Sixteenth Triplet"},
        {6059, L"Flange"},
        {6060, L"Phaser"},
        {6061, L"Chorus"},
        {6062, L"Wah-Wah"},
        {6063, L"One Beat"},
        {6064, L"Two Beats"},
        {6065, L"One Measure"},
        {6066, L"Two Measures"},
        {6067, L"Four Measures"},
    };
    for (const Text& t : texts) EXPECT_EQ(LoadText(t.id), t.text) << t.id;
    EXPECT_FALSE(LoadText(IDS_ABOUT_LEGAL).empty());
}

TEST(PageResources, LogoBitmapsAre122By24With8Bits) {
    for (UINT id : {IDB_LOGO_MARK, IDB_LOGO_BAND}) {
        HRSRC found = FindResourceW(TestModule(), MAKEINTRESOURCEW(id), reinterpret_cast<LPCWSTR>(RT_BITMAP));
        ASSERT_NE(found, nullptr) << id;
        const auto* h = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(TestModule(), found)));
        EXPECT_EQ(h->biSize, 40u);
        EXPECT_EQ(h->biWidth, 122);
        EXPECT_EQ(h->biHeight, 24);
        EXPECT_EQ(h->biBitCount, 8);
        EXPECT_EQ(h->biCompression, static_cast<DWORD>(BI_RGB));
        EXPECT_GE(SizeofResource(TestModule(), found), 40u + 256u * 4u + 124u * 24u);
    }
}

}  // namespace
}  // namespace tw::test

#endif  // _WIN32
