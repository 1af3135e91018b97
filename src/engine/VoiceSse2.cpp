// Four voices per vector (SSE2, the baseline of every x86 build), two vectors
// for the eight voices; or, for one or two sounding voices, both channels of
// two voices in one vector. Audio thread.
#include "engine/VoiceSse2Lanes.h"

namespace veltrosa {

void renderPairSse2(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n,
                    float* rows) {
    renderLanesWith<Sse2T<true>>(lanes, first, p, table, 0, n, rows, nullptr);
}

void sumPairsSse2(const float* rows, uint32_t mask, int32_t n, float* outLeft, float* outRight) {
    int32_t i = 0;
    if (mask == 1u) {
        // One voice: its contributions are finite already, so each sum is 0
        // plus the contribution, nothing to transpose or test.
        for (; i + 4 <= n; i += 4) {
            const float* at = rows + i * 4;
            const __m128 a = _mm_shuffle_ps(_mm_loadu_ps(at), _mm_loadu_ps(at + 4), 0x88);       // l0 r0 l1 r1
            const __m128 b = _mm_shuffle_ps(_mm_loadu_ps(at + 8), _mm_loadu_ps(at + 12), 0x88);  // l2 r2 l3 r3
            _mm_storeu_ps(outLeft + i, _mm_add_ps(_mm_setzero_ps(), _mm_shuffle_ps(a, b, 0x88)));
            _mm_storeu_ps(outRight + i, _mm_add_ps(_mm_setzero_ps(), _mm_shuffle_ps(a, b, 0xDD)));
        }
    }
    for (; i + 4 <= n; i += 4) {
        // Four frames of [left 0, left 1, right 0, right 1], turned into voices' channels over four frames.
        const float* at = rows + i * 4;
        __m128 r0 = _mm_loadu_ps(at), r1 = _mm_loadu_ps(at + 4), r2 = _mm_loadu_ps(at + 8), r3 = _mm_loadu_ps(at + 12);
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        __m128 left = _mm_setzero_ps(), right = _mm_setzero_ps();
        if (mask & 1u) {
            left = _mm_add_ps(left, r0);
            right = _mm_add_ps(right, r2);
        }
        if (mask & 2u) {
            left = _mm_add_ps(left, r1);
            right = _mm_add_ps(right, r3);
        }
        _mm_storeu_ps(outLeft + i, finiteOrZeroV<Sse2>(left));
        _mm_storeu_ps(outRight + i, finiteOrZeroV<Sse2>(right));
    }
    sumRowsFrom(i, rows, 2, mask, n, outLeft, outRight);
}

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
