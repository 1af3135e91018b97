#include "WavFile.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Failure.h"

#include <unistd.h>

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

namespace {

void put16(unsigned char* at, uint32_t v) {
    at[0] = static_cast<unsigned char>(v);
    at[1] = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char* at, uint32_t v) {
    put16(at, v & 0xFFFF);
    put16(at + 2, v >> 16);
}

void writeAt(int fd, const unsigned char* bytes, std::size_t n, off_t at, const std::string& path) {
    for (std::size_t done = 0; done < n;) {
        const ssize_t k = ::pwrite(fd, bytes + done, n - done, at + static_cast<off_t>(done));
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            fail(path, std::strerror(errno));
        done += static_cast<std::size_t>(k);
    }
}

// Float samples are not PCM: their format chunk carries the extension size
// field (18 bytes), and a fact chunk the frame count.
constexpr std::size_t kFloatHeader = 12 + 8 + 18 + 8 + 4 + 8;

}  // namespace

WavWriter::WavWriter(const std::string& path, int sampleRate, SampleFormat format)
    : file_(path), sampleRate_(sampleRate) {
    if (format == SampleFormat::Float) {
        writeFloatHeader();
        return;
    }
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | (format == SampleFormat::Pcm24 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16);
    sndfile_ = sf_open_fd(file_.fd(), SFM_WRITE, &info, SF_FALSE);
    if (sndfile_ == nullptr)
        fail(path, sf_strerror(nullptr));
    // Loud samples clip instead of wrapping round.
    sf_command(sndfile_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

// Sizes are filled in on commit. Written directly: no peak chunk with the
// time of writing, so the same render gives the same file.
void WavWriter::writeFloatHeader() {
    std::array<unsigned char, kFloatHeader> h{};
    unsigned char* p = h.data();
    std::memcpy(p, "RIFF\0\0\0\0WAVEfmt ", 16);
    put32(p + 16, 18);
    put16(p + 20, 3);  // IEEE float
    put16(p + 22, 2);
    put32(p + 24, static_cast<uint32_t>(sampleRate_));
    put32(p + 28, static_cast<uint32_t>(sampleRate_) * 8);
    put16(p + 32, 8);
    put16(p + 34, 32);
    put16(p + 36, 0);  // no extension
    std::memcpy(p + 38, "fact", 4);
    put32(p + 42, 4);
    std::memcpy(p + 50, "data", 4);
    writeAt(file_.fd(), h.data(), h.size(), 0, file_.path());
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
    if (sndfile_ == nullptr) {
        static_assert(std::endian::native == std::endian::little);  // the samples' bytes as the file has them
        const auto bytes = static_cast<uint64_t>(frames_ + frames) * 8;
        if (kFloatHeader + bytes > UINT32_MAX)
            fail(file_.path(), "longer than a WAV file can be");
        writeAt(file_.fd(), reinterpret_cast<const unsigned char*>(interleaved_.data()), interleaved_.size() * 4,
                static_cast<off_t>(kFloatHeader + static_cast<uint64_t>(frames_) * 8), file_.path());
    } else if (sf_writef_float(sndfile_, interleaved_.data(), frames) != frames) {
        fail(file_.path(), sf_strerror(sndfile_));
    }
    frames_ += frames;
}

void WavWriter::commit() {
    // The header's sizes first; only then may the file take its name.
    if (sndfile_ == nullptr) {
        const auto data = static_cast<uint32_t>(frames_ * 8);
        unsigned char riff[4], fact[4], size[4];
        put32(riff, static_cast<uint32_t>(kFloatHeader - 8) + data);
        put32(fact, static_cast<uint32_t>(frames_));
        put32(size, data);
        writeAt(file_.fd(), riff, 4, 4, file_.path());
        writeAt(file_.fd(), fact, 4, 46, file_.path());
        writeAt(file_.fd(), size, 4, 54, file_.path());
    } else {
        const int status = sf_close(sndfile_);
        sndfile_ = nullptr;
        if (status != 0)
            fail(file_.path(), sf_error_number(status));
    }
    file_.commit();
}

}  // namespace render
