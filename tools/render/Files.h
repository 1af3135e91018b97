// Reading whole files, and writing files that appear under their name only
// when complete: written to a
// temporary file in the same directory, renamed over the target on commit,
// removed when abandoned. A failed run never leaves a half-written file nor
// destroys an existing one.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <sndfile.h>

#include "Failure.h"

namespace render {

// The whole file, or Failure(status, "cannot read <what> <path>: <reason>").
std::vector<unsigned char> readWholeFile(const std::string& path, ExitStatus status, const char* what);

class OutputFile {
public:
    // Throws Failure(kExitOutput) when the directory cannot take the file.
    explicit OutputFile(const std::string& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    int fd() const { return fd_; }
    // For writers that take a file name rather than a descriptor.
    const std::string& temporaryPath() const { return temporary_; }
    const std::string& path() const { return path_; }
    // Flushes to disk and renames over the target. Throws on failure.
    void commit();

private:
    std::string path_;
    std::string temporary_;
    int fd_ = -1;
};

// Writes `bytes` to `path` as a whole or not at all.
void writeWholeFile(const std::string& path, std::span<const unsigned char> bytes);

enum class SampleFormat { Float, Pcm24, Pcm16 };

// Interleaved stereo WAV through libsndfile.
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
    SNDFILE* sndfile_ = nullptr;
    std::vector<float> interleaved_;
    int64_t frames_ = 0;
};

}  // namespace render
