// The engine as a JACK client: one MIDI input port, two audio outputs. Every
// JACK MIDI event plays at its frame; messages from the ALSA queue play at
// the start of the next cycle. Program Changes are only passed on, for the
// main thread to choose the sound. Sample-rate changes go to the table builder;
// block sizes are prepared on the notification thread before the first cycle
// of that size.
//
// While JACK freewheels (renders offline), each cycle first waits for a
// table being built.
//
// Threads: open, activate, connect and close on the main thread; process on
// JACK's audio thread (no lock, no allocation, no system call); the other
// callbacks on JACK's notification thread.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <string>
#include <vector>

#include "shell/Instrument.h"
#include "standalone/MidiQueue.h"

namespace veltrosa::standaloneedge {

class JackInstrument {
public:
    enum class OpenResult { Opened, NoServer, Failed };
    using AlsaQueue = MidiQueue<512>;

    explicit JackInstrument(shell::Instrument& shell) : shell_(shell) {}
    ~JackInstrument() { close(); }
    JackInstrument(const JackInstrument&) = delete;
    JackInstrument& operator=(const JackInstrument&) = delete;

    // Registers the client and its ports (JACK may give it another name when
    // the name is taken). The engine takes the server's rate and block size
    // before this returns. Never starts a server.
    OpenResult open(const std::string& clientName, std::string& error);
    bool activate(std::string& error);
    // Failures are warnings, one line each: the instrument plays unconnected.
    void connectMidiFrom(const std::string& port, std::vector<std::string>& warnings);
    void connectAudioTo(const std::vector<std::string>& ports, std::vector<std::string>& warnings);
    void autoConnect(std::vector<std::string>& warnings);
    void close();

    std::string clientName() const;
    bool serverGone() const { return serverGone_.load(std::memory_order_acquire); }
    AlsaQueue& alsaQueue() { return alsa_; }
    // Any thread: the latest Program Change from either input, its number in
    // the low 7 bits above a count of them all (0 before the first), so that
    // the same program twice reads as two choices.
    uint32_t programChanges() const { return programChanges_.load(std::memory_order_acquire); }

private:
    static int process(jack_nframes_t frames, void* self) noexcept;
    static int sampleRateChanged(jack_nframes_t rate, void* self) noexcept;
    static int bufferSizeChanged(jack_nframes_t frames, void* self) noexcept;
    static void freewheelChanged(int starting, void* self) noexcept;
    static void shutdown(jack_status_t code, const char* reason, void* self) noexcept;
    void play(jack_nframes_t frames) noexcept;
    void take(uint8_t status, uint8_t data1, uint8_t data2, int32_t offset) noexcept;
    bool connect(const char* source, const char* destination, std::vector<std::string>& warnings);

    shell::Instrument& shell_;
    jack_client_t* client_ = nullptr;
    jack_port_t* midiIn_ = nullptr;
    jack_port_t* left_ = nullptr;
    jack_port_t* right_ = nullptr;
    AlsaQueue alsa_;
    std::atomic<bool> serverGone_{false};
    std::atomic<uint32_t> programChanges_{0};
};

}  // namespace veltrosa::standaloneedge
