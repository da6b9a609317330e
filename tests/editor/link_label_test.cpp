#ifdef _WIN32

#include "editor/control_common.h"
#include "editor/controls.h"
#include "tests/editor/control_host.h"

#include <gtest/gtest.h>

#include <vector>

namespace tw::test {
namespace {

constexpr int kLinkId = 77;

class LinkLabelTest : public ::testing::Test {
protected:
    HWND Make(DWORD style, const WCHAR* text = L"Visit the site") {
        label = host.Create(kStaticClassName, style, kLinkId, 10, 10, 300, 20, text);
        return label;
    }
    void Click(int downX, int upX) {
        SendMessageW(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(downX, 5));
        SendMessageW(label, WM_LBUTTONUP, 0, MAKELPARAM(upX, 5));
    }
    int Clicks() const {
        int n = 0;
        for (const Received& r : host.received()) {
            n += r.message == WM_NOTIFY && r.notifyCode == LINKN_CLICKED && r.notifyId == kLinkId;
        }
        return n;
    }

    ControlHost host;
    HWND label = nullptr;
};

TEST_F(LinkLabelTest, LinkReportsClicksInsideItsTextAndSpace) {
    ASSERT_NE(Make(kLabelLink | kLabelHitTest), nullptr);
    Click(5, 6);
    EXPECT_EQ(Clicks(), 1);
    EXPECT_EQ(GetFocus(), label);
    Click(290, 290);  // right of the text
    Click(5, 290);    // released outside the text
    EXPECT_EQ(Clicks(), 1);
    SendMessageW(label, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_EQ(Clicks(), 2);
    EXPECT_EQ(SendMessageW(label, WM_GETDLGCODE, 0, 0), DLGC_WANTTAB | DLGC_WANTCHARS);

    POINT inside = {5, 5};
    ClientToScreen(label, &inside);
    EXPECT_EQ(SendMessageW(label, WM_NCHITTEST, 0, MAKELPARAM(inside.x, inside.y)), HTCLIENT);
}

TEST_F(LinkLabelTest, PlainLabelIsTransparentToTheMouseAndSilent) {
    Make(0);
    POINT inside = {5, 5};
    ClientToScreen(label, &inside);
    EXPECT_EQ(SendMessageW(label, WM_NCHITTEST, 0, MAKELPARAM(inside.x, inside.y)), HTTRANSPARENT);
    EXPECT_EQ(SendMessageW(label, WM_GETDLGCODE, 0, 0), DLGC_STATIC);
    Click(5, 5);
    SendMessageW(label, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_EQ(Clicks(), 0);

    HFONT font = static_cast<HFONT>(GetStockObject(ANSI_VAR_FONT));
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
    EXPECT_EQ(SendMessageW(label, WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(font));
    Canvas paints(label);  // draws with the parent's background without trouble
    EXPECT_EQ(paints.At(299, 19), GetSysColor(COLOR_BTNFACE));
}

// An in-memory dialog: button 10, link label 11, button 12.
std::vector<WORD> ThreeControlDialog() {
    std::vector<WORD> t;
    auto dword = [&t](DWORD v) {
        t.push_back(LOWORD(v));
        t.push_back(HIWORD(v));
    };
    auto text = [&t](const WCHAR* s) {
        do t.push_back(static_cast<WORD>(*s)); while (*s++);
    };
    dword(WS_POPUP | DS_SETFONT);
    dword(0);
    t.push_back(3);
    t.insert(t.end(), {0, 0, 200, 60, 0, 0});  // x, y, cx, cy, no menu, default class
    text(L"links");
    t.push_back(8);
    text(L"MS Shell Dlg");
    auto item = [&](DWORD style, WORD id, int x, const WCHAR* cls, bool atom) {
        if (t.size() % 2) t.push_back(0);  // DWORD alignment
        dword(WS_CHILD | WS_VISIBLE | WS_TABSTOP | style);
        dword(0);
        t.insert(t.end(), {static_cast<WORD>(x), 10, 40, 12, id});
        if (atom) {
            t.push_back(0xFFFF);
            t.push_back(0x0080);
        } else {
            text(cls);
        }
        text(L"item");
        t.push_back(0);
    };
    item(BS_PUSHBUTTON, 10, 5, nullptr, true);
    item(kLabelLink | kLabelHitTest, 11, 60, kStaticClassName, false);
    item(BS_PUSHBUTTON, 12, 120, nullptr, true);
    return t;
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

TEST_F(LinkLabelTest, TabAndShiftTabMoveThroughTheDialog) {
    const std::vector<WORD> tmpl = ThreeControlDialog();
    HWND dialog = CreateDialogIndirectParamW(TestModule(), reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()),
                                             host.window(), PlainDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    HWND link = GetDlgItem(dialog, 11);
    ASSERT_NE(link, nullptr);
    SetFocus(link);
    ASSERT_EQ(GetFocus(), link);
    SendMessageW(link, WM_KEYDOWN, VK_TAB, 0);
    EXPECT_EQ(GetFocus(), GetDlgItem(dialog, 12));

    SetFocus(link);
    BYTE keys[256];
    GetKeyboardState(keys);
    const BYTE shift = keys[VK_SHIFT];
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    SendMessageW(link, WM_KEYDOWN, VK_TAB, 0);
    keys[VK_SHIFT] = shift;
    SetKeyboardState(keys);
    EXPECT_EQ(GetFocus(), GetDlgItem(dialog, 10));
    DestroyWindow(dialog);
}

TEST(EditorClasses, RegisteredWithTheirStylesSlotsAndBrushes) {
    struct Expect {
        const WCHAR* name;
        int extra;
        int colour;
    };
    const Expect classes[] = {
        {kTrackbarClassName, static_cast<int>(sizeof(LONG_PTR)), COLOR_BTNFACE},
        {kLogoClassName, static_cast<int>(sizeof(LONG_PTR)), COLOR_WINDOW},
        {kStaticClassName, static_cast<int>(2 * sizeof(LONG_PTR)), COLOR_WINDOW},
    };
    for (const Expect& e : classes) {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        ASSERT_TRUE(GetClassInfoExW(TestModule(), e.name, &wc));
        EXPECT_EQ(wc.style, 0x400Bu);
        EXPECT_EQ(wc.cbWndExtra, e.extra);
        EXPECT_EQ(wc.hbrBackground, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(e.colour + 1)));
        EXPECT_EQ(wc.hCursor, LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)));
        EXPECT_EQ(wc.hIcon, nullptr);
        EXPECT_EQ(wc.lpszMenuName, nullptr);
    }

    // The shared 8 x 8 checkerboard: alternate pixels differ, diagonal neighbours match.
    HBRUSH pattern = LabelPatternBrush();
    ASSERT_NE(pattern, nullptr);
    LOGBRUSH lb = {};
    ASSERT_NE(GetObjectW(pattern, sizeof(lb), &lb), 0);
    EXPECT_EQ(lb.lbStyle, static_cast<UINT>(BS_PATTERN));
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateBitmap(8, 8, 1, 32, nullptr);
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    HGDIOBJ oldBrush = SelectObject(dc, pattern);
    PatBlt(dc, 0, 0, 8, 8, PATCOPY);
    EXPECT_NE(GetPixel(dc, 0, 0), GetPixel(dc, 1, 0));
    EXPECT_NE(GetPixel(dc, 0, 0), GetPixel(dc, 0, 1));
    EXPECT_EQ(GetPixel(dc, 0, 0), GetPixel(dc, 1, 1));
    EXPECT_EQ(GetPixel(dc, 2, 0), GetPixel(dc, 0, 0));
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);

    // Unregistering removes the classes and the brush; registering again restores both.
    UnregisterEditorClasses(TestModule());
    WNDCLASSEXW gone = {};
    gone.cbSize = sizeof(gone);
    EXPECT_FALSE(GetClassInfoExW(TestModule(), kTrackbarClassName, &gone));
    EXPECT_FALSE(GetClassInfoExW(TestModule(), kStaticClassName, &gone));
    EXPECT_FALSE(GetClassInfoExW(TestModule(), kLogoClassName, &gone));
    EXPECT_EQ(LabelPatternBrush(), nullptr);
    EXPECT_EQ(GetObjectType(pattern), 0u);
    ASSERT_TRUE(RegisterEditorClasses(TestModule()));
    EXPECT_NE(LabelPatternBrush(), nullptr);
}

}  // namespace
}  // namespace tw::test

#endif  // _WIN32
