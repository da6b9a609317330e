#include "editor/number_format.h"

#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#define W(s) L##s
#else
#define W(s) u##s
#endif

namespace tw {
namespace {

// Readable failure output on both targets.
std::string Narrow(const WString& s) { return std::string(s.begin(), s.end()); }

NumberSymbols German() {
    NumberSymbols s;
    s.decimal[0] = ',';
    s.thousand[0] = '.';
    return s;
}

TEST(NumberFormat, PageDisplaysWithUsSymbols) {
    const NumberSymbols us = UsNumberSymbols();
    EXPECT_EQ(Narrow(FormatFixed(22500, 1, us)), "2,250.0");  // longest delay time
    EXPECT_EQ(Narrow(FormatFixed(11000, 3, us)), "11.000");   // fastest rate
    EXPECT_EQ(Narrow(FormatFixed(1, 3, us)), "0.001");
    EXPECT_EQ(Narrow(FormatFixed(-250, 1, us)), "-25.0");     // no "-Inf." on the page
    EXPECT_EQ(Narrow(FormatFixed(-5, 1, us)), "-0.5");
    EXPECT_EQ(Narrow(FormatFixed(0, 1, us)), "0.0");
    EXPECT_EQ(Narrow(FormatFixed(100, 0, us)), "100");
    EXPECT_EQ(Narrow(FormatFixed(1234567, 0, us)), "1,234,567");
    EXPECT_EQ(Narrow(FormatFixed(-1000, 0, us)), "-1,000");
    EXPECT_EQ(Narrow(FormatFixed(INT64_MIN, 0, us)), "-9,223,372,036,854,775,808");

    EXPECT_EQ(Narrow(FormatSplit(500, us)), "50.0/50.0");
    EXPECT_EQ(Narrow(FormatSplit(300, us)), "70.0/30.0");
    EXPECT_EQ(Narrow(FormatSplit(0, us)), "100.0/0.0");
    EXPECT_EQ(Narrow(FormatSplit(1000, us)), "0.0/100.0");
}

TEST(NumberFormat, OtherLocalesGroupingAndSymbols) {
    EXPECT_EQ(Narrow(FormatFixed(22500, 1, German())), "2.250,0");

    NumberSymbols s = UsNumberSymbols();
    SetGrouping(&s, W("3;2;0"));
    EXPECT_EQ(Narrow(FormatFixed(1234567, 0, s)), "12,34,567");
    SetGrouping(&s, W("3"));
    EXPECT_EQ(Narrow(FormatFixed(1234567, 0, s)), "1234,567");
    SetGrouping(&s, W("3;0"));
    EXPECT_EQ(Narrow(FormatFixed(1234567, 0, s)), "1,234,567");
    SetGrouping(&s, W("0"));
    EXPECT_EQ(Narrow(FormatFixed(1234567, 0, s)), "1234567");

    NumberSymbols spaced = UsNumberSymbols();
    spaced.thousand[0] = 0xA0;  // non-breaking space
    spaced.decimal[0] = ',';
    EXPECT_EQ(FormatFixed(22500, 1, spaced), WString(W("2\u00A0250,0")));
}

TEST(NumberFormat, ParsingTruncatesTowardZeroInTheParameterUnit) {
    const NumberSymbols us = UsNumberSymbols();
    LONG v = 0;
    ASSERT_TRUE(ParseScaled(W("2,250.0"), us, 10, &v));
    EXPECT_EQ(v, 22500);
    ASSERT_TRUE(ParseScaled(W("12.57"), us, 10, &v));
    EXPECT_EQ(v, 125);
    ASSERT_TRUE(ParseScaled(W("-25"), us, 10, &v));
    EXPECT_EQ(v, -250);
    ASSERT_TRUE(ParseScaled(W("-0.0019"), us, 1000, &v));
    EXPECT_EQ(v, -1);
    ASSERT_TRUE(ParseScaled(W("0.3"), us, 10, &v));
    EXPECT_EQ(v, 3);  // exact, no binary rounding
    ASSERT_TRUE(ParseScaled(W(" 7 "), us, 1, &v));
    EXPECT_EQ(v, 7);
    ASSERT_TRUE(ParseScaled(W(".5"), us, 1000, &v));
    EXPECT_EQ(v, 500);
    ASSERT_TRUE(ParseScaled(W("99999999999"), us, 1000, &v));
    EXPECT_EQ(v, INT32_MAX);
    ASSERT_TRUE(ParseScaled(W("-99999999999"), us, 1000, &v));
    EXPECT_EQ(v, INT32_MIN);
    ASSERT_TRUE(ParseScaled(W("2.250,5"), German(), 10, &v));
    EXPECT_EQ(v, 22505);

    v = 42;
    EXPECT_FALSE(ParseScaled(W(""), us, 10, &v));
    EXPECT_FALSE(ParseScaled(W("-"), us, 10, &v));
    EXPECT_FALSE(ParseScaled(W("abc"), us, 10, &v));
    EXPECT_FALSE(ParseScaled(W("1.2.3"), us, 10, &v));
    EXPECT_FALSE(ParseScaled(W("-Inf."), us, 10, &v));
    EXPECT_FALSE(ParseScaled(W("12 dB"), us, 10, &v));
    EXPECT_FALSE(ParseScaled(nullptr, us, 10, &v));
    EXPECT_EQ(v, 42);  // untouched on failure
}

}  // namespace
}  // namespace tw
