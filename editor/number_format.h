// Locale-aware display and parsing of the page's fixed-point values ("2,250.0", "11.000",
// "70.0/30.0"). The symbols are passed in, so the same code runs and tests on both targets; on
// windows UserNumberSymbols() reads them from the user's locale.
#pragma once

#include "platform/platform.h"

#include <string>

namespace tw {

using WString = std::basic_string<WCHAR>;

struct NumberSymbols {
    WCHAR decimal[4] = {'.', 0, 0, 0};
    WCHAR thousand[4] = {',', 0, 0, 0};
    // Digit-group sizes from the right; with repeatLast the last size repeats to the left,
    // otherwise the digits left of the listed groups stay together.
    BYTE groups[8] = {3};
    int groupCount = 1;
    bool repeatLast = true;
};

// "." and "," with groups of three.
NumberSymbols UsNumberSymbols();

// Reads a grouping string in the locale form "3;0", "3;2;0" or "3" into `symbols`.
void SetGrouping(NumberSymbols* symbols, const WCHAR* grouping);

#ifdef _WIN32
// The current user's decimal and grouping symbols; the US ones where the locale gives none.
NumberSymbols UserNumberSymbols();
#endif

// `scaled` / 10^decimals with exactly `decimals` fraction digits and grouped integer digits.
WString FormatFixed(int64_t scaled, int decimals, const NumberSymbols& symbols);

// Dry/wet pair "dry/wet" of a wet share in tenths of a percent, each with one decimal.
WString FormatSplit(LONG wetTenths, const NumberSymbols& symbols);

// Parses a number written with `symbols` (sign, grouped digits, fraction) and returns it times
// `unitsPerOne`, truncated toward zero and saturated to 32 bits. False when the text is no number.
bool ParseScaled(const WCHAR* text, const NumberSymbols& symbols, LONG unitsPerOne, LONG* out);

}  // namespace tw
