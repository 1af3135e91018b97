// One voice per lane, in plain floats: the build of the kernel every other
// render path must match bit for bit. Compiled with the project's baseline
// flags only.
#include <bit>

#include "engine/Envelope.h"
#include "engine/VoiceKernel.h"

namespace {

struct Scalar {
    using F = float;
    using I = int32_t;
    using M = bool;
    static constexpr int32_t W = 1;
    static constexpr bool kChannelLanes = false;

    static F loadf(const float* p) { return *p; }
    static void storef(float* p, F v) { *p = v; }
    static I loadi(const int32_t* p) { return *p; }
    static void storei(int32_t* p, I v) { *p = v; }
    static F set1f(float x) { return x; }
    static I set1i(int32_t x) { return x; }
    static F add(F a, F b) { return a + b; }
    static F sub(F a, F b) { return a - b; }
    static F mul(F a, F b) { return a * b; }
    static F xorf(F a, F b) { return std::bit_cast<F>(std::bit_cast<uint32_t>(a) ^ std::bit_cast<uint32_t>(b)); }
    static I andi(I a, I b) { return a & b; }
    static I subi(I a, I b) { return a - b; }
    static I bitsOf(F a) { return std::bit_cast<I>(a); }
    static M greater(F a, F b) { return a > b; }
    static M lessNot(F a, F b) { return !(a < b); }
    static M greaterNot(F a, F b) { return !(a > b); }
    static M greaterEqual(F a, F b) { return a >= b; }
    static M cmpeqi(I a, I b) { return a == b; }
    static M cmpgti(I a, I b) { return a > b; }
    static M mand(M a, M b) { return a && b; }
    static M mor(M a, M b) { return a || b; }
    static M mandnot(M a, M b) { return !a && b; }
    static bool any(M m) { return m; }
    static uint32_t laneBits(M m) { return m ? 1u : 0u; }
    static F select(M m, F a, F b) { return m ? b : a; }
    static I selecti(M m, I a, I b) { return m ? b : a; }
    static F keep(M m, F x) { return m ? x : 0.0f; }
    static I keepi(M m, I x) { return m ? x : 0; }
    static F drop(M m, F x) { return m ? 0.0f : x; }
    static I dropi(M m, I x) { return m ? 0 : x; }
    static F subWhere(M m, F a, F b) { return m ? a - b : a; }
    static I truncate(F a) { return static_cast<int32_t>(a); }  // positions are in [0, length)
    static F toFloat(I a) { return static_cast<float>(a); }
    static bool allIn(I v, int32_t a, int32_t b) { return v == a || v == b; }
    static void readPairs(const float* t, I k, F& lo, F& hi) {
        lo = t[k];
        hi = t[k + 1];
    }
};

}  // namespace

namespace veltrosa {

void renderLane(VoiceLane& lane, int32_t from, const VoiceParams& p, const float* table, int32_t n, float* left,
                float* right) {
    renderLanesWith<Scalar>(lane, 0, p, table, from, n, left, right);
}

void EnvLevel::step(const EnvRates& r) {
    EnvLanesOf<1> lane{};
    lane.state[0] = static_cast<int32_t>(state);
    lane.releaseDelay[0] = releaseDelay;
    lane.level[0] = level;
    lane.attack[0] = r.attack;
    lane.decay[0] = r.decay;
    lane.sustain[0] = r.sustain;
    lane.release[0] = r.release;
    EnvV<Scalar> env;
    env.load(lane, 0);
    env.step();
    env.store(lane, 0);
    state = static_cast<EnvState>(lane.state[0]);
    releaseDelay = lane.releaseDelay[0];
    level = lane.level[0];
}

}  // namespace veltrosa
