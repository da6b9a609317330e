#include "editor/controls.h"

#ifdef _WIN32

#include "editor/control_common.h"
#include "resources/resource_ids.h"

#include <shellapi.h>

namespace tw {

namespace {

// Registration data: written at module load and unload only, under the loader lock.
HINSTANCE g_module = nullptr;
UINT g_markBitmapId = 0;
UINT g_bandBitmapId = 0;
HBRUSH g_patternBrush = nullptr;
TimerStarter g_timerStarter = nullptr;
PageOpener g_pageOpener = nullptr;

constexpr WCHAR kProductPage[] = L"https://orvo.example/brio-fx/";

bool RegisterOne(HINSTANCE module, const WCHAR* name, WNDPROC proc, int extraBytes, int colourIndex) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = kControlClassStyle;
    wc.lpfnWndProc = proc;
    wc.cbWndExtra = extraBytes;
    wc.hInstance = module;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(colourIndex + 1));
    wc.lpszClassName = name;
    return RegisterClassExW(&wc) != 0;
}

}  // namespace

// ---- shared helpers ------------------------------------------------------------------------------

OffscreenDC::OffscreenDC(HDC target, int width, int height)
    : target_(target), width_(width), height_(height) {
    if (width <= 0 || height <= 0) return;
    memory_ = CreateCompatibleDC(target);
    if (!memory_) return;
    bitmap_ = CreateCompatibleBitmap(target, width, height);
    if (!bitmap_) {
        DeleteDC(memory_);
        memory_ = nullptr;
        return;
    }
    previous_ = SelectObject(memory_, bitmap_);
}

OffscreenDC::~OffscreenDC() {
    if (!memory_) return;
    SelectObject(memory_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(memory_);
}

void OffscreenDC::CopyToTarget() const {
    if (memory_) BitBlt(target_, 0, 0, width_, height_, memory_, 0, 0, SRCCOPY);
}

COLORREF MixColours(COLORREF a, COLORREF b) {
    return RGB((GetRValue(a) + GetRValue(b)) / 2, (GetGValue(a) + GetGValue(b)) / 2,
               (GetBValue(a) + GetBValue(b)) / 2);
}

COLORREF LightenHalf(COLORREF c) { return MixColours(c, RGB(255, 255, 255)); }

void FillSolid(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
    if (right <= left || bottom <= top) return;
    const RECT r = {left, top, right, bottom};
    const COLORREF old = SetBkColor(dc, colour);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
    SetBkColor(dc, old);
}

UINT LogoMarkBitmapId() { return g_markBitmapId; }
UINT LogoBandBitmapId() { return g_bandBitmapId; }
HINSTANCE ControlModule() { return g_module; }
HBRUSH LabelPatternBrush() { return g_patternBrush; }

UINT_PTR StartControlTimer(HWND window, UINT_PTR id, UINT milliseconds) {
    if (g_timerStarter) return g_timerStarter(window, id, milliseconds);
    return SetTimer(window, id, milliseconds, nullptr);
}

void SetControlTimerStarter(TimerStarter starter) { g_timerStarter = starter; }
void SetLogoPageOpener(PageOpener opener) { g_pageOpener = opener; }
const WCHAR* LogoProductPage() { return kProductPage; }

void OpenProductPage() {
    if (g_pageOpener) {
        g_pageOpener(kProductPage);
        return;
    }
    ShellExecuteW(nullptr, L"open", kProductPage, nullptr, nullptr, SW_SHOWNORMAL);
}

// ---- registration --------------------------------------------------------------------------------

bool RegisterTrackbarClass(HINSTANCE module) {
    g_module = module;
    return RegisterOne(module, kTrackbarClassName, TrackbarWindowProc, sizeof(LONG_PTR), COLOR_BTNFACE);
}

bool RegisterStaticClass(HINSTANCE module) {
    g_module = module;
    if (!g_patternBrush) {
        // 8 x 8 checkerboard; monochrome rows are padded to 16 bits.
        static const WORD kRows[8] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
        HBITMAP pattern = CreateBitmap(8, 8, 1, 1, kRows);
        if (pattern) {
            g_patternBrush = CreatePatternBrush(pattern);
            DeleteObject(pattern);
        }
    }
    // Two slots: the font and the focus/press state.
    return RegisterOne(module, kStaticClassName, StaticWindowProc, 2 * sizeof(LONG_PTR), COLOR_WINDOW);
}

bool RegisterLogoClass(HINSTANCE module, UINT markBitmapId, UINT bandBitmapId) {
    g_module = module;
    g_markBitmapId = markBitmapId;
    g_bandBitmapId = bandBitmapId;
    return RegisterOne(module, kLogoClassName, LogoWindowProc, sizeof(LONG_PTR), COLOR_WINDOW);
}

void UnregisterTrackbarClass(HINSTANCE module) { UnregisterClassW(kTrackbarClassName, module); }

void UnregisterStaticClass(HINSTANCE module) {
    UnregisterClassW(kStaticClassName, module);
    if (g_patternBrush) {
        DeleteObject(g_patternBrush);
        g_patternBrush = nullptr;
    }
}

void UnregisterLogoClass(HINSTANCE module) { UnregisterClassW(kLogoClassName, module); }

bool RegisterEditorClasses(HINSTANCE module) {
    const bool slider = RegisterTrackbarClass(module);
    const bool label = RegisterStaticClass(module);
    const bool logo = RegisterLogoClass(module, IDB_LOGO_MARK, IDB_LOGO_BAND);
    return slider && label && logo;
}

void UnregisterEditorClasses(HINSTANCE module) {
    UnregisterTrackbarClass(module);
    UnregisterStaticClass(module);
    UnregisterLogoClass(module);
}

}  // namespace tw

#endif  // _WIN32
