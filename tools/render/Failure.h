// How the renderer gives up: one line for the user and the exit status that
// classifies it (documented in --help).
#pragma once

#include <stdexcept>
#include <string>

namespace render {

enum ExitStatus : int {
    kExitOk = 0,
    kExitFailure = 1,  // anything not classified below
    kExitUsage = 2,    // unknown option, bad or missing argument
    kExitPlugin = 3,   // plug-in missing, unloadable or unusable
    kExitMidi = 4,     // MIDI file missing or unreadable
    kExitState = 5,    // state file missing, unreadable or rejected
    kExitOutput = 6,   // output or state file could not be written
    kExitInterrupted = 130,
};

class Failure : public std::runtime_error {
public:
    Failure(ExitStatus status, const std::string& message) : std::runtime_error(message), status_(status) {}
    ExitStatus status() const { return status_; }

private:
    ExitStatus status_;
};

}  // namespace render
