// The editor's own window classes: the slider, the logo strip across the top of the page and the
// link label. Registered once per module at load and unregistered at unload.
#pragma once

#include "platform/platform.h"

#ifdef _WIN32

#include "editor/slider_scale.h"

namespace tw {

inline constexpr WCHAR kTrackbarClassName[] = L"twbriofxBld312TrackbarClass";
inline constexpr WCHAR kLogoClassName[] = L"twbriofxBld312LogoClass";
inline constexpr WCHAR kStaticClassName[] = L"twbriofxBld312StaticClass";

// CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS | CS_GLOBALCLASS
inline constexpr UINT kControlClassStyle = 0x400B;

// ---- slider messages -----------------------------------------------------------------------------
inline constexpr UINT TRKM_GETPOS = WM_USER + 522;  // 1546
inline constexpr UINT TRKM_GETMIN = WM_USER + 523;
inline constexpr UINT TRKM_GETMAX = WM_USER + 524;
inline constexpr UINT TRKM_SETRANGE = WM_USER + 525;  // lParam: low word min, high word max
inline constexpr UINT TRKM_SETMIN = WM_USER + 526;
inline constexpr UINT TRKM_SETMAX = WM_USER + 527;
inline constexpr UINT TRKM_SETPOS = WM_USER + 528;  // wParam non-zero: clamp and redraw
inline constexpr UINT TRKM_SETDEFAULT = WM_USER + 529;
inline constexpr UINT TRKM_GETTRACKINFO = WM_USER + 542;  // high word start, low word length
inline constexpr UINT TRKM_SETFILLFROMDEFAULT = WM_USER + 543;
inline constexpr UINT TRKM_SETSHOWFILL = WM_USER + 544;
inline constexpr UINT TRKM_SETBKCOLOR = WM_USER + 551;
inline constexpr UINT TRKM_GETBKCOLOR = WM_USER + 552;
inline constexpr UINT TRKM_SETUSERDATA = WM_USER + 553;
inline constexpr UINT TRKM_GETUSERDATA = WM_USER + 554;
inline constexpr UINT TRKM_SETSKIN = WM_USER + 555;  // wParam: TrackbarSkinImage*, lParam: LONG[4]

// WM_NOTIFY codes.
inline constexpr int TRKN_KEYDOWN = -102;  // a key the slider does not use: TrackbarKeyNotify
inline constexpr int TRKN_KILLFOCUS = -8;  // the common controls' NM_KILLFOCUS code
inline constexpr int LINKN_CLICKED = -105; // the link label was clicked or got Space

// Thumb skin: a bitmap holding the normal thumb at (x, y) and the pressed one right beside it.
struct TrackbarSkinImage {
    HBITMAP bitmap;
    int x;
    int y;
};
// Sizes handed with a skin: [0] thumb height when horizontal, [1] thumb width when vertical
// (its extent along the axis), [2] thumb width when horizontal, [3] thumb height when vertical.

struct TrackbarKeyNotify {
    NMHDR header;
    UINT key;
    UINT repeatCount;
    UINT flags;  // the key message's bits 16..31
};

// ---- logo strip messages -------------------------------------------------------------------------
inline constexpr UINT LOGOM_RESETBUTTONS = WM_USER + 512;       // 1536
inline constexpr UINT LOGOM_ADDBUTTON = WM_USER + 513;          // wParam: id | redraw << 16
inline constexpr UINT LOGOM_SETCAPTIONCOMMAND = WM_USER + 514;  // wParam non-zero: caption posts our id
inline constexpr UINT LOGON_CLICKED = WM_USER + 532;            // 1556, posted to the parent
inline constexpr int kLogoButtonTextMax = 63;

// ---- link label styles ---------------------------------------------------------------------------
inline constexpr DWORD kLabelCentre = 0x0001;
inline constexpr DWORD kLabelRight = 0x0002;
inline constexpr DWORD kLabelLink = 0x0010;
inline constexpr DWORD kLabelHitTest = 0x0040;

// ---- registration --------------------------------------------------------------------------------
// Each returns true when its class is registered; a failure only means dialogs that use the class
// cannot create that control.
bool RegisterTrackbarClass(HINSTANCE module);
bool RegisterStaticClass(HINSTANCE module);  // also creates the shared pattern brush
bool RegisterLogoClass(HINSTANCE module, UINT markBitmapId, UINT bandBitmapId);
void UnregisterTrackbarClass(HINSTANCE module);
void UnregisterStaticClass(HINSTANCE module);  // also deletes the pattern brush
void UnregisterLogoClass(HINSTANCE module);

// All three, in the module's order; the logo strip with bitmaps 24019 and 24020.
bool RegisterEditorClasses(HINSTANCE module);
void UnregisterEditorClasses(HINSTANCE module);

// ---- test seams ----------------------------------------------------------------------------------
// The slider's repeat timer is started through this routine (default: SetTimer), so tests can see
// the timer id and period without waiting for it.
using TimerStarter = UINT_PTR (*)(HWND window, UINT_PTR id, UINT milliseconds);
void SetControlTimerStarter(TimerStarter starter);
// The logo strip opens the product web page through this routine (default: the shell's "open").
using PageOpener = void (*)(const WCHAR* address);
void SetLogoPageOpener(PageOpener opener);
const WCHAR* LogoProductPage();

}  // namespace tw

#endif  // _WIN32
