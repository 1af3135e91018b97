// The instrument's 48 parameters: their indices and the defaults a new engine
// starts from. Values are raw 0..1 floats, mapped where they are used.
#pragma once

#include <array>
#include <atomic>
#include <bit>
#include <cstdint>

namespace veltrosa {

constexpr int32_t kNumParams = 48;
constexpr int32_t kNumHarmonics = 32;      // indices 0..31
constexpr int32_t kAllParametersChanged = 100;  // parameterChanged code: everything changed

enum Param : int32_t {
    kParamBandwidth = 32,
    kParamUpdate = 33,
    kParamFilterAttack = 34,
    kParamFilterDecay = 35,
    kParamFilterSustain = 36,
    kParamFilterRelease = 37,
    kParamEnvDepth = 38,
    kParamCutoff = 39,
    kParamResonance = 40,
    kParamFilterVelocity = 41,
    kParamAmpAttack = 42,
    kParamAmpDecay = 43,
    kParamAmpSustain = 44,
    kParamAmpRelease = 45,
    kParamAmpVelocity = 46,
    kParamVolume = 47,
};

// Bit patterns, so that every default is exactly the float a saved chunk holds.
constexpr std::array<uint32_t, kNumParams> kDefaultParamBits = {
    0x3F800000, 0x3F800000, 0x00000000, 0x3F111117, 0x3F111117, 0x00000000, 0x00000000, 0x00000000,  // 0-7
    0x00000000, 0x3F333333, 0x3F2EEEE9, 0x00000000, 0x00000000, 0x00000000, 0x00000000, 0x00000000,  // 8-15
    0x3F6AAAB0, 0x3F666666, 0x00000000, 0x00000000, 0x00000000, 0x00000000, 0x3F22221D, 0x3EDDDDD3,  // 16-23
    0x00000000, 0x00000000, 0x3E888894, 0x3E6EEED9, 0x00000000, 0x00000000, 0x00000000, 0x00000000,  // 24-31
    0x3F800000, 0x00000000, 0x3EA147AE, 0x3F0F5C29, 0x3D99999A, 0x3F15C28F, 0x3EB33333, 0x3D3851EC,  // 32-39
    0x00000000, 0x3C23D70A, 0x3D3851EC, 0x3F1AE148, 0x3F133333, 0x3F170A3D, 0x3C23D70A, 0x3E1EB852,  // 40-47
};

constexpr float defaultParam(int32_t index) { return std::bit_cast<float>(kDefaultParamBits[static_cast<std::size_t>(index)]); }

// One value of a live parameter array, as any thread may read it while
// another writes (the array is the engine's; see EngineBase).
inline float loadParam(float* params, int32_t index) {
    return std::atomic_ref<float>(params[index]).load(std::memory_order_relaxed);
}

}  // namespace veltrosa
