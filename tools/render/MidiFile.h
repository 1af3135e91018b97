// Reading a Standard MIDI File into the messages a VST 2 instrument takes.
#pragma once

#include <string>
#include <vector>

#include "Host.h"

namespace render {

struct MidiSequence {
    // Channel messages of every track, merged in time order, with frames
    // taken from the tempo map at the given sample rate. System-exclusive
    // and system messages are left out.
    std::vector<vsthost::TimedMessage> messages;
    int64_t endFrame = 0;  // end of the longest track (its end-of-track event)
};

// Throws Failure(kExitMidi) when the file cannot be read or parsed.
MidiSequence readMidiFile(const std::string& path, double sampleRate);

}  // namespace render
