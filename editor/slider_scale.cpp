#include "editor/slider_scale.h"

#include <algorithm>
#include <cstdlib>

namespace tw {

namespace {

struct Breakpoint {
    int64_t value;
    int64_t mapped;
};

// Taper: fine control at the low end, where small settings matter most.
constexpr Breakpoint kTaperCurve[] = {
    {0, 0}, {30, 250}, {60, 400}, {120, 500}, {250, 600}, {400, 800}, {700, 950}, {1000, 1000},
};

// Logarithmic: equal track distance per doubling above 20.
constexpr Breakpoint kLogCurve[] = {
    {0, 0},         {20, 1000},     {40, 2000},     {80, 3000},     {160, 4000},
    {320, 5000},    {640, 6000},    {1280, 7000},   {2560, 8000},   {5120, 9000},
    {10240, 10000}, {20480, 11000}, {40960, 12000}, {81920, 13000}, {163840, 14000},
};

template <size_t N>
int64_t Interpolate(const Breakpoint (&table)[N], int64_t x, bool inverse) {
    const bool negative = x < 0;
    const int64_t m = negative ? -x : x;
    int64_t y = m;  // identity beyond the last breakpoint
    for (size_t i = 1; i < N; ++i) {
        const int64_t x0 = inverse ? table[i - 1].mapped : table[i - 1].value;
        const int64_t x1 = inverse ? table[i].mapped : table[i].value;
        if (m <= x1) {
            const int64_t y0 = inverse ? table[i - 1].value : table[i - 1].mapped;
            const int64_t y1 = inverse ? table[i].value : table[i].mapped;
            y = y0 + (m - x0) * (y1 - y0) / (x1 - x0);
            break;
        }
    }
    return negative ? -y : y;
}

int64_t Curve(SliderCurve curve, int64_t x, bool inverse) {
    switch (curve) {
        case SliderCurve::kTaper: return Interpolate(kTaperCurve, x, inverse);
        case SliderCurve::kLog: return Interpolate(kLogCurve, x, inverse);
        case SliderCurve::kLinear: break;
    }
    return x;
}

LONG ToLong(int64_t v) {
    return static_cast<LONG>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

int64_t Span(const SliderScale& s) { return static_cast<int64_t>(s.maximum) - s.minimum; }

// Virtual keys, identical on both targets.
constexpr UINT kKeyPageUp = 0x21, kKeyPageDown = 0x22, kKeyEnd = 0x23, kKeyHome = 0x24;
constexpr UINT kKeyLeft = 0x25, kKeyUp = 0x26, kKeyRight = 0x27, kKeyDown = 0x28;
constexpr UINT kKeyF3 = 0x72, kKeyF9 = 0x78;

}  // namespace

SliderCurve CurveFromStyle(DWORD style) {
    if (!(style & kSliderNonLinear)) return SliderCurve::kLinear;
    return (style & kSliderLogCurve) ? SliderCurve::kLog : SliderCurve::kTaper;
}

LONG CurveForward(SliderCurve curve, LONG value) { return ToLong(Curve(curve, value, false)); }
LONG CurveInverse(SliderCurve curve, LONG mapped) { return ToLong(Curve(curve, mapped, true)); }

void UpdateCurveConstants(SliderScale* scale) {
    if (scale->curve == SliderCurve::kLinear) {
        scale->curveOffset = 0;
        scale->curveDivisor = 1;
        return;
    }
    const int64_t top = Curve(scale->curve, scale->maximum, false);
    const int64_t bottom = Curve(scale->curve, scale->minimum, false);
    const int64_t divisor = std::max<int64_t>(1, top - bottom);
    scale->curveDivisor = ToLong(divisor);
    scale->curveOffset = ToLong(scale->maximum - top * Span(*scale) / divisor);
}

LONG RescaledDefault(LONG minimum, LONG maximum) {
    if (minimum < 0 && maximum > 0) return 0;
    if (minimum < 0 && maximum == 0) return minimum;
    return ToLong((static_cast<int64_t>(minimum) + maximum) / 2);
}

LONG ClampToRange(const SliderScale& scale, LONG value) {
    if (value < scale.minimum) value = scale.minimum;
    if (value > scale.maximum) value = scale.maximum;
    return value;
}

int ValueToOffset(const SliderScale& scale, int length, LONG value) {
    const int64_t span = Span(scale);
    if (span == 0 || length <= 0) return 0;
    int64_t v = value;
    if (scale.curve != SliderCurve::kLinear) {
        v = Curve(scale.curve, v, false) * span / scale.curveDivisor + scale.curveOffset;
    }
    const int64_t d = (v - scale.minimum) * length / span;
    return static_cast<int>(std::clamp<int64_t>(d, 0, length));
}

int ValueToPixel(const SliderScale& scale, const SliderAxis& axis, LONG value) {
    const int d = ValueToOffset(scale, axis.length, value);
    return axis.vertical ? axis.first + axis.length - d : axis.first + d;
}

LONG PixelToValue(const SliderScale& scale, const SliderAxis& axis, int pixel) {
    const int64_t span = Span(scale);
    if (axis.length < 2 || span == 0) return scale.minimum;
    const int last = axis.first + axis.length;
    int64_t offset;
    if (!axis.vertical) {
        if (pixel < axis.first) return scale.minimum;
        if (pixel > last) return scale.maximum;
        offset = pixel - axis.first;
    } else {
        if (pixel < axis.first) return scale.maximum;
        if (pixel > last) return scale.minimum;
        offset = last - pixel;
    }
    // The ends answer the ends exactly; the curve's truncations would land a little inside.
    if (offset >= axis.length) return scale.maximum;
    if (offset <= 0) return scale.minimum;
    int64_t v = offset * span / axis.length + scale.minimum;
    if (scale.curve != SliderCurve::kLinear) {
        v = Curve(scale.curve, (v - scale.curveOffset) * scale.curveDivisor / span, true);
    }
    return ClampToRange(scale, ToLong(v));
}

SliderLayout LayoutSlider(int clientWidth, int clientHeight, bool vertical, int thumbWidth) {
    SliderLayout out;
    const int along = vertical ? clientHeight : clientWidth;
    const int cross = vertical ? clientWidth : clientHeight;
    // Shortened by half a thumb so the thumb centre reaches both ends of the usable length.
    const int shorten = (thumbWidth + 1) / 2 - kTrackInset;
    const int trackStart = shorten;
    const int trackEnd = std::max(trackStart, along - shorten);
    const int trackCross = (cross - kTrackThickness) / 2;
    const int thumbCross = std::min(cross, kThumbMaxCross);

    out.axis.vertical = vertical;
    out.axis.first = trackStart + kTrackInset;
    out.axis.length = std::max(0, trackEnd - trackStart - 2 * kTrackInset);
    out.thumbCrossStart = (cross - thumbCross) / 2;
    out.thumbCrossEnd = out.thumbCrossStart + thumbCross;
    out.tooSmall = along < thumbWidth || cross < kTrackThickness;
    if (!vertical) {
        out.track = {trackStart, trackCross, trackEnd, trackCross + kTrackThickness};
    } else {
        out.track = {trackCross, trackStart, trackCross + kTrackThickness, trackEnd};
    }
    return out;
}

SliderBox ThumbBox(const SliderLayout& layout, int thumbWidth, int pixel) {
    const int start = pixel - (thumbWidth + 1) / 2;
    if (!layout.axis.vertical) {
        return {start, layout.thumbCrossStart, start + thumbWidth, layout.thumbCrossEnd};
    }
    return {layout.thumbCrossStart, start, layout.thumbCrossEnd, start + thumbWidth};
}

LONG FineDragDelta(int dx) {
    if (dx > 0) return (dx + 1) / 2;
    if (dx < 0) return (dx - 1) / 2;
    return 0;
}

LONG DigitTarget(LONG minimum, LONG maximum, int digit) {
    const int64_t span = static_cast<int64_t>(maximum) - minimum;
    return ToLong(minimum + span * digit / 10);
}

int KeyScrollCode(UINT virtualKey, bool vertical) {
    switch (virtualKey) {
        case kKeyPageUp: return vertical ? kCodePageLeft : kCodePageRight;
        case kKeyPageDown: return vertical ? kCodePageRight : kCodePageLeft;
        case kKeyEnd: return kCodeToMaximum;
        case kKeyHome: return kCodeToMinimum;
        case kKeyLeft:
        case kKeyF3: return kCodeLineLeft;
        case kKeyRight:
        case kKeyF9: return kCodeLineRight;
        case kKeyUp: return vertical ? kCodeLineLeft : kCodeLineRight;
        case kKeyDown: return vertical ? kCodeLineRight : kCodeLineLeft;
        default: return -1;
    }
}

}  // namespace tw
