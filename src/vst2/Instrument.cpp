#include "vst2/Instrument.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>

#include "ui/Editor.h"
#include "core/Identity.h"
#include "core/State.h"
#include "engine/Midi.h"
#include "vst2/Text.h"

namespace veltrosa::vst2edge {

namespace {

static_assert(kUniqueId == vst2::fourCC('T', 'o', 'o', 't'));

constexpr std::size_t kNameLength = 8;
constexpr std::size_t kProgramNameLength = 24;
constexpr std::size_t kEffectNameLength = 32;
constexpr std::size_t kVendorLength = 64;

}  // namespace

Instrument::Instrument(vst2::HostCallback host) : EffectBase(host, 1, kNumParams) {
    setNumInputs(0);
    setNumOutputs(2);
    setUniqueID(kUniqueId);
    effect.flags |= vst2::effFlagsIsSynth | vst2::effFlagsProgramChunks | vst2::effFlagsCanReplacing;
    copyText(programName_, "Default", kProgramNameLength);
    engine_ = std::make_unique<SynthEngine>();
    // Without an editor the instrument still plays; the host just sees none.
    try {
        editor = std::make_unique<Editor>(&editorParameters);
    } catch (...) {
        editor.reset();
    }
    setFlag(vst2::effFlagsHasEditor, editor != nullptr);
    if (Editor* view = instrumentEditor())
        view->refreshControls();
    (void)noteFrequencyTable();
}

// The editor reads parameters through the engine until it is gone.
Instrument::~Instrument() {
    editor.reset();
    engine_.reset();
}

Editor* Instrument::instrumentEditor() { return static_cast<Editor*>(editor.get()); }

void Instrument::setSampleRate(float rate) {
    sampleRate = rate;
    engine_->setSampleRate(static_cast<double>(rate));
}

void Instrument::setParameter(int32_t index, float value) {
    if (index >= 0 && index < engine_->paramCount()) {
        engine_->setParam(index, value);
        engine_->parameterChanged(index);
    }
    // The value as passed, not as stored: the controls clamp it themselves.
    if (Editor* view = instrumentEditor())
        view->parameterChanged(index, value);
}

float Instrument::getParameter(int32_t index) {
    if (index >= 0 && index < engine_->paramCount())
        return engine_->param(index);
    return 0.0f;
}

void Instrument::setProgram(int32_t) {}

void Instrument::setProgramName(const char* name) { copyText(programName_, name, kProgramNameLength); }

void Instrument::getProgramName(char* name) { copyText(name, programName_, kProgramNameLength); }

void Instrument::getParameterLabel(int32_t, char* label) { copyText(label, "Ynk", kNameLength); }

void Instrument::getParameterDisplay(int32_t, char*) {}

void Instrument::getParameterName(int32_t index, char* text) {
    // Below the table counts as a harmonic, as it always has.
    if (index < kNumParams)
        copyText(text, kParams[static_cast<std::size_t>(std::max(index, 0))].shortName, kNameLength);
}

// The live values are the encoded state where floats are little-endian,
// and hosts keep the chunk's address until the next call.
static_assert(std::endian::native == std::endian::little);

int32_t Instrument::getChunk(void** data, bool) {
    *data = engine_->paramData();
    return static_cast<int32_t>(kStateBytes);
}

int32_t Instrument::setChunk(void* data, int32_t byteSize, bool) {
    if (data == nullptr || byteSize < 0)
        return 0;
    const auto values =
        decodeState(std::span(static_cast<const unsigned char*>(data), static_cast<std::size_t>(byteSize)));
    if (!values)
        return 0;
    engine_->setValues(*values);
    engine_->parameterChanged(kAllParametersChanged);
    if (Editor* view = instrumentEditor())
        view->refreshControls();
    return byteSize;
}

bool Instrument::canParameterBeAutomated(int32_t index) { return !isTrigger(index); }

bool Instrument::getEffectName(char* name) {
    copyText(name, kEffectName, kEffectNameLength);
    return true;
}

bool Instrument::getVendorString(char* text) {
    copyText(text, kVendor, kVendorLength);
    return true;
}

bool Instrument::getProductString(char* text) {
    copyText(text, kEffectName, kVendorLength);
    return true;
}

int32_t Instrument::getVendorVersion() { return kVendorVersion; }

int32_t Instrument::canDo(const char* text) {
    for (const char* capability : {"receiveVstEvents", "receiveVstMidiEvent", "receiveVstTimeInfo"})
        if (std::strcmp(text, capability) == 0)
            return 1;
    return -1;
}

int32_t Instrument::processEvents(vst2::VstEvents* events) {
    if (events == nullptr)
        return 1;
    // The list is declared with two entries but the host allocates numEvents:
    // index through the decayed pointer, not the declared array.
    vst2::VstEvent* const* list = events->events;
    for (int32_t i = 0; i < events->numEvents; ++i) {
        const vst2::VstEvent* event = list[i];
        if (event == nullptr || event->type != vst2::kVstMidiType)
            continue;
        const auto* midi = reinterpret_cast<const vst2::VstMidiEvent*>(event);
        const auto byte = [midi](int k) { return static_cast<uint8_t>(midi->midiData[k]); };
        // An offset beyond this block carries over into a later one (the voice
        // waits, the release counts down across blocks); playMidi counts one
        // before it as 0.
        playMidi(*engine_, byte(0), byte(1), byte(2), midi->deltaFrames);
    }
    return 1;
}

intptr_t Instrument::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    if (opcode == vst2::effSetBlockSizeAndSampleRate && value > 0 && value <= INT32_MAX)
        engine_->reserveBlock(static_cast<int32_t>(value));
    return EffectBase::dispatcher(opcode, index, value, ptr, opt);
}

void Instrument::resume() {
    engine_->reserveBlock(blockSize);
    EffectBase::resume();
}

void Instrument::setBlockSize(int32_t size) {
    EffectBase::setBlockSize(size);
    engine_->reserveBlock(size);
}

void Instrument::setBlockSizeAndSampleRate(int32_t size, float rate) {
    EffectBase::setBlockSizeAndSampleRate(size, rate);
    engine_->reserveBlock(size);
}

void Instrument::processReplacing(float**, float** outputs, int32_t sampleFrames) {
    if (outputs == nullptr || outputs[0] == nullptr || outputs[1] == nullptr || sampleFrames < 0)
        return;
    engine_->render(outputs[0], outputs[1], sampleFrames);
}

EffectBase* createEffectInstance(vst2::HostCallback host) {
    try {
        return new Instrument(host);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace veltrosa::vst2edge
