// The instrument's state: its parameter values in table order as
// little-endian 32-bit floats. The VST 2 chunk, state files, presets and the
// newer editions' saved states are these bytes, so each reads the others'.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <span>

#include "core/Parameters.h"

namespace veltrosa {

using ParameterValues = std::array<float, kNumParams>;
inline constexpr std::size_t kStateBytes = sizeof(float) * kNumParams;
using StateBytes = std::array<unsigned char, kStateBytes>;

constexpr StateBytes encodeState(const ParameterValues& values) {
    StateBytes bytes{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto bits = std::bit_cast<uint32_t>(values[i]);
        for (std::size_t b = 0; b < 4; ++b)
            bytes[4 * i + b] = static_cast<unsigned char>(bits >> (8 * b));
    }
    return bytes;
}

// Nothing unless bytes is exactly one state.
constexpr std::optional<ParameterValues> decodeState(std::span<const unsigned char> bytes) {
    if (bytes.size() != kStateBytes)
        return std::nullopt;
    ParameterValues values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        const unsigned char* b = bytes.data() + 4 * i;
        values[i] = std::bit_cast<float>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                                         static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24);
    }
    return values;
}

// Every value in 0..1, as a sound of ours holds them (NaN is none).
constexpr bool inRange(const ParameterValues& values) {
    for (const float v : values)
        if (!(v >= 0.0f && v <= 1.0f))
            return false;
    return true;
}

// A state as every edition but the VST 2 one takes it (that one takes any
// bytes of the right length): one state's bytes, every value in 0..1.
constexpr std::optional<ParameterValues> decodeSavedState(std::span<const unsigned char> bytes) {
    auto values = decodeState(bytes);
    if (values && !inRange(*values))
        values.reset();
    return values;
}

constexpr ParameterValues defaultValues() {
    ParameterValues values{};
    for (int32_t i = 0; i < kNumParams; ++i)
        values[static_cast<std::size_t>(i)] = defaultParam(i);
    return values;
}

}  // namespace veltrosa
