// Eight lanes per vector, the AVX2 lane type of the voice kernel
// (VoiceKernel.h): eight voices, or with channel lanes both channels of four.
// Included by the AVX2 unit and, built again with that unit's flags, by the
// AVX-512 one, which renders three or four voices with it in its 32
// registers; internal linkage, so no copy built for one instruction set
// stands in for the other.
#pragma once

#include <immintrin.h>

#include "engine/VoiceKernel.h"

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
    // Inlined however many lane types share the unit (the AVX-512 one holds two).
    __attribute__((always_inline)) static void readPairs(const float* t, I k, F& lo, F& hi) {
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
            auto index = [&](int32_t lane) __attribute__((always_inline)) {
                return static_cast<int32_t>(at[lane / 2] >> (lane % 2 * 32));
            };
#else
            // A 32-bit build has no 64-bit moves out of a vector.
            alignas(32) int32_t at[W];
            _mm256_store_si256(reinterpret_cast<__m256i*>(at), k);
            auto index = [&](int32_t lane) __attribute__((always_inline)) { return at[lane]; };
#endif
            // t[k_a], t[k_a + 1], t[k_b], t[k_b + 1]
            auto pairs = [&](int32_t a, int32_t b) __attribute__((always_inline)) {
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

}  // namespace
