// When a wavetable must be built, for the editions that build tables away
// from the audio thread: when a value the table is built from differs, bit
// for bit (so -0 and every NaN count as changes), from what the latest build
// was asked to use, or when "Update" has risen above its threshold. At most
// one build is under way; what changes meanwhile is asked for once after it.
//
// One thread at a time, the audio thread included: no lock, no allocation.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

#include "core/State.h"

namespace veltrosa {

class TableRule {
public:
    // The current table counts as built from built.
    explicit TableRule(const ParameterValues& built) noexcept : requested_(sourcesOf(built)), previous_(requested_) {}

    // Looks at the values as they are now, Update included: true when a
    // build from them should begin (then call begin).
    bool due(const ParameterValues& values) noexcept {
        const bool pressed = values[kParamUpdate] > kUpdateThreshold;
        if (pressed && !updateHeld_)
            updateWanted_ = true;
        updateHeld_ = pressed;
        return !building_ && (updateWanted_ || sourcesOf(values) != requested_);
    }
    // Update was pressed, whether or not its value still shows it (a host
    // may press and release it between two looks).
    void press() noexcept { updateWanted_ = true; }
    // A build from values is being started; abandon() if it could not be.
    void begin(const ParameterValues& values) noexcept {
        previous_ = requested_;
        previousUpdate_ = updateWanted_;
        requested_ = sourcesOf(values);
        updateWanted_ = false;
        building_ = true;
    }
    void abandon() noexcept {
        requested_ = previous_;
        updateWanted_ = updateWanted_ || previousUpdate_;
        building_ = false;
    }
    void finished() noexcept { building_ = false; }
    bool building() const noexcept { return building_; }

private:
    using Sources = std::array<uint32_t, kTableSources.size()>;
    static Sources sourcesOf(const ParameterValues& values) noexcept {
        Sources bits{};
        std::transform(kTableSources.begin(), kTableSources.end(), bits.begin(),
                       [&](int32_t i) { return std::bit_cast<uint32_t>(values[static_cast<std::size_t>(i)]); });
        return bits;
    }

    Sources requested_;
    Sources previous_;
    bool previousUpdate_ = false;
    bool updateHeld_ = false;
    bool updateWanted_ = false;
    bool building_ = false;
};

}  // namespace veltrosa
