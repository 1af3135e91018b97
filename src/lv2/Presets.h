// The presets the LV2 bundle lists: a name and the 48 parameter values each.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "engine/Parameters.h"

namespace veltrosa::lv2 {

struct Preset {
    std::string name;
    std::array<float, kNumParams> values;
};

inline std::vector<Preset> shippedPresets() {
    Preset preset{"Default", {}};
    for (int32_t i = 0; i < kNumParams; ++i)
        preset.values[static_cast<std::size_t>(i)] = defaultParam(i);
    return {preset};
}

}  // namespace veltrosa::lv2
