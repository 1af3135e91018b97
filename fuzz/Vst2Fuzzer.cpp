// libFuzzer target: every input is a little program of host calls played
// against a freshly built Instrument through its effect record, the way a
// host, a buggy host or a damaged project file could drive it.
//
// Input format (read front to back, missing bytes read as zero): a sequence of
// steps, each an operation byte followed by that operation's operands. The
// seed generator (make_vst2_corpus.py) writes the same format.
//
// Every pointer handed to the plug-in is real: text buffers of exactly the
// size the interface promises, out-parameter slots, event lists whose
// numEvents never exceeds what was allocated, chunks of exactly the byte
// count passed. Besides AddressSanitizer and UndefinedBehaviorSanitizer, each
// step checks what a host relies on: every parameter reads back the last value
// written (Update above 0.9 reads 0), a chunk is 192 bytes or refused, every
// rendered sample is finite and, while the parameters lie in 0..1, bounded;
// the voices read a whole table; after All Notes Off no voice sounds or stays
// active; and at the end of each input, with parameters back in range, a note
// sounds bounded and a silence silences it.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "FuzzInput.h"
#include "editor/ControlWindow.h"
#include "editor/platform/raster/CairoSurface.h"
#include "editor/platform/raster/RasterWindowLayer.h"
#include "core/Parameters.h"
#include "engine/Wavetable.h"
#include "abi/vst2.h"
#include "vst2/Instrument.h"

namespace {

using namespace fuzz;
using veltrosa::kNumParams;
using veltrosa::kParamUpdate;

// VELTROSA_FUZZ_TRACE=1 prints every call made at the boundary, to read what
// a crashing input does.
const bool kTrace = std::getenv("VELTROSA_FUZZ_TRACE") != nullptr;

__attribute__((format(printf, 1, 2))) void trace(const char* format, ...) {
    if (!kTrace)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

// Bounds on the work one input may cause, so that executions stay fast.
constexpr int kMaxSteps = 200;
constexpr int32_t kMaxBlock = 4096;
constexpr int64_t kFrameBudget = 1 << 16;  // frames rendered per input before blocks shrink
constexpr int kRegenerationBudget = 3;     // wavetable generations per input beyond the first
constexpr float kOutputBound = 1000.0f;
constexpr int kMaxWindowMessages = 24;  // each may press "Update"

int32_t pickIndex(Input& in) {
    const uint8_t k = in.byte();
    if (k < 240)
        return static_cast<int32_t>(k % 51) - 1;  // -1..49
    return in.raw<int32_t>();
}

intptr_t pickValue(Input& in) {
    const uint8_t k = in.byte();
    if (k < 128)
        return k;
    if (k < 192)
        return in.raw<uint16_t>();
    if (k < 224)
        return static_cast<intptr_t>(in.raw<int32_t>());
    return static_cast<intptr_t>(in.raw<int64_t>());
}

float pickSampleRate(Input& in) {
    static constexpr float kRates[] = {
        0.0f,     -44100.0f, 1e-30f,   1.0f,      8000.0f, 22050.0f, 44100.0f,
        48000.0f, 88200.0f,  96000.0f, 192000.0f, 1e9f,    1e30f,    std::numeric_limits<float>::max()};
    const uint8_t k = in.byte();
    if (k < std::size(kRates))
        return kRates[k];
    if (k < 200)
        return kRates[k % std::size(kRates)];
    return pickFloat(in);
}

// An answer for every host opcode: version 2400, nothing else.
intptr_t VSTCALL hostCallback(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == vst2::audioMasterVersion ? 2400 : 0;
}

// What ptr points at for each opcode a host can send.
enum class Ptr { Bytes, TextIn, TextOut, Struct, ZeroedStruct };

struct PtrKind {
    Ptr kind;
    std::size_t size;
};

PtrKind ptrKindOf(int32_t opcode) {
    using namespace vst2;
    switch (opcode) {
    case effSetProgramName:
    case effString2Parameter:
    case effCanDo:
        return {Ptr::TextIn, 0};
    case effGetProgramName:
    case effGetProgramNameIndexed:
        return {Ptr::TextOut, 25};
    case effGetParamLabel:
    case effGetParamDisplay:
    case effGetParamName:
        return {Ptr::TextOut, 9};
    case effGetEffectName:
        return {Ptr::TextOut, 33};
    case effGetVendorString:
    case effGetProductString:
    case effShellGetNextPlugin:
        return {Ptr::TextOut, 65};
    case effGetErrorText:
        return {Ptr::TextOut, 256};
    case effOfflineNotify:
    case effOfflinePrepare:
    case effOfflineRun:
    case effProcessVarIo:
        // Records that hold pointers of their own: all null.
        return {Ptr::ZeroedStruct, 1024};
    case effGetInputProperties:
    case effGetOutputProperties:
    case effBeginLoadBank:
    case effBeginLoadProgram:
    case effGetParameterProperties:
    case effGetMidiProgramName:
    case effGetCurrentMidiProgram:
    case effGetMidiProgramCategory:
    case effGetMidiKeyName:
    case effGetCurrentPosition:
    case effGetDestinationBuffer:
        return {Ptr::Struct, 1024};
    default:
        return {Ptr::Bytes, 0};
    }
}

class Session {
public:
    Session() {
        instrument = new veltrosa::vst2edge::Instrument(hostCallback);
        effect = instrument->getAeffect();
        // The editor opens into a headless raster window whatever parent the
        // host names; messages reach it as a window system would send them.
        gui = dynamic_cast<veltrosa::ControlWindow*>(instrument->getEditor());
        if (gui != nullptr)
            gui->setWindowLayerFactory([] { return std::make_unique<veltrosa::RasterWindowLayer>(); });
        for (int32_t i = 0; i < kNumParams; ++i)
            expected[static_cast<std::size_t>(i)] = bitsOf(effect->getParameter(effect, i));
    }

    ~Session() {
        if (effect != nullptr)
            FUZZ_CHECK(dispatch(vst2::effClose) == 1, "effClose through the record answers 1");
    }

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void run(Input& in) {
        for (int step = 0; step < kMaxSteps && !in.empty(); ++step) {
            switch (in.byte() % 13) {
            case 0:
                genericDispatch(in);
                break;
            case 1: {
                const int32_t index = pickIndex(in);
                setParameter(index, pickFloat(in));
                break;
            }
            case 2:
                checkParameters();
                break;
            case 3:
                sendEvents(in);
                break;
            case 4:
                render(pickBlock(in));
                break;
            case 5:
                setSampleRate(pickSampleRate(in));
                break;
            case 6:
                setChunk(in, chunkCount(in));
                break;
            case 7:
                getChunk(in.byte() & 1);
                break;
            case 8:
                editorCall(in);
                break;
            case 9:
                legacyProcess(in);
                break;
            case 10:
                silenceAndCheck(in);
                break;
            case 11:
                hostRoutine(in);
                break;
            case 12:
                windowMessage(in);
                break;
            }
            if (effect == nullptr)
                return;
        }
        recoverAndCheck();
    }

private:
    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f) {
        trace("dispatch %d index %d value %ld ptr %p opt %g\n", opcode, index, static_cast<long>(value), ptr,
              static_cast<double>(opt));
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    }

    bool mayRegenerate() { return regenerations < kRegenerationBudget; }

    // ---- Parameters: every value written is read back, except that "Update"
    // above 0.9 fires and reads 0.

    void setParameter(int32_t index, float value) {
        const bool fires = index == kParamUpdate && value > 0.9f;
        if (fires && !mayRegenerate())
            value = 0.5f;
        if (fires && mayRegenerate())
            ++regenerations;
        trace("setParameter %d %g\n", index, static_cast<double>(value));
        effect->setParameter(effect, index, value);
        if (index < 0 || index >= kNumParams) {
            FUZZ_CHECK(bitsOf(effect->getParameter(effect, index)) == 0, "getParameter out of range answers 0", index);
            checkParameters();
            return;
        }
        const float stored = index == kParamUpdate && value > 0.9f ? 0.0f : value;
        expected[static_cast<std::size_t>(index)] = bitsOf(stored);
        FUZZ_CHECK(bitsOf(effect->getParameter(effect, index)) == bitsOf(stored), "last value written reads back",
                   index, static_cast<long>(bitsOf(value)));
    }

    void checkParameters() {
        for (int32_t i = 0; i < kNumParams; ++i)
            FUZZ_CHECK(bitsOf(effect->getParameter(effect, i)) == expected[static_cast<std::size_t>(i)],
                       "parameter changed behind the host's back", i,
                       static_cast<long>(bitsOf(effect->getParameter(effect, i))));
    }

    bool parametersNominal() {
        for (int32_t i = 0; i < kNumParams; ++i) {
            const float v = effect->getParameter(effect, i);
            if (!(v >= 0.0f && v <= 1.0f))
                return false;
        }
        return true;
    }

    // ---- Audio.

    int32_t pickBlock(Input& in) {
        const uint8_t k = in.byte();
        int32_t n;
        if (k == 7)
            n = -1;  // no host sends it; it must write nothing
        else if (k < 8)
            n = k;  // 0..6
        else if (k < 64)
            n = instrument->getBlockSize();
        else
            n = static_cast<int32_t>(in.raw<uint16_t>() % (kMaxBlock + 1));
        if (n < -1 || n > kMaxBlock)
            n = 512;
        if (framesRendered > kFrameBudget)
            n = std::min(n, 32);
        return n;
    }

    // processReplacing into buffers of exactly n samples, pre-filled with NaN
    // so that a sample the plug-in leaves unwritten is caught.
    void render(int32_t n, bool expectSilence = false) {
        if (n < 0) {
            float left = 0.5f, right = 0.5f;
            float* outputs[2] = {&left, &right};
            effect->processReplacing(effect, nullptr, outputs, n);
            FUZZ_CHECK(left == 0.5f && right == 0.5f, "a negative block wrote samples", n);
            return;
        }
        const auto size = static_cast<std::size_t>(n);
        std::unique_ptr<float[]> left(new float[size]);
        std::unique_ptr<float[]> right(new float[size]);
        std::fill_n(left.get(), size, std::numeric_limits<float>::quiet_NaN());
        std::fill_n(right.get(), size, std::numeric_limits<float>::quiet_NaN());
        float* outputs[2] = {left.get(), right.get()};
        trace("processReplacing %d\n", n);
        effect->processReplacing(effect, nullptr, outputs, n);
        framesRendered += n;
        const float* table = instrument->synth().table();
        FUZZ_CHECK(table != nullptr && bitsOf(table[veltrosa::Wavetable::kLength]) == bitsOf(table[0]),
                   "the voices read a torn table");
        if (expectSilence) {
            for (std::size_t i = 0; i < size; ++i)
                FUZZ_CHECK(bitsOf(left[i]) == 0 && bitsOf(right[i]) == 0, "a voice sounds after a silence",
                           static_cast<long>(i), n);
            for (int32_t v = 0; v < veltrosa::SynthEngine::kNumVoices; ++v)
                FUZZ_CHECK(!instrument->synth().voice(v).active(), "a voice stays active after a silence", v);
            return;
        }
        // Never a NaN or an infinity for the host's mixer, whatever the
        // parameters; bounded while every parameter is in its 0..1 range
        // (values beyond it are used as they are, a Volume of 1e30 included).
        const bool nominal = parametersNominal();
        for (std::size_t i = 0; i < size; ++i) {
            if (!(std::fabs(left[i]) < kOutputBound && std::fabs(right[i]) < kOutputBound))
                trace("sample %zu: %g %g\n", i, static_cast<double>(left[i]), static_cast<double>(right[i]));
            FUZZ_CHECK(std::isfinite(left[i]) && std::isfinite(right[i]), "output sample not finite",
                       static_cast<long>(i), n);
            FUZZ_CHECK(!nominal || (std::fabs(left[i]) < kOutputBound && std::fabs(right[i]) < kOutputBound),
                       "output sample out of bounds", static_cast<long>(i), n);
        }
    }

    // The accumulating and double-precision callbacks do nothing at all.
    void legacyProcess(Input& in) {
        const int32_t n = std::max(pickBlock(in), 0);
        const auto size = static_cast<std::size_t>(n);
        if (in.byte() & 1) {
            std::vector<float> left(size, 0.25f), right(size, -0.25f);
            float* outputs[2] = {left.data(), right.data()};
            effect->process(effect, nullptr, outputs, n);
            for (std::size_t i = 0; i < size; ++i)
                FUZZ_CHECK(left[i] == 0.25f && right[i] == -0.25f, "the accumulating callback wrote");
        } else {
            std::vector<double> left(size, 0.25), right(size, -0.25);
            double* outputs[2] = {left.data(), right.data()};
            effect->processDoubleReplacing(effect, nullptr, outputs, n);
            for (std::size_t i = 0; i < size; ++i)
                FUZZ_CHECK(left[i] == 0.25 && right[i] == -0.25, "the double callback wrote");
        }
    }

    // ---- Events.

    struct EventBlock {
        std::vector<std::unique_ptr<unsigned char[]>> records;
        std::unique_ptr<unsigned char[]> list;
    };

    // A record as large as the largest event type (a system-exclusive event
    // with its pointers), zeroed, so that whatever the type field says nothing
    // invented is reachable through it.
    static constexpr std::size_t kEventRecordSize = 64;

    void fillMidiEvent(Input& in, unsigned char* record) {
        vst2::VstMidiEvent midi{};
        const uint8_t kind = in.byte();
        midi.type = kind < 224 ? vst2::kVstMidiType : (kind < 240 ? vst2::kVstSysExType : in.raw<int32_t>());
        midi.byteSize = static_cast<int32_t>(sizeof midi);
        const uint8_t when = in.byte();
        if (when < 128)
            midi.deltaFrames = when;
        else if (when < 192)
            midi.deltaFrames = in.raw<uint16_t>() % kMaxBlock;
        else
            midi.deltaFrames = in.raw<int32_t>();
        const uint8_t status = in.byte();
        const uint8_t channel = status & 0x0F;
        static constexpr uint8_t kStatuses[] = {0x90, 0x80, 0xB0, 0x90, 0xE0, 0xA0, 0xC0, 0xF0};
        midi.midiData[0] = static_cast<char>(status < 128 ? (kStatuses[status >> 4] | channel) : in.byte());
        const uint8_t d1 = in.byte();
        static constexpr uint8_t kControllers[] = {123, 126, 64, 121, 120, 101, 100, 6};
        if ((static_cast<uint8_t>(midi.midiData[0]) & 0xF0) == 0xB0 && d1 < 128)
            midi.midiData[1] = static_cast<char>(kControllers[d1 % 8]);
        else
            midi.midiData[1] = static_cast<char>(d1);
        midi.midiData[2] = static_cast<char>(in.byte());
        midi.midiData[3] = static_cast<char>(in.byte());
        std::memcpy(record, &midi, sizeof midi);
        trace("  event type %d delta %d midi %02x %02x %02x\n", midi.type, midi.deltaFrames,
              static_cast<uint8_t>(midi.midiData[0]), static_cast<uint8_t>(midi.midiData[1]),
              static_cast<uint8_t>(midi.midiData[2]));
    }

    vst2::VstEvents* buildEvents(Input& in, EventBlock& block) {
        const int32_t count = in.byte() % 17;
        const std::size_t slots = static_cast<std::size_t>(std::max(count, 2));
        const std::size_t bytes = offsetof(vst2::VstEvents, events) + slots * sizeof(vst2::VstEvent*);
        block.list.reset(new unsigned char[bytes]());
        auto* events = reinterpret_cast<vst2::VstEvents*>(block.list.get());
        // The list is declared with two entries and allocated with as many as
        // needed: index through the decayed pointer.
        vst2::VstEvent** entries = events->events;
        for (int32_t i = 0; i < count; ++i) {
            vst2::VstEvent* event = nullptr;
            if (in.byte() != 0xFF) {
                block.records.emplace_back(new unsigned char[kEventRecordSize]());
                fillMidiEvent(in, block.records.back().get());
                event = reinterpret_cast<vst2::VstEvent*>(block.records.back().get());
            }
            entries[i] = event;
        }
        const uint8_t k = in.byte();
        if (k < 200)
            events->numEvents = count;
        else if (k < 240)
            events->numEvents = count == 0 ? 0 : k % (count + 1);
        else
            events->numEvents = -static_cast<int32_t>(k);
        return events;
    }

    void sendEvents(Input& in) {
        EventBlock block;
        const bool null = in.byte() == 0xFF;
        vst2::VstEvents* events = null ? nullptr : buildEvents(in, block);
        FUZZ_CHECK(dispatch(vst2::effProcessEvents, 0, 0, events) == 1, "effProcessEvents answers 1");
    }

    void sendController(int controller, int channel) {
        vst2::VstMidiEvent midi{};
        midi.type = vst2::kVstMidiType;
        midi.byteSize = static_cast<int32_t>(sizeof midi);
        midi.midiData[0] = static_cast<char>(0xB0 | (channel & 0x0F));
        midi.midiData[1] = static_cast<char>(controller);
        vst2::VstEvents list{};
        list.numEvents = 1;
        list.events[0] = reinterpret_cast<vst2::VstEvent*>(&midi);
        dispatch(vst2::effProcessEvents, 0, 0, &list);
    }

    void sendNote(int key, int velocity) {
        vst2::VstMidiEvent midi{};
        midi.type = vst2::kVstMidiType;
        midi.byteSize = static_cast<int32_t>(sizeof midi);
        midi.midiData[0] = static_cast<char>(0x90);
        midi.midiData[1] = static_cast<char>(key);
        midi.midiData[2] = static_cast<char>(velocity);
        vst2::VstEvents list{};
        list.numEvents = 1;
        list.events[0] = reinterpret_cast<vst2::VstEvent*>(&midi);
        dispatch(vst2::effProcessEvents, 0, 0, &list);
    }

    // All Notes Off (123) or Mono Mode On (126): from the next block on not a
    // single voice may sound, whatever the parameters are.
    void silenceAndCheck(Input& in) {
        const uint8_t k = in.byte();
        sendController(k & 1 ? 126 : 123, k >> 4);
        render(std::max(pickBlock(in), 1), true);
    }

    // ---- Sample rate.

    void setSampleRate(float rate) {
        if (!mayRegenerate())
            return;
        ++regenerations;
        dispatch(vst2::effSetSampleRate, 0, 0, nullptr, rate);
        // A new rate regenerates and resets "Update"; nothing else may move.
        const float update = effect->getParameter(effect, kParamUpdate);
        FUZZ_CHECK(bitsOf(update) == expected[kParamUpdate] || bitsOf(update) == 0, "rate change moved Update");
        expected[kParamUpdate] = bitsOf(update);
        checkParameters();
    }

    // ---- State chunk.

    intptr_t chunkCount(Input& in) {
        const uint8_t k = in.byte();
        if (k < 160)
            return 192;
        if (k < 176)
            return 191 + (k & 3);  // 191..194
        if (k < 208)
            return in.raw<uint16_t>() % 512;
        if (k < 216)
            return static_cast<intptr_t>((static_cast<uint64_t>(in.byte()) << 32) + 192);
        return pickValue(in);
    }

    void setChunk(Input& in, intptr_t count) {
        const bool accepted = count == 192;
        if (accepted && !mayRegenerate())
            count = 191;
        // The host owns count bytes; for counts no host could hold we hand a
        // short buffer, which the plug-in must reject without reading.
        const bool plausible = count >= 0 && count <= 4096;
        const std::size_t size = plausible ? static_cast<std::size_t>(count) : in.byte() % 200u;
        std::unique_ptr<unsigned char[]> data(new unsigned char[size]);
        const uint8_t mode = in.byte();
        if (size == 192 && mode < 128) {
            for (int32_t i = 0; i < kNumParams; ++i) {
                const float v = mode < 64 ? pickFloat(in) : static_cast<float>(in.byte()) / 255.0f;
                std::memcpy(data.get() + 4 * i, &v, 4);
            }
        } else {
            in.fill(data.get(), size);
        }
        const bool null = in.byte() == 0xFF;
        const intptr_t answer = dispatch(vst2::effSetChunk, in.byte() & 1, count, null ? nullptr : data.get());
        if (count == 192 && !null) {
            ++regenerations;
            FUZZ_CHECK(answer == 192, "a 192-byte chunk is accepted", static_cast<long>(answer));
            for (int32_t i = 0; i < kNumParams; ++i)
                std::memcpy(&expected[static_cast<std::size_t>(i)], data.get() + 4 * i, 4);
            expected[kParamUpdate] = 0;
        } else {
            FUZZ_CHECK(answer == 0, "a chunk of the wrong size is refused", static_cast<long>(answer),
                       static_cast<long>(count));
        }
        checkParameters();
    }

    void getChunk(bool preset) {
        void* slot = nullptr;
        const intptr_t answer = dispatch(vst2::effGetChunk, preset ? 1 : 0, 0, &slot);
        FUZZ_CHECK(answer == 192 && slot != nullptr, "effGetChunk hands out 192 bytes", static_cast<long>(answer));
        // The live array, allocated once: the same address for the whole life.
        if (chunkAddress == nullptr)
            chunkAddress = slot;
        FUZZ_CHECK(slot == chunkAddress, "effGetChunk moved the chunk");
        unsigned char copy[192];
        std::memcpy(copy, slot, sizeof copy);
        for (int32_t i = 0; i < kNumParams; ++i) {
            uint32_t bits;
            std::memcpy(&bits, copy + 4 * i, 4);
            FUZZ_CHECK(bits == expected[static_cast<std::size_t>(i)], "chunk differs from the parameters", i);
        }
    }

    // ---- Editor.

    void editorCall(Input& in) {
        using namespace vst2;
        static constexpr int32_t kOpcodes[] = {effEditGetRect, effEditOpen,  effEditClose,       effEditIdle,
                                               effEditKeyDown, effEditKeyUp, effSetEditKnobMode, effEditDraw,
                                               effEditMouse,   effEditKey,   effEditTop,         effEditSleep};
        const int32_t opcode = kOpcodes[in.byte() % std::size(kOpcodes)];
        switch (opcode) {
        case effEditGetRect: {
            ERect* rect = nullptr;
            if (dispatch(opcode, 0, 0, &rect) != 0) {
                FUZZ_CHECK(rect != nullptr, "effEditGetRect answered 1 without a rectangle");
                FUZZ_CHECK(rect->right > rect->left && rect->bottom > rect->top, "editor rectangle is empty");
            }
            break;
        }
        case effEditOpen: {
            // The parent is a real object or null; the raster layer only keeps it.
            static int parentWindow = 0;
            dispatch(opcode, 0, 0, in.byte() & 1 ? nullptr : &parentWindow);
            break;
        }
        default: {
            const int32_t index = pickIndex(in);
            const intptr_t value = pickValue(in);
            dispatch(opcode, index, value, nullptr, pickFloat(in));
            break;
        }
        }
    }

    // What the window system delivers while the editor is open: presses,
    // drags, releases, wheel turns anywhere, inside the window or not. A
    // control may move only its own parameter, and only within 0..1.
    void windowMessage(Input& in) {
        using veltrosa::WindowMessageType;
        auto* layer = gui != nullptr ? dynamic_cast<veltrosa::RasterWindowLayer*>(gui->windowLayer()) : nullptr;
        if (layer == nullptr || !layer->exists() || windowMessages >= kMaxWindowMessages)
            return;
        ++windowMessages;
        static constexpr WindowMessageType kTypes[] = {
            WindowMessageType::Paint,          WindowMessageType::Activate,     WindowMessageType::MouseMove,
            WindowMessageType::LeftButtonDown, WindowMessageType::LeftButtonUp, WindowMessageType::Wheel};
        veltrosa::WindowMessage message;
        message.type = kTypes[in.byte() % std::size(kTypes)];
        const uint8_t k = in.byte();
        if (k < 224) {
            message.x = static_cast<int32_t>(in.raw<uint16_t>() % 400) - 40;
            message.y = static_cast<int32_t>(in.raw<uint16_t>() % 460) - 40;
        } else {
            message.x = in.raw<int32_t>();
            message.y = in.raw<int32_t>();
        }
        const uint8_t w = in.byte();
        message.wheelDelta = w < 128 ? (static_cast<int32_t>(w % 9) - 4) * 120 : in.raw<int32_t>();
        trace("window message %d at %d %d wheel %d\n", static_cast<int>(message.type), message.x, message.y,
              message.wheelDelta);
        const auto before = expected;
        layer->deliver(message);
        for (int32_t i = 0; i < kNumParams; ++i) {
            const auto slot = static_cast<std::size_t>(i);
            const float v = effect->getParameter(effect, i);
            if (bitsOf(v) != before[slot])
                FUZZ_CHECK(v >= 0.0f && v <= 1.0f, "a control set its parameter out of range", i,
                           static_cast<long>(bitsOf(v)));
            expected[slot] = bitsOf(v);
        }
    }

    // ---- Any opcode at all, with a pointer of the kind the opcode promises.

    void genericDispatch(Input& in) {
        const uint8_t k = in.byte();
        const int32_t opcode = k < 248 ? static_cast<int32_t>(k % 84) - 2 : in.raw<int32_t>();
        switch (opcode) {
        case vst2::effClose:
            recoverAndCheck();
            FUZZ_CHECK(dispatch(vst2::effClose) == 1, "effClose through the record answers 1");
            effect = nullptr;
            instrument = nullptr;
            return;
        case vst2::effSetSampleRate:
            setSampleRate(pickFloat(in));
            return;
        case vst2::effSetChunk:
            setChunk(in, pickValue(in));
            return;
        case vst2::effGetChunk:
            getChunk(in.byte() & 1);
            return;
        case vst2::effProcessEvents:
            sendEvents(in);
            return;
        case vst2::effEditGetRect:
        case vst2::effEditOpen:
            editorCall(in);
            return;
        case vst2::effGetSpeakerArrangement: {
            // value and ptr are both addresses of arrangement pointers.
            vst2::VstSpeakerArrangement dummy{};
            vst2::VstSpeakerArrangement* in1 = &dummy;
            vst2::VstSpeakerArrangement* out1 = &dummy;
            dispatch(opcode, 0, reinterpret_cast<intptr_t>(&in1), &out1);
            return;
        }
        case vst2::effSetSpeakerArrangement: {
            // value and ptr are arrangements, each with room for as many
            // speakers as it claims (or null).
            auto input = arrangement(in), output = arrangement(in);
            dispatch(opcode, 0, reinterpret_cast<intptr_t>(input.get()), output.get());
            return;
        }
        default:
            break;
        }
        const int32_t index = pickIndex(in);
        const intptr_t value = pickValue(in);
        const float opt = pickFloat(in);
        const PtrKind kind = ptrKindOf(opcode);
        const bool null = in.byte() == 0xFF;
        std::vector<char> buffer;
        switch (kind.kind) {
        case Ptr::TextIn: {
            buffer.resize(in.byte() % 80u);
            in.fill(buffer.data(), buffer.size());
            buffer.push_back('\0');
            break;
        }
        case Ptr::TextOut:
            buffer.assign(kind.size, '\x7F');
            break;
        case Ptr::Struct:
            buffer.resize(kind.size);
            in.fill(buffer.data(), buffer.size() / 4);
            break;
        case Ptr::ZeroedStruct:
            buffer.assign(kind.size, '\0');
            break;
        case Ptr::Bytes:
            buffer.resize(in.byte() % 64u);
            in.fill(buffer.data(), buffer.size());
            break;
        }
        const std::vector<char> before = buffer;
        const intptr_t answer = dispatch(opcode, index, value, null ? nullptr : buffer.data(), opt);
        if (kind.kind == Ptr::TextOut && !null && buffer != before)
            FUZZ_CHECK(std::memchr(buffer.data(), '\0', buffer.size()) != nullptr,
                       "text handed to the host is not terminated", opcode);
        if (kind.kind == Ptr::TextIn && !null)
            FUZZ_CHECK(buffer == before, "the plug-in wrote into the host's text", opcode);
        if (opcode == vst2::effCanDo)
            FUZZ_CHECK(answer == 1 || answer == -1 || null, "canDo answers 1 or -1", static_cast<long>(answer));
        if (opcode == vst2::effSetProgram || opcode == vst2::effSetProgramName || opcode == vst2::effSetBlockSize)
            checkParameters();
    }

    struct FreeArrangement {
        void operator()(vst2::VstSpeakerArrangement* p) const { std::free(p); }
    };
    using Arrangement = std::unique_ptr<vst2::VstSpeakerArrangement, FreeArrangement>;

    static Arrangement arrangement(Input& in) {
        const uint8_t k = in.byte();
        if (k == 0xFF)
            return nullptr;
        const int32_t channels = static_cast<int32_t>(k % 20) - 2;
        const std::size_t room = static_cast<std::size_t>(std::max(channels, 8));
        const std::size_t bytes = vst2::kSpeakerArrangementHeaderSize + room * sizeof(vst2::VstSpeakerProperties);
        const std::size_t size = std::max(bytes, sizeof(vst2::VstSpeakerArrangement));
        Arrangement made(static_cast<vst2::VstSpeakerArrangement*>(std::calloc(1, size)));
        made->type = in.raw<int32_t>();
        made->numChannels = channels;
        return made;
    }

    // What hosts do around playback: suspend/resume, start/stop, block size,
    // transport-stop controller bursts, a plain note; and a session long
    // enough for the note count to near its bound.
    void hostRoutine(Input& in) {
        switch (in.byte() % 6) {
        case 0:
            dispatch(vst2::effMainsChanged, 0, in.byte() & 1);
            break;
        case 1:
            dispatch(in.byte() & 1 ? vst2::effStartProcess : vst2::effStopProcess);
            break;
        case 2:
            dispatch(vst2::effSetBlockSize, 0, pickValue(in));
            break;
        case 3:
            for (int channel = 0; channel < 16; ++channel) {
                sendController(64, channel);
                sendController(123, channel);
                sendController(121, channel);
            }
            render(64, true);
            break;
        case 4: {
            const uint8_t key = in.byte();
            sendNote(key, in.byte());
            break;
        }
        case 5:
            // A long session's note count, up to where ages wrap.
            instrument->synth().setNoteCounter(in.raw<int32_t>());
            break;
        }
    }

    // ---- End of every input: once the parameters are back in range and the
    // rate is sane, a note must sound finite and bounded, and a silence must
    // silence it.
    void recoverAndCheck() {
        for (int32_t i = 0; i < kNumParams; ++i) {
            const float v = effect->getParameter(effect, i);
            if (!(v >= 0.0f && v <= 1.0f))
                setParameter(i, i == kParamUpdate ? 0.0f : veltrosa::defaultParam(i));
        }
        regenerations = 0;
        setSampleRate(44100.0f);
        sendNote(60, 100);
        for (int block = 0; block < 4; ++block)
            render(256);
        sendController(123, 0);
        render(256, true);
        checkParameters();
    }

    veltrosa::vst2edge::Instrument* instrument = nullptr;  // deleted by effClose
    veltrosa::ControlWindow* gui = nullptr;             // the instrument's editor, if any
    int windowMessages = 0;
    vst2::AEffect* effect = nullptr;
    std::array<uint32_t, kNumParams> expected{};  // bits of each parameter as the host should read it
    int regenerations = 0;
    int64_t framesRendered = 0;
    const void* chunkAddress = nullptr;
};

}  // namespace

// The drawing library's process-wide font caches go before the leak check.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::atexit(veltrosa::CairoSurface::releaseProcessCaches);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Input in(data, size);
    Session session;
    session.run(in);
    return 0;
}
