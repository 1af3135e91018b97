// Sixteen lanes per vector (AVX-512F): the left channels of the eight voices
// in lanes 0-7, their right channels in lanes 8-15, so one vector carries the
// whole instrument; the envelopes and the filter coefficient, the same for
// both channels of a voice, are computed in both halves alike; three or four
// voices in AVX2's layout (VoiceAvx2Lanes.h). Built with -mavx512f,
// -mavx512vl and -ffp-contract=off, so no multiply and add fuse and every
// operation rounds as the scalar voice's does; only called once the
// processor and the operating system are known to support it. Audio thread.

// GCC 12's AVX-512 header deliberately passes undefined registers to the
// builtins, and its own uninitialized-value warnings then reject them.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include "engine/VoiceAvx2Lanes.h"
#include "engine/VoiceKernel.h"
#include "engine/VoiceSse2Lanes.h"

namespace {

using veltrosa::TableRead;

template <TableRead kRead>
struct Avx512 {
    using F = __m512;
    using I = __m512i;
    using M = __mmask16;
    static constexpr int32_t W = 16;
    static constexpr bool kChannelLanes = true;

    static F loadf(const float* p) { return _mm512_loadu_ps(p); }
    static void storef(float* p, F v) { _mm512_storeu_ps(p, v); }
    static I loadi(const int32_t* p) { return _mm512_loadu_si512(p); }
    static void storei(int32_t* p, I v) { _mm512_storeu_si512(p, v); }
    static F loadHalves(const float* l, const float* r) {
        const __m512 low = _mm512_castps256_ps512(_mm256_loadu_ps(l));
        return _mm512_shuffle_f32x4(low, _mm512_castps256_ps512(_mm256_loadu_ps(r)), 0x44);
    }
    static I loadHalvesi(const int32_t* l, const int32_t* r) {
        return bitsOf(loadHalves(reinterpret_cast<const float*>(l), reinterpret_cast<const float*>(r)));
    }
    static void storeHalves(float* l, float* r, F v) {
        _mm256_storeu_ps(r, _mm512_castps512_ps256(_mm512_shuffle_f32x4(v, v, 0xEE)));
        _mm256_storeu_ps(l, _mm512_castps512_ps256(v));
    }
    static void storeHalvesi(int32_t* l, int32_t* r, I v) {
        storeHalves(reinterpret_cast<float*>(l), reinterpret_cast<float*>(r), _mm512_castsi512_ps(v));
    }
    static F set1f(float x) { return _mm512_set1_ps(x); }
    static I set1i(int32_t x) { return _mm512_set1_epi32(x); }
    static F add(F a, F b) { return _mm512_add_ps(a, b); }
    static F sub(F a, F b) { return _mm512_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm512_mul_ps(a, b); }
    static F xorf(F a, F b) { return _mm512_castsi512_ps(_mm512_xor_si512(bitsOf(a), bitsOf(b))); }
    static I andi(I a, I b) { return _mm512_and_si512(a, b); }
    static I subi(I a, I b) { return _mm512_sub_epi32(a, b); }
    static I bitsOf(F a) { return _mm512_castps_si512(a); }
    static M greater(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_GT_OQ); }
    static M lessNot(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_NLT_UQ); }
    static M greaterNot(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_NGT_UQ); }
    static M greaterEqual(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_GE_OQ); }
    static M cmpeqi(I a, I b) { return _mm512_cmpeq_epi32_mask(a, b); }
    static M cmpgti(I a, I b) { return _mm512_cmpgt_epi32_mask(a, b); }
    static M mand(M a, M b) { return _mm512_kand(a, b); }
    static M mor(M a, M b) { return _mm512_kor(a, b); }
    static M mandnot(M a, M b) { return _mm512_kandn(a, b); }
    static bool any(M m) { return m != 0; }
    static uint32_t laneBits(M m) { return m; }
    static F select(M m, F a, F b) { return _mm512_mask_blend_ps(m, a, b); }
    static I selecti(M m, I a, I b) { return _mm512_mask_blend_epi32(m, a, b); }
    static F keep(M m, F x) { return _mm512_maskz_mov_ps(m, x); }
    static I keepi(M m, I x) { return _mm512_maskz_mov_epi32(m, x); }
    static F drop(M m, F x) { return _mm512_maskz_mov_ps(_mm512_knot(m), x); }
    static I dropi(M m, I x) { return _mm512_maskz_mov_epi32(_mm512_knot(m), x); }
    static F subWhere(M m, F a, F b) { return _mm512_mask_sub_ps(a, m, a, b); }
    static I truncate(F a) { return _mm512_cvttps_epi32(a); }
    static F toFloat(I a) { return _mm512_cvtepi32_ps(a); }
    static bool allIn(I v, int32_t a, int32_t b) {
        return _mm512_kor(_mm512_cmpeq_epi32_mask(v, set1i(a)), _mm512_cmpeq_epi32_mask(v, set1i(b))) == 0xFFFF;
    }
    // As on AVX2 (VoiceAvx2.cpp): gathers where they are cheap, else one
    // 64-bit load per lane and shuffles (never timed on an AVX-512 processor:
    // chosen for AMD ones on the AVX2 path's measurements).
    __attribute__((always_inline)) static void readPairs(const float* t, I k, F& lo, F& hi) {
        if constexpr (kRead == TableRead::Gather) {
            lo = _mm512_i32gather_ps(k, t, 4);
            hi = _mm512_i32gather_ps(k, t + 1, 4);
        } else {
            alignas(64) int32_t at[W];
            _mm512_store_si512(at, k);
            auto pairs = [&](int32_t a) __attribute__((always_inline)) {  // lanes a and a + 1
                const __m128 x = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(t + at[a])));
                return _mm_loadh_pi(x, reinterpret_cast<const __m64*>(t + at[a + 1]));
            };
            // Lanes 0, 1 | 4, 5 | 8, 9 | 12, 13 and 2, 3 | 6, 7 | ..., so
            // that one in-lane shuffle puts each quarter in order.
            auto quarters = [&](int32_t a) __attribute__((always_inline)) {
                F v = _mm512_castps128_ps512(pairs(a));
                v = _mm512_insertf32x4(v, pairs(a + 4), 1);
                v = _mm512_insertf32x4(v, pairs(a + 8), 2);
                return _mm512_insertf32x4(v, pairs(a + 12), 3);
            };
            const F x = quarters(0), y = quarters(2);
            lo = _mm512_shuffle_ps(x, y, 0x88);
            hi = _mm512_shuffle_ps(x, y, 0xDD);
        }
    }
};

// Sixteen rows of sixteen floats turned into sixteen columns.
void transpose16(__m512 r[16]) {
    __m512 t[16], u[16];
    for (int32_t j = 0; j < 16; j += 2) {
        t[j] = _mm512_unpacklo_ps(r[j], r[j + 1]);
        t[j + 1] = _mm512_unpackhi_ps(r[j], r[j + 1]);
    }
    for (int32_t j = 0; j < 16; j += 4) {
        u[j] = _mm512_shuffle_ps(t[j], t[j + 2], 0x44);
        u[j + 1] = _mm512_shuffle_ps(t[j], t[j + 2], 0xEE);
        u[j + 2] = _mm512_shuffle_ps(t[j + 1], t[j + 3], 0x44);
        u[j + 3] = _mm512_shuffle_ps(t[j + 1], t[j + 3], 0xEE);
    }
    // u[4q + c] holds, in each 128-bit block b, rows 4q..4q+3 of column 4b + c.
    for (int32_t j = 0; j < 4; ++j) {
        t[j] = _mm512_shuffle_f32x4(u[j], u[j + 4], 0x88);      // blocks 0, 2 of rows 0-7
        t[j + 4] = _mm512_shuffle_f32x4(u[j], u[j + 4], 0xDD);  // blocks 1, 3
        t[j + 8] = _mm512_shuffle_f32x4(u[j + 8], u[j + 12], 0x88);
        t[j + 12] = _mm512_shuffle_f32x4(u[j + 8], u[j + 12], 0xDD);
    }
    for (int32_t j = 0; j < 4; ++j) {
        r[j] = _mm512_shuffle_f32x4(t[j], t[j + 8], 0x88);
        r[j + 4] = _mm512_shuffle_f32x4(t[j + 4], t[j + 12], 0x88);
        r[j + 8] = _mm512_shuffle_f32x4(t[j], t[j + 8], 0xDD);
        r[j + 12] = _mm512_shuffle_f32x4(t[j + 4], t[j + 12], 0xDD);
    }
}

}  // namespace

namespace veltrosa {

void renderLanesAvx512(VoiceLanes& lanes, const VoiceParams& p, const float* table, int32_t n, float* rows,
                       TableRead read) {
    if (read == TableRead::Pairs)
        renderLanesWith<Avx512<TableRead::Pairs>>(lanes, 0, p, table, 0, n, rows, nullptr);
    else
        renderLanesWith<Avx512<TableRead::Gather>>(lanes, 0, p, table, 0, n, rows, nullptr);
}

// One to four voices in the AVX2 unit's layouts: the same operations, with
// 32 registers instead of 16, so the frame loop keeps more of its state out
// of memory (one voice 1.5 % faster, two 3 %, four 16 %).
void renderPairAvx512(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n,
                      float* rows) {
    renderLanesWith<Sse2T<true>>(lanes, first, p, table, 0, n, rows, nullptr);
}

void renderOneAvx512(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n,
                     float* rows) {
    renderLanesWith<Sse2T<true, true>>(lanes, first, p, table, 0, n, rows, nullptr);
}

void renderQuadAvx512(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n,
                      float* rows, TableRead read) {
    if (read == TableRead::Pairs)
        renderLanesWith<Avx2<TableRead::Pairs, true>>(lanes, first, p, table, 0, n, rows, nullptr);
    else
        renderLanesWith<Avx2<TableRead::Gather, true>>(lanes, first, p, table, 0, n, rows, nullptr);
}

void sumLanesAvx512(const float* rows, uint32_t mask, int32_t n, float* outLeft, float* outRight) {
    int32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m512 r[16];
        for (int32_t j = 0; j < 16; ++j)
            r[j] = _mm512_loadu_ps(rows + (i + j) * 16);
        transpose16(r);  // r[v]: voice v's left channel over 16 frames, r[8 + v] its right one
        __m512 left = _mm512_setzero_ps(), right = _mm512_setzero_ps();
        for (int32_t v = 0; v < kLanes; ++v) {
            if (mask & (1u << v)) {
                left = _mm512_add_ps(left, r[v]);
                right = _mm512_add_ps(right, r[kLanes + v]);
            }
        }
        _mm512_storeu_ps(outLeft + i, finiteOrZeroV<Avx512<TableRead::Gather>>(left));
        _mm512_storeu_ps(outRight + i, finiteOrZeroV<Avx512<TableRead::Gather>>(right));
    }
    sumRowsFrom(i, rows, kLanes, mask, n, outLeft, outRight);
}

}  // namespace veltrosa
