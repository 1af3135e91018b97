// Four voices per vector (WebAssembly SIMD128, the browser edition), two
// vectors for the eight voices, laid out as the SSE2 path lays them out.
// Plain SIMD128 only: relaxed SIMD may round differently from one machine to
// the next. Audio thread.
#include <wasm_simd128.h>

#include "engine/VoiceKernel.h"

namespace {

struct Simd128 {
    using F = v128_t;
    using I = v128_t;
    using M = v128_t;  // every bit set in a lane that is in
    static constexpr int32_t W = 4;
    static constexpr bool kChannelLanes = false;

    static F loadf(const float* p) { return wasm_v128_load(p); }
    static void storef(float* p, F v) { wasm_v128_store(p, v); }
    static I loadi(const int32_t* p) { return wasm_v128_load(p); }
    static void storei(int32_t* p, I v) { wasm_v128_store(p, v); }
    static F set1f(float x) { return wasm_f32x4_splat(x); }
    static I set1i(int32_t x) { return wasm_i32x4_splat(x); }
    static F add(F a, F b) { return wasm_f32x4_add(a, b); }
    static F sub(F a, F b) { return wasm_f32x4_sub(a, b); }
    static F mul(F a, F b) { return wasm_f32x4_mul(a, b); }
    static F xorf(F a, F b) { return wasm_v128_xor(a, b); }
    static I andi(I a, I b) { return wasm_v128_and(a, b); }
    static I subi(I a, I b) { return wasm_i32x4_sub(a, b); }
    static I bitsOf(F a) { return a; }
    static M greater(F a, F b) { return wasm_f32x4_gt(a, b); }
    static M lessNot(F a, F b) { return wasm_v128_not(wasm_f32x4_lt(a, b)); }
    static M greaterNot(F a, F b) { return wasm_v128_not(wasm_f32x4_gt(a, b)); }
    static M greaterEqual(F a, F b) { return wasm_f32x4_ge(a, b); }
    static M cmpeqi(I a, I b) { return wasm_i32x4_eq(a, b); }
    static M cmpgti(I a, I b) { return wasm_i32x4_gt(a, b); }
    static M mand(M a, M b) { return wasm_v128_and(a, b); }
    static M mor(M a, M b) { return wasm_v128_or(a, b); }
    static M mandnot(M a, M b) { return wasm_v128_andnot(b, a); }  // b and not a
    static bool any(M m) { return wasm_v128_any_true(m); }
    static uint32_t laneBits(M m) { return static_cast<uint32_t>(wasm_i32x4_bitmask(m)); }
    static F select(M m, F a, F b) { return wasm_v128_bitselect(b, a, m); }
    static I selecti(M m, I a, I b) { return wasm_v128_bitselect(b, a, m); }
    static F keep(M m, F x) { return wasm_v128_and(m, x); }
    static I keepi(M m, I x) { return wasm_v128_and(m, x); }
    static F drop(M m, F x) { return wasm_v128_andnot(x, m); }
    static I dropi(M m, I x) { return wasm_v128_andnot(x, m); }
    static F subWhere(M m, F a, F b) { return wasm_f32x4_sub(a, wasm_v128_and(m, b)); }  // a - 0 is a
    // Positions lie in [0, length), where saturation never comes into it.
    static I truncate(F a) { return wasm_i32x4_trunc_sat_f32x4(a); }
    static F toFloat(I a) { return wasm_f32x4_convert_i32x4(a); }
    static bool allIn(I v, int32_t a, int32_t b) {
        return wasm_i32x4_all_true(wasm_v128_or(wasm_i32x4_eq(v, wasm_i32x4_splat(a)), wasm_i32x4_eq(v, wasm_i32x4_splat(b))));
    }
    // t[k] and t[k + 1] of four lanes: one 64-bit load per lane, then a transpose.
    static void readPairs(const float* t, I k, F& lo, F& hi) {
        const F a = wasm_v128_load64_zero(t + wasm_i32x4_extract_lane(k, 0));
        const F b = wasm_v128_load64_zero(t + wasm_i32x4_extract_lane(k, 1));
        const F c = wasm_v128_load64_zero(t + wasm_i32x4_extract_lane(k, 2));
        const F d = wasm_v128_load64_zero(t + wasm_i32x4_extract_lane(k, 3));
        const F ab = wasm_i32x4_shuffle(a, b, 0, 4, 1, 5);  // a0 b0 a1 b1
        const F cd = wasm_i32x4_shuffle(c, d, 0, 4, 1, 5);  // c0 d0 c1 d1
        lo = wasm_i32x4_shuffle(ab, cd, 0, 1, 4, 5);
        hi = wasm_i32x4_shuffle(ab, cd, 2, 3, 6, 7);
    }
};

}  // namespace

namespace veltrosa {

void renderLanesSimd128(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n,
                        float* left, float* right) {
    renderLanesWith<Simd128>(lanes, first, p, table, 0, n, left, right);
}

void sumLanesSimd128(const float* const group[2], uint32_t mask, int32_t n, float* out) {
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        v128_t sum = wasm_f32x4_splat(0.0f);
        for (int32_t g = 0; g < 2; ++g) {
            if (((mask >> (4 * g)) & 0xFu) == 0)
                continue;
            // Four frames of four lanes, turned into four lanes of four frames.
            const float* at = group[g] + i * 4;
            const v128_t r0 = wasm_v128_load(at), r1 = wasm_v128_load(at + 4), r2 = wasm_v128_load(at + 8),
                         r3 = wasm_v128_load(at + 12);
            const v128_t t0 = wasm_i32x4_shuffle(r0, r1, 0, 4, 1, 5), t1 = wasm_i32x4_shuffle(r2, r3, 0, 4, 1, 5),
                         t2 = wasm_i32x4_shuffle(r0, r1, 2, 6, 3, 7), t3 = wasm_i32x4_shuffle(r2, r3, 2, 6, 3, 7);
            const v128_t rows[4] = {wasm_i32x4_shuffle(t0, t1, 0, 1, 4, 5), wasm_i32x4_shuffle(t0, t1, 2, 3, 6, 7),
                                    wasm_i32x4_shuffle(t2, t3, 0, 1, 4, 5), wasm_i32x4_shuffle(t2, t3, 2, 3, 6, 7)};
            for (int32_t j = 0; j < 4; ++j)
                if (mask & (1u << (4 * g + j)))
                    sum = wasm_f32x4_add(sum, rows[j]);
        }
        wasm_v128_store(out + i, finiteOrZeroV<Simd128>(sum));
    }
    sumFourLanesFrom(i, group, mask, n, out);
}

}  // namespace veltrosa
