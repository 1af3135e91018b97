#include "Files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Failure.h"

namespace render {

namespace {

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
    throw Failure(kExitOutput, "cannot write " + path + ": " + reason);
}

mode_t creationMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

std::vector<unsigned char> readWholeFile(const std::string& path, ExitStatus status, const char* what) {
    const std::string failure = std::string("cannot read ") + what + " " + path + ": ";
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw Failure(status, failure + "is a directory");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Failure(status, failure + std::strerror(errno));
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw Failure(status, failure + "read error");
    return bytes;
}

OutputFile::OutputFile(const std::string& path) : path_(path) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    if (target.filename().empty())
        fail(path, "not a file name");
    std::error_code ec;
    if (fs::is_directory(target, ec))
        fail(path, "is a directory");
    fs::path dir = target.parent_path();
    if (dir.empty())
        dir = ".";
    std::string pattern = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = ::mkstemp(name.data());
    if (fd_ < 0)
        fail(path, std::strerror(errno));
    temporary_ = name.data();
    // mkstemp makes it private; the finished file gets the usual permissions.
    ::fchmod(fd_, creationMode());
}

OutputFile::~OutputFile() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
}

void OutputFile::commit() {
    if (::fsync(fd_) != 0 || ::close(fd_) != 0) {
        fd_ = -1;
        fail(path_, std::strerror(errno));
    }
    fd_ = -1;
    if (::rename(temporary_.c_str(), path_.c_str()) != 0)
        fail(path_, std::strerror(errno));
    temporary_.clear();
}

void writeWholeFile(const std::string& path, std::span<const unsigned char> bytes) {
    OutputFile file(path);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(file.fd(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(path, std::strerror(errno));
        done += static_cast<std::size_t>(n);
    }
    file.commit();
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
