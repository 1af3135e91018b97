// Reading whole files, and writing files that appear under their name only
// when complete: written to a temporary file in the same directory, renamed
// over the target on commit, removed when abandoned. A failed run never
// leaves a half-written file nor destroys an existing one.
//
// Plus the instrument's state file: the state's bytes, nothing else.
#pragma once

#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/State.h"

namespace veltrosa {

// What went wrong, as one line for the user.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The whole file, or FileError("cannot read <what> <path>: <reason>").
std::vector<unsigned char> readWholeFile(const std::string& path, const char* what);

class OutputFile {
public:
    // Throws FileError when the directory cannot take the file.
    explicit OutputFile(const std::string& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    int fd() const { return fd_; }
    // For writers that take a file name rather than a descriptor.
    const std::string& temporaryPath() const { return temporary_; }
    const std::string& path() const { return path_; }
    // Flushes to disk and renames over the target. Throws FileError.
    void commit();

private:
    std::string path_;
    std::string temporary_;
    int fd_ = -1;
};

// Writes `bytes` to `path` as a whole or not at all; throws FileError.
void writeWholeFile(const std::string& path, std::span<const unsigned char> bytes);

// Throws FileError("cannot read state file ..." or "... is not a state file").
ParameterValues readStateFile(const std::string& path);
void writeStateFile(const std::string& path, const ParameterValues& values);

}  // namespace veltrosa
