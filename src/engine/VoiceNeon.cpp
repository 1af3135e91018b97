// Four voices per vector (NEON, part of every 64-bit ARM processor), two
// vectors for the eight voices, laid out as the SSE2 path lays them out.
// Audio thread.
//
// GCC writes vmulq_f32 and vaddq_f32 as plain vector arithmetic and, on this
// architecture, would fuse a product and a sum into one rounding; the
// project's -ffp-contract=off keeps every product rounded on its own, as the
// scalar voice rounds it.
#include <arm_neon.h>

#include "engine/VoiceKernel.h"

namespace {

struct Neon {
    using F = float32x4_t;
    using I = int32x4_t;
    using M = uint32x4_t;  // every bit set in a lane that is in
    static constexpr int32_t W = 4;
    static constexpr bool kChannelLanes = false;

    static F loadf(const float* p) { return vld1q_f32(p); }
    static void storef(float* p, F v) { vst1q_f32(p, v); }
    static I loadi(const int32_t* p) { return vld1q_s32(p); }
    static void storei(int32_t* p, I v) { vst1q_s32(p, v); }
    static F set1f(float x) { return vdupq_n_f32(x); }
    static I set1i(int32_t x) { return vdupq_n_s32(x); }
    static F add(F a, F b) { return vaddq_f32(a, b); }
    static F sub(F a, F b) { return vsubq_f32(a, b); }
    static F mul(F a, F b) { return vmulq_f32(a, b); }
    static F xorf(F a, F b) { return bits(veorq_u32(vreinterpretq_u32_f32(a), vreinterpretq_u32_f32(b))); }
    static I andi(I a, I b) { return vandq_s32(a, b); }
    static I subi(I a, I b) { return vsubq_s32(a, b); }
    static I bitsOf(F a) { return vreinterpretq_s32_f32(a); }
    static M greater(F a, F b) { return vcgtq_f32(a, b); }
    static M lessNot(F a, F b) { return vmvnq_u32(vcltq_f32(a, b)); }  // true for NaN, as !(a < b)
    static M greaterNot(F a, F b) { return vmvnq_u32(vcgtq_f32(a, b)); }
    static M greaterEqual(F a, F b) { return vcgeq_f32(a, b); }
    static M cmpeqi(I a, I b) { return vceqq_s32(a, b); }
    static M cmpgti(I a, I b) { return vcgtq_s32(a, b); }
    static M mand(M a, M b) { return vandq_u32(a, b); }
    static M mor(M a, M b) { return vorrq_u32(a, b); }
    static M mandnot(M a, M b) { return vbicq_u32(b, a); }  // b and not a
    static bool any(M m) { return vmaxvq_u32(m) != 0; }
    static uint32_t laneBits(M m) {
        const uint32x4_t weights = {1u, 2u, 4u, 8u};
        return vaddvq_u32(vandq_u32(m, weights));
    }
    static F select(M m, F a, F b) { return vbslq_f32(m, b, a); }
    static I selecti(M m, I a, I b) { return vbslq_s32(m, b, a); }
    static F keep(M m, F x) { return bits(vandq_u32(m, vreinterpretq_u32_f32(x))); }
    static I keepi(M m, I x) { return vandq_s32(vreinterpretq_s32_u32(m), x); }
    static F drop(M m, F x) { return bits(vbicq_u32(vreinterpretq_u32_f32(x), m)); }
    static I dropi(M m, I x) { return vbicq_s32(x, vreinterpretq_s32_u32(m)); }
    static F subWhere(M m, F a, F b) { return vsubq_f32(a, keep(m, b)); }  // a - 0 is a
    static I truncate(F a) { return vcvtq_s32_f32(a); }
    static F toFloat(I a) { return vcvtq_f32_s32(a); }
    static bool allIn(I v, int32_t a, int32_t b) {
        return vminvq_u32(vorrq_u32(vceqq_s32(v, vdupq_n_s32(a)), vceqq_s32(v, vdupq_n_s32(b)))) == 0xFFFFFFFFu;
    }
    // t[k] and t[k + 1] of four lanes: one 64-bit load per lane, then the
    // pairs' first and second floats gathered apart.
    static void readPairs(const float* t, I k, F& lo, F& hi) {
        const F ab = vcombine_f32(vld1_f32(t + vgetq_lane_s32(k, 0)), vld1_f32(t + vgetq_lane_s32(k, 1)));
        const F cd = vcombine_f32(vld1_f32(t + vgetq_lane_s32(k, 2)), vld1_f32(t + vgetq_lane_s32(k, 3)));
        lo = vuzp1q_f32(ab, cd);
        hi = vuzp2q_f32(ab, cd);
    }

private:
    static F bits(M m) { return vreinterpretq_f32_u32(m); }
};

}  // namespace

namespace veltrosa {

void renderLanesNeon(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n, float* left,
                     float* right) {
    renderLanesWith<Neon>(lanes, first, p, table, 0, n, left, right);
}

void sumLanesNeon(const float* const group[2], uint32_t mask, int32_t n, float* out) {
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        float32x4_t sum = vdupq_n_f32(0.0f);
        for (int32_t g = 0; g < 2; ++g) {
            if (((mask >> (4 * g)) & 0xFu) == 0)
                continue;
            // Four frames of four lanes, loaded as four lanes of four frames.
            const float32x4x4_t rows = vld4q_f32(group[g] + i * 4);
            for (int32_t j = 0; j < 4; ++j)
                if (mask & (1u << (4 * g + j)))
                    sum = vaddq_f32(sum, rows.val[j]);
        }
        vst1q_f32(out + i, finiteOrZeroV<Neon>(sum));
    }
    sumFourLanesFrom(i, group, mask, n, out);
}

}  // namespace veltrosa
