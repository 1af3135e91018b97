// The DSP library: the engine behind LV2 ports. Parameters arrive as control
// ports and are handed to the engine at the start of each cycle, MIDI from the
// atom sequence before the cycle is rendered (as the VST 2 edition receives
// its event list before the block), and every wavetable is built in the
// host's worker thread, never in run(). While the host renders offline
// (freewheeling), run() waits for a table being built, so that two bounces
// of a project give the same samples.
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

#include "engine/DenormalGuard.h"
#include "engine/Midi.h"
#include "engine/SynthEngine.h"
#include "lv2/Ports.h"
#include "rebuild/TableRule.h"

namespace veltrosa::lv2 {
namespace {

// Scratch for a host that announces no block length; longer blocks, and any
// beyond the cap, are rendered in pieces rather than grown into in run().
constexpr int32_t kDefaultBlock = 4096;
constexpr int32_t kMaxScratch = 8192;

uint32_t bits(float value) { return std::bit_cast<uint32_t>(value); }

struct Instance {
    SynthEngine engine;
    std::array<const float*, kNumParams> controls{};
    const LV2_Atom_Sequence* midiIn = nullptr;
    float* outLeft = nullptr;
    float* outRight = nullptr;
    const float* freewheel = nullptr;
    // Each parameter as the engine has it, and Update as its port last said.
    ParameterValues values{};
    TableRule tables{values};
    std::atomic<bool> built{true};  // the latest table asked for is built (not yet adopted)
    LV2_URID midiEvent = 0;
    LV2_URID frameTime = 0;
    LV2_Worker_Schedule* schedule = nullptr;
    int32_t block = 1;  // frames rendered at once: the scratch reserved at instantiation
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
    LV2_Worker_Schedule* schedule = nullptr;
    const LV2_Options_Option* options = nullptr;
    for (const LV2_Feature* const* f = features; *f != nullptr; ++f) {
        if ((*f)->URI == nullptr)
            continue;
        if (std::strcmp((*f)->URI, LV2_URID__map) == 0)
            map = static_cast<LV2_URID_Map*>((*f)->data);
        else if (std::strcmp((*f)->URI, LV2_WORKER__schedule) == 0)
            schedule = static_cast<LV2_Worker_Schedule*>((*f)->data);
        else if (std::strcmp((*f)->URI, LV2_OPTIONS__options) == 0)
            options = static_cast<const LV2_Options_Option*>((*f)->data);
    }
    if (map == nullptr || map->map == nullptr || schedule == nullptr || schedule->schedule_work == nullptr)
        return nullptr;
    try {
        auto self = std::make_unique<Instance>();
        self->schedule = schedule;
        self->midiEvent = map->map(map->handle, LV2_MIDI__MidiEvent);
        self->frameTime = map->map(map->handle, LV2_ATOM__frameTime);
        self->engine.setSampleRate(rate);
        const int32_t announced = announcedBlockLength(options, map);
        self->block = std::min(announced > 0 ? announced : kDefaultBlock, kMaxScratch);
        self->engine.reserveBlock(self->block);
        (void)noteFrequencyTable();
        self->values = self->engine.values();
        self->tables = TableRule(self->values);
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
        self->engine.silenceAll();
}

// Each control that moved goes to the engine, as a VST 2 host's setParameter
// does before the block; Update only asks for a table.
void applyControls(Instance& self) {
    for (int32_t i = 0; i < kNumParams; ++i) {
        const float* port = self.controls[static_cast<std::size_t>(i)];
        if (port == nullptr)
            continue;
        const float value = *port;
        float& applied = self.values[static_cast<std::size_t>(i)];
        if (bits(value) == bits(applied))
            continue;
        applied = value;
        if (i == kParamUpdate)
            continue;
        self.engine.setParam(i, value);
        self.engine.updateVoices(i);
    }
}

// At most one generation is ever waiting or running: further changes are
// picked up by the next cycle after its response.
void requestTable(Instance& self) {
    if (!self.tables.due(self.values))
        return;
    // Begun first: a host may answer inside schedule_work.
    self.tables.begin(self.values);
    self.built.store(false, std::memory_order_relaxed);
    const uint8_t token = 1;
    if (self.schedule->schedule_work(self.schedule->handle, sizeof token, &token) != LV2_WORKER_SUCCESS) {
        self.tables.abandon();  // the host's queue is full: asked again next cycle
        self.built.store(true, std::memory_order_relaxed);
    }
}

// Offline only: not real time, so waiting is allowed; bounded, for a host
// that would run the work only after this cycle.
void awaitTable(const Instance& self) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!self.built.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// A malformed sequence (a size running past its end) stops the walk.
void playEvents(Instance& self, uint32_t frames) {
    const LV2_Atom_Sequence* seq = self.midiIn;
    if (seq == nullptr || seq->atom.size < sizeof(LV2_Atom_Sequence_Body))
        return;
    if (seq->body.unit != 0 && seq->body.unit != self.frameTime)
        return;  // stamped in beats: a host that sends those to an instrument sends nothing playable
    const auto* begin = reinterpret_cast<const uint8_t*>(&seq->body);
    const uint32_t total = seq->atom.size;
    const int32_t last = frames == 0 ? 0 : static_cast<int32_t>(std::min<uint32_t>(frames - 1, INT32_MAX));
    for (uint32_t at = sizeof(LV2_Atom_Sequence_Body); total - at >= sizeof(LV2_Atom_Event);) {
        const auto* event = reinterpret_cast<const LV2_Atom_Event*>(begin + at);
        const uint32_t size = event->body.size;
        if (size > total - at - sizeof(LV2_Atom_Event))
            return;
        const auto* msg = reinterpret_cast<const uint8_t*>(event + 1);
        // Channel messages only, whole ones: note and controller messages are
        // three bytes; anything longer is read for its first three.
        if (event->body.type == self.midiEvent && size >= 3 && msg[0] >= 0x80 && msg[0] < 0xF0) {
            const int64_t frame = std::clamp<int64_t>(event->time.frames, 0, last);
            playMidi(self.engine, msg[0], msg[1], msg[2], static_cast<int32_t>(frame));
        }
        at += static_cast<uint32_t>(sizeof(LV2_Atom_Event)) + ((size + 7u) & ~7u);
        if (at > total)
            return;
    }
}

void run(LV2_Handle handle, uint32_t frames) {
    auto* self = static_cast<Instance*>(handle);
    if (self == nullptr || self->outLeft == nullptr || self->outRight == nullptr)
        return;
    const DenormalGuard denormals;
    applyControls(*self);
    requestTable(*self);
    if (self->freewheel != nullptr && *self->freewheel > 0.5f && self->tables.building())
        awaitTable(*self);
    playEvents(*self, frames);
    for (uint32_t done = 0; done < frames;) {
        const auto n = static_cast<int32_t>(std::min<uint32_t>(frames - done, static_cast<uint32_t>(self->block)));
        self->engine.render(self->outLeft + done, self->outRight + done, n);
        done += static_cast<uint32_t>(n);
    }
    if (frames == 0)
        self->engine.render(self->outLeft, self->outRight, 0);  // still adopts a finished table
}

void cleanup(LV2_Handle handle) { delete static_cast<Instance*>(handle); }

// Worker thread: builds the table from the engine's current parameters; the
// audio thread adopts it at its next render.
LV2_Worker_Status work(LV2_Handle handle, LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle respondHandle,
                       uint32_t, const void*) {
    auto* self = static_cast<Instance*>(handle);
    if (self == nullptr)
        return LV2_WORKER_ERR_UNKNOWN;
    self->engine.regenerate();  // without memory the previous table stays
    self->built.store(true, std::memory_order_release);
    const uint8_t token = 1;
    if (respond != nullptr)
        respond(respondHandle, sizeof token, &token);
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status workResponse(LV2_Handle handle, uint32_t, const void*) {
    auto* self = static_cast<Instance*>(handle);
    if (self == nullptr)
        return LV2_WORKER_ERR_UNKNOWN;
    self->tables.finished();
    return LV2_WORKER_SUCCESS;
}

const LV2_Worker_Interface kWorker = {work, workResponse, nullptr};

const void* extensionData(const char* uri) {
    if (uri != nullptr && std::strcmp(uri, LV2_WORKER__interface) == 0)
        return &kWorker;
    return nullptr;
}

const LV2_Descriptor kDescriptor = {kPluginUri, instantiate, connectPort, activate,
                                    run,        nullptr,     cleanup,     extensionData};

}  // namespace
}  // namespace veltrosa::lv2

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &veltrosa::lv2::kDescriptor : nullptr;
}
