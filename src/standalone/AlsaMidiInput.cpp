#include "standalone/AlsaMidiInput.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <cstdarg>
#include <system_error>
#include <vector>

namespace veltrosa::standaloneedge {

namespace {

// alsa-lib reports a missing device on stderr itself; open() says it once.
extern "C" void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

constexpr int kPollMilliseconds = 100;  // how soon close() is noticed

}  // namespace

bool AlsaMidiInput::open(const std::string& clientName, JackInstrument::AlsaQueue& queue, std::string& error) {
    close();
    snd_lib_error_set_handler(quietAlsa);
    if (const int err = snd_seq_open(&seq_, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK); err < 0) {
        seq_ = nullptr;
        error = std::string("no ALSA sequencer (") + snd_strerror(err) + ")";
        return false;
    }
    snd_seq_set_client_name(seq_, clientName.c_str());
    if (snd_seq_create_simple_port(seq_, "midi_in", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION) < 0) {
        error = "the ALSA sequencer refused an input port";
        close();
        return false;
    }
    quit_.store(false);
    try {
        reader_ = std::thread([this, &queue] { read(queue); });
    } catch (const std::system_error&) {
        error = "cannot start the ALSA MIDI reader";
        close();
        return false;
    }
    return true;
}

void AlsaMidiInput::close() {
    quit_.store(true);
    if (reader_.joinable())
        reader_.join();
    if (seq_ != nullptr)
        snd_seq_close(seq_);
    seq_ = nullptr;
}

void AlsaMidiInput::read(JackInstrument::AlsaQueue& queue) {
    snd_midi_event_t* decoder = nullptr;
    if (snd_midi_event_new(16, &decoder) < 0)
        return;
    snd_midi_event_no_status(decoder, 1);  // every message with its status byte
    std::vector<pollfd> fds(static_cast<std::size_t>(snd_seq_poll_descriptors_count(seq_, POLLIN)));
    snd_seq_poll_descriptors(seq_, fds.data(), static_cast<unsigned>(fds.size()), POLLIN);
    while (!quit_.load()) {
        if (::poll(fds.data(), fds.size(), kPollMilliseconds) <= 0)
            continue;
        snd_seq_event_t* event = nullptr;
        while (snd_seq_event_input(seq_, &event) >= 0 && event != nullptr) {
            unsigned char bytes[16];
            const long n = snd_midi_event_decode(decoder, bytes, sizeof bytes, event);
            if (n >= 1 && bytes[0] >= 0x80 && bytes[0] < 0xF0)
                queue.push({bytes[0], n > 1 ? bytes[1] : uint8_t{0}, n > 2 ? bytes[2] : uint8_t{0}});
        }
    }
    snd_midi_event_free(decoder);
}

}  // namespace veltrosa::standaloneedge
