#include "editor/slider_scale.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tw {
namespace {

TEST(SliderCurves, TaperBreakpointsInterpolationAndSign) {
    const LONG values[] = {0, 30, 60, 120, 250, 400, 700, 1000};
    const LONG mapped[] = {0, 250, 400, 500, 600, 800, 950, 1000};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(CurveForward(SliderCurve::kTaper, values[i]), mapped[i]) << values[i];
        EXPECT_EQ(CurveInverse(SliderCurve::kTaper, mapped[i]), values[i]) << mapped[i];
    }
    EXPECT_EQ(CurveForward(SliderCurve::kTaper, 45), 325);   // halfway 30..60
    EXPECT_EQ(CurveInverse(SliderCurve::kTaper, 325), 45);
    EXPECT_EQ(CurveForward(SliderCurve::kTaper, 10), 83);    // 10 x 250 / 30, truncated
    EXPECT_EQ(CurveForward(SliderCurve::kTaper, -45), -325); // sign kept
    EXPECT_EQ(CurveForward(SliderCurve::kTaper, 2500), 2500);  // beyond the table: itself
    EXPECT_EQ(CurveInverse(SliderCurve::kTaper, 1700), 1700);
}

TEST(SliderCurves, LogarithmicDoublingsAndSpanOfTheRateSlider) {
    EXPECT_EQ(CurveForward(SliderCurve::kLog, 20), 1000);
    LONG v = 20;
    for (LONG mapped = 1000; mapped <= 14000; mapped += 1000, v *= 2) {
        EXPECT_EQ(CurveForward(SliderCurve::kLog, v), mapped) << v;
        EXPECT_EQ(CurveInverse(SliderCurve::kLog, mapped), v) << mapped;
    }
    EXPECT_EQ(CurveForward(SliderCurve::kLog, 1), 50);
    EXPECT_EQ(CurveForward(SliderCurve::kLog, 11000), 10074);
    EXPECT_EQ(CurveForward(SliderCurve::kLog, 200000), 200000);

    SliderScale rate;
    rate.minimum = 1;
    rate.maximum = 11000;
    rate.curve = CurveFromStyle(0x2C2);
    ASSERT_EQ(rate.curve, SliderCurve::kLog);
    UpdateCurveConstants(&rate);
    EXPECT_EQ(rate.curveDivisor, 10024);  // 10074 - 50
    EXPECT_EQ(CurveFromStyle(0x202), SliderCurve::kLinear);
    EXPECT_EQ(CurveFromStyle(0x282), SliderCurve::kTaper);
}

TEST(SliderCurves, RateSliderPlacesEachDoublingAtEqualDistance) {
    SliderScale rate;
    rate.minimum = 1;
    rate.maximum = 11000;
    rate.curve = SliderCurve::kLog;
    UpdateCurveConstants(&rate);
    const int length = 10024;  // one pixel per curve unit makes the expected offsets exact
    EXPECT_EQ(ValueToOffset(rate, length, 1), 0);
    EXPECT_EQ(ValueToOffset(rate, length, 11000), length);
    // The value 20 sits at (1000 - 50) / 10024 of the track, each doubling 1000 / 10024 further.
    for (LONG v = 20, k = 0; v <= 10240; v *= 2, ++k) {
        EXPECT_NEAR(ValueToOffset(rate, length, v), 950 + 1000 * k, 2) << v;
    }
    // The track's last pixel is the maximum, not a truncation short of it.
    EXPECT_EQ(PixelToValue(rate, {6, 1000, false}, 1006), 11000);
    EXPECT_EQ(PixelToValue(rate, {6, 1000, false}, 6), 1);

    // And back: a pixel maps to the value it shows, within a pixel's worth.
    const SliderAxis axis = {6, length, false};
    for (LONG v : {20, 40, 160, 1280, 5120, 10240}) {
        const LONG back = PixelToValue(rate, axis, ValueToPixel(rate, axis, v));
        EXPECT_NEAR(back, v, v / 100 + 1) << v;
    }
}

TEST(SliderScaleTest, DefaultAfterRangeChange) {
    EXPECT_EQ(RescaledDefault(-250, 250), 0);
    EXPECT_EQ(RescaledDefault(0, 900), 450);
    EXPECT_EQ(RescaledDefault(1, 11000), 5500);
    EXPECT_EQ(RescaledDefault(0, 22500), 11250);
    EXPECT_EQ(RescaledDefault(-250, 0), -250);
    EXPECT_EQ(RescaledDefault(-300, -100), -200);
    EXPECT_EQ(RescaledDefault(INT32_MAX - 1, INT32_MAX), INT32_MAX - 1);  // no overflow
}

TEST(SliderScaleTest, ValuePixelMappingAtTheEndsAndOutside) {
    SliderScale s;
    s.minimum = -250;
    s.maximum = 250;
    const SliderAxis h = {6, 200, false};
    EXPECT_EQ(ValueToPixel(s, h, -250), 6);
    EXPECT_EQ(ValueToPixel(s, h, 0), 106);
    EXPECT_EQ(ValueToPixel(s, h, 250), 206);
    EXPECT_EQ(PixelToValue(s, h, 5), -250);
    EXPECT_EQ(PixelToValue(s, h, 207), 250);
    EXPECT_EQ(PixelToValue(s, h, 106), 0);
    EXPECT_EQ(PixelToValue(s, h, 107), 2);  // 101 x 500 / 200 - 250, truncated

    const SliderAxis v = {6, 200, true};  // minimum at the bottom
    EXPECT_EQ(ValueToPixel(s, v, -250), 206);
    EXPECT_EQ(ValueToPixel(s, v, 250), 6);
    EXPECT_EQ(PixelToValue(s, v, 0), 250);
    EXPECT_EQ(PixelToValue(s, v, 300), -250);
    EXPECT_EQ(PixelToValue(s, v, 56), 125);

    const SliderAxis tiny = {6, 1, false};
    EXPECT_EQ(PixelToValue(s, tiny, 7), -250);
}

TEST(SliderScaleTest, EmptyRangeSitsAtTheStartAndAnswersTheMinimum) {
    for (SliderCurve curve : {SliderCurve::kLinear, SliderCurve::kTaper, SliderCurve::kLog}) {
        SliderScale s;
        s.minimum = 7;
        s.maximum = 7;
        s.curve = curve;
        UpdateCurveConstants(&s);
        const SliderAxis axis = {6, 188, false};
        EXPECT_EQ(ValueToPixel(s, axis, 7), 6);
        EXPECT_EQ(PixelToValue(s, axis, 100), 7);
        EXPECT_EQ(PixelToValue(s, axis, 500), 7);
    }
}

TEST(SliderScaleTest, LayoutOfTrackAndThumb) {
    const SliderLayout h = LayoutSlider(200, 20, false, kThumbWidth);
    EXPECT_FALSE(h.tooSmall);
    EXPECT_EQ(h.track.left, 5);  // half a thumb (6) less the inset
    EXPECT_EQ(h.track.right, 195);
    EXPECT_EQ(h.track.bottom - h.track.top, 3);
    EXPECT_EQ(h.track.top, 8);
    EXPECT_EQ(h.axis.first, 6);
    EXPECT_EQ(h.axis.length, 188);
    EXPECT_EQ(h.thumbCrossStart, 1);  // 18 of 20 pixels, centred
    EXPECT_EQ(h.thumbCrossEnd, 19);
    const SliderBox thumb = ThumbBox(h, kThumbWidth, 6);
    EXPECT_EQ(thumb.left, 0);
    EXPECT_EQ(thumb.right, 12);
    EXPECT_EQ(ThumbBox(h, kThumbWidth, 194).right, 200);  // both ends reachable

    const SliderLayout low = LayoutSlider(100, 12, false, kThumbWidth);
    EXPECT_EQ(low.thumbCrossStart, 0);
    EXPECT_EQ(low.thumbCrossEnd, 12);

    const SliderLayout v = LayoutSlider(20, 100, true, kThumbWidth);
    EXPECT_EQ(v.track.top, 5);
    EXPECT_EQ(v.track.bottom, 95);
    EXPECT_EQ(v.track.right - v.track.left, 3);
    EXPECT_EQ(v.axis.length, 88);

    EXPECT_TRUE(LayoutSlider(11, 20, false, kThumbWidth).tooSmall);
    EXPECT_TRUE(LayoutSlider(100, 2, false, kThumbWidth).tooSmall);
    EXPECT_TRUE(LayoutSlider(20, 11, true, kThumbWidth).tooSmall);
}

TEST(SliderScaleTest, FineDragStepsDigitTargetsAndKeys) {
    EXPECT_EQ(FineDragDelta(1), 1);
    EXPECT_EQ(FineDragDelta(2), 1);
    EXPECT_EQ(FineDragDelta(3), 2);
    EXPECT_EQ(FineDragDelta(0), 0);
    EXPECT_EQ(FineDragDelta(-1), -1);
    EXPECT_EQ(FineDragDelta(-2), -1);
    EXPECT_EQ(FineDragDelta(-3), -2);

    EXPECT_EQ(DigitTarget(0, 1000, 5), 500);
    EXPECT_EQ(DigitTarget(0, 1000, 0), 0);
    EXPECT_EQ(DigitTarget(0, 1000, 9), 900);
    EXPECT_EQ(DigitTarget(-250, 250, 5), 0);
    EXPECT_EQ(DigitTarget(1, 11000, 9), 9900);
    EXPECT_EQ(DigitTarget(INT32_MIN, INT32_MAX, 5), -1);  // 64-bit product

    struct Row {
        UINT key;
        int horizontal;
        int vertical;
    };
    const Row rows[] = {
        {0x21, 3, 2}, {0x22, 2, 3}, {0x23, 7, 7}, {0x24, 6, 6}, {0x25, 0, 0}, {0x72, 0, 0},
        {0x27, 1, 1}, {0x78, 1, 1}, {0x26, 1, 0}, {0x28, 0, 1}, {0x1B, -1, -1}, {0x35, -1, -1},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(KeyScrollCode(r.key, false), r.horizontal) << r.key;
        EXPECT_EQ(KeyScrollCode(r.key, true), r.vertical) << r.key;
    }
}

}  // namespace
}  // namespace tw
