// The browser edition's edge: plain functions over fixed buffers, for one
// WebAssembly module that the page instantiates twice. The audio worklet's
// instance plays the instrument (shell::Instrument, with its tables built
// between quanta, as a worklet has no threads); the page's instance runs the
// editor, the factory presets and the state-file checks. The two never call
// each other: the page's script carries values, notes and states between
// them as messages.
//
// Nothing here allocates per note or per quantum; a state or a script with
// bad bytes is refused here, whatever the page let through.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include <unistd.h>

#include "core/Parameters.h"
#include "core/State.h"
#include "editor/platform/web/CanvasWindowLayer.h"
#include "presets/Bank.h"
#include "shell/Instrument.h"
#include "ui/Editor.h"

#define VELTROSA_EXPORT(name) extern "C" __attribute__((used, export_name(#name)))

namespace veltrosa::webedge {
namespace {

constexpr int32_t kQuantum = 128;  // the frames of one render quantum
constexpr int32_t kMaxEvents = 1024;
constexpr int32_t kInputBytes = 4096;  // longer inputs are refused unread

// The worklet's instance.
shell::Instrument* instrument = nullptr;
alignas(16) float outLeft[kQuantum];
alignas(16) float outRight[kQuantum];
// A quantum's MIDI: frame, then status | data1 << 8 | data2 << 16.
uint32_t events[2 * kMaxEvents];

// Both instances: bytes the page hands in (a state file), or gets back.
unsigned char bytesIn[kInputBytes];
StateBytes bytesOut{};

// The page's instance: the editor over values the page keeps in step with
// the worklet's, and what the user changed since the page last looked.
struct UiChange {
    int32_t index;
    float value;
};
class PageParameters final : public ParameterHost {
public:
    ParameterValues values = defaultValues();
    UiChange changes[kNumParams * 8]{};
    int32_t changeCount = 0;

    float parameterValue(int32_t index) override {
        return isParam(index) ? values[static_cast<std::size_t>(index)] : 0.0f;
    }
    void setParameterFromUi(int32_t index, float value, bool) override {
        if (!isParam(index))
            return;
        values[static_cast<std::size_t>(index)] = value;
        // The latest value of a parameter is what counts; the oldest goes if full.
        if (changeCount == static_cast<int32_t>(std::size(changes))) {
            std::move(changes + 1, changes + changeCount, changes);
            --changeCount;
        }
        changes[changeCount++] = {index, value};
    }
};
PageParameters* page = nullptr;
Editor* editor = nullptr;
CanvasWindowLayer* layer = nullptr;

}  // namespace
}  // namespace veltrosa::webedge

using namespace veltrosa;
using namespace veltrosa::webedge;

// ---- the worklet's instance ----

// A rate and the first sound's table, built here (the worklet's constructor,
// before the first quantum). False for a rate no instrument takes.
VELTROSA_EXPORT(vt_start) bool vt_start(double rate) {
    if (instrument == nullptr)
        instrument = new (std::nothrow) shell::Instrument();
    if (instrument == nullptr || !instrument->prepare(rate, kQuantum))
        return false;
    instrument->buildTables();
    instrument->activate();
    return true;
}

VELTROSA_EXPORT(vt_left) float* vt_left() { return outLeft; }
VELTROSA_EXPORT(vt_right) float* vt_right() { return outRight; }
VELTROSA_EXPORT(vt_events) uint32_t* vt_events() { return events; }
VELTROSA_EXPORT(vt_max_events) int32_t vt_max_events() { return kMaxEvents; }

// One quantum of frames (at most 128) with count events from vt_events, in
// frame order. A status byte the instrument has no use for plays nothing.
VELTROSA_EXPORT(vt_render) void vt_render(int32_t frames, int32_t count) {
    if (instrument == nullptr)
        return;
    frames = std::clamp(frames, 0, kQuantum);
    count = std::clamp(count, 0, kMaxEvents);
    int32_t next = 0;
    instrument->render(outLeft, outRight, static_cast<uint32_t>(frames), [&](auto&& place) {
        for (; next < count; ++next) {
            const auto placed = place(static_cast<int64_t>(events[2 * next]));
            if (!placed)
                return;
            const uint32_t bytes = events[2 * next + 1];
            instrument->playMidi(static_cast<uint8_t>(bytes), static_cast<uint8_t>(bytes >> 8),
                                 static_cast<uint8_t>(bytes >> 16), placed->offset);
        }
    });
}

// Between quanta: the table a change asked for.
VELTROSA_EXPORT(vt_build) void vt_build() {
    if (instrument != nullptr)
        instrument->buildTables();
}

VELTROSA_EXPORT(vt_set_value) bool vt_set_value(int32_t index, double value) {
    return instrument != nullptr && instrument->setValue(index, value);
}

VELTROSA_EXPORT(vt_value) float vt_value(int32_t index) {
    return instrument != nullptr ? instrument->value(index) : 0.0f;
}

VELTROSA_EXPORT(vt_bytes_in) unsigned char* vt_bytes_in() { return bytesIn; }
VELTROSA_EXPORT(vt_bytes_in_size) int32_t vt_bytes_in_size() { return kInputBytes; }
VELTROSA_EXPORT(vt_bytes_out) unsigned char* vt_bytes_out() { return bytesOut.data(); }

// A whole sound from length bytes of vt_bytes_in; false, with nothing
// changed, unless they are a state of ours.
VELTROSA_EXPORT(vt_load_state) bool vt_load_state(int32_t length) {
    if (instrument == nullptr || length < 0 || length > kInputBytes)
        return false;
    return instrument->loadState({bytesIn, static_cast<std::size_t>(length)});
}

// The sound's state into vt_bytes_out.
VELTROSA_EXPORT(vt_save_state) int32_t vt_save_state() {
    if (instrument == nullptr)
        return 0;
    bytesOut = instrument->saveState();
    return static_cast<int32_t>(bytesOut.size());
}

// For the equality tests: 0 scalar, 4 SIMD128; false if not this module's.
VELTROSA_EXPORT(vt_set_render_path) bool vt_set_render_path(int32_t path) {
    return instrument != nullptr && instrument->engine().setRenderPath(static_cast<RenderPath>(path));
}

// The end of the heap: what the tests watch for growth while notes play.
VELTROSA_EXPORT(vt_heap_end) uintptr_t vt_heap_end() { return reinterpret_cast<uintptr_t>(sbrk(0)); }

// ---- both instances ----

// A saved state of ours in length bytes of vt_bytes_in: its values into
// vt_bytes_out (as a state). False for anything else.
VELTROSA_EXPORT(vt_check_state) bool vt_check_state(int32_t length) {
    if (length < 0 || length > kInputBytes)
        return false;
    const auto values = shell::Instrument::readState({bytesIn, static_cast<std::size_t>(length)});
    if (!values)
        return false;
    bytesOut = encodeState(*values);
    return true;
}

VELTROSA_EXPORT(vt_preset_count) int32_t vt_preset_count() {
    return static_cast<int32_t>(presets::factoryBank().size());
}

// The preset's name (a terminated string), its state into vt_bytes_out.
VELTROSA_EXPORT(vt_preset) const char* vt_preset(int32_t index) {
    const auto& bank = presets::factoryBank();
    if (index < 0 || index >= static_cast<int32_t>(bank.size()))
        return nullptr;
    const presets::Preset& preset = bank[static_cast<std::size_t>(index)];
    bytesOut = presets::chunkOf(preset);
    return preset.name.c_str();
}

// ---- the page's instance: the editor ----

VELTROSA_EXPORT(vt_editor_open) bool vt_editor_open() {
    if (editor != nullptr)
        return true;
    page = new (std::nothrow) PageParameters();
    if (page == nullptr)
        return false;
    editor = new (std::nothrow) Editor(page);
    if (editor == nullptr)
        return false;
    editor->refreshControls();
    editor->setWindowLayerFactory([] {
        auto canvas = std::make_unique<CanvasWindowLayer>();
        layer = canvas.get();
        return canvas;
    });
    static int parent = 0;  // the canvas stands for the host's window
    editor->open(&parent);
    return layer != nullptr;
}

// A pointer event in client units: type as WindowMessageType.
VELTROSA_EXPORT(vt_editor_pointer) void vt_editor_pointer(int32_t type, int32_t x, int32_t y, int32_t wheelDelta) {
    if (layer == nullptr || type < static_cast<int32_t>(WindowMessageType::Paint) ||
        type > static_cast<int32_t>(WindowMessageType::Wheel))
        return;
    layer->deliver({static_cast<WindowMessageType>(type), x, y, wheelDelta});
}

// A value the sound took from elsewhere (a preset, a state, the worklet).
VELTROSA_EXPORT(vt_editor_set_value) void vt_editor_set_value(int32_t index, float value) {
    if (editor == nullptr || !isParam(index))
        return;
    page->values[static_cast<std::size_t>(index)] = value;
    editor->parameterChanged(index, value);
    editor->redrawDirty();
}

VELTROSA_EXPORT(vt_editor_value) float vt_editor_value(int32_t index) {
    return page != nullptr ? page->parameterValue(index) : 0.0f;
}

// What was drawn since the last vt_editor_clear: records of 8 words.
VELTROSA_EXPORT(vt_editor_command_count) int32_t vt_editor_command_count() {
    return layer != nullptr ? layer->commands().count() : 0;
}
VELTROSA_EXPORT(vt_editor_commands) const int32_t* vt_editor_commands() {
    return layer != nullptr ? layer->commands().words.data() : nullptr;
}
VELTROSA_EXPORT(vt_editor_text) const char* vt_editor_text() {
    return layer != nullptr ? layer->commands().text.data() : nullptr;
}
VELTROSA_EXPORT(vt_editor_clear) void vt_editor_clear() {
    if (layer != nullptr)
        layer->commands().clear();
}

// The values the user set since the last vt_editor_changes_taken: index and
// value pairs (int32, float).
VELTROSA_EXPORT(vt_editor_change_count) int32_t vt_editor_change_count() { return page != nullptr ? page->changeCount : 0; }
VELTROSA_EXPORT(vt_editor_changes) const void* vt_editor_changes() { return page != nullptr ? page->changes : nullptr; }
VELTROSA_EXPORT(vt_editor_changes_taken) void vt_editor_changes_taken() {
    if (page != nullptr)
        page->changeCount = 0;
}
