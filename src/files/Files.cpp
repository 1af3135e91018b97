#include "files/Files.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrosa {

namespace {

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
    throw FileError("cannot write " + path + ": " + reason);
}

mode_t creationMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

std::vector<unsigned char> readWholeFile(const std::string& path, const char* what) {
    const std::string failure = std::string("cannot read ") + what + " " + path + ": ";
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw FileError(failure + "is a directory");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw FileError(failure + std::strerror(errno));
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw FileError(failure + "read error");
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
    // Appended piece by piece: GCC 12 at -O3 warns (wrongly) about "." + name.
    std::string hidden(".");
    hidden += target.filename().string();
    hidden += ".XXXXXX";
    std::string pattern = (dir / hidden).string();
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

ParameterValues readStateFile(const std::string& path) {
    const auto bytes = readWholeFile(path, "state file");
    if (bytes.size() != kStateBytes)
        throw FileError("cannot read state file " + path + ": it has " + std::to_string(bytes.size()) +
                        " bytes, a state file has " + std::to_string(kStateBytes));
    const auto values = decodeSavedState(bytes);
    if (!values)
        throw FileError("cannot read state file " + path + ": a value in it is not a number from 0 to 1");
    return *values;
}

void writeStateFile(const std::string& path, const ParameterValues& values) {
    writeWholeFile(path, encodeState(values));
}

}  // namespace veltrosa
