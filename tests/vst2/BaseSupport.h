// A bare effect on the base class and a host that records what it is sent,
// for checking the base class's own answers apart from the instrument's.
#pragma once

#include <cstdint>
#include <vector>

#include "vst2/EffectBase.h"

namespace base_support {

struct SentCall {
    vst2::AEffect* effect;
    int32_t opcode;
    int32_t index;
    intptr_t value;
    void* ptr;
    float opt;
};

// The callback carries no context of its own, so the log is process-wide;
// tests reset it before use.
struct RecordingHost {
    static inline std::vector<SentCall> calls;
    static inline intptr_t answer = 0;

    static void reset(intptr_t nextAnswer) {
        calls.clear();
        answer = nextAnswer;
    }
    static intptr_t VSTCALL callback(vst2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                     float opt) {
        calls.push_back({effect, opcode, index, value, ptr, opt});
        return answer;
    }
};

class BareEffect : public veltrosa::vst2edge::EffectBase {
public:
    explicit BareEffect(vst2::HostCallback host = nullptr, int32_t programs = 1, int32_t params = 4)
        : EffectBase(host, programs, params) {}
    void processReplacing(float**, float**, int32_t) override {}
    int32_t flags() const { return effect.flags; }
};

}  // namespace base_support
