// Eight voices per vector (AVX2); or, for three or four sounding voices, both
// channels of four voices in one vector. Built with -mavx2 and without fused
// multiply-adds, so every operation rounds as the scalar voice's does; only
// called once the processor is known to have AVX2. Audio thread.
#include <immintrin.h>

#include "engine/VoiceKernel.h"
#include "engine/VoiceSse2Lanes.h"

namespace {

using veltrosa::TableRead;

template <TableRead kRead, bool kChannels = false>
struct Avx2 {
    using F = __m256;
    using I = __m256i;
    using M = __m256;  // every bit set in a lane that is in
    static constexpr int32_t W = 8;
    static constexpr bool kChannelLanes = kChannels;

    static F loadHalves(const float* l, const float* r) {
        return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(l)), _mm_loadu_ps(r), 1);
    }
    static I loadHalvesi(const int32_t* l, const int32_t* r) {
        return bitsOf(loadHalves(reinterpret_cast<const float*>(l), reinterpret_cast<const float*>(r)));
    }
    static void storeHalves(float* l, float* r, F v) {
        _mm_storeu_ps(r, _mm256_extractf128_ps(v, 1));
        _mm_storeu_ps(l, _mm256_castps256_ps128(v));
    }
    static void storeHalvesi(int32_t* l, int32_t* r, I v) {
        storeHalves(reinterpret_cast<float*>(l), reinterpret_cast<float*>(r), _mm256_castsi256_ps(v));
    }

    static F loadf(const float* p) { return _mm256_loadu_ps(p); }
    static void storef(float* p, F v) { _mm256_storeu_ps(p, v); }
    static I loadi(const int32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void storei(int32_t* p, I v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    static F set1f(float x) { return _mm256_set1_ps(x); }
    static I set1i(int32_t x) { return _mm256_set1_epi32(x); }
    static F add(F a, F b) { return _mm256_add_ps(a, b); }
    static F sub(F a, F b) { return _mm256_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm256_mul_ps(a, b); }
    static F xorf(F a, F b) { return _mm256_xor_ps(a, b); }
    static I andi(I a, I b) { return _mm256_and_si256(a, b); }
    static I subi(I a, I b) { return _mm256_sub_epi32(a, b); }
    static I bitsOf(F a) { return _mm256_castps_si256(a); }
    static M greater(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
    static M lessNot(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_NLT_UQ); }
    static M greaterNot(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_NGT_UQ); }
    static M greaterEqual(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GE_OQ); }
    static M cmpeqi(I a, I b) { return _mm256_castsi256_ps(_mm256_cmpeq_epi32(a, b)); }
    static M cmpgti(I a, I b) { return _mm256_castsi256_ps(_mm256_cmpgt_epi32(a, b)); }
    static M mand(M a, M b) { return _mm256_and_ps(a, b); }
    static M mor(M a, M b) { return _mm256_or_ps(a, b); }
    static M mandnot(M a, M b) { return _mm256_andnot_ps(a, b); }
    static bool any(M m) { return _mm256_movemask_ps(m) != 0; }
    static uint32_t laneBits(M m) { return static_cast<uint32_t>(_mm256_movemask_ps(m)); }
    static F select(M m, F a, F b) { return _mm256_blendv_ps(a, b, m); }
    static I selecti(M m, I a, I b) { return _mm256_blendv_epi8(a, b, _mm256_castps_si256(m)); }
    static F keep(M m, F x) { return _mm256_and_ps(m, x); }
    static I keepi(M m, I x) { return _mm256_and_si256(_mm256_castps_si256(m), x); }
    static F drop(M m, F x) { return _mm256_andnot_ps(m, x); }
    static I dropi(M m, I x) { return _mm256_andnot_si256(_mm256_castps_si256(m), x); }
    // A select after the subtraction keeps the reader's position chain short.
    static F subWhere(M m, F a, F b) { return _mm256_blendv_ps(a, _mm256_sub_ps(a, b), m); }
    static I truncate(F a) { return _mm256_cvttps_epi32(a); }
    static F toFloat(I a) { return _mm256_cvtepi32_ps(a); }
    static bool allIn(I v, int32_t a, int32_t b) {
        const I in =
            _mm256_or_si256(_mm256_cmpeq_epi32(v, _mm256_set1_epi32(a)), _mm256_cmpeq_epi32(v, _mm256_set1_epi32(b)));
        return _mm256_movemask_epi8(in) == -1;
    }
    // t[k] and t[k + 1] of eight lanes. Where gathers are cheap (Intel) two
    // of them beat eight 64-bit loads and a transpose; on AMD processors each
    // gathered element costs several times as much, and the loads win.
    static void readPairs(const float* t, I k, F& lo, F& hi) {
        if constexpr (kRead == TableRead::Gather) {
            lo = _mm256_i32gather_ps(t, k, 4);
            hi = _mm256_i32gather_ps(t + 1, k, 4);
        } else {
#if defined(__x86_64__)
            // The indices leave the vector two at a time (a stored vector read
            // back lane by lane measured 13 % slower on the held chord).
            const __m128i k03 = _mm256_castsi256_si128(k), k47 = _mm256_extracti128_si256(k, 1);
            const int64_t at[4] = {_mm_cvtsi128_si64(k03), _mm_extract_epi64(k03, 1), _mm_cvtsi128_si64(k47),
                                   _mm_extract_epi64(k47, 1)};
            auto index = [&](int32_t lane) { return static_cast<int32_t>(at[lane / 2] >> (lane % 2 * 32)); };
#else
            // A 32-bit build has no 64-bit moves out of a vector.
            alignas(32) int32_t at[W];
            _mm256_store_si256(reinterpret_cast<__m256i*>(at), k);
            auto index = [&](int32_t lane) { return at[lane]; };
#endif
            auto pairs = [&](int32_t a, int32_t b) {  // t[k_a], t[k_a + 1], t[k_b], t[k_b + 1]
                const __m128 x = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(t + index(a))));
                return _mm_loadh_pi(x, reinterpret_cast<const __m64*>(t + index(b)));
            };
            // Lanes 0, 1 | 4, 5 and 2, 3 | 6, 7, so that one in-lane shuffle
            // puts each half in order.
            const F x = _mm256_insertf128_ps(_mm256_castps128_ps256(pairs(0, 1)), pairs(4, 5), 1);
            const F y = _mm256_insertf128_ps(_mm256_castps128_ps256(pairs(2, 3)), pairs(6, 7), 1);
            lo = _mm256_shuffle_ps(x, y, 0x88);
            hi = _mm256_shuffle_ps(x, y, 0xDD);
        }
    }
};

// Eight frames of eight lanes, turned into eight lanes of eight frames.
void transpose8(const float* at, __m256 rows[8]) {
    __m256 r[8];
    for (int32_t j = 0; j < 8; ++j)
        r[j] = _mm256_loadu_ps(at + 8 * j);
    const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
    const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
    const __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
    const __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
    const __m256 u0 = _mm256_shuffle_ps(t0, t2, 0x44), u1 = _mm256_shuffle_ps(t0, t2, 0xEE);
    const __m256 u2 = _mm256_shuffle_ps(t1, t3, 0x44), u3 = _mm256_shuffle_ps(t1, t3, 0xEE);
    const __m256 u4 = _mm256_shuffle_ps(t4, t6, 0x44), u5 = _mm256_shuffle_ps(t4, t6, 0xEE);
    const __m256 u6 = _mm256_shuffle_ps(t5, t7, 0x44), u7 = _mm256_shuffle_ps(t5, t7, 0xEE);
    rows[0] = _mm256_permute2f128_ps(u0, u4, 0x20);
    rows[1] = _mm256_permute2f128_ps(u1, u5, 0x20);
    rows[2] = _mm256_permute2f128_ps(u2, u6, 0x20);
    rows[3] = _mm256_permute2f128_ps(u3, u7, 0x20);
    rows[4] = _mm256_permute2f128_ps(u0, u4, 0x31);
    rows[5] = _mm256_permute2f128_ps(u1, u5, 0x31);
    rows[6] = _mm256_permute2f128_ps(u2, u6, 0x31);
    rows[7] = _mm256_permute2f128_ps(u3, u7, 0x31);
}

}  // namespace

namespace veltrosa {

void renderLanesAvx2(VoiceLanes& lanes, const VoiceParams& p, const float* table, int32_t n, float* left, float* right,
                     TableRead read) {
    if (read == TableRead::Pairs)
        renderLanesWith<Avx2<TableRead::Pairs>>(lanes, 0, p, table, 0, n, left, right);
    else
        renderLanesWith<Avx2<TableRead::Gather>>(lanes, 0, p, table, 0, n, left, right);
}

// The SSE2 lane type with this unit's instructions (blends, three operands,
// indices moved out in pairs).
void renderPairAvx2(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n,
                    float* rows) {
    renderLanesWith<Sse2T<true>>(lanes, first, p, table, 0, n, rows, nullptr);
}

void renderOneAvx2(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n, float* rows) {
    renderLanesWith<Sse2T<true, true>>(lanes, first, p, table, 0, n, rows, nullptr);
}

void renderQuadAvx2(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n, float* rows,
                    TableRead read) {
    if (read == TableRead::Pairs)
        renderLanesWith<Avx2<TableRead::Pairs, true>>(lanes, first, p, table, 0, n, rows, nullptr);
    else
        renderLanesWith<Avx2<TableRead::Gather, true>>(lanes, first, p, table, 0, n, rows, nullptr);
}

void sumLanesAvx2(const float* group, uint32_t mask, int32_t n, float* out) {
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m256 rows[8];
        transpose8(group + i * 8, rows);
        __m256 sum = _mm256_setzero_ps();
        for (int32_t j = 0; j < 8; ++j)
            if (mask & (1u << j))
                sum = _mm256_add_ps(sum, rows[j]);
        _mm256_storeu_ps(out + i, finiteOrZeroV<Avx2<TableRead::Gather>>(sum));
    }
    for (; i < n; ++i) {
        float sum = 0.0f;
        for (int32_t v = 0; v < kLanes; ++v)
            if (mask & (1u << v))
                sum += group[i * 8 + v];
        out[i] = finiteOrZeroScalar(sum);
    }
}

void sumQuadsAvx2(const float* rows, uint32_t mask, int32_t n, float* outLeft, float* outRight) {
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m256 r[8];
        transpose8(rows + i * 8, r);  // r[v]: voice v's left channel over eight frames, r[4 + v] its right one
        __m256 left = _mm256_setzero_ps(), right = _mm256_setzero_ps();
        for (int32_t v = 0; v < 4; ++v) {
            if (mask & (1u << v)) {
                left = _mm256_add_ps(left, r[v]);
                right = _mm256_add_ps(right, r[4 + v]);
            }
        }
        _mm256_storeu_ps(outLeft + i, finiteOrZeroV<Avx2<TableRead::Gather>>(left));
        _mm256_storeu_ps(outRight + i, finiteOrZeroV<Avx2<TableRead::Gather>>(right));
    }
    sumRowsFrom(i, rows, 4, mask, n, outLeft, outRight);
}

}  // namespace veltrosa
