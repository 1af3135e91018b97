// The standalone program's command line.
#pragma once

#include <string>
#include <vector>

namespace veltrosa::standaloneedge {

enum ExitStatus : int {
    kExitOk = 0,
    kExitFailure = 1,     // anything not classified below
    kExitUsage = 2,       // unknown option, bad or missing argument, unknown preset
    kExitNoServer = 3,    // no JACK server to play through
    kExitServerGone = 4,  // the JACK server went away while playing
    kExitState = 5,       // state file missing, unreadable or not a state file
};

struct Options {
    std::string clientName = "veltrosa";
    bool gui = true;
    bool alsaMidi = false;
    bool programChange = true;  // MIDI Program Change chooses a factory preset
    double scale = 0.0;  // 0: from the display's resolution
    std::string statePath;
    bool saveOnQuit = false;
    std::string preset;
    bool listPresets = false;
    std::vector<std::string> connectMidi;
    std::vector<std::string> connectAudio;  // one or two ports
    bool autoConnect = false;
    bool help = false;
    bool version = false;
};

// Throws UsageError with one line for the user.
Options parseOptions(int argc, char** argv);
const char* helpText();

struct UsageError {
    std::string message;
};

}  // namespace veltrosa::standaloneedge
