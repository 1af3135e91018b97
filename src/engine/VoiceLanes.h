// Voices side by side: the plain state of voices in lanes, and the renderers
// that step them together. Every renderer is a build of one kernel
// (VoiceKernel.h), the scalar voice its one-lane build, so a voice sounds bit
// for bit alike on every path.
//
// Plain data and declarations only: the vector units are compiled with their
// own instruction-set flags and must share no inline code with the rest.
#pragma once

#include <cstdint>

namespace veltrosa {

// The per-sample parameters, read once per block.
struct VoiceParams {
    float envDepth, cutoff, resonance, filterVelocity, ampVelocity, volume;
};

// How SynthEngine renders its voices.
enum class RenderPath : int32_t {
    Scalar = 0,  // one voice after another: the reference
    Sse2 = 1,    // four voices per vector, two vectors
    Avx2 = 2,    // eight voices per vector
    Avx512 = 3,  // both channels of the eight voices in one vector
    Simd128 = 4,  // WebAssembly: four voices per vector, two vectors, as Sse2
    Neon = 5,     // 64-bit ARM: four voices per vector, two vectors, as Sse2
};

// How the AVX2 and AVX-512 paths read each lane's table pair t[k], t[k + 1]:
// two hardware gathers, or one 64-bit load per lane assembled into vectors by
// shuffles. Both read the same floats, so the output bits are the same; only
// the speed differs by processor (SynthEngine::bestTableRead).
enum class TableRead : int32_t {
    Gather = 0,
    Pairs = 1,
};

constexpr int32_t kLanes = 8;

// What the vector units know of the voice without its headers; Voice.cpp
// checks them against EnvState, EnvLevel::kFadeStep and Wavetable::kLength.
namespace lane {
constexpr int32_t kIdle = 0, kAttack = 1, kDecay = 2, kSustain = 3, kRelease = 4, kFade = 5;
constexpr float kFadeStep = 0.006f;
constexpr float kTableLength = 65536.0f;
}  // namespace lane

template <int32_t N>
struct OscLanesOf {
    float position[N], step[N], coef[N], out[N], s1[N], s2[N], s3[N];
};

template <int32_t N>
struct SvfLanesOf {
    float low[N], band[N], high[N];
};

template <int32_t N>
struct EnvLanesOf {
    int32_t state[N], releaseDelay[N];
    float level[N], attack[N], decay[N], sustain[N], release[N];
};

// Lane v holds voice v. A lane that takes no part holds a silent, idle voice.
template <int32_t N>
struct VoiceLanesOf {
    OscLanesOf<N> oscLeft, oscRight;
    SvfLanesOf<N> left, right;
    EnvLanesOf<N> filterEnv, ampEnv;
    float velocitySquared[N], damping[N], cutoffCoef[N];
};

using VoiceLanes = VoiceLanesOf<kLanes>;
using OscLanes = OscLanesOf<kLanes>;
using SvfLanes = SvfLanesOf<kLanes>;
using EnvLanes = EnvLanesOf<kLanes>;
// A voice on its own: the scalar render is the kernel on one lane.
using VoiceLane = VoiceLanesOf<1>;

// The plain build of the kernel, one voice: n frames, of which those before
// from are silent (the amplitude envelope steps over all n), each frame's
// finite contribution to left[i] and right[i]. n >= from >= 0.
void renderLane(VoiceLane& lane, int32_t from, const VoiceParams& p, const float* table, int32_t n, float* left,
                float* right);

// Renders n frames of the lanes first .. first + width - 1 (width 4 for SSE2,
// 8 for AVX2) and writes each lane's finite contribution frame by frame:
// left[i * width + j] for lane first + j. table has kLength + 1 floats.
void renderLanesSse2(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n, float* left,
                     float* right);
void renderLanesAvx2(VoiceLanes& lanes, const VoiceParams& p, const float* table, int32_t n, float* left, float* right,
                     TableRead read);
// The eight voices, channels in lanes: rows[i * 16 + v] is voice v's left
// contribution to frame i, rows[i * 16 + 8 + v] its right one.
void renderLanesAvx512(VoiceLanes& lanes, const VoiceParams& p, const float* table, int32_t n, float* rows,
                       TableRead read);

// Few voices, channels in lanes as with AVX-512, from lane first on: two
// voices per SSE2 vector, four per AVX2 vector. rows[i * 2h + k] is voice
// first + k's left contribution to frame i, rows[i * 2h + h + k] its right
// one (h = 2 or 4). Sounding voices are packed into the first lanes, so that
// one to four of them cost what they use instead of all eight lanes.
void renderPairSse2(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n, float* rows);
// The same two voices built with AVX2's instructions (still 128-bit vectors);
// renderOneAvx2 renders the first of them only, the second lane being idle:
// its lanes carry the first voice's second read of each frame, and are left
// holding undefined (finite) values.
void renderPairAvx2(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n, float* rows);
void renderOneAvx2(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n, float* rows);
void renderQuadAvx2(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n, float* rows,
                    TableRead read);
// renderPairAvx2, renderOneAvx2 and renderQuadAvx2 built for AVX-512
// processors (with AVX-512VL).
void renderPairAvx512(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n,
                      float* rows);
void renderOneAvx512(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n,
                     float* rows);
void renderQuadAvx512(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n,
                      float* rows, TableRead read);

// out[i] = 0 + c0[i] + c1[i] + ... in lane order, over the lanes whose bit is
// set in mask, with the contributions laid out as the renderer above left
// them (SSE2: lanes 0-3 in group[0], 4-7 in group[1]; AVX2: all in group[0]);
// a sum that overflowed becomes 0.
void sumLanesSse2(const float* const group[2], uint32_t mask, int32_t n, float* out);
void sumLanesAvx2(const float* group, uint32_t mask, int32_t n, float* out);
// Both channels at once, from the rows renderLanesAvx512 left.
void sumLanesAvx512(const float* rows, uint32_t mask, int32_t n, float* outLeft, float* outRight);
// Both channels at once, from the rows renderPairSse2 and renderQuadAvx2 left.
void sumPairsSse2(const float* rows, uint32_t mask, int32_t n, float* outLeft, float* outRight);
void sumQuadsAvx2(const float* rows, uint32_t mask, int32_t n, float* outLeft, float* outRight);
// WebAssembly SIMD128: as the SSE2 pair, the same layout.
void renderLanesSimd128(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n,
                        float* left, float* right);
void sumLanesSimd128(const float* const group[2], uint32_t mask, int32_t n, float* out);
// NEON (64-bit ARM): as the SSE2 pair and SIMD128, the same layout.
void renderLanesNeon(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n, float* left,
                     float* right);
void sumLanesNeon(const float* const group[2], uint32_t mask, int32_t n, float* out);

}  // namespace veltrosa
