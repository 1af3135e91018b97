#include "ui/PolledParameters.h"

#include <bit>

namespace veltrosa {

std::string PolledParameters::parameterName(int32_t index) {
    return index >= 0 && index < kNumParams ? kParams[static_cast<std::size_t>(index)].shortName : "";
}

void PolledParameters::showAll(ControlWindow& editor) {
    for (int32_t i = 0; i < kNumParams; ++i)
        takeAsShown(i);
    editor.refreshControls();
}

void PolledParameters::takeAsShown(int32_t index) {
    if (index >= 0 && index < kNumParams)
        shown_[static_cast<std::size_t>(index)] = std::bit_cast<uint32_t>(parameterValue(index));
}

void PolledParameters::showChanged(ControlWindow& editor) {
    for (int32_t i = 0; i < kNumParams; ++i) {
        const float value = parameterValue(i);
        uint32_t& shown = shown_[static_cast<std::size_t>(i)];
        if (std::bit_cast<uint32_t>(value) != shown) {
            shown = std::bit_cast<uint32_t>(value);
            editor.parameterChanged(i, value);
        }
    }
}

}  // namespace veltrosa
