#include "standalone/JackInstrument.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cerrno>


namespace veltrosa::standaloneedge {

namespace {

// libjack reports on stderr by default; the program says what matters in
// its own words, in one line.
extern "C" void quiet(const char*) {}

}  // namespace

JackInstrument::OpenResult JackInstrument::open(const std::string& clientName, std::string& error) {
    close();
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    jack_status_t status{};
    client_ = jack_client_open(clientName.c_str(), JackNoStartServer, &status);
    if (client_ == nullptr) {
        if (status & (JackServerFailed | JackServerError)) {
            error = "no JACK server is running";
            return OpenResult::NoServer;
        }
        error = "the JACK server refused the client '" + clientName + "' (status 0x" +
                std::to_string(static_cast<unsigned>(status)) + ")";
        return OpenResult::Failed;
    }
    midiIn_ = jack_port_register(client_, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    left_ = jack_port_register(client_, "out_left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput | JackPortIsTerminal, 0);
    right_ =
        jack_port_register(client_, "out_right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput | JackPortIsTerminal, 0);
    if (midiIn_ == nullptr || left_ == nullptr || right_ == nullptr) {
        error = "the JACK server refused the ports";
        close();
        return OpenResult::Failed;
    }
    // Taken here, before the first cycle; later changes come through the
    // callbacks.
    if (!shell_.prepare(static_cast<double>(jack_get_sample_rate(client_)),
                        static_cast<int32_t>(jack_get_buffer_size(client_)))) {
        error = "the JACK server's rate is out of range";
        close();
        return OpenResult::Failed;
    }
    jack_set_process_callback(client_, &JackInstrument::process, this);
    jack_set_sample_rate_callback(client_, &JackInstrument::sampleRateChanged, this);
    jack_set_buffer_size_callback(client_, &JackInstrument::bufferSizeChanged, this);
    jack_set_freewheel_callback(client_, &JackInstrument::freewheelChanged, this);
    jack_on_info_shutdown(client_, &JackInstrument::shutdown, this);
    return OpenResult::Opened;
}

bool JackInstrument::activate(std::string& error) {
    if (client_ != nullptr && jack_activate(client_) == 0)
        return true;
    error = "the JACK server would not start the client";
    return false;
}

std::string JackInstrument::clientName() const { return client_ != nullptr ? jack_get_client_name(client_) : ""; }

bool JackInstrument::connect(const char* source, const char* destination, std::vector<std::string>& warnings) {
    const int result = jack_connect(client_, source, destination);
    if (result == 0 || result == EEXIST)
        return true;
    warnings.push_back(std::string("cannot connect ") + source + " to " + destination);
    return false;
}

void JackInstrument::connectMidiFrom(const std::string& port, std::vector<std::string>& warnings) {
    connect(port.c_str(), jack_port_name(midiIn_), warnings);
}

void JackInstrument::connectAudioTo(const std::vector<std::string>& ports, std::vector<std::string>& warnings) {
    if (ports.empty())
        return;
    // One port takes both channels.
    connect(jack_port_name(left_), ports[0].c_str(), warnings);
    connect(jack_port_name(right_), ports[ports.size() > 1 ? 1 : 0].c_str(), warnings);
}

void JackInstrument::autoConnect(std::vector<std::string>& warnings) {
    const auto physical = [this](const char* type, unsigned long direction) {
        std::vector<std::string> names;
        if (const char** ports = jack_get_ports(client_, nullptr, type, JackPortIsPhysical | direction)) {
            for (const char** p = ports; *p != nullptr; ++p)
                names.emplace_back(*p);
            jack_free(ports);
        }
        return names;
    };
    const auto playback = physical(JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput);
    if (playback.empty())
        warnings.emplace_back("no physical audio outputs to connect to");
    else
        connectAudioTo({playback.begin(), playback.begin() + std::min<std::ptrdiff_t>(2, std::ssize(playback))},
                       warnings);
    const auto capture = physical(JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
    if (!capture.empty())
        connectMidiFrom(capture.front(), warnings);
}

void JackInstrument::close() {
    if (client_ == nullptr)
        return;
    // After the server went away the client is only freed; libjack knows.
    jack_client_close(client_);
    client_ = nullptr;
    midiIn_ = left_ = right_ = nullptr;
}

int JackInstrument::process(jack_nframes_t frames, void* self) noexcept {
    static_cast<JackInstrument*>(self)->play(frames);
    return 0;
}

void JackInstrument::play(jack_nframes_t frames) noexcept {
    auto* left = static_cast<float*>(jack_port_get_buffer(left_, frames));
    auto* right = static_cast<float*>(jack_port_get_buffer(right_, frames));
    void* midi = jack_port_get_buffer(midiIn_, frames);
    if (left == nullptr || right == nullptr)
        return;
    const uint32_t count = midi != nullptr ? jack_midi_get_event_count(midi) : 0;
    const auto events = [&](const auto& place) {
        // The ALSA queue's messages play at the start of the cycle.
        if (const auto first = place(0)) {
            ShortMessage message;
            while (alsa_.pop(message))
                take(message.status, message.data1, message.data2, first->offset);
        }
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, midi, i) != 0 || event.size == 0)
                continue;
            if (const auto at = place(event.time))
                take(event.buffer[0], event.size > 1 ? event.buffer[1] : 0, event.size > 2 ? event.buffer[2] : 0,
                     at->offset);
        }
    };
    shell_.render(left, right, frames, events);
}

void JackInstrument::take(uint8_t status, uint8_t data1, uint8_t data2, int32_t offset) noexcept {
    if ((status & 0xF0) != 0xC0) {
        shell_.playMidi(status, data1, data2, offset);
        return;
    }
    // The only writer: the count goes up by one, above the 7-bit number.
    const uint32_t count = (programChanges_.load(std::memory_order_relaxed) >> 7) + 1;
    programChanges_.store(count << 7 | (data1 & 0x7Fu), std::memory_order_release);
}

int JackInstrument::sampleRateChanged(jack_nframes_t rate, void* self) noexcept {
    static_cast<JackInstrument*>(self)->shell_.setSampleRate(static_cast<double>(rate));
    return 0;
}

int JackInstrument::bufferSizeChanged(jack_nframes_t frames, void* self) noexcept {
    // The audio thread takes the new buffers at its next cycle.
    static_cast<JackInstrument*>(self)->shell_.reserveBlock(static_cast<int32_t>(frames));
    return 0;
}

void JackInstrument::freewheelChanged(int starting, void* self) noexcept {
    // Rendering faster than real time (a bounce): waiting for a table being
    // built keeps two renders of the same notes identical.
    static_cast<JackInstrument*>(self)->shell_.setOffline(starting != 0);
}

void JackInstrument::shutdown(jack_status_t, const char*, void* self) noexcept {
    static_cast<JackInstrument*>(self)->serverGone_.store(true, std::memory_order_release);
}

}  // namespace veltrosa::standaloneedge
