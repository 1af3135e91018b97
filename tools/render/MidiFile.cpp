#include "MidiFile.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include <glib.h>
#include <smf.h>

#include "Failure.h"
#include "WavFile.h"

namespace render {

namespace {

// libsmf reports through the GLib log; keep the first complaint for our
// one-line error instead of letting it print its own lines.
struct LogCapture {
    LogCapture() : previous(g_log_set_default_handler(&LogCapture::handle, this)) {}
    ~LogCapture() { g_log_set_default_handler(previous, nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    static void handle(const gchar*, GLogLevelFlags level, const gchar* message, gpointer self) {
        auto* capture = static_cast<LogCapture*>(self);
        if ((level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL)) != 0 && capture->first.empty() && message != nullptr)
            capture->first = message;
    }

    GLogFunc previous;
    std::string first;
};

struct SmfDeleter {
    void operator()(smf_t* smf) const { smf_delete(smf); }
};

// A channel message's length by its status byte; 0 for everything else.
int channelMessageLength(unsigned char status) {
    switch (status & 0xF0) {
    case 0x80:
    case 0x90:
    case 0xA0:
    case 0xB0:
    case 0xE0:
        return 3;
    case 0xC0:
    case 0xD0:
        return 2;
    default:
        return 0;
    }
}

// The loader believes the lengths that chunk headers claim and reads past
// the end of a truncated file; every chunk must lie within the file.
std::string chunkProblem(const std::vector<unsigned char>& bytes) {
    constexpr std::size_t kMaxSize = 1u << 30;
    if (bytes.size() > kMaxSize)
        return "larger than 1 GiB";
    if (bytes.size() < 14 || std::memcmp(bytes.data(), "MThd", 4) != 0)
        return "not a Standard MIDI File (no MThd header)";
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (bytes.size() - pos < 8)
            return "truncated (" + std::to_string(bytes.size() - pos) + " stray bytes at the end)";
        const std::size_t length = std::size_t(bytes[pos + 4]) << 24 | std::size_t(bytes[pos + 5]) << 16 |
                                   std::size_t(bytes[pos + 6]) << 8 | std::size_t(bytes[pos + 7]);
        if (length > bytes.size() - pos - 8)
            return "truncated (the chunk at byte " + std::to_string(pos) + " runs past the end of the file)";
        pos += 8 + length;
    }
    return {};
}

int64_t toFrame(double seconds, double sampleRate) { return std::llround(std::max(0.0, seconds) * sampleRate); }

}  // namespace

MidiSequence readMidiFile(const std::string& path, double sampleRate) {
    const std::vector<unsigned char> bytes = readWholeFile(path, kExitMidi, "MIDI file");
    if (const std::string problem = chunkProblem(bytes); !problem.empty())
        throw Failure(kExitMidi, "cannot read MIDI file " + path + ": " + problem);

    LogCapture log;
    std::unique_ptr<smf_t, SmfDeleter> smf(smf_load_from_memory(bytes.data(), static_cast<int>(bytes.size())));
    if (!smf) {
        std::string reason = log.first.empty() ? "not a Standard MIDI File" : log.first;
        while (!reason.empty() && (reason.back() == '.' || reason.back() == '\n'))
            reason.pop_back();
        throw Failure(kExitMidi, "cannot read MIDI file " + path + ": " + reason);
    }

    MidiSequence sequence;
    // Tracks merged by time, and seconds from the whole file's tempo map.
    while (smf_event_t* event = smf_get_next_event(smf.get())) {
        if (smf_event_is_metadata(event) || event->midi_buffer_length < 1)
            continue;
        const unsigned char* data = event->midi_buffer;
        const int length = channelMessageLength(data[0]);
        if (length == 0 || event->midi_buffer_length < length)
            continue;
        vsthost::MidiMessage m;
        m.status = data[0];
        m.data1 = data[1] & 0x7F;
        m.data2 = length == 3 ? data[2] & 0x7F : 0;
        sequence.messages.push_back({toFrame(event->time_seconds, sampleRate), m});
    }
    sequence.endFrame = toFrame(smf_get_length_seconds(smf.get()), sampleRate);
    if (!sequence.messages.empty())
        sequence.endFrame = std::max(sequence.endFrame, sequence.messages.back().frame);
    return sequence;
}

}  // namespace render
