// Four lanes per vector, the SSE2 lane type of the voice kernel
// (VoiceKernel.h): four voices, or with channel lanes both channels of two.
// Included by the SSE2 unit and, built again with their flags, by the AVX2
// and AVX-512 ones, which render one or two voices with it; internal
// linkage, so no copy built for one instruction set stands in for another.
#pragma once

#if defined(__AVX__)
#include <immintrin.h>
#else
#include <emmintrin.h>
#endif

#include "engine/VoiceKernel.h"

namespace {

// kOne: with channel lanes, only the first voice sounds (lanes 0 and 2), and
// lanes 1 and 3 hold the second read of each of its frames (kPairedReads,
// VoiceKernel.h): one interpolation serves both reads of a frame. What the
// idle second voice's lanes are left holding is finite and unused.
template <bool kChannels, bool kOne = false>
struct Sse2T {
    using F = __m128;
    using I = __m128i;
    using M = __m128;  // every bit set in a lane that is in
    static constexpr int32_t W = 4;
    static constexpr bool kChannelLanes = kChannels;
    static constexpr bool kPairedReads = kOne;

    static F loadHalves(const float* l, const float* r) {
        const F low = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(l)));
        return _mm_loadh_pi(low, reinterpret_cast<const __m64*>(r));
    }
    static I loadHalvesi(const int32_t* l, const int32_t* r) {
        return bitsOf(loadHalves(reinterpret_cast<const float*>(l), reinterpret_cast<const float*>(r)));
    }
    static void storeHalves(float* l, float* r, F v) {
        _mm_storeh_pi(reinterpret_cast<__m64*>(r), v);
        _mm_storel_pi(reinterpret_cast<__m64*>(l), v);
    }
    static void storeHalvesi(int32_t* l, int32_t* r, I v) {
        storeHalves(reinterpret_cast<float*>(l), reinterpret_cast<float*>(r), _mm_castsi128_ps(v));
    }

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
#ifdef __AVX__
    static F select(M m, F a, F b) { return _mm_blendv_ps(a, b, m); }
#else
    static F select(M m, F a, F b) { return _mm_or_ps(_mm_and_ps(m, b), _mm_andnot_ps(m, a)); }
#endif
    static I selecti(M m, I a, I b) { return bitsOf(select(m, _mm_castsi128_ps(a), _mm_castsi128_ps(b))); }
    static F keep(M m, F x) { return _mm_and_ps(m, x); }
    static I keepi(M m, I x) { return _mm_and_si128(_mm_castps_si128(m), x); }
    static F drop(M m, F x) { return _mm_andnot_ps(m, x); }
    static I dropi(M m, I x) { return _mm_andnot_si128(_mm_castps_si128(m), x); }
#ifdef __AVX__
    // A select after the subtraction keeps the reader's position chain short.
    static F subWhere(M m, F a, F b) { return _mm_blendv_ps(a, _mm_sub_ps(a, b), m); }
#else
    static F subWhere(M m, F a, F b) { return _mm_sub_ps(a, _mm_and_ps(m, b)); }  // a - 0 is a
#endif
    static I truncate(F a) { return _mm_cvttps_epi32(a); }
    static F toFloat(I a) { return _mm_cvtepi32_ps(a); }
    static bool allIn(I v, int32_t a, int32_t b) {
        const I in = _mm_or_si128(_mm_cmpeq_epi32(v, _mm_set1_epi32(a)), _mm_cmpeq_epi32(v, _mm_set1_epi32(b)));
        return _mm_movemask_epi8(in) == 0xFFFF;
    }
    // [x0, x0, x2, x2], [x1, x1, x3, x3] and [a0, b0, a2, b2]: a frame's
    // reads side by side (kPairedReads).
    static F firstOfPairs(F x) { return _mm_shuffle_ps(x, x, 0xA0); }
    static F secondOfPairs(F x) { return _mm_shuffle_ps(x, x, 0xF5); }
    static F pairUp(F a, F b) {
        const F t = _mm_shuffle_ps(a, b, 0x88);  // a0 a2 b0 b2
        return _mm_shuffle_ps(t, t, 0xD8);
    }
    // t[k] and t[k + 1] of four lanes: one 64-bit load per lane, then a transpose.
    static void readPairs(const float* t, I k, F& lo, F& hi) {
#if defined(__AVX__) && defined(__x86_64__)
        // The indices leave the vector two at a time, as on AVX2.
        const int64_t at01 = _mm_cvtsi128_si64(k), at23 = _mm_extract_epi64(k, 1);
        const int32_t at[W] = {static_cast<int32_t>(at01), static_cast<int32_t>(at01 >> 32), static_cast<int32_t>(at23),
                               static_cast<int32_t>(at23 >> 32)};
#else
        alignas(16) int32_t at[W];
        _mm_store_si128(reinterpret_cast<__m128i*>(at), k);
#endif
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

using Sse2 = Sse2T<false>;

}  // namespace
