// The slider window: owns range, position and default, draws itself and reports every user action
// to its parent as a scroll code; the parent decides the new value and sets it back.
#include "editor/controls.h"

#ifdef _WIN32

#include "editor/control_common.h"

#include <algorithm>
#include <new>

namespace tw {

namespace {

enum TrackbarFlag : DWORD {
    kFlagDisabled = 1u << 0,
    kFlagVertical = 1u << 1,
    kFlagFocused = 1u << 2,
    kFlagTooSmall = 1u << 3,
    kFlagNoTicks = 1u << 4,
    kFlagNoTrack = 1u << 5,
    kFlagShowFill = 1u << 6,
    kFlagFillFromDefault = 1u << 7,
    kFlagHighColour = 1u << 8,
    kFlagFineDrag = 1u << 9,
    kFlagIgnoreNextMove = 1u << 10,
    kFlagCommands = 1u << 11,
    kFlagNoRedraw = 1u << 12,
    kFlagPressedHot = 1u << 13,  // the cursor is over the pressed track part
};

constexpr int kPartNone = -1;
constexpr int kPartThumb = kCodeThumbTrack;

constexpr UINT_PTR kRepeatTimerId = 42;
constexpr UINT kRepeatPeriodMs = 250;

// WM_COMMAND codes of sliders with kSliderCommands.
constexpr WORD kCommandFocus = 1;
constexpr WORD kCommandPress = 3;
constexpr WORD kCommandRelease = 4;

struct Trackbar;
using NotifyRoutine = void (*)(Trackbar* t, int code, LONG position);

struct Trackbar {
    DWORD style;
    DWORD flags;
    SliderScale scale;
    LONG defaultValue;
    LONG position;
    HWND window;
    int controlId;
    HWND notifyWindow;  // null: the actual parent
    SliderLayout layout;
    int trackThickness;
    int startInset;
    int endInset;
    RECT thumb;
    int thumbPixel;
    int thumbWidth;
    int caretInsetX;
    int caretInsetY;
    COLORREF background;
    bool hasSkin;
    TrackbarSkinImage skin;
    LONG skinSizes[4];
    int pressedPart;
    LONG positionAtPress;
    LONG lastDragValue;
    int dragOffsetX;
    int dragOffsetY;
    POINT lastMouse;
    DWORD lastMouseTime;
    POINT warpPoint;
    UINT_PTR repeatTimer;
    LONG_PTR userData;
    NotifyRoutine notify;
    bool releasing;
};

Trackbar* FromWindow(HWND window) {
    return reinterpret_cast<Trackbar*>(GetWindowLongPtrW(window, 0));
}

bool Has(const Trackbar* t, DWORD flag) { return (t->flags & flag) != 0; }
void SetFlag(Trackbar* t, DWORD flag, bool on) { t->flags = on ? (t->flags | flag) : (t->flags & ~flag); }

HWND NotifyTarget(const Trackbar* t) { return t->notifyWindow ? t->notifyWindow : GetParent(t->window); }

void SendScrollMessage(Trackbar* t, int code, LONG position) {
    const UINT message = Has(t, kFlagVertical) ? WM_VSCROLL : WM_HSCROLL;
    SendMessageW(NotifyTarget(t), message, MAKEWPARAM(code, static_cast<WORD>(position)),
                 reinterpret_cast<LPARAM>(t->window));
}

void Notify(Trackbar* t, int code, LONG position) { t->notify(t, code, position); }

void SendCommand(Trackbar* t, WORD code) {
    if (!Has(t, kFlagCommands)) return;
    SendMessageW(NotifyTarget(t), WM_COMMAND, MAKEWPARAM(t->controlId, code), reinterpret_cast<LPARAM>(t->window));
}

void SendNotify(Trackbar* t, NMHDR* header, int code) {
    header->hwndFrom = t->window;
    header->idFrom = static_cast<UINT_PTR>(t->controlId);
    header->code = static_cast<UINT>(code);
    SendMessageW(NotifyTarget(t), WM_NOTIFY, static_cast<WPARAM>(t->controlId), reinterpret_cast<LPARAM>(header));
}

void Redraw(Trackbar* t) {
    if (!Has(t, kFlagNoRedraw)) InvalidateRect(t->window, nullptr, FALSE);
}

void PlaceThumb(Trackbar* t) {
    t->thumbPixel = ValueToPixel(t->scale, t->layout.axis, t->position);
    const SliderBox b = ThumbBox(t->layout, t->thumbWidth, t->thumbPixel);
    t->thumb = {b.left, b.top, b.right, b.bottom};
}

void UpdateCaret(Trackbar* t, bool recreate) {
    if (!Has(t, kFlagFocused)) return;
    const int w = std::max<int>(1, t->thumb.right - t->thumb.left - 2 * t->caretInsetX);
    const int h = std::max<int>(1, t->thumb.bottom - t->thumb.top - 2 * t->caretInsetY);
    if (recreate) {
        DestroyCaret();
        CreateCaret(t->window, reinterpret_cast<HBITMAP>(1), w, h);  // 1: grey caret
    }
    SetCaretPos(t->thumb.left + t->caretInsetX, t->thumb.top + t->caretInsetY);
}

void Layout(Trackbar* t) {
    RECT client;
    GetClientRect(t->window, &client);
    t->layout = LayoutSlider(client.right, client.bottom, Has(t, kFlagVertical), t->thumbWidth);
    SetFlag(t, kFlagTooSmall, t->layout.tooSmall);
    SetFlag(t, kFlagNoTicks, !(t->style & (kSliderTicksA | kSliderTicksB)) || t->layout.tooSmall);
    PlaceThumb(t);
}

// Stores the clamped value; redraws only when asked and when the thumb lands on another pixel.
LONG SetPosition(Trackbar* t, LONG value, bool redraw) {
    const int before = t->thumbPixel;
    t->position = ClampToRange(t->scale, value);
    PlaceThumb(t);
    if (redraw && t->thumbPixel != before) Redraw(t);
    return t->position;
}

void Rescale(Trackbar* t, bool redraw) {
    t->defaultValue = RescaledDefault(t->scale.minimum, t->scale.maximum);
    UpdateCurveConstants(&t->scale);
    t->position = ClampToRange(t->scale, t->position);
    PlaceThumb(t);
    if (redraw) Redraw(t);
}

int HitTest(const Trackbar* t, POINT pt) {
    if (PtInRect(&t->thumb, pt)) return kPartThumb;
    // The track answers across the thumb's whole height: the drawn track is too thin to aim at.
    const SliderBox& tr = t->layout.track;
    const bool vertical = Has(t, kFlagVertical);
    RECT area;
    if (!vertical) {
        area = {tr.left, t->layout.thumbCrossStart, tr.right, t->layout.thumbCrossEnd};
    } else {
        area = {t->layout.thumbCrossStart, tr.top, t->layout.thumbCrossEnd, tr.bottom};
    }
    if (!PtInRect(&area, pt)) return kPartNone;
    const bool before = vertical ? pt.y < t->thumb.top : pt.x < t->thumb.left;
    return before ? kCodePageLeft : kCodePageRight;
}

bool IgnoresInput(const Trackbar* t) { return Has(t, kFlagDisabled) || Has(t, kFlagTooSmall); }

// ---- mouse ---------------------------------------------------------------------------------------

void BeginPress(Trackbar* t, POINT pt) {
    if (IgnoresInput(t) || t->pressedPart != kPartNone) return;
    if (!(t->style & kSliderNoFocusOnClick)) SetFocus(t->window);
    SendCommand(t, kCommandPress);
    const int part = HitTest(t, pt);
    if (part == kPartNone) return;

    t->positionAtPress = t->position;
    if (part == kPartThumb) {
        const int crossCentre = (t->layout.thumbCrossStart + t->layout.thumbCrossEnd) / 2;
        const int centreX = Has(t, kFlagVertical) ? crossCentre : t->thumbPixel;
        const int centreY = Has(t, kFlagVertical) ? t->thumbPixel : crossCentre;
        t->dragOffsetX = centreX - pt.x;
        t->dragOffsetY = centreY - pt.y;
        t->lastMouse = pt;
        t->lastMouseTime = static_cast<DWORD>(GetMessageTime());
    }
    HideCaret(t->window);
    SetCapture(t->window);
    t->pressedPart = part;
    t->lastDragValue = -1;
    SetFlag(t, kFlagPressedHot, true);
    Notify(t, kCodePressStarted, 0);
    Redraw(t);
    if (part != kPartThumb) {
        Notify(t, part, 0);
        t->repeatTimer = StartControlTimer(t->window, kRepeatTimerId, kRepeatPeriodMs);
    }
}

void EndPress(Trackbar* t) {
    if (t->pressedPart == kPartNone || t->releasing) return;
    t->releasing = true;  // ReleaseCapture sends WM_CAPTURECHANGED back to us
    ReleaseCapture();
    SetFlag(t, kFlagFineDrag, false);
    SetFlag(t, kFlagIgnoreNextMove, false);
    if (t->pressedPart == kPartThumb) Notify(t, kCodeThumbPosition, t->lastDragValue);
    if (t->repeatTimer) {
        KillTimer(t->window, kRepeatTimerId);
        t->repeatTimer = 0;
    }
    Notify(t, kCodeEndScroll, 0);
    ShowCaret(t->window);
    t->pressedPart = kPartNone;
    SetFlag(t, kFlagPressedHot, false);
    Redraw(t);
    SetPosition(t, t->position, true);
    t->releasing = false;
}

void CancelPress(Trackbar* t) {
    SetPosition(t, t->positionAtPress, true);
    if (t->pressedPart == kPartThumb && t->lastDragValue != -1) t->lastDragValue = t->positionAtPress;
    EndPress(t);
}

// Puts the cursor back at its press-time offset from the thumb, so fine dragging never runs out
// of screen.
void WarpCursor(Trackbar* t, POINT pt) {
    POINT target = pt;
    if (!Has(t, kFlagVertical)) {
        target.x = t->thumbPixel - t->dragOffsetX;
        target.y = std::clamp<LONG>(pt.y, t->thumb.top, t->thumb.bottom - 1);
    } else {
        target.y = t->thumbPixel - t->dragOffsetY;
        target.x = std::clamp<LONG>(pt.x, t->thumb.left, t->thumb.right - 1);
    }
    t->lastMouse = target;
    if (target.x == pt.x && target.y == pt.y) return;
    t->warpPoint = target;
    SetFlag(t, kFlagIgnoreNextMove, true);
    POINT screen = target;
    ClientToScreen(t->window, &screen);
    SetCursorPos(screen.x, screen.y);
}

void OnMouseMove(Trackbar* t, WPARAM keys, POINT pt) {
    if (t->pressedPart == kPartNone) return;
    if (t->pressedPart != kPartThumb) {
        const bool hot = HitTest(t, pt) == t->pressedPart;
        if (hot != Has(t, kFlagPressedHot)) {
            SetFlag(t, kFlagPressedHot, hot);
            Redraw(t);
        }
        return;
    }
    if (Has(t, kFlagIgnoreNextMove)) {
        SetFlag(t, kFlagIgnoreNextMove, false);
        if (pt.x == t->warpPoint.x && pt.y == t->warpPoint.y) return;
    }
    const bool vertical = Has(t, kFlagVertical);
    const bool fine = (keys & (MK_CONTROL | MK_RBUTTON)) != 0;
    SetFlag(t, kFlagFineDrag, fine);
    LONG value;
    if (fine) {
        const int dx = vertical ? pt.y - t->lastMouse.y : pt.x - t->lastMouse.x;
        const LONG delta = vertical ? -FineDragDelta(dx) : FineDragDelta(dx);
        const int64_t moved = static_cast<int64_t>(t->position) + delta;
        value = ClampToRange(t->scale, static_cast<LONG>(std::clamp<int64_t>(moved, INT32_MIN, INT32_MAX)));
    } else {
        const int pixel = vertical ? pt.y + t->dragOffsetY : pt.x + t->dragOffsetX;
        value = PixelToValue(t->scale, t->layout.axis, pixel);
    }
    t->lastMouse = pt;
    t->lastMouseTime = static_cast<DWORD>(GetMessageTime());
    if (value != t->lastDragValue) {
        t->lastDragValue = value;
        SetPosition(t, value, true);
        Notify(t, kCodeThumbTrack, value);
    }
    if (fine) WarpCursor(t, pt);
}

void OnRepeatTimer(Trackbar* t) {
    if (t->pressedPart == kPartNone || t->pressedPart == kPartThumb) return;
    POINT pt;
    if (!GetCursorPos(&pt)) return;
    ScreenToClient(t->window, &pt);
    if (HitTest(t, pt) == t->pressedPart) Notify(t, t->pressedPart, 0);
}

void OnDoubleClick(Trackbar* t, POINT pt) {
    if (IgnoresInput(t)) return;
    if (t->pressedPart == kPartNone && HitTest(t, pt) == kPartThumb) {
        SetPosition(t, t->defaultValue, true);
        Notify(t, kCodeThumbPosition, t->position);
        return;
    }
    BeginPress(t, pt);
}

void OnWheel(Trackbar* t, WPARAM wParam) {
    if (IgnoresInput(t)) return;
    const int turns = GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA;
    const bool line = (GET_KEYSTATE_WPARAM(wParam) & MK_CONTROL) != 0;
    const bool vertical = Has(t, kFlagVertical);
    int code;
    if (turns > 0) {  // away from the user
        code = vertical ? (line ? kCodeLineLeft : kCodePageLeft) : (line ? kCodeLineRight : kCodePageRight);
    } else {
        code = vertical ? (line ? kCodeLineRight : kCodePageRight) : (line ? kCodeLineLeft : kCodePageLeft);
    }
    for (int i = 0; i < std::abs(turns); ++i) Notify(t, code, 0);
    Notify(t, kCodeEndScroll, 0);
}

// ---- keyboard ------------------------------------------------------------------------------------

void OnKeyDown(Trackbar* t, WPARAM key, LPARAM keyData) {
    const bool captured = t->pressedPart != kPartNone;
    if (key == VK_ESCAPE && captured) {
        CancelPress(t);
        return;
    }
    if (IgnoresInput(t) || captured) return;
    const int code = KeyScrollCode(static_cast<UINT>(key), Has(t, kFlagVertical));
    if (code >= 0) {
        Notify(t, code, 0);
        return;
    }
    if (key >= '0' && key <= '9') {
        SetPosition(t, DigitTarget(t->scale.minimum, t->scale.maximum, static_cast<int>(key - '0')), true);
        Notify(t, kCodeThumbPosition, t->position);
        return;
    }
    if (key == VK_CLEAR || (key >= VK_NUMPAD0 && key <= VK_NUMPAD9)) return;
    TrackbarKeyNotify nk = {};
    nk.key = static_cast<UINT>(key);
    nk.repeatCount = LOWORD(keyData);
    nk.flags = HIWORD(keyData);
    SendNotify(t, &nk.header, TRKN_KEYDOWN);
}

void OnKeyUp(Trackbar* t, WPARAM key) {
    if (IgnoresInput(t) || t->pressedPart != kPartNone) return;
    if (KeyScrollCode(static_cast<UINT>(key), Has(t, kFlagVertical)) >= 0) Notify(t, kCodeEndScroll, 0);
}

// ---- focus ---------------------------------------------------------------------------------------

void OnSetFocus(Trackbar* t) {
    SetFlag(t, kFlagFocused, true);
    SendCommand(t, kCommandFocus);
    UpdateCaret(t, true);
    if (t->pressedPart == kPartNone) ShowCaret(t->window);
}

void OnKillFocus(Trackbar* t) {
    SetFlag(t, kFlagFocused, false);
    NMHDR header = {};
    SendNotify(t, &header, TRKN_KILLFOCUS);
    DestroyCaret();
}

// ---- painting ------------------------------------------------------------------------------------

void DrawTrack(const Trackbar* t, HDC dc) {
    const SliderBox& b = t->layout.track;
    RECT track = {b.left, b.top, b.right, b.bottom};
    const bool vertical = Has(t, kFlagVertical);
    FillSolid(dc, track.left, track.top, track.right, track.bottom, GetSysColor(COLOR_BTNFACE));
    if (Has(t, kFlagShowFill)) {
        const int from = Has(t, kFlagFillFromDefault) ? ValueToPixel(t->scale, t->layout.axis, t->defaultValue)
                         : vertical                    ? track.bottom
                                                       : track.left;
        const int lo = std::min(from, t->thumbPixel);
        const int hi = std::max(from, t->thumbPixel);
        const COLORREF fill = MixColours(GetSysColor(COLOR_BTNFACE), GetSysColor(COLOR_BTNTEXT));
        if (!vertical) {
            FillSolid(dc, lo, track.top, hi, track.bottom, fill);
        } else {
            FillSolid(dc, track.left, lo, track.right, hi, fill);
        }
    }
    if (t->pressedPart == kCodePageLeft || t->pressedPart == kCodePageRight) {
        if (Has(t, kFlagPressedHot)) {
            // The pressed stretch, from the thumb towards the side being paged.
            const bool before = t->pressedPart == kCodePageLeft;
            const COLORREF hot = GetSysColor(COLOR_HIGHLIGHT);
            if (!vertical) {
                FillSolid(dc, before ? track.left : t->thumbPixel, track.top, before ? t->thumbPixel : track.right,
                          track.bottom, hot);
            } else {
                FillSolid(dc, track.left, before ? track.top : t->thumbPixel, track.right,
                          before ? t->thumbPixel : track.bottom, hot);
            }
        }
    }
    DrawEdge(dc, &track, BDR_SUNKENOUTER, BF_RECT);
}

void DrawTicks(const Trackbar* t, HDC dc, int width, int height) {
    const SliderAxis& axis = t->layout.axis;
    const bool vertical = Has(t, kFlagVertical);
    int middle = vertical ? axis.first + axis.length - axis.length / 2 : axis.first + axis.length / 2;
    if (t->scale.minimum < 0 && t->scale.maximum > 0) middle = ValueToPixel(t->scale, axis, 0);
    const int positions[3] = {axis.first, axis.first + axis.length, middle};
    const int cross = vertical ? width : height;
    const int tick = std::max(1, std::min(3, (cross - kTrackThickness) / 2));
    const COLORREF frame = GetSysColor(COLOR_WINDOWFRAME);
    const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
    for (int p : positions) {
        if (!vertical) {
            FillSolid(dc, p, 0, p + 1, tick, frame);
            FillSolid(dc, p + 1, 0, p + 2, tick, light);
            FillSolid(dc, p, height - tick, p + 1, height, frame);
            FillSolid(dc, p + 1, height - tick, p + 2, height, light);
        } else {
            FillSolid(dc, 0, p, tick, p + 1, frame);
            FillSolid(dc, 0, p + 1, tick, p + 2, light);
            FillSolid(dc, width - tick, p, width, p + 1, frame);
            FillSolid(dc, width - tick, p + 1, width, p + 2, light);
        }
    }
}

void DrawSkinnedThumb(const Trackbar* t, HDC dc) {
    HDC source = CreateCompatibleDC(dc);
    if (!source) return;
    HGDIOBJ old = SelectObject(source, t->skin.bitmap);
    const int w = t->thumb.right - t->thumb.left;
    const int h = t->thumb.bottom - t->thumb.top;
    const int along = Has(t, kFlagVertical) ? h : w;
    const bool pressed = t->pressedPart == kPartThumb;
    const int sx = t->skin.x + (pressed && !Has(t, kFlagVertical) ? along : 0);
    const int sy = t->skin.y + (pressed && Has(t, kFlagVertical) ? along : 0);
    BitBlt(dc, t->thumb.left, t->thumb.top, w, h, source, sx, sy, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
}

void DrawThumb(const Trackbar* t, HDC dc) {
    if (t->hasSkin && t->skin.bitmap) {
        DrawSkinnedThumb(t, dc);
        return;
    }
    const RECT& r = t->thumb;
    if (r.right - r.left < 3 || r.bottom - r.top < 3) return;
    const COLORREF frame = GetSysColor(COLOR_WINDOWFRAME);
    // Outline without its corner pixels: the corners show the background, which rounds the thumb.
    FillSolid(dc, r.left + 1, r.top, r.right - 1, r.top + 1, frame);
    FillSolid(dc, r.left + 1, r.bottom - 1, r.right - 1, r.bottom, frame);
    FillSolid(dc, r.left, r.top + 1, r.left + 1, r.bottom - 1, frame);
    FillSolid(dc, r.right - 1, r.top + 1, r.right, r.bottom - 1, frame);

    RECT inner = {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
    const bool pressed = t->pressedPart == kPartThumb;
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    if (Has(t, kFlagHighColour)) {
        const COLORREF top = LightenHalf(GetSysColor(COLOR_HIGHLIGHT));
        const COLORREF first = pressed ? shadow : top;
        const COLORREF last = pressed ? top : shadow;
        const int rows = inner.bottom - inner.top;
        for (int y = 0; y < rows; ++y) {
            // Two halves: lit colour to face, then face to shadow.
            const int span = std::max(1, rows - 1);
            const int pos = y * 512 / span;  // 0..512
            const COLORREF a = pos < 256 ? first : face;
            const COLORREF b = pos < 256 ? face : last;
            const int f = pos < 256 ? pos : pos - 256;
            const COLORREF c = RGB(GetRValue(a) + (GetRValue(b) - GetRValue(a)) * f / 256,
                                   GetGValue(a) + (GetGValue(b) - GetGValue(a)) * f / 256,
                                   GetBValue(a) + (GetBValue(b) - GetBValue(a)) * f / 256);
            FillSolid(dc, inner.left, inner.top + y, inner.right, inner.top + y + 1, c);
        }
        if (!pressed) {
            FillSolid(dc, inner.left, inner.top, inner.right, inner.top + 1, light);
            FillSolid(dc, inner.left, inner.top, inner.left + 1, inner.bottom, light);
        }
    } else {
        FillSolid(dc, inner.left, inner.top, inner.right, inner.bottom, face);
        DrawEdge(dc, &inner, pressed ? BDR_SUNKENINNER : BDR_RAISEDINNER, BF_RECT);
    }
}

void Paint(Trackbar* t, HDC target) {
    RECT client;
    GetClientRect(t->window, &client);
    OffscreenDC buffer(target, client.right, client.bottom);
    HDC dc = buffer.dc();

    HBRUSH brush = reinterpret_cast<HBRUSH>(
        SendMessageW(NotifyTarget(t), WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(t->window)));
    if (brush) {
        FillRect(dc, &client, brush);
    } else {
        FillSolid(dc, 0, 0, client.right, client.bottom, t->background);
    }
    if (!Has(t, kFlagTooSmall) && !Has(t, kFlagNoTrack)) DrawTrack(t, dc);
    if (!Has(t, kFlagNoTicks)) DrawTicks(t, dc, client.right, client.bottom);
    if (!Has(t, kFlagDisabled) && !Has(t, kFlagTooSmall)) DrawThumb(t, dc);
    buffer.CopyToTarget();
    UpdateCaret(t, false);
}

// ---- creation and messages -----------------------------------------------------------------------

LRESULT OnCreate(HWND window, const CREATESTRUCTW* cs) {
    void* memory = ZeroAlloc(sizeof(Trackbar));
    if (!memory) return -1;
    Trackbar* t = new (memory) Trackbar();
    t->style = static_cast<DWORD>(cs->style);
    t->window = window;
    t->controlId = static_cast<int>(reinterpret_cast<INT_PTR>(cs->hMenu));
    t->notifyWindow = cs->hwndParent != GetParent(window) ? cs->hwndParent : nullptr;
    t->scale.minimum = 0;
    t->scale.maximum = 100;
    t->scale.curve = CurveFromStyle(t->style);
    UpdateCurveConstants(&t->scale);
    t->defaultValue = 50;
    t->position = 50;
    t->trackThickness = kTrackThickness;
    t->startInset = kTrackInset;
    t->endInset = kTrackInset;
    t->thumbWidth = kThumbWidth;
    t->caretInsetX = 2;
    t->caretInsetY = 2;
    t->background = GetSysColor(COLOR_BTNFACE);
    t->pressedPart = kPartNone;
    t->lastDragValue = -1;
    t->userData = reinterpret_cast<LONG_PTR>(cs->lpCreateParams);
    t->notify = SendScrollMessage;

    SetFlag(t, kFlagVertical, (t->style & kSliderVertical) != 0);
    SetFlag(t, kFlagDisabled, (t->style & WS_DISABLED) != 0);
    SetFlag(t, kFlagNoTrack, (t->style & kSliderTrackField) == kSliderNoTrack);
    SetFlag(t, kFlagNoRedraw, (t->style & kSliderNoRedraw) != 0);
    SetFlag(t, kFlagCommands, (t->style & kSliderCommands) != 0);
    SetFlag(t, kFlagShowFill, true);
    if (HDC screen = GetDC(nullptr)) {
        SetFlag(t, kFlagHighColour, GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES) > 8);
        ReleaseDC(nullptr, screen);
    }
    SetWindowLongPtrW(window, 0, reinterpret_cast<LONG_PTR>(t));
    Layout(t);
    return 0;
}

void OnDestroy(HWND window, Trackbar* t) {
    if (t->repeatTimer) KillTimer(window, kRepeatTimerId);
    SetWindowLongPtrW(window, 0, 0);
    t->~Trackbar();
    ZeroFree(t);
}

LRESULT OnSetSkin(Trackbar* t, const TrackbarSkinImage* image, const LONG* sizes) {
    if (!image || !sizes) return 0;
    const bool same = t->hasSkin && t->skin.bitmap == image->bitmap && t->skin.x == image->x && t->skin.y == image->y;
    if (!same) {
        t->skin = *image;
        t->hasSkin = true;
    }
    std::copy(sizes, sizes + 4, t->skinSizes);
    const LONG width = Has(t, kFlagVertical) ? sizes[1] : sizes[2];
    if (width > 0) t->thumbWidth = static_cast<int>(std::min<LONG>(width, 1024));
    Layout(t);
    UpdateCaret(t, true);
    Redraw(t);
    return 1;
}

LRESULT OnSliderMessage(Trackbar* t, UINT message, WPARAM wParam, LPARAM lParam) {
    const LONG value = static_cast<LONG>(lParam);
    switch (message) {
        case TRKM_GETPOS: return t->position;
        case TRKM_GETMIN: return t->scale.minimum;
        case TRKM_GETMAX: return t->scale.maximum;
        case TRKM_SETRANGE:
            t->scale.minimum = static_cast<SHORT>(LOWORD(lParam));
            t->scale.maximum = static_cast<SHORT>(HIWORD(lParam));
            Rescale(t, wParam != 0);
            return 0;
        case TRKM_SETMIN:
            t->scale.minimum = value;
            Rescale(t, wParam != 0);
            return 0;
        case TRKM_SETMAX:
            t->scale.maximum = value;
            Rescale(t, wParam != 0);
            return 0;
        case TRKM_SETPOS: return SetPosition(t, value, wParam != 0);
        case TRKM_SETDEFAULT:
            t->defaultValue = ClampToRange(t->scale, value);
            if (Has(t, kFlagFillFromDefault)) Redraw(t);
            return t->defaultValue;
        case TRKM_GETTRACKINFO:
            return MAKELONG(static_cast<WORD>(t->layout.axis.length), static_cast<WORD>(t->layout.axis.first));
        case TRKM_SETFILLFROMDEFAULT:
            SetFlag(t, kFlagFillFromDefault, lParam != 0);
            if (wParam) Redraw(t);
            return Has(t, kFlagFillFromDefault) ? -1 : 0;
        case TRKM_SETSHOWFILL:
            SetFlag(t, kFlagShowFill, lParam != 0);
            if (wParam) Redraw(t);
            return Has(t, kFlagShowFill) ? -1 : 0;
        case TRKM_SETBKCOLOR: t->background = static_cast<COLORREF>(lParam); return 0;
        case TRKM_GETBKCOLOR: return static_cast<LRESULT>(t->background);
        case TRKM_SETUSERDATA: t->userData = lParam; return 0;
        case TRKM_GETUSERDATA: return t->userData;
        case TRKM_SETSKIN:
            return OnSetSkin(t, reinterpret_cast<const TrackbarSkinImage*>(wParam), reinterpret_cast<const LONG*>(lParam));
        default: return 0;  // the rest of the private range, hardware binding included
    }
}

POINT PointFrom(LPARAM lParam) {
    return {static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
}

}  // namespace

LRESULT CALLBACK TrackbarWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) return OnCreate(window, reinterpret_cast<const CREATESTRUCTW*>(lParam));
    Trackbar* t = FromWindow(window);
    if (!t) return DefWindowProcW(window, message, wParam, lParam);

    switch (message) {
        case WM_DESTROY: OnDestroy(window, t); return 0;
        case WM_SIZE:
            Layout(t);
            UpdateCaret(t, true);
            Redraw(t);
            return 0;
        case WM_ENABLE:
            SetFlag(t, kFlagDisabled, wParam == 0);
            Layout(t);
            InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_ERASEBKGND: return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(window, &ps);
            if (dc) Paint(t, dc);
            EndPaint(window, &ps);
            return 0;
        }
        case WM_PRINTCLIENT: Paint(t, reinterpret_cast<HDC>(wParam)); return 0;
        case WM_GETDLGCODE:
            return t->pressedPart != kPartNone ? DLGC_WANTALLKEYS : (DLGC_WANTARROWS | DLGC_WANTCHARS);
        case WM_KEYDOWN: OnKeyDown(t, wParam, lParam); return 0;
        case WM_KEYUP: OnKeyUp(t, wParam); return 0;
        case WM_LBUTTONDOWN: BeginPress(t, PointFrom(lParam)); return 0;
        case WM_LBUTTONDBLCLK: OnDoubleClick(t, PointFrom(lParam)); return 0;
        case WM_MOUSEMOVE: OnMouseMove(t, wParam, PointFrom(lParam)); return 0;
        case WM_LBUTTONUP:
            EndPress(t);
            SendCommand(t, kCommandRelease);
            return 0;
        case WM_CANCELMODE: EndPress(t); return 0;
        case WM_CAPTURECHANGED:
            if (reinterpret_cast<HWND>(lParam) != window) EndPress(t);
            return 0;
        case WM_TIMER:
            if (wParam == kRepeatTimerId) {
                OnRepeatTimer(t);
                return 0;
            }
            break;
        case WM_MOUSEWHEEL: OnWheel(t, wParam); return 0;
        case WM_CONTEXTMENU:
            if (t->pressedPart != kPartNone) return 0;
            break;
        case WM_SETFOCUS: OnSetFocus(t); return 0;
        case WM_KILLFOCUS: OnKillFocus(t); return 0;
        default:
            if (message >= WM_USER && message <= 0x7FFF) return OnSliderMessage(t, message, wParam, lParam);
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace tw

#endif  // _WIN32
