// The instrument's 48 parameters, each written once: index, names, symbol,
// default and group. Every edge, the engine's defaults and the editor layout
// read this table. Values are raw 0..1 floats, mapped where they are used.
#pragma once

#include <array>
#include <atomic>
#include <bit>
#include <cstdint>

namespace veltrosa {

constexpr int32_t kNumParams = 48;
constexpr int32_t kNumHarmonics = 32;  // indices 0..31
// Not an index: what the engine's parameterChanged takes for "every value
// changed at once" (a chunk, a rate). 100 because the VST 2 edition's
// dispatcher has always passed that number.
constexpr int32_t kAllParametersChanged = 100;

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

// The groups hosts show parameters in. The bandwidth and Update belong to
// the harmonics: together they make the table.
enum class ParamGroup : int32_t { Harmonics, Filter, Amplifier };

// Level: a setting, automatable. Trigger: a button whose press is an action
// (a new table), springing back to 0, which hosts should not record.
enum class ParamKind : int32_t { Level, Trigger };

struct ParamInfo {
    const char* shortName;  // the VST 2 name: at most 8 characters
    const char* name;       // descriptive, for formats that show more
    const char* symbol;     // LV2 port symbol: C identifier, unique
    uint32_t defaultBits;   // bit pattern, so a default is exactly the float a saved chunk holds
    ParamGroup group;
    ParamKind kind = ParamKind::Level;
};

struct GroupInfo {
    const char* symbol;  // a C identifier: CLAP module, LV2 group symbol
    const char* name;
};

// clang-format off
constexpr std::array<ParamInfo, kNumParams> kParams = {{
    {"Harmo", "Harmonic 1", "harmonic_1", 0x3F800000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 2", "harmonic_2", 0x3F800000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 3", "harmonic_3", 0x00000000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 4", "harmonic_4", 0x3F111117, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 5", "harmonic_5", 0x3F111117, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 6", "harmonic_6", 0x00000000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 7", "harmonic_7", 0x00000000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 8", "harmonic_8", 0x00000000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 9", "harmonic_9", 0x00000000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 10", "harmonic_10", 0x3F333333, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 11", "harmonic_11", 0x3F2EEEE9, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 12", "harmonic_12", 0x00000000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 13", "harmonic_13", 0x00000000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 14", "harmonic_14", 0x00000000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 15", "harmonic_15", 0x00000000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 16", "harmonic_16", 0x00000000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 17", "harmonic_17", 0x3F6AAAB0, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 18", "harmonic_18", 0x3F666666, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 19", "harmonic_19", 0x00000000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 20", "harmonic_20", 0x00000000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 21", "harmonic_21", 0x00000000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 22", "harmonic_22", 0x00000000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 23", "harmonic_23", 0x3F22221D, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 24", "harmonic_24", 0x3EDDDDD3, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 25", "harmonic_25", 0x00000000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 26", "harmonic_26", 0x00000000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 27", "harmonic_27", 0x3E888894, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 28", "harmonic_28", 0x3E6EEED9, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 29", "harmonic_29", 0x00000000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 30", "harmonic_30", 0x00000000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 31", "harmonic_31", 0x00000000, ParamGroup::Harmonics},
    {"Harmo", "Harmonic 32", "harmonic_32", 0x00000000, ParamGroup::Harmonics},
    {"BandW", "Bandwidth", "bandwidth", 0x3F800000, ParamGroup::Harmonics},
    {"Update", "Update", "update", 0x00000000, ParamGroup::Harmonics, ParamKind::Trigger},
    {"Attack", "Filter attack", "filter_attack", 0x3EA147AE, ParamGroup::Filter},
    {"Decay", "Filter decay", "filter_decay", 0x3F0F5C29, ParamGroup::Filter},
    {"Sustain", "Filter sustain", "filter_sustain", 0x3D99999A, ParamGroup::Filter},
    {"Release", "Filter release", "filter_release", 0x3F15C28F, ParamGroup::Filter},
    {"Env Dpth", "Filter envelope depth", "filter_env_depth", 0x3EB33333, ParamGroup::Filter},
    {"Cut", "Filter cutoff", "cutoff", 0x3D3851EC, ParamGroup::Filter},
    {"Res", "Filter resonance", "resonance", 0x00000000, ParamGroup::Filter},
    {"Flt Vel", "Filter velocity", "filter_velocity", 0x3C23D70A, ParamGroup::Filter},
    {"Attack", "Amp attack", "amp_attack", 0x3D3851EC, ParamGroup::Amplifier},
    {"Decay", "Amp decay", "amp_decay", 0x3F1AE148, ParamGroup::Amplifier},
    {"Sustain", "Amp sustain", "amp_sustain", 0x3F133333, ParamGroup::Amplifier},
    {"Release", "Amp release", "amp_release", 0x3F170A3D, ParamGroup::Amplifier},
    {"Amp Vel", "Amp velocity", "amp_velocity", 0x3C23D70A, ParamGroup::Amplifier},
    {"Volume", "Volume", "volume", 0x3E1EB852, ParamGroup::Amplifier},
}};
// clang-format on

inline constexpr std::array<GroupInfo, 3> kGroups = {{
    {"harmonics", "Harmonics"},
    {"filter", "Filter"},
    {"amplifier", "Amplifier"},
}};

// Every value is a raw 0..1 float, in every edition, without a unit.
inline constexpr double kMinValue = 0.0;
inline constexpr double kMaxValue = 1.0;
inline constexpr const char* kValueUnit = "";

constexpr bool isParam(int32_t index) { return index >= 0 && index < kNumParams; }

constexpr const ParamInfo& paramInfo(int32_t index) { return kParams[static_cast<std::size_t>(index)]; }

constexpr const GroupInfo& groupOf(ParamGroup group) { return kGroups[static_cast<std::size_t>(group)]; }

// A trigger counts as pressed above this value.
inline constexpr float kUpdateThreshold = 0.9f;

constexpr bool isTrigger(int32_t index) { return isParam(index) && paramInfo(index).kind == ParamKind::Trigger; }

constexpr bool isAutomatable(int32_t index) { return isParam(index) && !isTrigger(index); }

// A wavetable is built from the harmonics' group: the harmonics and the
// bandwidth, not the trigger that asks for one.
constexpr bool feedsTable(int32_t index) {
    return isParam(index) && !isTrigger(index) && paramInfo(index).group == ParamGroup::Harmonics;
}

// A change of this parameter may call for a new table.
constexpr bool asksForTable(int32_t index) { return feedsTable(index) || isTrigger(index); }

inline constexpr auto kTableSources = [] {
    constexpr int32_t count = [] {
        int32_t n = 0;
        for (int32_t i = 0; i < kNumParams; ++i)
            n += feedsTable(i) ? 1 : 0;
        return n;
    }();
    std::array<int32_t, count> sources{};
    for (int32_t i = 0, n = 0; i < kNumParams; ++i)
        if (feedsTable(i))
            sources[static_cast<std::size_t>(n++)] = i;
    return sources;
}();

constexpr float defaultParam(int32_t index) {
    return std::bit_cast<float>(kParams[static_cast<std::size_t>(index)].defaultBits);
}

// One value of a live parameter array, as any thread may read it while
// another writes (the array is the engine's; see EngineBase).
inline float loadParam(float* params, int32_t index) {
    return std::atomic_ref<float>(params[index]).load(std::memory_order_relaxed);
}

}  // namespace veltrosa
