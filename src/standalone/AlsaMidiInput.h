// An ALSA sequencer input port for keyboards that appear only there: a
// thread of its own reads the sequencer and hands channel messages to the
// audio thread through the lock-free queue.
//
// Threads: open and close on the main thread; the reader on its own.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "standalone/JackInstrument.h"

using snd_seq_t = struct _snd_seq;

namespace veltrosa::standaloneedge {

class AlsaMidiInput {
public:
    AlsaMidiInput() = default;
    ~AlsaMidiInput() { close(); }
    AlsaMidiInput(const AlsaMidiInput&) = delete;
    AlsaMidiInput& operator=(const AlsaMidiInput&) = delete;

    // False with the reason in one line (no sequencer device, for one).
    bool open(const std::string& clientName, JackInstrument::AlsaQueue& queue, std::string& error);
    void close();

private:
    void read(JackInstrument::AlsaQueue& queue);

    snd_seq_t* seq_ = nullptr;
    std::atomic<bool> quit_{false};
    std::thread reader_;
};

}  // namespace veltrosa::standaloneedge
