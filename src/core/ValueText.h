// A value as text, for formats that let the plug-in write it (an automation
// lane, a host's generic editor): the number the editor's value boxes show,
// whole hundredths of the 0..1 value cut toward zero, so that the lane and
// the editor agree. Typed text reads back by the same rule.
#pragma once

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/Parameters.h"

namespace veltrosa {

// What the editor shows for value.
constexpr int32_t shownNumber(float value) { return static_cast<int32_t>(value * 100.0f); }

// False, with nothing written, for an unknown index, a value outside 0..1 or
// no room.
inline bool formatValue(int32_t index, double value, char* text, std::size_t capacity) {
    if (!isParam(index) || text == nullptr || capacity == 0 || !(value >= kMinValue && value <= kMaxValue))
        return false;
    char digits[8];
    const auto end = std::to_chars(digits, digits + sizeof digits, shownNumber(static_cast<float>(value))).ptr;
    const auto length = static_cast<std::size_t>(end - digits);
    if (length >= capacity)
        return false;
    std::copy(digits, end, text);
    text[length] = '\0';
    return true;
}

// The smallest value the editor shows as the number typed (decimals taken
// as they come: "50.5" is 0.505), surrounding spaces allowed. Nothing for
// text that is not one number, or a number outside 0..100.
inline std::optional<double> parseValue(int32_t index, std::string_view text) {
    if (!isParam(index))
        return std::nullopt;
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double number = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || !(number >= 0.0 && number <= 100.0))
        return std::nullopt;
    const auto whole = static_cast<int32_t>(number);
    if (number != static_cast<double>(whole))
        return number / 100.0;
    // A whole number: the first float the editor shows as it, however the
    // division rounds.
    float value = static_cast<float>(number / 100.0);
    while (value > 0.0f && shownNumber(std::nextafter(value, 0.0f)) == whole)
        value = std::nextafter(value, 0.0f);
    while (shownNumber(value) < whole)
        value = std::nextafter(value, 1.0f);
    return static_cast<double>(value);
}

}  // namespace veltrosa
