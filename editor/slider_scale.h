// The slider's arithmetic, free of any window: the non-linear curves, value <-> pixel mapping, the
// layout of track and thumb, fine-drag steps, digit-key targets and keyboard codes. The slider
// window calls these; tests run them on both targets.
#pragma once

#include "platform/platform.h"

namespace tw {

// Style bits (low word of the slider's window style).
inline constexpr DWORD kSliderVertical = 0x0001;
inline constexpr DWORD kSliderNoFocusOnClick = 0x0008;
inline constexpr DWORD kSliderLogCurve = 0x0040;   // with kSliderNonLinear
inline constexpr DWORD kSliderNonLinear = 0x0080;
inline constexpr DWORD kSliderTrackField = 0x0700;
inline constexpr DWORD kSliderNoTrack = 0x0400;    // value of the track field
inline constexpr DWORD kSliderTicksA = 0x1000;
inline constexpr DWORD kSliderTicksB = 0x2000;
inline constexpr DWORD kSliderNoRedraw = 0x4000;
inline constexpr DWORD kSliderCommands = 0x8000;

// Scroll codes reported to the parent in the low word of WM_HSCROLL / WM_VSCROLL.
enum SliderCode : int {
    kCodeLineLeft = 0,
    kCodeLineRight = 1,
    kCodePageLeft = 2,
    kCodePageRight = 3,
    kCodeThumbPosition = 4,
    kCodeThumbTrack = 5,
    kCodeToMinimum = 6,
    kCodeToMaximum = 7,
    kCodeEndScroll = 8,
    kCodePressStarted = 9,
};

enum class SliderCurve { kLinear, kTaper, kLog };

SliderCurve CurveFromStyle(DWORD style);

// Piecewise-linear curve over the magnitude (sign kept); identity beyond the last breakpoint.
LONG CurveForward(SliderCurve curve, LONG value);
LONG CurveInverse(SliderCurve curve, LONG mapped);

// Range and curve constants of one slider.
struct SliderScale {
    LONG minimum = 0;
    LONG maximum = 100;
    SliderCurve curve = SliderCurve::kLinear;
    LONG curveOffset = 0;
    LONG curveDivisor = 1;
};

// Recomputes the curve constants so that minimum and maximum land on the ends of the track.
void UpdateCurveConstants(SliderScale* scale);

// Default value after a range change: 0 when the range straddles zero, the minimum when it ends
// at zero from below, else the midpoint.
LONG RescaledDefault(LONG minimum, LONG maximum);

LONG ClampToRange(const SliderScale& scale, LONG value);

// Usable stretch of the track along the slider's axis: pixels `first` .. `first + length`.
// A horizontal slider has its minimum at `first`, a vertical one at `first + length`.
struct SliderAxis {
    int first = 0;
    int length = 0;
    bool vertical = false;
};

// Offset of the value from the minimum end, in pixels (0 .. length).
int ValueToOffset(const SliderScale& scale, int length, LONG value);
int ValueToPixel(const SliderScale& scale, const SliderAxis& axis, LONG value);
LONG PixelToValue(const SliderScale& scale, const SliderAxis& axis, int pixel);

// Track and thumb geometry for a client area.
struct SliderBox {
    int left = 0, top = 0, right = 0, bottom = 0;
};

struct SliderLayout {
    SliderBox track;     // the drawn track, 3 pixels across
    SliderAxis axis;
    int thumbCrossStart = 0;  // thumb extent across the axis
    int thumbCrossEnd = 0;
    bool tooSmall = false;
};

inline constexpr int kTrackThickness = 3;
inline constexpr int kTrackInset = 1;
inline constexpr int kThumbWidth = 12;
inline constexpr int kThumbMaxCross = 18;

SliderLayout LayoutSlider(int clientWidth, int clientHeight, bool vertical, int thumbWidth);

// Thumb rectangle whose centre sits on `pixel`.
SliderBox ThumbBox(const SliderLayout& layout, int thumbWidth, int pixel);

// Value change of one fine-drag step of `dx` pixels: about half a unit per pixel, never zero.
LONG FineDragDelta(int dx);

// Target of a digit key 0..9: minimum + (maximum - minimum) x digit / 10.
LONG DigitTarget(LONG minimum, LONG maximum, int digit);

// Scroll code of a key, or -1 for a key the slider does not move with.
int KeyScrollCode(UINT virtualKey, bool vertical);

}  // namespace tw
