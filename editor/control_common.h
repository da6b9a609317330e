// Pieces the three window classes share: off-screen painting, colour mixing and the module-wide
// registration data. Internal to the editor.
#pragma once

#include "platform/platform.h"

#ifdef _WIN32

namespace tw {

// A memory DC of the client size; paint into dc(), then copy it to the screen in one transfer.
// Falls back to painting straight into the target when the off-screen bitmap cannot be made.
class OffscreenDC {
public:
    OffscreenDC(HDC target, int width, int height);
    ~OffscreenDC();
    OffscreenDC(const OffscreenDC&) = delete;
    OffscreenDC& operator=(const OffscreenDC&) = delete;

    HDC dc() const { return memory_ ? memory_ : target_; }
    void CopyToTarget() const;

private:
    HDC target_;
    HDC memory_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    int width_;
    int height_;
};

// Per-channel average.
COLORREF MixColours(COLORREF a, COLORREF b);
// Halfway to white.
COLORREF LightenHalf(COLORREF c);
void FillSolid(HDC dc, int left, int top, int right, int bottom, COLORREF colour);

// Module-wide state set by registration.
UINT LogoMarkBitmapId();
UINT LogoBandBitmapId();
HINSTANCE ControlModule();
HBRUSH LabelPatternBrush();
UINT_PTR StartControlTimer(HWND window, UINT_PTR id, UINT milliseconds);
void OpenProductPage();

LRESULT CALLBACK TrackbarWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK LogoWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace tw

#endif  // _WIN32
