#include "presets/Vst3PresetFile.h"

#include <cstdio>

namespace veltrosa::presets {

namespace {

constexpr uint64_t kHeaderSize = 48;

void littleEndian(std::vector<unsigned char>& to, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        to.push_back(static_cast<unsigned char>(value >> (8 * i) & 0xFF));
}

// Byte by byte: GCC 12 at -O3 takes a range insert here for an overflow and
// fails the Release build.
void text(std::vector<unsigned char>& to, std::string_view chars) {
    for (char c : chars)
        to.push_back(static_cast<unsigned char>(c));
}

}  // namespace

std::vector<unsigned char> writeVstPreset(std::span<const unsigned char> componentState,
                                          std::span<const uint32_t, 4> processorWords) {
    std::vector<unsigned char> file;
    text(file, "VST3");
    littleEndian(file, 1, 4);
    for (uint32_t word : processorWords) {
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(word));
        text(file, hex);
    }
    littleEndian(file, kHeaderSize + componentState.size(), 8);
    file.insert(file.end(), componentState.begin(), componentState.end());
    text(file, "List");
    littleEndian(file, 1, 4);
    text(file, "Comp");
    littleEndian(file, kHeaderSize, 8);
    littleEndian(file, componentState.size(), 8);
    return file;
}

std::string vstPresetFileName(std::string_view presetName) {
    std::string name(presetName);
    for (char& c : name)
        if (std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos)
            c = '-';
    return name + ".vstpreset";
}

}  // namespace veltrosa::presets
