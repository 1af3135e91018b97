// The voices following the parameters whose values changed, one bit a
// parameter, for the editions that collect changes on any thread and let
// the audio thread drain them before a block.
#pragma once

#include <atomic>
#include <bit>
#include <cstdint>

#include "core/Parameters.h"
#include "engine/SynthEngine.h"

namespace veltrosa {

inline constexpr uint64_t kAllParametersMask = (uint64_t{1} << kNumParams) - 1;

inline void followChangedValues(SynthEngine& engine, std::atomic<uint64_t>& changedMask) noexcept {
    uint64_t changed = changedMask.exchange(0, std::memory_order_acq_rel);
    if (changed == kAllParametersMask) {
        engine.updateVoices(kAllParametersChanged);
        return;
    }
    while (changed != 0) {
        const int index = std::countr_zero(changed);
        changed &= changed - 1;
        engine.updateVoices(index);
    }
}

}  // namespace veltrosa
