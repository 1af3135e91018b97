// Voices side by side: the plain state of up to eight voices in lanes, and
// the vector renderers that step them together. Each lane performs the same
// single-precision operations in the same order as Voice::render, so a voice
// sounds bit for bit alike on every path.
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
};

constexpr int32_t kLanes = 8;

// What the vector units know of the voice without its headers; Voice.cpp
// checks them against EnvState, EnvLevel::kFadeStep and Wavetable::kLength.
namespace lane {
constexpr int32_t kIdle = 0, kAttack = 1, kDecay = 2, kSustain = 3, kRelease = 4, kFade = 5;
constexpr float kFadeStep = 0.006f;
constexpr float kTableLength = 65536.0f;
}  // namespace lane

struct OscLanes {
    float position[kLanes], step[kLanes], coef[kLanes], out[kLanes], s1[kLanes], s2[kLanes], s3[kLanes];
};

struct SvfLanes {
    float low[kLanes], band[kLanes], high[kLanes];
};

struct EnvLanes {
    int32_t state[kLanes], releaseDelay[kLanes];
    float level[kLanes], attack[kLanes], decay[kLanes], sustain[kLanes], release[kLanes];
};

// Lane v holds voice v. A lane that takes no part holds a silent, idle voice.
struct VoiceLanes {
    OscLanes oscLeft, oscRight;
    SvfLanes left, right;
    EnvLanes filterEnv, ampEnv;
    float velocitySquared[kLanes], damping[kLanes], cutoffCoef[kLanes];
};

// Renders n frames of the lanes first .. first + width - 1 (width 4 for SSE2,
// 8 for AVX2) and writes each lane's finite contribution frame by frame:
// left[i * width + j] for lane first + j. table has kLength + 1 floats.
void renderLanesSse2(VoiceLanes& lanes, int32_t first, const VoiceParams& p, const float* table, int32_t n,
                     float* left, float* right);
void renderLanesAvx2(VoiceLanes& lanes, const VoiceParams& p, const float* table, int32_t n, float* left,
                     float* right);

// out[i] = 0 + c0[i] + c1[i] + ... in lane order, over the lanes whose bit is
// set in mask, with the contributions laid out as the renderer above left
// them (SSE2: lanes 0-3 in group[0], 4-7 in group[1]; AVX2: all in group[0]);
// a sum that overflowed becomes 0.
void sumLanesSse2(const float* const group[2], uint32_t mask, int32_t n, float* out);
void sumLanesAvx2(const float* group, uint32_t mask, int32_t n, float* out);

}  // namespace veltrosa
