#include "editor/number_format.h"

#include <algorithm>
#include <vector>

namespace tw {

namespace {

size_t Length(const WCHAR* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

bool StartsWith(const WCHAR* text, const WCHAR* prefix) {
    const size_t n = Length(prefix);
    if (n == 0) return false;
    for (size_t i = 0; i < n; ++i) {
        if (text[i] != prefix[i]) return false;
    }
    return true;
}

bool IsDigit(WCHAR c) { return c >= '0' && c <= '9'; }
bool IsBlank(WCHAR c) { return c == ' ' || c == '\t' || c == 0xA0; }

WString GroupDigits(const WString& digits, const NumberSymbols& symbols) {
    // Cut group sizes off the right end, then join the pieces most significant first.
    std::vector<WString> pieces;
    size_t end = digits.size();
    for (int index = 0; end > 0; ++index) {
        size_t size = end;
        if (index < symbols.groupCount) {
            size = symbols.groups[index];
        } else if (symbols.repeatLast && symbols.groupCount > 0) {
            size = symbols.groups[symbols.groupCount - 1];
        }
        if (size == 0 || size > end) size = end;
        pieces.push_back(digits.substr(end - size, size));
        end -= size;
    }
    WString out;
    for (size_t i = pieces.size(); i-- > 0;) {
        out += pieces[i];
        if (i > 0) out += symbols.thousand;
    }
    return out;
}

}  // namespace

NumberSymbols UsNumberSymbols() { return NumberSymbols{}; }

void SetGrouping(NumberSymbols* symbols, const WCHAR* grouping) {
    symbols->groupCount = 0;
    symbols->repeatLast = false;
    int value = -1;
    for (const WCHAR* p = grouping;; ++p) {
        if (IsDigit(*p)) {
            value = (value < 0 ? 0 : value * 10) + (*p - '0');
            continue;
        }
        if (value == 0) {
            // A closing 0 repeats the size before it.
            symbols->repeatLast = symbols->groupCount > 0;
            break;
        }
        if (value > 0 && symbols->groupCount < 8) {
            symbols->groups[symbols->groupCount++] = static_cast<BYTE>(std::min(value, 9));
        }
        value = -1;
        if (*p == 0) break;
    }
}

#ifdef _WIN32
NumberSymbols UserNumberSymbols() {
    NumberSymbols symbols = UsNumberSymbols();
    WCHAR buffer[16];
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, 4) > 1) {
        std::copy(buffer, buffer + 4, symbols.decimal);
    }
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, buffer, 4) > 0) {
        std::copy(buffer, buffer + 4, symbols.thousand);
    }
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SGROUPING, buffer, 16) > 0) {
        SetGrouping(&symbols, buffer);
    }
    return symbols;
}
#endif

WString FormatFixed(int64_t scaled, int decimals, const NumberSymbols& symbols) {
    decimals = std::clamp(decimals, 0, 9);
    int64_t unit = 1;
    for (int i = 0; i < decimals; ++i) unit *= 10;
    // Magnitude as unsigned so that the most negative value survives.
    const uint64_t magnitude = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
    uint64_t whole = magnitude / static_cast<uint64_t>(unit);
    uint64_t fraction = magnitude % static_cast<uint64_t>(unit);

    WString digits;
    do {
        digits.insert(digits.begin(), static_cast<WCHAR>('0' + whole % 10));
        whole /= 10;
    } while (whole);

    WString out;
    if (scaled < 0) out += static_cast<WCHAR>('-');
    out += GroupDigits(digits, symbols);
    if (decimals > 0) {
        WString frac(static_cast<size_t>(decimals), static_cast<WCHAR>('0'));
        for (int i = decimals - 1; i >= 0; --i) {
            frac[static_cast<size_t>(i)] = static_cast<WCHAR>('0' + fraction % 10);
            fraction /= 10;
        }
        out += symbols.decimal;
        out += frac;
    }
    return out;
}

WString FormatSplit(LONG wetTenths, const NumberSymbols& symbols) {
    WString out = FormatFixed(1000 - static_cast<int64_t>(wetTenths), 1, symbols);
    out += static_cast<WCHAR>('/');
    out += FormatFixed(wetTenths, 1, symbols);
    return out;
}

bool ParseScaled(const WCHAR* text, const NumberSymbols& symbols, LONG unitsPerOne, LONG* out) {
    if (!text || !out) return false;
    const WCHAR* p = text;
    while (IsBlank(*p)) ++p;
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        ++p;
    }
    constexpr uint64_t kLimit = 1ull << 40;  // far beyond 32 bits: saturates below
    uint64_t whole = 0;
    uint64_t fracNum = 0, fracDen = 1;
    int digits = 0;
    const size_t thousandLen = Length(symbols.thousand);
    const size_t decimalLen = Length(symbols.decimal);
    for (;;) {
        if (IsDigit(*p)) {
            whole = std::min(kLimit, whole * 10 + static_cast<uint64_t>(*p - '0'));
            ++digits;
            ++p;
        } else if (digits > 0 && StartsWith(p, symbols.thousand) && IsDigit(p[thousandLen])) {
            p += thousandLen;
        } else {
            break;
        }
    }
    if (StartsWith(p, symbols.decimal)) {
        p += decimalLen;
        while (IsDigit(*p)) {
            if (fracDen < 1000000000000ull) {
                fracNum = fracNum * 10 + static_cast<uint64_t>(*p - '0');
                fracDen *= 10;
            }
            ++digits;
            ++p;
        }
    }
    while (IsBlank(*p)) ++p;
    if (digits == 0 || *p != 0) return false;

    const uint64_t scale = static_cast<uint64_t>(std::max<LONG>(unitsPerOne, 1));
    const uint64_t magnitude = whole * scale + fracNum * scale / fracDen;
    const int64_t bounded = static_cast<int64_t>(std::min<uint64_t>(magnitude, 1ull << 32));
    const int64_t value = negative ? -bounded : bounded;
    *out = static_cast<LONG>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
    return true;
}

}  // namespace tw
