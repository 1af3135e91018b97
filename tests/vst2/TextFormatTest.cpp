// Numbers as the eight-character texts a parameter display shows, and the
// bound every writer keeps.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "BaseSupport.h"

using base_support::BareEffect;

namespace {

enum class Kind { Float, Int, Decibels, Hertz, Milliseconds };

struct FormatCase {
    Kind kind;
    double input;
    int32_t maxLen;
    float sampleRate;
    const char* expected;
};

constexpr char kSentinel = '\x5A';
constexpr float kRate = 44100.0f;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

void write(BareEffect& effect, const FormatCase& c, char* text) {
    const auto asFloat = static_cast<float>(c.input);
    switch (c.kind) {
    case Kind::Float:
        effect.floatToText(asFloat, text, c.maxLen);
        break;
    case Kind::Int:
        effect.intToText(static_cast<int32_t>(c.input), text, c.maxLen);
        break;
    case Kind::Decibels:
        effect.dbToText(asFloat, text, c.maxLen);
        break;
    case Kind::Hertz:
        effect.hzToText(asFloat, text, c.maxLen);
        break;
    case Kind::Milliseconds:
        effect.msToText(asFloat, text, c.maxLen);
        break;
    }
}

}  // namespace

TEST(TextFormat, NumbersAsDisplayTexts) {
    const FormatCase cases[] = {
        // Eight characters in all, fractions cut off.
        {Kind::Float, 0.0, 8, kRate, "0.000000"},
        {Kind::Float, 0.5, 8, kRate, "0.500000"},
        {Kind::Float, -0.5, 8, kRate, "-0.50000"},
        {Kind::Float, -3.25, 8, kRate, "-3.25000"},
        {Kind::Float, 440.0, 8, kRate, "440.0000"},
        {Kind::Float, 1234.5, 8, kRate, "1234.500"},
        {Kind::Float, 0.123456789, 8, kRate, "0.123456"},
        {Kind::Float, 0.99999994, 8, kRate, "0.999999"},
        {Kind::Float, 1000.0, 8, kRate, "1000.000"},
        {Kind::Float, 1234567.0, 12, kRate, "1234567."},
        {Kind::Float, -123456.0, 12, kRate, "-123456."},
        {Kind::Float, -1.0e7, 8, kRate, "Huge!"},
        {Kind::Float, 1.0e8, 8, kRate, "Huge!"},
        {Kind::Float, kInf, 8, kRate, "Huge!"},
        {Kind::Float, -kInf, 8, kRate, "Huge!"},
        // Integer digits that alone fill the width are written whole, without
        // the point, also where the buffer has room for more.
        {Kind::Float, 12345678.0, 12, kRate, "12345678"},
        {Kind::Float, 10000000.0, 12, kRate, "10000000"},
        {Kind::Float, -1234567.0, 12, kRate, "-1234567"},
        {Kind::Float, -9999999.0, 12, kRate, "-9999999"},
        {Kind::Float, kNaN, 8, kRate, "NaN"},
        // The bound cuts; nothing past it is touched.
        {Kind::Float, 0.5, 3, kRate, "0.5"},
        {Kind::Float, 1234.5, 0, kRate, ""},
        {Kind::Float, 12345678.0, 5, kRate, "12345"},
        {Kind::Decibels, 0.0, 3, kRate, "-oo"},
        // Decibels of an amplitude.
        {Kind::Decibels, 0.5, 8, kRate, "-6.02059"},
        {Kind::Decibels, 1.0, 8, kRate, "0.000000"},
        {Kind::Decibels, 10.0, 8, kRate, "20.00000"},
        {Kind::Decibels, 0.0, 8, kRate, "-oo"},
        {Kind::Decibels, -1.0, 8, kRate, "-oo"},
        // Integers: up to nine places.
        {Kind::Int, 0, 8, kRate, "0"},
        {Kind::Int, 42, 8, kRate, "42"},
        {Kind::Int, -42, 8, kRate, "-42"},
        {Kind::Int, 1000, 8, kRate, "1000"},
        {Kind::Int, 99999999, 8, kRate, "99999999"},
        {Kind::Int, 100000000, 8, kRate, "Huge!"},
        {Kind::Int, std::numeric_limits<int32_t>::max(), 8, kRate, "Huge!"},
        {Kind::Int, -999999999, 12, kRate, "-999999999"},
        {Kind::Int, -1000000000, 12, kRate, "Huge!"},
        {Kind::Int, std::numeric_limits<int32_t>::min(), 12, kRate, "Huge!"},
        {Kind::Int, -42, 2, kRate, "-4"},
        // Periods and durations at the stored sample rate.
        {Kind::Hertz, 0.0, 8, kRate, "0.000000"},
        {Kind::Hertz, 0.0, 8, 0.0f, "0.000000"},
        {Kind::Hertz, 100.0, 8, kRate, "441.0000"},
        {Kind::Milliseconds, 44100.0, 8, kRate, "1000.000"},
        {Kind::Milliseconds, 441.0, 8, kRate, "10.00000"},
        {Kind::Milliseconds, 100.0, 8, 0.0f, "Huge!"},
        {Kind::Milliseconds, 3.0e38, 8, 1.0e-30f, "Huge!"},
    };
    for (const auto& c : cases) {
        BareEffect effect;
        effect.setSampleRate(c.sampleRate);
        std::array<char, 32> buffer;
        buffer.fill(kSentinel);
        write(effect, c, buffer.data());
        const std::string label = "kind " + std::to_string(static_cast<int>(c.kind)) + " input " +
                                  std::to_string(c.input) + " maxLen " + std::to_string(c.maxLen);
        EXPECT_STREQ(buffer.data(), c.expected) << label;
        const auto limit = static_cast<std::size_t>(c.maxLen);
        EXPECT_EQ(buffer[limit], '\0') << label;
        for (std::size_t i = limit + 1; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], kSentinel) << label << ": byte " << i << " touched";
    }
}

TEST(TextFormat, NullTextAndNegativeBoundWriteNothing) {
    BareEffect effect;
    std::array<char, 8> buffer;
    buffer.fill(kSentinel);
    effect.floatToText(1.0f, nullptr, 8);
    effect.intToText(1, nullptr, 8);
    effect.dbToText(1.0f, nullptr, 8);
    effect.hzToText(1.0f, nullptr, 8);
    effect.msToText(1.0f, nullptr, 8);
    effect.floatToText(1.0f, buffer.data(), -1);
    effect.intToText(1, buffer.data(), -1);
    effect.dbToText(0.0f, buffer.data(), -1);
    for (char c : buffer)
        EXPECT_EQ(c, kSentinel);
}
