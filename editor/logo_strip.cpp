// The logo strip across the top of the page and the About box: product mark, caption and a row of
// text buttons laid out from the right edge.
#include "editor/controls.h"

#ifdef _WIN32

#include "editor/control_common.h"

#include <algorithm>
#include <cwchar>
#include <new>

namespace tw {

namespace {

constexpr UINT_PTR kHoverTimerId = 51;
constexpr UINT kHoverPeriodMs = 130;
constexpr int kButtonPadding = 8;
constexpr int kCaptionIndent = 4;

constexpr int kPartNone = -1;
constexpr int kPartStrip = 0;  // everything but the buttons; button i is part i + 1

// A packed bitmap straight from the module's resources; the resource memory outlives the window.
struct Dib {
    const BITMAPINFO* info;
    const void* bits;
    int width;
    int height;
};

struct LogoButton {
    UINT id;
    WCHAR text[kLogoButtonTextMax + 1];
    RECT rect;
};

struct LogoStrip {
    HWND window;
    Dib mark;
    Dib band;
    LogoButton* buttons;
    int buttonCount;
    int buttonCapacity;
    RECT markRect;
    RECT captionRect;
    int pressedPart;
    int hoverPart;
    bool hoverTimer;
    bool captionCommand;
    HFONT font;
};

LogoStrip* FromWindow(HWND window) { return reinterpret_cast<LogoStrip*>(GetWindowLongPtrW(window, 0)); }

// Only a plain 40-byte-header bitmap whose pixels lie inside the resource is used.
Dib LoadDib(HINSTANCE module, UINT id) {
    Dib dib = {};
    if (!module || !id) return dib;
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), reinterpret_cast<LPCWSTR>(RT_BITMAP));
    if (!found) return dib;
    const DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (!data || size < sizeof(BITMAPINFOHEADER)) return dib;
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(data);
    if (header->biSize != sizeof(BITMAPINFOHEADER) || header->biWidth <= 0 || header->biHeight == 0 ||
        header->biPlanes != 1 || header->biCompression != BI_RGB) {
        return dib;
    }
    const int bpp = header->biBitCount;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return dib;
    const uint64_t colours = header->biClrUsed ? header->biClrUsed : (bpp <= 8 ? (1u << bpp) : 0);
    const uint64_t height = header->biHeight < 0 ? -static_cast<int64_t>(header->biHeight) : header->biHeight;
    const uint64_t stride = ((static_cast<uint64_t>(header->biWidth) * bpp + 31) / 32) * 4;
    const uint64_t offset = sizeof(BITMAPINFOHEADER) + colours * sizeof(RGBQUAD);
    if (offset + stride * height > size) return dib;
    dib.info = reinterpret_cast<const BITMAPINFO*>(data);
    dib.bits = data + offset;
    dib.width = header->biWidth;
    dib.height = static_cast<int>(height);
    return dib;
}

HFONT StripFont(const LogoStrip* s) {
    return s->font ? s->font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

bool HasCaption(const LogoStrip* s) { return GetWindowTextLengthW(s->window) > 0; }

void Layout(LogoStrip* s) {
    RECT client;
    GetClientRect(s->window, &client);
    int left = 0;
    s->markRect = {};
    if (s->mark.info) {
        const int top = (client.bottom - s->mark.height) / 2;
        s->markRect = {0, top, s->mark.width, top + s->mark.height};
        left = s->mark.width;
    }
    int right = std::max<int>(left, client.right);
    HDC dc = GetDC(s->window);
    HGDIOBJ old = dc ? SelectObject(dc, StripFont(s)) : nullptr;
    for (int i = s->buttonCount - 1; i >= 0; --i) {  // the last added sits rightmost
        LogoButton& b = s->buttons[i];
        SIZE extent = {};
        if (dc) GetTextExtentPoint32W(dc, b.text, static_cast<int>(wcslen(b.text)), &extent);
        const int width = std::min<int>(extent.cx + kButtonPadding, right - left);
        b.rect = {right - width, 0, right, client.bottom};
        right -= width;
    }
    if (dc) {
        SelectObject(dc, old);
        ReleaseDC(s->window, dc);
    }
    s->captionRect = {left, 0, right, client.bottom};
}

int HitTest(const LogoStrip* s, POINT pt) {
    RECT client;
    GetClientRect(s->window, &client);
    if (!PtInRect(&client, pt)) return kPartNone;
    for (int i = 0; i < s->buttonCount; ++i) {
        if (PtInRect(&s->buttons[i].rect, pt)) return i + 1;
    }
    return kPartStrip;
}

void Redraw(LogoStrip* s) { InvalidateRect(s->window, nullptr, FALSE); }

void DrawDib(HDC dc, const Dib& dib, const RECT& to) {
    if (!dib.info || to.right <= to.left || to.bottom <= to.top) return;
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchDIBits(dc, to.left, to.top, to.right - to.left, to.bottom - to.top, 0, 0, dib.width, dib.height,
                  dib.bits, dib.info, DIB_RGB_COLORS, SRCCOPY);
}

void Paint(LogoStrip* s, HDC target) {
    RECT client;
    GetClientRect(s->window, &client);
    OffscreenDC buffer(target, client.right, client.bottom);
    HDC dc = buffer.dc();

    FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
    const RECT band = {s->markRect.right, 0, client.right, client.bottom};
    DrawDib(dc, s->band, band);
    DrawDib(dc, s->mark, s->markRect);

    HGDIOBJ oldFont = SelectObject(dc, StripFont(s));
    SetBkMode(dc, TRANSPARENT);
    const bool enabled = IsWindowEnabled(s->window) != FALSE;
    SetTextColor(dc, GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));

    const int length = GetWindowTextLengthW(s->window);
    if (length > 0) {
        WCHAR caption[256];
        GetWindowTextW(s->window, caption, 256);
        RECT r = s->captionRect;
        r.left += kCaptionIndent;
        DrawTextW(dc, caption, -1, &r, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
        if (s->hoverPart == kPartStrip) {
            RECT measure = r;
            DrawTextW(dc, caption, -1, &measure, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);
            const int textHeight = measure.bottom - measure.top;
            const int baseline = (r.top + r.bottom + textHeight) / 2;
            FillSolid(dc, r.left, baseline - 1, std::min(measure.right, r.right), baseline,
                      GetSysColor(COLOR_BTNTEXT));
        }
    }
    for (int i = 0; i < s->buttonCount; ++i) {
        LogoButton& b = s->buttons[i];
        RECT r = b.rect;
        InflateRect(&r, -1, -2);
        const bool pressed = s->pressedPart == i + 1 && s->hoverPart == i + 1;
        if (pressed) {
            FillSolid(dc, r.left, r.top, r.right, r.bottom, GetSysColor(COLOR_BTNFACE));
            DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
        } else if (s->hoverPart == i + 1) {
            FillSolid(dc, r.left, r.top, r.right, r.bottom, LightenHalf(GetSysColor(COLOR_HIGHLIGHT)));
            DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
        }
        RECT text = b.rect;
        if (pressed) OffsetRect(&text, 1, 1);
        DrawTextW(dc, b.text, -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
    SelectObject(dc, oldFont);
    buffer.CopyToTarget();
}

void SetHover(LogoStrip* s, int part) {
    if (part == s->hoverPart) return;
    s->hoverPart = part;
    Redraw(s);
}

void TrackHover(LogoStrip* s) {
    POINT pt;
    int part = kPartNone;
    if (GetCursorPos(&pt) && WindowFromPoint(pt) == s->window) {
        ScreenToClient(s->window, &pt);
        part = HitTest(s, pt);
    }
    SetHover(s, part);
    if (part == kPartNone && s->pressedPart == kPartNone && s->hoverTimer) {
        KillTimer(s->window, kHoverTimerId);
        s->hoverTimer = false;
    }
}

void Activate(LogoStrip* s, int part) {
    HWND parent = GetParent(s->window);
    if (!HasCaption(s)) {
        PostMessageW(parent, LOGON_CLICKED, 0, 0);
    } else if (part > kPartStrip) {
        PostMessageW(parent, WM_COMMAND, MAKEWPARAM(s->buttons[part - 1].id, 0), reinterpret_cast<LPARAM>(s->window));
    } else if (s->captionCommand) {
        PostMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(s->window), 0), reinterpret_cast<LPARAM>(s->window));
    } else {
        OpenProductPage();
    }
}

void ResetButtons(LogoStrip* s) {
    ZeroFree(s->buttons);
    s->buttons = nullptr;
    s->buttonCount = 0;
    s->buttonCapacity = 0;
    s->pressedPart = kPartNone;
    s->hoverPart = kPartNone;
}

LRESULT AddButton(LogoStrip* s, WPARAM wParam, const WCHAR* text) {
    if (!text) return 0;
    if (s->buttonCount == s->buttonCapacity) {
        const int capacity = s->buttonCapacity ? s->buttonCapacity * 2 : 4;
        auto* grown = static_cast<LogoButton*>(ZeroAlloc(sizeof(LogoButton) * static_cast<size_t>(capacity)));
        if (!grown) return 0;
        std::copy(s->buttons, s->buttons + s->buttonCount, grown);
        ZeroFree(s->buttons);
        s->buttons = grown;
        s->buttonCapacity = capacity;
    }
    LogoButton& b = s->buttons[s->buttonCount++];
    b = LogoButton{};
    b.id = LOWORD(wParam);
    wcsncpy(b.text, text, kLogoButtonTextMax);
    b.text[kLogoButtonTextMax] = 0;
    Layout(s);
    if (HIWORD(wParam)) Redraw(s);
    return 1;
}

LRESULT OnCreate(HWND window) {
    void* memory = ZeroAlloc(sizeof(LogoStrip));
    if (!memory) return -1;
    LogoStrip* s = new (memory) LogoStrip();
    s->window = window;
    s->mark = LoadDib(ControlModule(), LogoMarkBitmapId());
    s->band = LoadDib(ControlModule(), LogoBandBitmapId());
    s->pressedPart = kPartNone;
    s->hoverPart = kPartNone;
    SetWindowLongPtrW(window, 0, reinterpret_cast<LONG_PTR>(s));
    Layout(s);
    return 0;
}

POINT PointFrom(LPARAM lParam) {
    return {static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
}

}  // namespace

LRESULT CALLBACK LogoWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) return OnCreate(window);
    LogoStrip* s = FromWindow(window);
    if (!s) return DefWindowProcW(window, message, wParam, lParam);

    switch (message) {
        case WM_DESTROY:
            if (s->hoverTimer) KillTimer(window, kHoverTimerId);
            ResetButtons(s);
            SetWindowLongPtrW(window, 0, 0);
            s->~LogoStrip();
            ZeroFree(s);
            return 0;
        case WM_SIZE: Layout(s); Redraw(s); return 0;
        case WM_SETTEXT: {
            const LRESULT result = DefWindowProcW(window, message, wParam, lParam);
            Layout(s);
            Redraw(s);
            return result;
        }
        case WM_SETFONT:
            s->font = reinterpret_cast<HFONT>(wParam);
            Layout(s);
            if (LOWORD(lParam)) Redraw(s);
            return 0;
        case WM_GETFONT: return reinterpret_cast<LRESULT>(s->font);
        case WM_ENABLE: Redraw(s); return 0;
        case WM_ERASEBKGND: return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(window, &ps);
            if (dc) Paint(s, dc);
            EndPaint(window, &ps);
            return 0;
        }
        case WM_PRINTCLIENT: Paint(s, reinterpret_cast<HDC>(wParam)); return 0;
        case WM_SETCURSOR:
            if (LOWORD(lParam) == HTCLIENT) {
                POINT pt;
                GetCursorPos(&pt);
                ScreenToClient(window, &pt);
                if (HitTest(s, pt) != kPartNone) {
                    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
                    return TRUE;
                }
            }
            break;
        case WM_MOUSEMOVE:
            SetHover(s, HitTest(s, PointFrom(lParam)));
            if (!s->hoverTimer) s->hoverTimer = StartControlTimer(window, kHoverTimerId, kHoverPeriodMs) != 0;
            return 0;
        case WM_TIMER:
            if (wParam == kHoverTimerId) {
                TrackHover(s);
                return 0;
            }
            break;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK: {
            const int part = HitTest(s, PointFrom(lParam));
            if (part == kPartNone) return 0;
            s->pressedPart = part;
            s->hoverPart = part;
            SetCapture(window);
            Redraw(s);
            return 0;
        }
        case WM_LBUTTONUP: {
            const int pressed = s->pressedPart;
            if (pressed == kPartNone) return 0;
            const int part = HitTest(s, PointFrom(lParam));
            s->pressedPart = kPartNone;
            ReleaseCapture();
            Redraw(s);
            if (part == pressed) Activate(s, part);
            return 0;
        }
        case WM_CANCELMODE:
        case WM_CAPTURECHANGED:
            if (message == WM_CAPTURECHANGED && reinterpret_cast<HWND>(lParam) == window) break;
            if (s->pressedPart != kPartNone) {
                s->pressedPart = kPartNone;
                if (message == WM_CANCELMODE) ReleaseCapture();
                Redraw(s);
            }
            return 0;
        case LOGOM_RESETBUTTONS:
            ResetButtons(s);
            Layout(s);
            Redraw(s);
            return 1;
        case LOGOM_ADDBUTTON: return AddButton(s, wParam, reinterpret_cast<const WCHAR*>(lParam));
        case LOGOM_SETCAPTIONCOMMAND: s->captionCommand = wParam != 0; return 1;
        default:
            if (message >= WM_USER && message <= 0x7FFF) return 0;
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace tw

#endif  // _WIN32
