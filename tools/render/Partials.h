// A picture of what the harmonic bars and the bandwidth make: the magnitude
// spectrum of the wavetable a state generates, built by the instrument's own
// generator in this process.
#pragma once

#include <span>
#include <string>

namespace render {

// chunk: Veltrosa's 192-byte state. Draws level in dB against harmonic
// number (log axis, the 32 harmonic centres marked) into a PNG at path.
// False with the reason in error.
bool writeSpectrumPng(std::span<const unsigned char> chunk, const std::string& path, std::string& error);

}  // namespace render
