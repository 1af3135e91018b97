// VST 3 preset files (.vstpreset), numbers little-endian:
//
//   'VST3' version=1 classId[32] listOffset(64)   the 48-byte header
//   the chunks' data
//   'List' count  then per chunk: id[4] offset(64) size(64)
//
// classId is the processor's class ID as 32 hex digits, its four words in
// order, which is how hosts print it on Windows (where the bytes are COM's
// GUID) and elsewhere alike. Ours hold one chunk, 'Comp', the component
// state: the controller keeps no state of its own.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace veltrosa::presets {

// The class ID is the caller's: the VST 3 edition owns it, and this library
// serves every edition.
std::vector<unsigned char> writeVstPreset(std::span<const unsigned char> componentState,
                                          std::span<const uint32_t, 4> processorWords);

// VST 3 hosts list a preset under its file's name, so the file is named as
// users know the preset, less what no Windows file name may hold.
std::string vstPresetFileName(std::string_view presetName);

}  // namespace veltrosa::presets
