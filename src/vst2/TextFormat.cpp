#include "vst2/TextFormat.h"

#include <cmath>
#include <cstddef>

#include "vst2/Text.h"

namespace veltrosa::vst2edge {

namespace {

constexpr int kWidth = 8;
constexpr const char* kHuge = "Huge!";

// The digit of a non-negative, finite running value: its units place.
char unitsDigit(double running) { return static_cast<char>('0' + static_cast<int>(std::fmod(running, 10.0))); }

}  // namespace

void formatFloat(float value, char* text, int32_t maxLen) {
    if (text == nullptr || maxLen < 0)
        return;
    const auto limit = static_cast<std::size_t>(maxLen);
    if (std::isnan(value)) {
        copyText(text, "NaN", limit);
        return;
    }
    double v = static_cast<double>(value);
    bool negative = false;
    int count = 0;
    if (v < 0.0) {
        v = -v;
        negative = true;
        count = 1;
        if (v > 9999999.0) {
            copyText(text, kHuge, limit);
            return;
        }
    } else if (v > 99999999.0) {
        copyText(text, kHuge, limit);
        return;
    }

    // Built from the right: NUL, point, units digit, then the higher digits.
    char work[32];
    char* start = work + sizeof work - 1;
    *start = '\0';
    *--start = '.';
    char* const point = start;
    double running = std::floor(v);
    *--start = unitsDigit(running);
    running *= 0.1;
    count += 2;
    // Every integer digit is written, also when they alone exceed the width.
    while (running >= 1.0) {
        *--start = unitsDigit(running);
        running *= 0.1;
        ++count;
    }
    if (negative)
        *--start = '-';
    if (count > kWidth) {
        // Eight digits, or a sign and seven: the point has no place left.
        *point = '\0';
        --count;
    }
    copyText(text, start, limit);
    if (count >= kWidth)
        return;

    const int n = kWidth - count;
    double m = std::fmod(v, 1.0) * std::pow(10.0, n);
    char fraction[kWidth + 1];
    fraction[n] = '\0';
    for (int i = n - 1; i >= 0; --i) {
        if (m <= 0.0) {
            fraction[i] = '0';
        } else {
            fraction[i] = unitsDigit(m);
            m *= 0.1;
        }
    }
    appendText(text, fraction, limit);
}

void formatInt(int32_t value, char* text, int32_t maxLen) {
    if (text == nullptr || maxLen < 0)
        return;
    const auto limit = static_cast<std::size_t>(maxLen);
    // Widened so that the most negative value negates without overflow.
    int64_t rest = value;
    if (rest >= 100000000 || rest <= -1000000000) {
        copyText(text, kHuge, limit);
        return;
    }
    if (rest < 0) {
        copyText(text, "-", limit);
        rest = -rest;
    } else {
        copyText(text, "", limit);
    }
    bool started = false;
    for (int64_t divisor = 100000000; divisor >= 1; divisor /= 10) {
        const int64_t digit = rest / divisor;
        rest -= digit * divisor;
        if (digit > 0 || started || divisor == 1) {
            const char character[2] = {static_cast<char>('0' + digit), '\0'};
            appendText(text, character, limit);
            started = true;
        }
    }
}

void formatDecibels(float amplitude, char* text, int32_t maxLen) {
    if (text == nullptr || maxLen < 0)
        return;
    if (amplitude <= 0.0f) {
        copyText(text, "-oo", static_cast<std::size_t>(maxLen));
        return;
    }
    const auto decibels = static_cast<float>(20.0L * std::log10(static_cast<long double>(amplitude)));
    formatFloat(decibels, text, maxLen);
}

}  // namespace veltrosa::vst2edge
