// The DSP library: the shell behind LV2 ports. Parameters arrive as control
// ports and are handed over at the start of each cycle, MIDI from the atom
// sequence at its frames; tables are built on the instance's own builder
// thread, joined when the instance goes, so nothing of a host's worker can
// outlive it. While the host renders offline (freewheeling), each cycle
// waits for a table being built, so that two bounces give the same samples.
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <new>

#include "engine/Midi.h"
#include "lv2/Ports.h"
#include "shell/Instrument.h"

namespace veltrosa::lv2edge {
namespace {

// Scratch for a host that announces no block length; longer blocks, and any
// beyond the cap, are rendered in pieces rather than grown into in run().
constexpr int32_t kDefaultBlock = 4096;
constexpr int32_t kMaxScratch = 8192;

uint32_t bits(float value) { return std::bit_cast<uint32_t>(value); }

struct Instance {
    shell::Instrument shell;
    std::array<const float*, kNumParams> controls{};
    const LV2_Atom_Sequence* midiIn = nullptr;
    float* outLeft = nullptr;
    float* outRight = nullptr;
    const float* freewheel = nullptr;
    ParameterValues ports{};  // each control as its port last said
    LV2_URID midiEvent = 0;
    LV2_URID frameTime = 0;
};

int32_t announcedBlockLength(const LV2_Options_Option* options, LV2_URID_Map* map) {
    if (options == nullptr)
        return 0;
    const LV2_URID intType = map->map(map->handle, LV2_ATOM__Int);
    const LV2_URID maxLength = map->map(map->handle, LV2_BUF_SIZE__maxBlockLength);
    const LV2_URID nominalLength = map->map(map->handle, LV2_BUF_SIZE__nominalBlockLength);
    int32_t max = 0, nominal = 0;
    for (const LV2_Options_Option* o = options; o->key != 0 || o->value != nullptr; ++o) {
        if (o->type != intType || o->size != sizeof(int32_t) || o->value == nullptr)
            continue;
        int32_t value = 0;
        std::memcpy(&value, o->value, sizeof value);
        if (o->key == maxLength)
            max = value;
        else if (o->key == nominalLength)
            nominal = value;
    }
    return max > 0 ? max : std::max(nominal, 0);
}

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const* features) {
    if (!(rate > 0.0 && rate <= 1.0e7) || features == nullptr)
        return nullptr;
    LV2_URID_Map* map = nullptr;
    const LV2_Options_Option* options = nullptr;
    for (const LV2_Feature* const* f = features; *f != nullptr; ++f) {
        if ((*f)->URI == nullptr)
            continue;
        if (std::strcmp((*f)->URI, LV2_URID__map) == 0)
            map = static_cast<LV2_URID_Map*>((*f)->data);
        else if (std::strcmp((*f)->URI, LV2_OPTIONS__options) == 0)
            options = static_cast<const LV2_Options_Option*>((*f)->data);
    }
    if (map == nullptr || map->map == nullptr)
        return nullptr;
    try {
        auto self = std::make_unique<Instance>();
        self->midiEvent = map->map(map->handle, LV2_MIDI__MidiEvent);
        self->frameTime = map->map(map->handle, LV2_ATOM__frameTime);
        const int32_t announced = announcedBlockLength(options, map);
        if (!self->shell.start() ||
            !self->shell.prepare(rate, std::min(announced > 0 ? announced : kDefaultBlock, kMaxScratch)))
            return nullptr;
        (void)noteFrequencyTable();
        self->ports = self->shell.values();
        return self.release();
    } catch (...) {
        return nullptr;
    }
}

void connectPort(LV2_Handle handle, uint32_t port, void* data) {
    auto* self = static_cast<Instance*>(handle);
    if (self == nullptr)
        return;
    if (port < static_cast<uint32_t>(kNumParams))
        self->controls[port] = static_cast<const float*>(data);
    else if (port == kMidiInPort)
        self->midiIn = static_cast<const LV2_Atom_Sequence*>(data);
    else if (port == kOutLeftPort)
        self->outLeft = static_cast<float*>(data);
    else if (port == kOutRightPort)
        self->outRight = static_cast<float*>(data);
    else if (port == kFreeWheelPort)
        self->freewheel = static_cast<const float*>(data);
}

void activate(LV2_Handle handle) {
    if (auto* self = static_cast<Instance*>(handle))
        self->shell.activate();
}

void deactivate(LV2_Handle handle) {
    if (auto* self = static_cast<Instance*>(handle))
        self->shell.deactivate();
}

// Each control that moved is set, as a VST 2 host's setParameter does before
// the block. Several at once, the table's among them, are a new sound (a
// preset, a restored state): its values and its table come in one block.
void applyControls(Instance& self) {
    ParameterValues moved = self.ports;
    uint64_t changed = 0;
    for (int32_t i = 0; i < kNumParams; ++i) {
        const float* port = self.controls[static_cast<std::size_t>(i)];
        if (port == nullptr || bits(*port) == bits(moved[static_cast<std::size_t>(i)]))
            continue;
        moved[static_cast<std::size_t>(i)] = *port;
        changed |= uint64_t{1} << i;
    }
    if (changed == 0)
        return;
    self.ports = moved;
    bool table = false, voices = false;
    for (uint64_t rest = changed; rest != 0; rest &= rest - 1) {
        const int i = std::countr_zero(rest);
        table = table || feedsTable(i);
        voices = voices || (!feedsTable(i) && !isTrigger(i));
    }
    if (table && voices && std::popcount(changed) > 1 && inRange(moved)) {
        self.shell.switchTo(moved);
        return;
    }
    for (uint64_t rest = changed; rest != 0; rest &= rest - 1) {
        const int i = std::countr_zero(rest);
        self.shell.setValue(i, static_cast<double>(moved[static_cast<std::size_t>(i)]));
    }
}

// A malformed sequence (a size running past its end) stops the walk.
template <typename Place>
void playEvents(Instance& self, const Place& place) {
    const LV2_Atom_Sequence* seq = self.midiIn;
    if (seq == nullptr || seq->atom.size < sizeof(LV2_Atom_Sequence_Body))
        return;
    if (seq->body.unit != 0 && seq->body.unit != self.frameTime)
        return;  // stamped in beats: a host that sends those to an instrument sends nothing playable
    const auto* begin = reinterpret_cast<const uint8_t*>(&seq->body);
    const uint32_t total = seq->atom.size;
    for (uint32_t at = sizeof(LV2_Atom_Sequence_Body); total - at >= sizeof(LV2_Atom_Event);) {
        const auto* event = reinterpret_cast<const LV2_Atom_Event*>(begin + at);
        const uint32_t size = event->body.size;
        if (size > total - at - sizeof(LV2_Atom_Event))
            return;
        const auto* msg = reinterpret_cast<const uint8_t*>(event + 1);
        // Channel messages only, whole ones: note and controller messages are
        // three bytes; anything longer is read for its first three.
        if (event->body.type == self.midiEvent && size >= 3)
            if (const auto placed = place(event->time.frames))
                self.shell.playMidi(msg[0], msg[1], msg[2], placed->offset);
        at += static_cast<uint32_t>(sizeof(LV2_Atom_Event)) + ((size + 7u) & ~7u);
        if (at > total)
            return;
    }
}

void run(LV2_Handle handle, uint32_t frames) {
    auto* self = static_cast<Instance*>(handle);
    if (self == nullptr || self->outLeft == nullptr || self->outRight == nullptr)
        return;
    applyControls(*self);
    self->shell.setOffline(self->freewheel != nullptr && *self->freewheel > 0.5f);
    self->shell.render(self->outLeft, self->outRight, frames, [self](const auto& place) { playEvents(*self, place); });
}

void cleanup(LV2_Handle handle) { delete static_cast<Instance*>(handle); }

const void* extensionData(const char*) { return nullptr; }

const LV2_Descriptor kDescriptor = {kPluginUri, instantiate, connectPort, activate,
                                    run,        deactivate,  cleanup,     extensionData};

}  // namespace
}  // namespace veltrosa::lv2edge

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &veltrosa::lv2edge::kDescriptor : nullptr;
}
