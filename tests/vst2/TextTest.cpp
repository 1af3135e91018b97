// The bounded copies behind every text handed to a host.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "vst2/Text.h"

using veltrosa::vst2edge::appendText;
using veltrosa::vst2edge::copyText;

namespace {

constexpr char kSentinel = '\x5A';

std::array<char, 16> sentinelBuffer() {
    std::array<char, 16> buffer;
    buffer.fill(kSentinel);
    return buffer;
}

}  // namespace

TEST(Text, CopyCutsAtTheLimitAndNeverWritesPastIt) {
    struct Case {
        const char* source;
        std::size_t maxLen;
        const char* expected;
    };
    const Case cases[] = {
        {"Default", 10, "Default"},
        {"Env Dpth", 8, "Env Dpth"},
        {"Envelope depth", 8, "Envelope"},
        {"", 8, ""},
        {"abc", 0, ""},
        {"abcdef", 3, "abc"},
    };
    for (const auto& c : cases) {
        auto buffer = sentinelBuffer();
        copyText(buffer.data(), c.source, c.maxLen);
        EXPECT_EQ(std::string(buffer.data()), c.expected) << c.source;
        EXPECT_EQ(buffer[c.maxLen], '\0');
        for (std::size_t i = c.maxLen + 1; i < buffer.size(); ++i)
            EXPECT_EQ(buffer[i], kSentinel) << c.source << " byte " << i;
        // NUL-filled up to the limit.
        for (std::size_t i = std::string(c.expected).size(); i < c.maxLen; ++i)
            EXPECT_EQ(buffer[i], '\0');
    }
}

TEST(Text, AppendKeepsTheBound) {
    struct Case {
        const char* start;
        const char* tail;
        std::size_t maxLen;
        const char* expected;
    };
    const Case cases[] = {
        {"-", "42", 8, "-42"}, {"0.5", "00000", 3, "0.5"}, {"0.", "123", 3, "0.1"},
        {"", "", 5, ""},       {"abc", "de", 5, "abcde"},
    };
    for (const auto& c : cases) {
        auto buffer = sentinelBuffer();
        copyText(buffer.data(), c.start, c.maxLen);
        appendText(buffer.data(), c.tail, c.maxLen);
        EXPECT_EQ(std::string(buffer.data()), c.expected);
        EXPECT_EQ(buffer[c.maxLen], '\0');
        for (std::size_t i = c.maxLen + 1; i < buffer.size(); ++i)
            EXPECT_EQ(buffer[i], kSentinel);
    }
}
