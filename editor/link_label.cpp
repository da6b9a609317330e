// A label that can act as a link: draws its text; with the link style it takes the focus, shows a
// hand over its text and reports a click or Space to its parent.
#include "editor/controls.h"

#ifdef _WIN32

#include "editor/control_common.h"

#include <algorithm>

namespace tw {

namespace {

// Window slots: the font, then the state bits.
constexpr int kFontSlot = 0;
constexpr int kStateSlot = static_cast<int>(sizeof(LONG_PTR));

constexpr LONG_PTR kStateFocused = 1;
constexpr LONG_PTR kStatePressed = 2;

constexpr UINT kTextFormat = DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS;

DWORD Style(HWND window) { return static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)); }
bool IsLink(HWND window) { return (Style(window) & kLabelLink) != 0; }

LONG_PTR State(HWND window) { return GetWindowLongPtrW(window, kStateSlot); }
void SetState(HWND window, LONG_PTR bit, bool on) {
    const LONG_PTR s = State(window);
    SetWindowLongPtrW(window, kStateSlot, on ? (s | bit) : (s & ~bit));
}

HFONT LabelFont(HWND window) {
    HFONT font = reinterpret_cast<HFONT>(GetWindowLongPtrW(window, kFontSlot));
    return font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

UINT Alignment(HWND window) {
    const DWORD style = Style(window);
    if (style & kLabelRight) return DT_RIGHT;
    if (style & kLabelCentre) return DT_CENTER;
    return DT_LEFT;
}

// The rectangle the text covers, for hit-testing and the focus frame.
RECT TextRect(HWND window, HDC dc) {
    RECT client;
    GetClientRect(window, &client);
    WCHAR text[512];
    GetWindowTextW(window, text, 512);
    RECT r = client;
    DrawTextW(dc, text, -1, &r, kTextFormat | DT_CALCRECT);
    const int width = std::min<int>(r.right - r.left, client.right);
    const UINT align = Alignment(window);
    r.left = align == DT_RIGHT ? client.right - width : align == DT_CENTER ? (client.right - width) / 2 : 0;
    r.right = r.left + width;
    r.bottom = std::min<LONG>(r.bottom, client.bottom);
    return r;
}

bool PointInText(HWND window, POINT pt) {
    HDC dc = GetDC(window);
    if (!dc) return false;
    HGDIOBJ old = SelectObject(dc, LabelFont(window));
    const RECT r = TextRect(window, dc);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return PtInRect(&r, pt) != FALSE;
}

void NotifyClicked(HWND window) {
    NMHDR header = {};
    header.hwndFrom = window;
    header.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(window));
    header.code = static_cast<UINT>(LINKN_CLICKED);
    SendMessageW(GetParent(window), WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
}

void DrawFocusFrame(HDC dc, RECT r) {
    HBRUSH pattern = LabelPatternBrush();
    if (!pattern) {
        DrawFocusRect(dc, &r);
        return;
    }
    HGDIOBJ old = SelectObject(dc, pattern);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    PatBlt(dc, r.left, r.top, w, 1, PATINVERT);
    PatBlt(dc, r.left, r.bottom - 1, w, 1, PATINVERT);
    PatBlt(dc, r.left, r.top + 1, 1, h - 2, PATINVERT);
    PatBlt(dc, r.right - 1, r.top + 1, 1, h - 2, PATINVERT);
    SelectObject(dc, old);
}

void Paint(HWND window, HDC target) {
    RECT client;
    GetClientRect(window, &client);
    OffscreenDC buffer(target, client.right, client.bottom);
    HDC dc = buffer.dc();

    // The parent picks the background and text colour as it does for a standard label.
    HBRUSH brush = reinterpret_cast<HBRUSH>(
        SendMessageW(GetParent(window), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(window)));
    if (!brush) {
        brush = GetSysColorBrush(COLOR_WINDOW);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    }
    FillRect(dc, &client, brush);

    const bool link = IsLink(window);
    HFONT font = LabelFont(window);
    HFONT underlined = nullptr;
    if (link) {
        LOGFONTW lf;
        if (GetObjectW(font, sizeof(lf), &lf)) {
            lf.lfUnderline = TRUE;
            underlined = CreateFontIndirectW(&lf);
        }
        SetTextColor(dc, GetSysColor(COLOR_HOTLIGHT));
    }
    if (!IsWindowEnabled(window)) SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    HGDIOBJ old = SelectObject(dc, underlined ? underlined : font);
    SetBkMode(dc, TRANSPARENT);

    WCHAR text[512];
    GetWindowTextW(window, text, 512);
    RECT r = client;
    DrawTextW(dc, text, -1, &r, kTextFormat | Alignment(window));
    if (link && (State(window) & kStateFocused)) DrawFocusFrame(dc, TextRect(window, dc));

    SelectObject(dc, old);
    if (underlined) DeleteObject(underlined);
    buffer.CopyToTarget();
}

}  // namespace

LRESULT CALLBACK StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCHITTEST:
            if (!(Style(window) & kLabelHitTest)) return HTTRANSPARENT;
            break;
        case WM_SETFONT:
            SetWindowLongPtrW(window, kFontSlot, static_cast<LONG_PTR>(wParam));
            if (LOWORD(lParam)) InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_GETFONT: return GetWindowLongPtrW(window, kFontSlot);
        case WM_SETTEXT: {
            const LRESULT result = DefWindowProcW(window, message, wParam, lParam);
            InvalidateRect(window, nullptr, FALSE);
            return result;
        }
        case WM_ENABLE: InvalidateRect(window, nullptr, FALSE); return 0;
        case WM_ERASEBKGND: return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(window, &ps);
            if (dc) Paint(window, dc);
            EndPaint(window, &ps);
            return 0;
        }
        case WM_PRINTCLIENT: Paint(window, reinterpret_cast<HDC>(wParam)); return 0;
        case WM_GETDLGCODE: return IsLink(window) ? (DLGC_WANTTAB | DLGC_WANTCHARS) : DLGC_STATIC;
        case WM_SETCURSOR:
            if (IsLink(window) && LOWORD(lParam) == HTCLIENT) {
                POINT pt;
                GetCursorPos(&pt);
                ScreenToClient(window, &pt);
                if (PointInText(window, pt)) {
                    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
                    return TRUE;
                }
            }
            break;
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
            SetState(window, kStateFocused, message == WM_SETFOCUS);
            if (IsLink(window)) InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_LBUTTONDOWN: {
            const POINT pt = {static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
            if (!IsLink(window) || !PointInText(window, pt)) return 0;
            SetFocus(window);
            SetState(window, kStatePressed, true);
            SetCapture(window);
            return 0;
        }
        case WM_LBUTTONUP: {
            if (!(State(window) & kStatePressed)) return 0;
            SetState(window, kStatePressed, false);
            ReleaseCapture();
            const POINT pt = {static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
            if (PointInText(window, pt)) NotifyClicked(window);
            return 0;
        }
        case WM_CANCELMODE:
            if (State(window) & kStatePressed) {
                SetState(window, kStatePressed, false);
                ReleaseCapture();
            }
            return 0;
        case WM_KEYDOWN:
            if (!IsLink(window)) break;
            if (wParam == VK_TAB) {
                const bool back = GetKeyState(VK_SHIFT) < 0;
                SendMessageW(GetParent(window), WM_NEXTDLGCTL, back ? 1 : 0, 0);
                return 0;
            }
            if (wParam == VK_SPACE) {
                NotifyClicked(window);
                return 0;
            }
            break;
        default: break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace tw

#endif  // _WIN32
