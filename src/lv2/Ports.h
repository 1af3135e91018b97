// The LV2 edition's URIs and port layout, shared by the DSP library, the
// UI library and the generator that writes the bundle's descriptions.
#pragma once

#include <cstdint>

#include "core/Parameters.h"

namespace veltrosa::lv2edge {

inline constexpr const char* kPluginUri = "urn:veltrosa:instrument";
inline constexpr const char* kUiUri = "urn:veltrosa:instrument#ui";

// Ports: each parameter at its table index, then MIDI in, the two outputs
// and the host's freewheeling (offline rendering) flag.
inline constexpr uint32_t kMidiInPort = kNumParams;
inline constexpr uint32_t kOutLeftPort = kNumParams + 1;
inline constexpr uint32_t kOutRightPort = kNumParams + 2;
inline constexpr uint32_t kFreeWheelPort = kNumParams + 3;
inline constexpr uint32_t kNumPorts = kNumParams + 4;

}  // namespace veltrosa::lv2edge
