// One voice per lane, in plain floats: the build of the kernel every other
// render path must match bit for bit. Compiled with the project's baseline
// flags only. Masks are floats or integers with every bit set.
#include <bit>

#include "engine/Envelope.h"
#include "engine/VoiceKernel.h"

namespace {

struct Scalar {
    using F = float;
    using I = int32_t;
    static constexpr int32_t W = 1;

    static uint32_t bits(F a) { return std::bit_cast<uint32_t>(a); }
    static F fromBits(uint32_t b) { return std::bit_cast<F>(b); }
    static F mask(bool b) { return fromBits(b ? ~0u : 0u); }

    static F loadf(const float* p) { return *p; }
    static void storef(float* p, F v) { *p = v; }
    static I loadi(const int32_t* p) { return *p; }
    static void storei(int32_t* p, I v) { *p = v; }
    static F set1f(float x) { return x; }
    static I set1i(int32_t x) { return x; }
    static F add(F a, F b) { return a + b; }
    static F sub(F a, F b) { return a - b; }
    static F mul(F a, F b) { return a * b; }
    static F subWhere(F m, F a, F b) { return bits(m) != 0 ? a - b : a; }
    static F andf(F a, F b) { return fromBits(bits(a) & bits(b)); }
    static F orf(F a, F b) { return fromBits(bits(a) | bits(b)); }
    static F xorf(F a, F b) { return fromBits(bits(a) ^ bits(b)); }
    static F greater(F a, F b) { return mask(a > b); }
    static bool any(F m) { return bits(m) != 0; }
    static F andnotf(F a, F b) { return fromBits(~bits(a) & bits(b)); }
    static F select(F m, F a, F b) { return bits(m) != 0 ? b : a; }
    static I selecti(I m, I a, I b) { return m != 0 ? b : a; }
    static I andi(I a, I b) { return a & b; }
    static I ori(I a, I b) { return a | b; }
    static I andnoti(I a, I b) { return ~a & b; }
    static I subi(I a, I b) { return a - b; }
    static I cmpeqi(I a, I b) { return a == b ? -1 : 0; }
    static I cmpgti(I a, I b) { return a > b ? -1 : 0; }
    static F lessNot(F a, F b) { return mask(!(a < b)); }
    static F greaterNot(F a, F b) { return mask(!(a > b)); }
    static F greaterEqual(F a, F b) { return mask(a >= b); }
    static I truncate(F a) { return static_cast<int32_t>(a); }  // positions are in [0, length)
    static F toFloat(I a) { return static_cast<float>(a); }
    static F toMask(I a) { return std::bit_cast<F>(a); }
    static I toMaski(F a) { return std::bit_cast<I>(a); }
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
    EnvLane lane{};
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
