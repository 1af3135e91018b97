#include "Files.h"

#include <algorithm>
#include <vector>

#include "Failure.h"

namespace render {

namespace {

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
    throw Failure(kExitOutput, "cannot write " + path + ": " + reason);
}

}  // namespace

std::vector<unsigned char> readWholeFile(const std::string& path, ExitStatus status, const char* what) {
    try {
        return veltrosa::readWholeFile(path, what);
    } catch (const veltrosa::FileError& e) {
        throw Failure(status, e.what());
    }
}

WavWriter::WavWriter(const std::string& path, int sampleRate, SampleFormat format) : file_(path) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | (format == SampleFormat::Float   ? SF_FORMAT_FLOAT
                                   : format == SampleFormat::Pcm24 ? SF_FORMAT_PCM_24
                                                                   : SF_FORMAT_PCM_16);
    sndfile_ = sf_open_fd(file_.fd(), SFM_WRITE, &info, SF_FALSE);
    if (sndfile_ == nullptr)
        fail(path, sf_strerror(nullptr));
    // Integer formats clip loud samples instead of wrapping them round.
    sf_command(sndfile_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // The peak chunk carries the time of writing: without it, the same
    // render gives the same file.
    sf_command(sndfile_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
}

WavWriter::~WavWriter() {
    if (sndfile_ != nullptr)
        sf_close(sndfile_);
}

void WavWriter::write(std::span<const float> left, std::span<const float> right) {
    const std::size_t n = std::min(left.size(), right.size());
    interleaved_.resize(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        interleaved_[2 * i] = left[i];
        interleaved_[2 * i + 1] = right[i];
    }
    const auto frames = static_cast<sf_count_t>(n);
    if (sf_writef_float(sndfile_, interleaved_.data(), frames) != frames)
        fail(file_.path(), sf_strerror(sndfile_));
    frames_ += frames;
}

void WavWriter::commit() {
    // Closing writes the header sizes; only then may the file take its name.
    const int status = sf_close(sndfile_);
    sndfile_ = nullptr;
    if (status != 0)
        fail(file_.path(), sf_error_number(status));
    file_.commit();
}

}  // namespace render
