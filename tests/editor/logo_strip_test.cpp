#ifdef _WIN32

#include "editor/controls.h"
#include "resources/resource_ids.h"
#include "tests/editor/control_host.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tw::test {
namespace {

std::vector<std::wstring> g_opened;
void RecordOpen(const WCHAR* address) { g_opened.emplace_back(address); }

struct TimerStart {
    HWND window;
    UINT_PTR id;
    UINT milliseconds;
};
std::vector<TimerStart> g_timers;
UINT_PTR RecordTimer(HWND window, UINT_PTR id, UINT milliseconds) {
    g_timers.push_back({window, id, milliseconds});
    return id;
}

int TextWidth(const WCHAR* text) {
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SIZE size = {};
    GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return size.cx;
}

// Colour of a pixel of one of the module's 8-bit bitmaps, row 0 being the top.
COLORREF BitmapPixel(UINT id, int x, int y) {
    HRSRC found = FindResourceW(TestModule(), MAKEINTRESOURCEW(id), reinterpret_cast<LPCWSTR>(RT_BITMAP));
    const auto* info = static_cast<const BITMAPINFO*>(LockResource(LoadResource(TestModule(), found)));
    const BITMAPINFOHEADER& h = info->bmiHeader;
    const int colours = h.biClrUsed ? static_cast<int>(h.biClrUsed) : 256;
    const BYTE* bits = reinterpret_cast<const BYTE*>(info) + h.biSize + colours * 4;
    const int stride = (h.biWidth + 3) & ~3;
    const BYTE index = bits[(h.biHeight - 1 - y) * stride + x];
    const RGBQUAD q = info->bmiColors[index];
    return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
}

class LogoStripTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_opened.clear();
        SetLogoPageOpener(RecordOpen);
    }
    void TearDown() override {
        SetLogoPageOpener(nullptr);
        SetControlTimerStarter(nullptr);
    }
    HWND Make(const WCHAR* caption, int width = 500) {
        strip = host.Create(kLogoClassName, 0, IDC_LOGO, 0, 0, width, 26, caption);
        return strip;
    }
    LRESULT Add(UINT id, const WCHAR* text) {
        return SendMessageW(strip, LOGOM_ADDBUTTON, MAKEWPARAM(id, 1), reinterpret_cast<LPARAM>(text));
    }
    void Click(int downX, int upX = -1) {
        SendMessageW(strip, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(downX, 12));
        SendMessageW(strip, WM_LBUTTONUP, 0, MAKELPARAM(upX < 0 ? downX : upX, 12));
        host.CollectPosted(WM_COMMAND);
        host.CollectPosted(LOGON_CLICKED);
    }

    ControlHost host;
    HWND strip = nullptr;
};

TEST_F(LogoStripTest, ButtonsPostTheirCommandsAndTheCaptionOpensTheProductPage) {
    ASSERT_NE(Make(L"BRIO FX "), nullptr);
    EXPECT_EQ(Add(IDM_ABOUT, L"About..."), 1);
    EXPECT_EQ(Add(IDM_HELP, L"?"), 1);
    EXPECT_EQ(SendMessageW(strip, LOGOM_ADDBUTTON, 5, 0), 0);  // no text

    const int help = TextWidth(L"?") + 8;  // the last added sits at the right edge
    Click(498);
    Click(500 - help - 2);
    ASSERT_EQ(host.Count(WM_COMMAND), 2);
    EXPECT_EQ(host.received()[0].wParam, MAKEWPARAM(IDM_HELP, 0));
    EXPECT_EQ(host.received()[0].lParam, reinterpret_cast<LPARAM>(strip));
    EXPECT_EQ(host.received()[1].wParam, MAKEWPARAM(IDM_ABOUT, 0));
    EXPECT_TRUE(g_opened.empty());

    host.Clear();
    Click(200);
    EXPECT_TRUE(host.received().empty());
    ASSERT_EQ(g_opened.size(), 1u);
    EXPECT_EQ(g_opened[0], LogoProductPage());

    Click(200, 498);  // released over another part: nothing
    Click(498, 200);
    EXPECT_TRUE(host.received().empty());
    EXPECT_EQ(g_opened.size(), 1u);

    EXPECT_EQ(SendMessageW(strip, LOGOM_SETCAPTIONCOMMAND, 1, 0), 1);
    Click(200);
    ASSERT_EQ(host.Count(WM_COMMAND), 1);
    EXPECT_EQ(host.received()[0].wParam, MAKEWPARAM(IDC_LOGO, 0));
    EXPECT_EQ(g_opened.size(), 1u);

    host.Clear();
    EXPECT_EQ(SendMessageW(strip, LOGOM_RESETBUTTONS, 0, 0), 1);
    Click(498);  // no buttons left: the caption reaches the edge
    EXPECT_EQ(host.received()[0].wParam, MAKEWPARAM(IDC_LOGO, 0));
}

TEST_F(LogoStripTest, WithoutCaptionAnyClickTellsTheParent) {
    Make(L"");
    Add(IDM_HELP, L"?");
    Click(200);
    Click(498);
    EXPECT_EQ(host.Count(LOGON_CLICKED), 2);
    EXPECT_EQ(host.Count(WM_COMMAND), 0);
    EXPECT_TRUE(g_opened.empty());

    host.Clear();  // a caption set later relays the strip out and makes it a link again
    SetWindowTextW(strip, L"BRIO FX ");
    Click(200);
    EXPECT_EQ(host.Count(LOGON_CLICKED), 0);
    EXPECT_EQ(g_opened.size(), 1u);
}

TEST_F(LogoStripTest, ButtonTextKeepsAtMost63Characters) {
    Make(L"BRIO FX ", 2000);
    const std::wstring text(100, L'W');
    Add(IDM_HELP, text.c_str());
    const int kept = TextWidth(text.substr(0, 63).c_str()) + 8;
    Click(2000 - kept + 1);
    EXPECT_EQ(host.Count(WM_COMMAND), 1);
    Click(2000 - kept - 2);
    EXPECT_EQ(host.Count(WM_COMMAND), 1);
    EXPECT_EQ(g_opened.size(), 1u);
}

TEST_F(LogoStripTest, PaintsTheModulesBitmapsAndTracksHover) {
    Make(L"BRIO FX ");
    {
        Canvas c(strip);  // the mark 122 x 24 at the left, centred in 26 rows; the band stretched beside it
        EXPECT_EQ(c.At(0, 1), BitmapPixel(IDB_LOGO_MARK, 0, 0));
        EXPECT_EQ(c.At(121, 24), BitmapPixel(IDB_LOGO_MARK, 121, 23));
        EXPECT_EQ(c.At(400, 0), BitmapPixel(IDB_LOGO_BAND, 0, 0));
    }
    g_timers.clear();
    SetControlTimerStarter(RecordTimer);
    SendMessageW(strip, WM_MOUSEMOVE, 0, MAKELPARAM(200, 12));
    SendMessageW(strip, WM_MOUSEMOVE, 0, MAKELPARAM(210, 12));
    ASSERT_EQ(g_timers.size(), 1u);
    EXPECT_EQ(g_timers[0].window, strip);
    EXPECT_EQ(g_timers[0].id, 51u);
    EXPECT_EQ(g_timers[0].milliseconds, 130u);
}

TEST_F(LogoStripTest, MissingBitmapsAreIgnored) {
    UnregisterLogoClass(TestModule());
    ASSERT_TRUE(RegisterLogoClass(TestModule(), IDD_BRIOFX_PAGE, 9999));  // not bitmaps
    Make(L"BRIO FX ");
    ASSERT_NE(strip, nullptr);
    {
        Canvas c(strip);
        EXPECT_EQ(c.At(0, 1), GetSysColor(COLOR_WINDOW));
    }
    DestroyWindow(strip);
    UnregisterLogoClass(TestModule());
    ASSERT_TRUE(RegisterLogoClass(TestModule(), IDB_LOGO_MARK, IDB_LOGO_BAND));
}

}  // namespace
}  // namespace tw::test

#endif  // _WIN32
