// libFuzzer target for the CLAP edge: every input is a short session played
// against the plug-in as a host, a buggy host or a damaged project could
// play it: any rate and block size at activation, blocks longer than
// announced or without buffers, events of every type with any values (NaN
// velocities and parameter values, keys and note IDs out of range), unknown
// event spaces and types, sizes that lie, times past the block or out of
// order, states streamed in pieces of any size, presets by any name.
//
// Input format (front to back, missing bytes read as zero): steps, each an
// operation byte and its operands. Checked after every block: every sample
// finite while every parameter lies in 0..1 (always, since values are
// clamped and states refused unless finite).
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "abi/clap.h"
#include "clap/Factories.h"
#include "core/Parameters.h"

namespace {

using namespace fuzz;

constexpr int kMaxSteps = 100;
constexpr uint32_t kMaxFrames = 4096;

const void* CLAPCALL noExtension(const clap::Host*, const char*) { return nullptr; }
void CLAPCALL noRequest(const clap::Host*) {}
bool CLAPCALL takeEvent(const clap::OutputEvents*, const clap::EventHeader*) { return true; }

struct Events {
    std::vector<std::array<std::max_align_t, 4>> storage;  // 64 bytes an event at most
    static uint32_t CLAPCALL size(const clap::InputEvents* list) {
        return static_cast<uint32_t>(static_cast<Events*>(list->ctx)->storage.size());
    }
    static const clap::EventHeader* CLAPCALL get(const clap::InputEvents* list, uint32_t i) {
        auto& storage = static_cast<Events*>(list->ctx)->storage;
        return i < storage.size() ? reinterpret_cast<const clap::EventHeader*>(storage[i].data()) : nullptr;
    }
};

struct Stream {
    Input* in;
    std::size_t left;
    static int64_t CLAPCALL read(const clap::InStream* s, void* buffer, uint64_t size) {
        auto* self = static_cast<Stream*>(s->ctx);
        const uint8_t piece = self->in->byte();
        if (piece == 255)
            return -1;
        const std::size_t n = std::min(std::min(static_cast<std::size_t>(size), self->left), static_cast<std::size_t>(piece % 64u));
        self->in->fill(buffer, n);
        self->left -= n;
        return static_cast<int64_t>(n);
    }
};

double pickDouble(Input& in) {
    static const double kOdd[] = {0.0, 1.0, -1.0, 0.5, std::nan(""), std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(), 1e300, -0.0};
    const uint8_t how = in.byte();
    return how < 128 ? kOdd[how % std::size(kOdd)] : in.raw<double>();
}

void addEvent(Events& events, Input& in) {
    std::array<std::max_align_t, 4> slot{};
    auto* bytes = reinterpret_cast<unsigned char*>(slot.data());
    const uint16_t type = in.byte() % 14;
    const uint32_t size = (in.byte() & 1) ? static_cast<uint32_t>(in.byte() % sizeof slot)
                          : type == clap::kEventMidi ? sizeof(clap::EventMidi)
                          : type == clap::kEventParamValue ? sizeof(clap::EventParamValue)
                                                          : sizeof(clap::EventNote);
    clap::EventHeader header{size, in.raw<uint16_t>() % (2 * kMaxFrames), static_cast<uint16_t>(in.byte() % 8 == 0 ? 1 : 0),
                             type, 0};
    if (type == clap::kEventParamValue) {
        clap::EventParamValue e{};
        e.header = header;
        e.paramId = in.byte() % 52;
        e.value = pickDouble(in);
        std::memcpy(bytes, &e, sizeof e);
    } else if (type == clap::kEventMidi) {
        clap::EventMidi e{};
        e.header = header;
        in.fill(e.data, 3);
        std::memcpy(bytes, &e, sizeof e);
    } else {
        clap::EventNote e{};
        e.header = header;
        e.noteId = static_cast<int8_t>(in.byte());
        e.key = static_cast<int16_t>(static_cast<int8_t>(in.byte()) + 64);
        e.channel = static_cast<int16_t>(static_cast<int8_t>(in.byte()));
        e.velocity = pickDouble(in);
        std::memcpy(bytes, &e, sizeof e);
    }
    events.storage.push_back(slot);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Input in(data, size);
    const clap::PluginFactory* factory = veltrosa::clapedge::pluginFactory();
    const clap::Host host{clap::kVersion, nullptr, "fuzz", "", "", "1", noExtension, noRequest, noRequest, noRequest};
    const clap::Plugin* plugin = factory->createPlugin(factory, &host, factory->getPluginDescriptor(factory, 0)->id);
    FUZZ_CHECK(plugin != nullptr && plugin->init(plugin), "no instance");
    const auto* params = static_cast<const clap::PluginParams*>(plugin->getExtension(plugin, clap::kExtParams));
    const auto* state = static_cast<const clap::PluginState*>(plugin->getExtension(plugin, clap::kExtState));
    const auto* presets =
        static_cast<const clap::PluginPresetLoad*>(plugin->getExtension(plugin, clap::kExtPresetLoad));
    std::vector<float> left(2 * kMaxFrames), right(2 * kMaxFrames);
    float* channels[2] = {left.data(), right.data()};
    bool active = false;
    Events events;
    const clap::InputEvents list{&events, Events::size, Events::get};
    const clap::OutputEvents out{nullptr, takeEvent};
    for (int step = 0; step < kMaxSteps && !in.empty(); ++step) {
        switch (in.byte() % 7) {
            case 0: {
                static const double kRates[] = {44100.0, 96000.0, 0.0, -1.0, std::nan(""), 1e30, 8000.0};
                if (active)
                    plugin->deactivate(plugin);
                active = plugin->activate(plugin, kRates[in.byte() % std::size(kRates)], 1,
                                          in.raw<uint16_t>() % (kMaxFrames + 1));
                break;
            }
            case 1:
            case 2:
                addEvent(events, in);
                break;
            case 3: {
                const uint32_t frames = in.raw<uint16_t>() % (2 * kMaxFrames + 1);
                clap::AudioBuffer output{channels, nullptr, 2, 0, 0};
                const uint8_t how = in.byte();
                if (how % 5 == 0)
                    output.channelCount = 1;
                if (how % 7 == 0)
                    output.data32 = nullptr;
                const clap::Process process{-1, frames, nullptr, nullptr, &output, 0, how % 11 == 0 ? 0u : 1u,
                                            how % 13 == 0 ? nullptr : &list, &out};
                const int32_t status = plugin->process(plugin, &process);
                events.storage.clear();
                if (status == clap::kProcessContinue)
                    for (uint32_t i = 0; i < frames; ++i)
                        FUZZ_CHECK(std::isfinite(left[i]) && std::isfinite(right[i]), "sample not finite", i);
                break;
            }
            case 4: {
                Stream stream{&in, static_cast<std::size_t>(in.byte()) + 64};
                const clap::InStream s{&stream, Stream::read};
                state->load(plugin, &s);
                break;
            }
            case 5: {
                std::string name(in.byte() % 24, ' ');
                in.fill(name.data(), name.size());
                presets->fromLocation(plugin, in.byte() % 3, nullptr, in.byte() & 1 ? "Warm Strings" : name.c_str());
                break;
            }
            case 6:
                params->flush(plugin, &list, &out);
                events.storage.clear();
                break;
        }
    }
    for (uint32_t i = 0; i < static_cast<uint32_t>(veltrosa::kNumParams); ++i) {
        double v = -1.0;
        FUZZ_CHECK(params->getValue(plugin, i, &v) && v >= 0.0 && v <= 1.0, "value outside 0..1", i);
    }
    if (active)
        plugin->deactivate(plugin);
    plugin->destroy(plugin);
    return 0;
}
