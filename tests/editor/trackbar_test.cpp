#ifdef _WIN32

#include "editor/control_common.h"
#include "editor/controls.h"
#include "resources/resource_ids.h"
#include "tests/editor/control_host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tw::test {
namespace {

struct TimerStart {
    HWND window;
    UINT_PTR id;
    UINT milliseconds;
};
std::vector<TimerStart> g_timers;

// Records the timer instead of starting it: ticks are delivered by hand.
UINT_PTR RecordTimer(HWND window, UINT_PTR id, UINT milliseconds) {
    g_timers.push_back({window, id, milliseconds});
    return id;
}

bool FailAllocations(size_t) { return false; }

class SliderTest : public ::testing::Test {
protected:
    void TearDown() override {
        SetControlTimerStarter(nullptr);
        SetZeroAllocHook(nullptr);
    }

    HWND Make(DWORD bits, int width = 200, int height = 20) {
        slider = host.Create(kTrackbarClassName, WS_TABSTOP | bits, 4003, 10, 10, width, height);
        return slider;
    }
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return SendMessageW(slider, message, wParam, lParam);
    }
    void Range(LONG minimum, LONG maximum) {
        Send(TRKM_SETMIN, 0, minimum);
        Send(TRKM_SETMAX, 0, maximum);
    }
    LONG Pos() { return static_cast<LONG>(Send(TRKM_GETPOS)); }
    // Thumb centre of a linear slider, from the track the slider reports.
    int ThumbX() {
        const LRESULT info = Send(TRKM_GETTRACKINFO);
        const int64_t start = HIWORD(info), length = LOWORD(info);
        const int64_t lo = static_cast<LONG>(Send(TRKM_GETMIN)), hi = static_cast<LONG>(Send(TRKM_GETMAX));
        if (hi == lo) return static_cast<int>(start);
        return static_cast<int>(start + (Pos() - lo) * length / (hi - lo));
    }
    void Mouse(UINT message, int x, int y, WPARAM keys = MK_LBUTTON) { Send(message, keys, MAKELPARAM(x, y)); }
    void Key(UINT key, LPARAM data = 1) { Send(WM_KEYDOWN, key, data); }
    void KeyUp(UINT key) { Send(WM_KEYUP, key, 0xC0000001); }
    // Double-clicks the thumb and returns where it went.
    LONG DoubleClickThumb() {
        const int x = ThumbX();
        Mouse(WM_LBUTTONDOWN, x, 10);
        Mouse(WM_LBUTTONUP, x, 10, 0);
        host.Clear();
        Mouse(WM_LBUTTONDBLCLK, x, 10);
        Mouse(WM_LBUTTONUP, x, 10, 0);
        return Pos();
    }

    ControlHost host;
    HWND slider = nullptr;
};

TEST_F(SliderTest, CreatesWithItsDefaultsAndAnswersItsMessages) {
    ASSERT_NE(Make(TWS_PAGE_SLIDER), nullptr);
    EXPECT_EQ(Send(TRKM_GETMIN), 0);
    EXPECT_EQ(Send(TRKM_GETMAX), 100);
    EXPECT_EQ(Send(TRKM_GETPOS), 50);
    EXPECT_EQ(Send(TRKM_GETTRACKINFO), MAKELONG(188, 6));  // 200 px less a thumb (12) and the insets
    EXPECT_EQ(Send(TRKM_SETPOS, 1, 150), 100);
    EXPECT_EQ(Send(TRKM_SETPOS, 0, -5), 0);
    EXPECT_EQ(Pos(), 0);
    EXPECT_EQ(Send(TRKM_SETDEFAULT, 0, 500), 100);
    EXPECT_EQ(Send(TRKM_SETDEFAULT, 0, -3), 0);
    EXPECT_EQ(Send(TRKM_SETRANGE, 0, MAKELPARAM(-100, 100)), 0);
    EXPECT_EQ(Send(TRKM_GETMIN), -100);
    EXPECT_EQ(Send(TRKM_GETMAX), 100);
    EXPECT_EQ(Send(TRKM_SETFILLFROMDEFAULT, 0, 1), -1);
    EXPECT_EQ(Send(TRKM_SETFILLFROMDEFAULT, 0, 0), 0);
    EXPECT_EQ(Send(TRKM_SETSHOWFILL, 0, 0), 0);
    EXPECT_EQ(Send(TRKM_SETSHOWFILL, 1, 1), -1);
    EXPECT_EQ(static_cast<COLORREF>(Send(TRKM_GETBKCOLOR)), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(Send(TRKM_SETBKCOLOR, 0, RGB(1, 2, 3)), 0);
    EXPECT_EQ(static_cast<COLORREF>(Send(TRKM_GETBKCOLOR)), RGB(1, 2, 3));
    EXPECT_EQ(Send(TRKM_GETUSERDATA), 0);
    EXPECT_EQ(Send(TRKM_SETUSERDATA, 0, 1234), 0);
    EXPECT_EQ(Send(TRKM_GETUSERDATA), 1234);
    EXPECT_EQ(Send(WM_USER + 700, 1, 1), 0);
    EXPECT_EQ(Send(32522, 1, 1), 0);  // hardware binding: not supported, answered with 0
    EXPECT_TRUE(host.received().empty());  // none of this notifies the parent
}

TEST_F(SliderTest, RangeChangesMoveTheDefaultAndClampThePosition) {
    Make(TWS_PAGE_SLIDER);
    Range(0, 900);  // decay
    Send(TRKM_SETPOS, 1, 100);
    EXPECT_EQ(DoubleClickThumb(), 450);
    EXPECT_EQ(host.Scrolls(), (std::vector<Scroll>{{4, 450}}));

    Range(-250, 250);  // EQ band
    Send(TRKM_SETPOS, 1, 100);
    EXPECT_EQ(DoubleClickThumb(), 0);

    Send(TRKM_SETMAX, 0, 0);
    Send(TRKM_SETPOS, 1, -100);
    EXPECT_EQ(DoubleClickThumb(), -250);  // ends at zero from below: the minimum

    Range(0, 900);
    Send(TRKM_SETPOS, 1, 900);
    Send(TRKM_SETMAX, 0, 500);
    EXPECT_EQ(Pos(), 500);
    Send(TRKM_SETDEFAULT, 0, 123);
    Send(TRKM_SETPOS, 1, 400);
    EXPECT_EQ(DoubleClickThumb(), 123);
}

TEST_F(SliderTest, RateSliderDoublesTheValueEveryTenthOfTheTrack) {
    ASSERT_NE(Make(TWS_RATE_SLIDER, 1012), nullptr);  // track length 1000
    ASSERT_EQ(LOWORD(Send(TRKM_GETTRACKINFO)), 1000);
    Range(1, 11000);
    Send(TRKM_SETPOS, 1, 1);
    Mouse(WM_LBUTTONDOWN, 6, 10);  // the thumb centre at the minimum
    ASSERT_EQ(host.ScrollCodes(), (std::vector<int>{9}));
    LONG expected = 20;
    for (int k = 0; k < 10; ++k, expected *= 2) {
        const int x = 6 + static_cast<int>(std::lround((950.0 + 1000.0 * k) * 1000.0 / 10024.0));
        Mouse(WM_MOUSEMOVE, x, 10);
        EXPECT_NEAR(Pos(), expected, expected * 0.03 + 1) << "pixel " << x;
        EXPECT_EQ(host.Scrolls().back().code, 5);
        EXPECT_EQ(host.Scrolls().back().position, static_cast<WORD>(Pos()));
    }
    Mouse(WM_MOUSEMOVE, 1006, 10);
    EXPECT_EQ(Pos(), 11000);
    Mouse(WM_MOUSEMOVE, 1100, 10);
    EXPECT_EQ(Pos(), 11000);
    Mouse(WM_MOUSEMOVE, 0, 10);
    EXPECT_EQ(Pos(), 1);
    Mouse(WM_LBUTTONUP, 0, 10, 0);
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(SliderTest, FineDragStepsAndEscRestoresThePressValue) {
    Make(TWS_PAGE_SLIDER, 212);  // track length 200
    Range(0, 1000);
    struct Step {
        int dx;
        LONG value;
        WPARAM keys;
    };
    const Step steps[] = {{1, 501, MK_CONTROL}, {2, 501, MK_CONTROL}, {3, 502, MK_CONTROL},
                          {-3, 498, MK_CONTROL}, {3, 502, MK_RBUTTON}};
    for (const Step& step : steps) {
        Send(TRKM_SETPOS, 1, 500);
        const int x = ThumbX();
        ASSERT_EQ(x, 106);
        host.Clear();
        Mouse(WM_LBUTTONDOWN, x, 10);
        ASSERT_EQ(GetCapture(), slider);
        Mouse(WM_MOUSEMOVE, x + step.dx, 10, MK_LBUTTON | step.keys);
        EXPECT_EQ(Pos(), step.value) << step.dx;
        Key(VK_ESCAPE);
        EXPECT_EQ(Pos(), 500) << step.dx;
        EXPECT_EQ(GetCapture(), nullptr);
        const std::vector<Scroll> expected = {{9, 0}, {5, static_cast<WORD>(step.value)}, {4, 500}, {8, 0}};
        EXPECT_EQ(host.Scrolls(), expected) << step.dx;
    }
}

TEST_F(SliderTest, DragFollowsTheCursorAndTheReleaseReportsTheLastValue) {
    Make(TWS_PAGE_SLIDER, 212);
    Range(0, 1000);
    Send(TRKM_SETPOS, 1, 500);
    Mouse(WM_LBUTTONDOWN, 110, 10);  // 4 px right of the thumb centre: the offset is kept
    Mouse(WM_MOUSEMOVE, 130, 10);
    EXPECT_EQ(Pos(), 600);
    Mouse(WM_MOUSEMOVE, 130, 14);    // same value: nothing new to report
    Mouse(WM_MOUSEMOVE, 1000, 10);
    EXPECT_EQ(Pos(), 1000);
    Mouse(WM_LBUTTONUP, 1000, 10, 0);
    EXPECT_EQ(host.Scrolls(), (std::vector<Scroll>{{9, 0}, {5, 600}, {5, 1000}, {4, 1000}, {8, 0}}));
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(host.received().front().lParam, reinterpret_cast<LPARAM>(slider));

    host.Clear();  // pressed and released without moving: the final position word is -1
    Mouse(WM_LBUTTONDOWN, ThumbX(), 10);
    Mouse(WM_LBUTTONUP, ThumbX(), 10, 0);
    EXPECT_EQ(host.Scrolls(), (std::vector<Scroll>{{9, 0}, {4, 0xFFFF}, {8, 0}}));

    host.Clear();  // a context menu waits until the press is over
    Mouse(WM_LBUTTONDOWN, ThumbX(), 10);
    Send(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(slider), MAKELPARAM(-1, -1));
    EXPECT_EQ(host.Count(WM_CONTEXTMENU), 0);
    Mouse(WM_LBUTTONUP, ThumbX(), 10, 0);
    Send(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(slider), MAKELPARAM(-1, -1));
    EXPECT_EQ(host.Count(WM_CONTEXTMENU), 1);

    host.Clear();  // the capture taken away ends the drag like a release
    Mouse(WM_LBUTTONDOWN, ThumbX(), 10);
    Send(WM_CANCELMODE);
    EXPECT_EQ(host.ScrollCodes(), (std::vector<int>{9, 4, 8}));
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(SliderTest, EmptyRangeDragAnswersTheMinimum) {
    Make(TWS_PAGE_SLIDER);
    Range(10, 10);
    EXPECT_EQ(ThumbX(), 6);
    Mouse(WM_LBUTTONDOWN, 6, 10);
    Mouse(WM_MOUSEMOVE, 150, 10);
    Mouse(WM_LBUTTONUP, 150, 10, 0);
    EXPECT_EQ(host.Scrolls(), (std::vector<Scroll>{{9, 0}, {5, 10}, {4, 10}, {8, 0}}));
    EXPECT_EQ(Pos(), 10);
}

TEST_F(SliderTest, KeysReportCodesAndDigitsJump) {
    Make(TWS_PAGE_SLIDER);
    Range(0, 1000);
    Key('5');
    EXPECT_EQ(Pos(), 500);
    Key('0');
    EXPECT_EQ(Pos(), 0);
    Key('9');
    EXPECT_EQ(Pos(), 900);
    EXPECT_EQ(host.Scrolls(), (std::vector<Scroll>{{4, 500}, {4, 0}, {4, 900}}));

    host.Clear();
    const UINT keys[] = {VK_PRIOR, VK_NEXT, VK_END, VK_HOME, VK_LEFT, VK_F3, VK_RIGHT, VK_F9, VK_UP, VK_DOWN};
    for (UINT k : keys) Key(k);
    EXPECT_EQ(host.ScrollCodes(), (std::vector<int>{3, 2, 7, 6, 0, 0, 1, 1, 1, 0}));
    EXPECT_EQ(Pos(), 900);  // the parent moves the slider, not the key

    host.Clear();
    KeyUp(VK_LEFT);
    KeyUp(VK_NEXT);
    KeyUp('A');
    EXPECT_EQ(host.ScrollCodes(), (std::vector<int>{8, 8}));

    host.Clear();
    Key(VK_NUMPAD5);
    Key(VK_CLEAR);
    EXPECT_TRUE(host.received().empty());

    Key('A', 3);
    Key(VK_ESCAPE);  // not dragging: just another key
    ASSERT_EQ(host.Count(WM_NOTIFY), 2);
    EXPECT_EQ(host.received()[0].notifyCode, TRKN_KEYDOWN);
    EXPECT_EQ(host.received()[0].notifyId, 4003u);
    EXPECT_EQ(host.received()[0].key, static_cast<UINT>('A'));
    EXPECT_EQ(host.received()[0].repeat, 3u);
    EXPECT_EQ(host.received()[1].key, static_cast<UINT>(VK_ESCAPE));

    host.Clear();  // during a press only Esc counts
    Mouse(WM_LBUTTONDOWN, ThumbX(), 10);
    Key('5');
    Key(VK_PRIOR);
    KeyUp(VK_PRIOR);
    EXPECT_EQ(Pos(), 900);
    EXPECT_EQ(host.ScrollCodes(), (std::vector<int>{9}));
    Mouse(WM_LBUTTONUP, ThumbX(), 10, 0);
}

TEST_F(SliderTest, WheelSendsOneCodePerNotchThenEndScroll) {
    Make(TWS_PAGE_SLIDER);
    Send(WM_MOUSEWHEEL, MAKEWPARAM(0, 240), 0);
    EXPECT_EQ(host.ScrollCodes(), (std::vector<int>{3, 3, 8}));
    host.Clear();
    Send(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-240)), 0);
    EXPECT_EQ(host.ScrollCodes(), (std::vector<int>{2, 2, 8}));
    host.Clear();
    Send(WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, 120), 0);
    Send(WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, static_cast<WORD>(-120)), 0);
    EXPECT_EQ(host.ScrollCodes(), (std::vector<int>{1, 8, 0, 8}));
}

TEST_F(SliderTest, VerticalSliderSwapsSensesAndSendsVerticalScrolls) {
    Make(TWS_PAGE_SLIDER | kSliderVertical, 20, 200);
    EXPECT_EQ(Send(TRKM_GETTRACKINFO), MAKELONG(188, 6));
    Key(VK_PRIOR);
    Key(VK_NEXT);
    Key(VK_UP);
    Key(VK_DOWN);
    Send(WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
    Send(WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, 120), 0);
    EXPECT_EQ(host.ScrollCodes(), (std::vector<int>{2, 3, 0, 1, 2, 8, 0, 8}));
    EXPECT_EQ(host.Count(WM_VSCROLL), 8);
    EXPECT_EQ(host.Count(WM_HSCROLL), 0);

    // Minimum at the bottom: dragging the thumb to the top gives the maximum.
    Send(TRKM_SETPOS, 1, 0);
    host.Clear();
    Mouse(WM_LBUTTONDOWN, 10, 194);
    Mouse(WM_MOUSEMOVE, 10, 0);
    EXPECT_EQ(Pos(), 100);
    Mouse(WM_MOUSEMOVE, 10, 194 - 47, MK_LBUTTON);
    EXPECT_EQ(Pos(), 25);
    Mouse(WM_MOUSEMOVE, 10, 194 - 47 + 3, MK_LBUTTON | MK_CONTROL);  // fine: down decreases
    EXPECT_EQ(Pos(), 23);
    Mouse(WM_LBUTTONUP, 10, 150, 0);
}

TEST_F(SliderTest, TrackPressRepeatsOnTimer42UntilTheThumbReachesTheCursor) {
    g_timers.clear();
    SetControlTimerStarter(RecordTimer);
    Make(TWS_PAGE_SLIDER);
    Send(TRKM_SETPOS, 1, 0);  // thumb at 0..12
    Mouse(WM_LBUTTONDOWN, 150, 10);
    EXPECT_EQ(host.ScrollCodes(), (std::vector<int>{9, 3}));
    ASSERT_EQ(g_timers.size(), 1u);
    EXPECT_EQ(g_timers[0].window, slider);
    EXPECT_EQ(g_timers[0].id, 42u);
    EXPECT_EQ(g_timers[0].milliseconds, 250u);

    POINT screen = {150, 10};
    ClientToScreen(slider, &screen);
    ASSERT_TRUE(SetCursorPos(screen.x, screen.y));
    POINT now;
    ASSERT_TRUE(GetCursorPos(&now));
    ASSERT_EQ(now.x, screen.x);
    host.Clear();
    Send(WM_TIMER, 42);
    Send(WM_TIMER, 42);
    EXPECT_EQ(host.ScrollCodes(), (std::vector<int>{3, 3}));
    Send(TRKM_SETPOS, 1, 76);  // thumb centre 148: now under the cursor
    Send(WM_TIMER, 42);
    EXPECT_EQ(host.ScrollCodes(), (std::vector<int>{3, 3}));
    Mouse(WM_LBUTTONUP, 150, 10, 0);
    EXPECT_EQ(host.ScrollCodes(), (std::vector<int>{3, 3, 8}));  // no final position for a track press

    host.Clear();
    Mouse(WM_LBUTTONDOWN, 20, 10);  // before the thumb
    Mouse(WM_LBUTTONUP, 20, 10, 0);
    EXPECT_EQ(host.ScrollCodes(), (std::vector<int>{9, 2, 8}));

    host.Clear();  // a double click off the thumb is a press
    Mouse(WM_LBUTTONDBLCLK, 190, 10);
    Mouse(WM_LBUTTONUP, 190, 10, 0);
    EXPECT_EQ(host.ScrollCodes(), (std::vector<int>{9, 3, 8}));
    EXPECT_EQ(g_timers.size(), 3u);

    host.Clear();  // beside the track and thumb: nothing
    Send(TRKM_SETPOS, 1, 0);
    Make(TWS_PAGE_SLIDER, 200, 40);
    Mouse(WM_LBUTTONDOWN, 150, 1);
    EXPECT_TRUE(host.Scrolls().empty());
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(SliderTest, FocusCaretAndCommandNotifications) {
    Make(TWS_PAGE_SLIDER | kSliderCommands);
    SetFocus(slider);
    ASSERT_EQ(host.Count(WM_COMMAND), 1);
    EXPECT_EQ(host.received()[0].wParam, MAKEWPARAM(4003, 1));
    POINT caret;
    ASSERT_TRUE(GetCaretPos(&caret));
    EXPECT_EQ(caret.x, ThumbX() - 6 + 2);  // thumb inside the caret insets
    EXPECT_EQ(caret.y, 1 + 2);

    host.Clear();
    Mouse(WM_LBUTTONDOWN, ThumbX(), 10);
    EXPECT_EQ(Send(WM_GETDLGCODE), DLGC_WANTALLKEYS);
    Mouse(WM_LBUTTONUP, ThumbX(), 10, 0);
    EXPECT_EQ(Send(WM_GETDLGCODE), DLGC_WANTARROWS | DLGC_WANTCHARS);
    std::vector<WPARAM> commands;
    for (const Received& r : host.received()) {
        if (r.message == WM_COMMAND) commands.push_back(r.wParam);
    }
    EXPECT_EQ(commands, (std::vector<WPARAM>{MAKEWPARAM(4003, 3), MAKEWPARAM(4003, 4)}));

    host.Clear();
    SetFocus(host.window());
    ASSERT_EQ(host.Count(WM_NOTIFY), 1);
    EXPECT_EQ(host.received()[0].notifyCode, -8);
    EXPECT_EQ(host.received()[0].notifyId, 4003u);

    HWND quiet = host.Create(kTrackbarClassName, TWS_PAGE_SLIDER | kSliderNoFocusOnClick, 4004, 10, 40, 200, 20);
    host.Clear();
    SendMessageW(quiet, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 10));
    SendMessageW(quiet, WM_LBUTTONUP, 0, MAKELPARAM(100, 10));
    EXPECT_NE(GetFocus(), quiet);
    EXPECT_EQ(host.Count(WM_COMMAND), 0);
    EXPECT_EQ(host.ScrollCodes(), (std::vector<int>{9, 4, 8}));
}

TEST_F(SliderTest, DisabledOrTooSmallSliderIgnoresInput) {
    Make(TWS_PAGE_SLIDER);
    EnableWindow(slider, FALSE);
    Key(VK_PRIOR);
    Key('5');
    Send(WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
    Mouse(WM_LBUTTONDOWN, ThumbX(), 10);
    EXPECT_TRUE(host.received().empty());
    EXPECT_EQ(Pos(), 50);
    EnableWindow(slider, TRUE);
    Key(VK_PRIOR);
    EXPECT_EQ(host.ScrollCodes(), (std::vector<int>{3}));

    host.Clear();
    Make(TWS_PAGE_SLIDER, 8, 20);
    Key(VK_PRIOR);
    Send(WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
    Mouse(WM_LBUTTONDOWN, 4, 10);
    EXPECT_TRUE(host.received().empty());
    EXPECT_EQ(GetCapture(), nullptr);

    Make(WS_DISABLED | TWS_PAGE_SLIDER);
    Key(VK_PRIOR);
    EXPECT_TRUE(host.received().empty());
}

TEST_F(SliderTest, SkinSetsTheThumbWidth) {
    Make(TWS_PAGE_SLIDER);
    HBITMAP bitmap = CreateBitmap(40, 20, 1, 32, nullptr);
    TrackbarSkinImage image = {bitmap, 0, 0};
    LONG sizes[4] = {18, 10, 20, 10};
    EXPECT_EQ(Send(TRKM_SETSKIN, reinterpret_cast<WPARAM>(&image), reinterpret_cast<LPARAM>(sizes)), 1);
    EXPECT_EQ(Send(TRKM_GETTRACKINFO), MAKELONG(180, 10));
    EXPECT_EQ(Send(TRKM_SETSKIN, 0, reinterpret_cast<LPARAM>(sizes)), 0);
    Canvas paints(slider);  // draws the skinned thumb without trouble
    DestroyWindow(slider);
    DeleteObject(bitmap);
}

TEST_F(SliderTest, PaintsTrackFillAndThumbOverTheParentsBackground) {
    Make(TWS_PAGE_SLIDER);  // thumb centre 100, thumb 94..106, track rows 8..10
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const COLORREF fill = MixColours(face, GetSysColor(COLOR_BTNTEXT));
    {
        Canvas c(slider);
        EXPECT_EQ(c.At(2, 2), ControlHost::Background());
        EXPECT_EQ(c.At(50, 9), fill);
        EXPECT_EQ(c.At(150, 9), face);
        EXPECT_EQ(c.At(150, 8), GetSysColor(COLOR_BTNSHADOW));     // sunken edge
        EXPECT_EQ(c.At(150, 10), GetSysColor(COLOR_BTNHIGHLIGHT));
        EXPECT_EQ(c.At(94, 1), ControlHost::Background());         // thumb corner left out
        EXPECT_EQ(c.At(95, 1), GetSysColor(COLOR_WINDOWFRAME));
        EXPECT_EQ(c.At(94, 5), GetSysColor(COLOR_WINDOWFRAME));
    }
    Range(-250, 250);
    Send(TRKM_SETPOS, 1, 250);
    Send(TRKM_SETFILLFROMDEFAULT, 1, 1);  // from the default (0, pixel 100) to the thumb
    {
        Canvas c(slider);
        EXPECT_EQ(c.At(50, 9), face);
        EXPECT_EQ(c.At(150, 9), fill);
    }
    Send(TRKM_SETSHOWFILL, 1, 0);
    {
        Canvas c(slider);
        EXPECT_EQ(c.At(150, 9), face);
    }
    EnableWindow(slider, FALSE);  // no thumb while disabled
    {
        Canvas c(slider);
        EXPECT_EQ(c.At(190, 3), ControlHost::Background());
    }
    HWND ticks = host.Create(kTrackbarClassName, TWS_PAGE_SLIDER | kSliderTicksA, 4005, 10, 40, 200, 20);
    SendMessageW(ticks, TRKM_SETMIN, 0, -250);
    SendMessageW(ticks, TRKM_SETMAX, 0, 250);
    SendMessageW(ticks, TRKM_SETPOS, 1, -250);
    {
        Canvas c(ticks);  // ticks at the start (6), the middle (value 0 at 100) and the end (194)
        EXPECT_EQ(c.At(100, 0), GetSysColor(COLOR_WINDOWFRAME));
        EXPECT_EQ(c.At(101, 0), GetSysColor(COLOR_BTNHIGHLIGHT));
        EXPECT_EQ(c.At(194, 19), GetSysColor(COLOR_WINDOWFRAME));
        EXPECT_EQ(c.At(150, 0), ControlHost::Background());
    }
}

TEST_F(SliderTest, CreationFailsWhenTheStateCannotBeAllocated) {
    SetZeroAllocHook(FailAllocations);
    EXPECT_EQ(Make(TWS_PAGE_SLIDER), nullptr);
    SetZeroAllocHook(nullptr);
    EXPECT_NE(Make(TWS_PAGE_SLIDER), nullptr);
}

}  // namespace
}  // namespace tw::test

#endif  // _WIN32
