// The renderer's files: whole files read with its exit statuses, and WAV
// files that appear under their name only when complete.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <sndfile.h>

#include "Failure.h"
#include "files/Files.h"

namespace render {

// The whole file, or Failure(status, "cannot read <what> <path>: <reason>").
std::vector<unsigned char> readWholeFile(const std::string& path, ExitStatus status, const char* what);

// The shared files throw FileError: written files fail with kExitOutput.
using veltrosa::OutputFile;
using veltrosa::writeWholeFile;

enum class SampleFormat { Float, Pcm24, Pcm16 };

// Interleaved stereo WAV: integer samples through libsndfile, floats directly.
class WavWriter {
public:
    WavWriter(const std::string& path, int sampleRate, SampleFormat format);
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    void write(std::span<const float> left, std::span<const float> right);
    void commit();
    int64_t frames() const { return frames_; }

private:
    OutputFile file_;
    void writeFloatHeader();

    SNDFILE* sndfile_ = nullptr;  // none for float samples, written here
    int sampleRate_;
    std::vector<float> interleaved_;
    int64_t frames_ = 0;
};

}  // namespace render
