// libFuzzer target for the LV2 edge: every input is a short session played
// against the DSP library's descriptor, as a host, a buggy host or a damaged
// project could play it: any rate and announced block length, control ports
// holding anything (NaN, infinities, huge values), atom sequences with events
// of unknown types, frames past the cycle or out of order, truncated and
// oversized MIDI messages, headers that lie about their size or time unit,
// ports disconnected; a host's worker offered, which the instance does not
// use (it builds its tables on its own thread).
//
// Input format (front to back, missing bytes read as zero): a rate selector,
// a block-length option selector, then steps, each an operation byte and its
// operands. Checked after every cycle: every sample finite, and bounded while
// the controls lie in 0..1. At the end, controls back to their defaults: a
// note sounds finite and bounded, and All Notes Off silences it at once.
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "core/Parameters.h"
#include "lv2/Ports.h"

extern "C" const LV2_Descriptor* lv2_descriptor(uint32_t index);

namespace {

using namespace fuzz;
using namespace veltrosa;

constexpr int kMaxSteps = 120;
constexpr uint32_t kMaxFrames = 2048;
constexpr int64_t kFrameBudget = 1 << 15;
constexpr std::size_t kSequenceBytes = 4096;
constexpr float kOutputBound = 1000.0f;

std::vector<std::string>& uris() {
    static std::vector<std::string> list;
    return list;
}

LV2_URID mapUri(LV2_URID_Map_Handle, const char* uri) {
    auto& list = uris();
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i] == uri)
            return static_cast<LV2_URID>(i + 1);
    list.emplace_back(uri);
    return static_cast<LV2_URID>(list.size());
}

class Session {
public:
    ~Session() {
        if (handle != nullptr)
            descriptor->cleanup(handle);
    }

    void run(Input& in) {
        static const double kRates[] = {44100.0,  48000.0, 96000.0, 8000.0,
                                        192000.0, 0.0,     -1.0,    std::numeric_limits<double>::quiet_NaN(),
                                        1e30,     22050.0};
        const double rate = kRates[in.byte() % std::size(kRates)];
        if (!instantiate(rate, in))
            return;
        for (int step = 0; step < kMaxSteps && !in.empty(); ++step) {
            switch (in.byte() % 8) {
            case 0:
                setControl(static_cast<uint32_t>(in.byte() % kNumParams), pickFloat(in));
                break;
            case 1:
                midi(in);
                break;
            case 2:
                unknownAtom(in);
                break;
            case 3:
                cycle(static_cast<uint32_t>(in.raw<uint16_t>() % (kMaxFrames + 1)));
                break;
            case 4:
                descriptor->deactivate(handle);
                break;
            case 5:
                mangleHeader(in);
                break;
            case 6:
                reconnect(in);
                break;
            case 7:
                descriptor->activate(handle);
                break;
            }
        }
        recoverAndCheck();
    }

private:
    bool instantiate(double rate, Input& in) {
        descriptor = lv2_descriptor(0);
        FUZZ_CHECK(descriptor != nullptr && lv2_descriptor(1) == nullptr, "one descriptor");
        map = {nullptr, mapUri};
        schedule = {this, [](LV2_Worker_Schedule_Handle, uint32_t, const void*) { return LV2_WORKER_SUCCESS; }};
        const uint8_t lengths = in.byte();
        blockLength = in.raw<int32_t>();
        const LV2_URID intType = mapUri(nullptr, LV2_ATOM__Int);
        const LV2_URID key =
            mapUri(nullptr, lengths & 1 ? LV2_BUF_SIZE__maxBlockLength : LV2_BUF_SIZE__nominalBlockLength);
        options = {{{LV2_OPTIONS_INSTANCE, 0, key, sizeof(int32_t), lengths & 2 ? intType : 0, &blockLength},
                    {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}}};
        const LV2_Feature mapFeature{LV2_URID__map, &map}, scheduleFeature{LV2_WORKER__schedule, &schedule};
        const LV2_Feature optionsFeature{LV2_OPTIONS__options, options.data()};
        const LV2_Feature* withOptions[] = {&mapFeature, &scheduleFeature, &optionsFeature, nullptr};
        const LV2_Feature* without[] = {&mapFeature, &scheduleFeature, nullptr};
        handle = descriptor->instantiate(descriptor, rate, "", lengths & 4 ? withOptions : without);
        if (handle == nullptr) {
            FUZZ_CHECK(!(rate >= 1.0 && rate <= 1e6), "refused a usable rate");
            return false;
        }
        FUZZ_CHECK(descriptor->extension_data(LV2_WORKER__interface) == nullptr, "a worker interface");
        midiEvent = mapUri(nullptr, LV2_MIDI__MidiEvent);
        for (int32_t i = 0; i < kNumParams; ++i) {
            controls[static_cast<std::size_t>(i)] = defaultParam(i);
            descriptor->connect_port(handle, static_cast<uint32_t>(i), &controls[static_cast<std::size_t>(i)]);
        }
        clearSequence();
        descriptor->connect_port(handle, lv2edge::kMidiInPort, sequence.data());
        descriptor->connect_port(handle, lv2edge::kOutLeftPort, left.data());
        descriptor->connect_port(handle, lv2edge::kOutRightPort, right.data());
        descriptor->connect_port(handle, lv2edge::kNumPorts, nullptr);  // no such port
        descriptor->activate(handle);
        return true;
    }

    LV2_Atom_Sequence* seq() { return reinterpret_cast<LV2_Atom_Sequence*>(sequence.data()); }

    void clearSequence() {
        seq()->atom = {static_cast<uint32_t>(sizeof(LV2_Atom_Sequence_Body)), mapUri(nullptr, LV2_ATOM__Sequence)};
        seq()->body = {0, 0};
    }

    // Appends an event if it fits the buffer the port was given.
    void append(int64_t frame, LV2_URID type, const uint8_t* bytes, uint32_t size) {
        const std::size_t padded = (sizeof(LV2_Atom_Event) + size + 7) & ~std::size_t{7};
        // After a mangled size, at the next 8-byte boundary, where the plug-in's walk may land.
        const std::size_t used = (sizeof(LV2_Atom) + seq()->atom.size + 7) & ~std::size_t{7};
        if (used + padded > kSequenceBytes)
            return;
        auto* event = reinterpret_cast<LV2_Atom_Event*>(reinterpret_cast<uint8_t*>(sequence.data()) + used);
        event->time.frames = frame;
        event->body = {size, type};
        std::memcpy(event + 1, bytes, size);
        seq()->atom.size = static_cast<uint32_t>(used + padded - sizeof(LV2_Atom));
    }

    int64_t pickFrame(Input& in) {
        switch (in.byte() % 4) {
        case 0:
            return in.byte();
        case 1:
            return in.raw<int16_t>();
        case 2:
            return in.raw<int64_t>();
        default:
            return static_cast<int64_t>(in.raw<uint16_t>() % (kMaxFrames + 64));
        }
    }

    // Channel messages most of the time, of any length 0..8.
    void midi(Input& in) {
        const int64_t frame = pickFrame(in);
        const uint32_t size = in.byte() % 9;
        uint8_t bytes[8] = {};
        in.fill(bytes, size);
        if (size > 0 && (bytes[0] & 0x80) == 0 && (in.byte() & 1))
            bytes[0] = static_cast<uint8_t>(0x80 | (bytes[0] & 0x1F));
        append(frame, midiEvent, bytes, size);
    }

    void unknownAtom(Input& in) {
        const int64_t frame = pickFrame(in);
        const auto type = static_cast<LV2_URID>(in.byte());
        const uint32_t size = in.byte() % 32;
        uint8_t bytes[32] = {};
        in.fill(bytes, size);
        append(frame, type, bytes, size);
    }

    // A header that lies: a time unit in beats or unknown, a size past what
    // was written (zeroes follow) or too small for a body.
    void mangleHeader(Input& in) {
        const uint8_t k = in.byte();
        switch (k % 4) {
        case 0:
            seq()->body.unit = mapUri(nullptr, LV2_ATOM__beatTime);
            break;
        case 1:
            seq()->body.unit = in.byte();
            break;
        case 2:
            seq()->atom.size = in.raw<uint16_t>() % static_cast<uint32_t>(kSequenceBytes - sizeof(LV2_Atom));
            break;
        default:
            seq()->atom.size = in.byte() % 16;
            break;
        }
    }

    void reconnect(Input& in) {
        const uint8_t k = in.byte();
        const auto port = static_cast<uint32_t>(in.byte() % (kNumParams + 1));
        void* buffer = port == lv2edge::kMidiInPort ? static_cast<void*>(sequence.data()) : &controls[port % kNumParams];
        descriptor->connect_port(handle, port, k & 1 ? buffer : nullptr);
        if (port != lv2edge::kMidiInPort)
            disconnected[port] = !(k & 1);
    }

    void setControl(uint32_t index, float value) { controls[index] = value; }

    bool controlsNominal() const {
        for (int32_t i = 0; i < kNumParams; ++i)
            if (!disconnected[static_cast<std::size_t>(i)] &&
                !(controls[static_cast<std::size_t>(i)] >= 0.0f && controls[static_cast<std::size_t>(i)] <= 1.0f))
                return false;
        return true;
    }

    void cycle(uint32_t n, bool expectSilence = false) {
        if (framesRendered > kFrameBudget)
            n = std::min<uint32_t>(n, 16);
        left.fill(NAN);
        right.fill(NAN);
        descriptor->run(handle, n);
        framesRendered += n;
        clearSequence();
        const bool nominal = controlsNominal();
        for (uint32_t i = 0; i < n; ++i) {
            FUZZ_CHECK(std::isfinite(left[i]) && std::isfinite(right[i]), "output sample not finite", i, n);
            FUZZ_CHECK(!nominal || (std::fabs(left[i]) < kOutputBound && std::fabs(right[i]) < kOutputBound),
                       "output sample out of bounds", i, n);
            if (expectSilence)
                FUZZ_CHECK(bitsOf(left[i]) == 0 && bitsOf(right[i]) == 0, "a voice sounds after a silence", i, n);
        }
    }

    void recoverAndCheck() {
        for (int32_t i = 0; i < kNumParams; ++i) {
            controls[static_cast<std::size_t>(i)] = defaultParam(i);
            descriptor->connect_port(handle, static_cast<uint32_t>(i), &controls[static_cast<std::size_t>(i)]);
            disconnected[static_cast<std::size_t>(i)] = false;
        }
        descriptor->connect_port(handle, lv2edge::kMidiInPort, sequence.data());
        clearSequence();
        cycle(64);
        const uint8_t note[] = {0x90, 60, 100};
        append(0, midiEvent, note, sizeof note);
        for (int i = 0; i < 4; ++i)
            cycle(256);
        const uint8_t allNotesOff[] = {0xB0, 123, 0};
        append(0, midiEvent, allNotesOff, sizeof allNotesOff);
        cycle(256, true);
    }

    const LV2_Descriptor* descriptor = nullptr;
    LV2_Handle handle = nullptr;
    LV2_URID_Map map{};
    LV2_Worker_Schedule schedule{};
    int32_t blockLength = 0;
    std::array<LV2_Options_Option, 2> options{};
    LV2_URID midiEvent = 0;
    std::array<float, kNumParams> controls{};
    std::array<bool, kNumParams> disconnected{};
    std::array<uint64_t, kSequenceBytes / 8> sequence{};
    std::array<float, kMaxFrames> left{}, right{};

    int64_t framesRendered = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Input in(data, size);
    Session session;
    session.run(in);
    return 0;
}
