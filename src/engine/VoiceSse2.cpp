// Four voices per vector (SSE2, the baseline of every x86 build), two vectors
// for the eight voices. Audio thread.
#include <emmintrin.h>

#include "engine/VoiceKernel.h"

namespace {

struct Sse2 {
    using F = __m128;
    using I = __m128i;
    using M = __m128;  // every bit set in a lane that is in
    static constexpr int32_t W = 4;
    static constexpr bool kChannelLanes = false;

    static F loadf(const float* p) { return _mm_loadu_ps(p); }
    static void storef(float* p, F v) { _mm_storeu_ps(p, v); }
    static I loadi(const int32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void storei(int32_t* p, I v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static F set1f(float x) { return _mm_set1_ps(x); }
    static I set1i(int32_t x) { return _mm_set1_epi32(x); }
    static F add(F a, F b) { return _mm_add_ps(a, b); }
    static F sub(F a, F b) { return _mm_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm_mul_ps(a, b); }
    static F xorf(F a, F b) { return _mm_xor_ps(a, b); }
    static I andi(I a, I b) { return _mm_and_si128(a, b); }
    static I subi(I a, I b) { return _mm_sub_epi32(a, b); }
    static I bitsOf(F a) { return _mm_castps_si128(a); }
    static M greater(F a, F b) { return _mm_cmpgt_ps(a, b); }
    static M lessNot(F a, F b) { return _mm_cmpnlt_ps(a, b); }
    static M greaterNot(F a, F b) { return _mm_cmpngt_ps(a, b); }
    static M greaterEqual(F a, F b) { return _mm_cmpge_ps(a, b); }
    static M cmpeqi(I a, I b) { return _mm_castsi128_ps(_mm_cmpeq_epi32(a, b)); }
    static M cmpgti(I a, I b) { return _mm_castsi128_ps(_mm_cmpgt_epi32(a, b)); }
    static M mand(M a, M b) { return _mm_and_ps(a, b); }
    static M mor(M a, M b) { return _mm_or_ps(a, b); }
    static M mandnot(M a, M b) { return _mm_andnot_ps(a, b); }
    static bool any(M m) { return _mm_movemask_ps(m) != 0; }
    static uint32_t laneBits(M m) { return static_cast<uint32_t>(_mm_movemask_ps(m)); }
    static F select(M m, F a, F b) { return _mm_or_ps(_mm_and_ps(m, b), _mm_andnot_ps(m, a)); }
    static I selecti(M m, I a, I b) { return bitsOf(select(m, _mm_castsi128_ps(a), _mm_castsi128_ps(b))); }
    static F keep(M m, F x) { return _mm_and_ps(m, x); }
    static I keepi(M m, I x) { return _mm_and_si128(_mm_castps_si128(m), x); }
    static F drop(M m, F x) { return _mm_andnot_ps(m, x); }
    static I dropi(M m, I x) { return _mm_andnot_si128(_mm_castps_si128(m), x); }
    static F subWhere(M m, F a, F b) { return _mm_sub_ps(a, _mm_and_ps(m, b)); }  // a - 0 is a
    static I truncate(F a) { return _mm_cvttps_epi32(a); }
    static F toFloat(I a) { return _mm_cvtepi32_ps(a); }
    static bool allIn(I v, int32_t a, int32_t b) {
        const I in = _mm_or_si128(_mm_cmpeq_epi32(v, _mm_set1_epi32(a)), _mm_cmpeq_epi32(v, _mm_set1_epi32(b)));
        return _mm_movemask_epi8(in) == 0xFFFF;
    }
    // t[k] and t[k + 1] of four lanes: one 64-bit load per lane, then a transpose.
    static void readPairs(const float* t, I k, F& lo, F& hi) {
        alignas(16) int32_t at[W];
        _mm_store_si128(reinterpret_cast<__m128i*>(at), k);
        const F a = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(t + at[0])));
        const F b = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(t + at[1])));
        const F c = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(t + at[2])));
        const F d = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(t + at[3])));
        const F ab = _mm_unpacklo_ps(a, b);  // a0 b0 a1 b1
        const F cd = _mm_unpacklo_ps(c, d);  // c0 d0 c1 d1
        lo = _mm_movelh_ps(ab, cd);
        hi = _mm_movehl_ps(cd, ab);
    }
};

}  // namespace

namespace veltrosa {

void renderLanesSse2(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n, float* left,
                     float* right) {
    renderLanesWith<Sse2>(lanes, first, p, table, 0, n, left, right);
}

void sumLanesSse2(const float* const group[2], uint32_t mask, int32_t n, float* out) {
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        __m128 sum = _mm_setzero_ps();
        for (int32_t g = 0; g < 2; ++g) {
            if (((mask >> (4 * g)) & 0xFu) == 0)
                continue;
            // Four frames of four lanes, turned into four lanes of four frames.
            const float* at = group[g] + i * 4;
            __m128 r0 = _mm_loadu_ps(at), r1 = _mm_loadu_ps(at + 4), r2 = _mm_loadu_ps(at + 8),
                   r3 = _mm_loadu_ps(at + 12);
            _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
            const __m128 rows[4] = {r0, r1, r2, r3};
            for (int32_t j = 0; j < 4; ++j)
                if (mask & (1u << (4 * g + j)))
                    sum = _mm_add_ps(sum, rows[j]);
        }
        _mm_storeu_ps(out + i, finiteOrZeroV<Sse2>(sum));
    }
    sumFourLanesFrom(i, group, mask, n, out);
}

}  // namespace veltrosa
