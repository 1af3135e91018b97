// The reference count every object of the edition keeps, 1 from its
// creation; the release that brings it to 0 deletes the object, whose
// destructor is private to all but this class.
#pragma once

#include <atomic>
#include <cstdint>

namespace veltrosa::vst3edge {

class References {
public:
    uint32_t add() { return count_.fetch_add(1, std::memory_order_relaxed) + 1; }
    template <typename Owner>
    uint32_t release(Owner* owner) {
        const uint32_t left = count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0)
            delete owner;
        return left;
    }

private:
    std::atomic<uint32_t> count_{1};
};

}  // namespace veltrosa::vst3edge
