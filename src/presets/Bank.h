// The factory presets as data: a plain text file (presets/factory.presets,
// its format described at its top) read into names and the 48 parameter
// values every edition of the instrument shares. Its keys are the parameter
// symbols of core/Parameters.h, and "harmonics" for all 32 harmonics at
// once. Any thread; no plug-in ABI.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/State.h"

namespace veltrosa::presets {

// Longest name the VST 2 program name field carries with its terminator.
constexpr std::size_t kMaxNameLength = 24;

struct Preset {
    std::string name;   // as users see it: "Warm Strings"
    std::string about;  // one line on the sound
    ParameterValues values{};
};

// Parses a bank; on failure nullopt with "line N: reason" in error.
std::optional<std::vector<Preset>> parseBank(std::string_view text, std::string& error);

// The bank built into this program from presets/factory.presets.
const std::vector<Preset>& factoryBank();

// The preset whose name or file name matches, ignoring case; null if none.
const Preset* findPreset(const std::vector<Preset>& bank, std::string_view name);

// "Warm Strings" -> "warm-strings": the name files are given.
std::string fileName(const Preset& preset);

// The preset as the instrument's state.
inline StateBytes chunkOf(const Preset& preset) { return encodeState(preset.values); }

}  // namespace veltrosa::presets
