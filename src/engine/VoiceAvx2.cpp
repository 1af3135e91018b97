// Eight voices per vector (AVX2); or, for three or four sounding voices, both
// channels of four voices in one vector. Built with -mavx2 and without fused
// multiply-adds, so every operation rounds as the scalar voice's does; only
// called once the processor is known to have AVX2. Audio thread.
#include <immintrin.h>

#include "engine/VoiceAvx2Lanes.h"
#include "engine/VoiceKernel.h"
#include "engine/VoiceSse2Lanes.h"

namespace {

// Eight frames of eight lanes, turned into eight lanes of eight frames.
__attribute__((always_inline)) inline void transpose8(const float* at, __m256 rows[8]) {
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
