#include "vst3/Processor.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>

#include "core/State.h"
#include "engine/DenormalGuard.h"
#include "engine/Midi.h"
#include "rebuild/ChangedValues.h"
#include "vst3/Ids.h"
#include "vst3/Text.h"

namespace veltrosa::vst3edge {

Processor::Processor()
    : engine_(std::make_unique<SynthEngine>()), builder_(std::make_unique<TableBuilder>(*engine_)) {}

// The builder's thread is joined here, so no code of the module runs on once
// the host has released the instance.
Processor::~Processor() { builder_->stop(); }

vst3::Result Processor::queryInterface(const char* iid, void** object) {
    if (object == nullptr)
        return vst3::kInvalidArgument;
    *object = nullptr;
    if (sameId(iid, vst3::kIidUnknown) || sameId(iid, vst3::kIidPluginBase) || sameId(iid, vst3::kIidComponent))
        *object = static_cast<vst3::Component*>(this);
    else if (sameId(iid, vst3::kIidAudioProcessor))
        *object = static_cast<vst3::AudioProcessor*>(this);
    else if (sameId(iid, vst3::kIidProcessContextRequirements))
        *object = static_cast<vst3::ProcessContextRequirements*>(this);
    else
        return vst3::kNoInterface;
    addRef();
    return vst3::kOk;
}

vst3::Result Processor::initialize(vst3::Unknown*) {
    if (initialized_)
        return vst3::kFalse;
    if (!builder_->start())
        return vst3::kInternalError;
    initialized_ = true;
    return vst3::kOk;
}

vst3::Result Processor::terminate() {
    active_ = false;
    initialized_ = false;
    return vst3::kOk;
}

vst3::Result Processor::getControllerClassId(char* classId) {
    if (classId == nullptr)
        return vst3::kInvalidArgument;
    std::memcpy(classId, kControllerId.bytes, sizeof kControllerId.bytes);
    return vst3::kOk;
}

vst3::Result Processor::setIoMode(int32_t) { return vst3::kNotImplemented; }

int32_t Processor::getBusCount(int32_t type, int32_t direction) {
    if (type == vst3::kAudio && direction == vst3::kOutput)
        return 1;
    if (type == vst3::kEvent && direction == vst3::kInput)
        return 1;
    return 0;
}

vst3::Result Processor::getBusInfo(int32_t type, int32_t direction, int32_t index, vst3::BusInfo& info) {
    if (index != 0 || getBusCount(type, direction) != 1)
        return vst3::kInvalidArgument;
    info = {};
    info.mediaType = type;
    info.direction = direction;
    info.channelCount = type == vst3::kAudio ? 2 : 1;
    writeText(info.name, type == vst3::kAudio ? "Output" : "Notes");
    info.busType = vst3::kMain;
    info.flags = vst3::kBusDefaultActive;
    return vst3::kOk;
}

vst3::Result Processor::getRoutingInfo(vst3::RoutingInfo&, vst3::RoutingInfo&) { return vst3::kNotImplemented; }

vst3::Result Processor::activateBus(int32_t type, int32_t direction, int32_t index, uint8_t) {
    return index == 0 && getBusCount(type, direction) == 1 ? vst3::kOk : vst3::kInvalidArgument;
}

vst3::Result Processor::setActive(uint8_t state) {
    if (!initialized_)
        return vst3::kNotInitialized;
    if (state != 0 && !active_) {
        if (!setUp_)
            return vst3::kNotInitialized;
        // The first block plays the table of this rate, as every edition's does.
        builder_->settle(kSettleLimit);
        applyChangedValues();
        engine_->silenceAll();
    }
    active_ = state != 0;
    return vst3::kOk;
}

vst3::Result Processor::setState(vst3::Stream* state) {
    std::array<unsigned char, kStateBytes + 1> buffer{};
    const auto done = readAll(state, buffer.data(), static_cast<int32_t>(buffer.size()));
    if (done < 0)
        return vst3::kInvalidArgument;
    const auto values = decodeState(std::span(buffer.data(), static_cast<std::size_t>(done)));
    // Every value lies in 0..1 in a state of ours; any other bytes are not one.
    if (!values || !std::all_of(values->begin(), values->end(), [](float v) { return v >= 0.0f && v <= 1.0f; }))
        return vst3::kInvalidArgument;
    engine_->setValues(*values);
    changed_.fetch_or(kAllParametersMask, std::memory_order_acq_rel);
    builder_->request();
    if (!active_)
        applyChangedValues();
    return vst3::kOk;
}

vst3::Result Processor::getState(vst3::Stream* state) {
    StateBytes bytes = encodeState(engine_->values());
    return writeAll(state, bytes.data(), static_cast<int32_t>(bytes.size())) ? vst3::kOk : vst3::kInternalError;
}

vst3::Result Processor::setBusArrangements(vst3::SpeakerArrangement*, int32_t numIns,
                                           vst3::SpeakerArrangement* outputs, int32_t numOuts) {
    if (numIns == 0 && numOuts == 1 && outputs != nullptr && outputs[0] == vst3::kStereo)
        return vst3::kOk;
    return vst3::kFalse;
}

vst3::Result Processor::getBusArrangement(int32_t direction, int32_t index, vst3::SpeakerArrangement& arrangement) {
    if (direction != vst3::kOutput || index != 0)
        return vst3::kInvalidArgument;
    arrangement = vst3::kStereo;
    return vst3::kOk;
}

vst3::Result Processor::canProcessSampleSize(int32_t symbolicSampleSize) {
    return symbolicSampleSize == vst3::kSample32 ? vst3::kOk : vst3::kFalse;
}

vst3::Result Processor::setupProcessing(vst3::ProcessSetup& setup) {
    if (active_ || setup.symbolicSampleSize != vst3::kSample32 || !(setup.sampleRate >= 1.0 && setup.sampleRate <= 1.0e6) ||
        setup.maxSamplesPerBlock <= 0)
        return vst3::kInvalidArgument;
    maxFrames_ = std::min(setup.maxSamplesPerBlock, SynthEngine::kMaxReservedBlock);
    engine_->reserveBlock(maxFrames_);
    builder_->setSampleRate(setup.sampleRate);
    offline_ = setup.processMode == vst3::kOffline;
    setUp_ = true;
    return vst3::kOk;
}

vst3::Result Processor::setProcessing(uint8_t) { return active_ ? vst3::kOk : vst3::kNotInitialized; }

uint32_t Processor::getTailSamples() { return 0x7FFFFFFF; }  // voices ring on after their notes

void Processor::setValue(int32_t index, double value) noexcept {
    if (index < 0 || index >= kNumParams || std::isnan(value))
        return;
    engine_->setParam(index, static_cast<float>(std::clamp(value, 0.0, 1.0)));
    changed_.fetch_or(uint64_t{1} << index, std::memory_order_acq_rel);
    if (asksForTable(index))
        builder_->request();
}

void Processor::applyChangedValues() noexcept {
    followChangedValues(*engine_, changed_);
}

// Each queue's last value applies before the block, as a VST 2 host sets a
// value between blocks; "Update" acts on a rise anywhere in its queue.
void Processor::playParameterChanges(vst3::ParameterChanges* changes) noexcept {
    if (changes == nullptr)
        return;
    const int32_t count = changes->getParameterCount();
    for (int32_t q = 0; q < count; ++q) {
        vst3::ParamValueQueue* queue = changes->getParameterData(q);
        if (queue == nullptr)
            continue;
        const vst3::ParamId id = queue->getParameterId();
        const int32_t points = queue->getPointCount();
        if (id >= static_cast<vst3::ParamId>(kNumParams) || points <= 0)
            continue;
        const auto index = static_cast<int32_t>(id);
        int32_t offset = 0;
        double value = 0.0;
        // A press stands even if the queue lets go again in the same block:
        // the builder reads the value later, and springs it back itself.
        bool pressed = false;
        for (int32_t p = 0; index == kParamUpdate && p < points && !pressed; ++p)
            if (queue->getPoint(p, offset, value) == vst3::kOk && value > static_cast<double>(kUpdateThreshold)) {
                setValue(index, value);
                pressed = true;
            }
        if (!pressed && queue->getPoint(points - 1, offset, value) == vst3::kOk)
            setValue(index, value);
    }
}

void Processor::playEvent(const vst3::Event& event, int32_t offset) noexcept {
    if (event.busIndex != 0)
        return;
    if (event.type == vst3::kNoteOnEvent) {
        const int16_t key = event.noteOn.pitch;
        if (key < 0 || key > 127)
            return;
        // Never a note-off: a note-on's velocity is at least 1.
        const float v = event.noteOn.velocity;
        const long velocity = v > 0.0f ? std::lround(static_cast<double>(std::min(v, 1.0f)) * 127.0) : 1;
        playMidi(*engine_, 0x90, static_cast<uint8_t>(key), static_cast<uint8_t>(std::clamp<long>(velocity, 1, 127)),
                 offset);
    } else if (event.type == vst3::kNoteOffEvent) {
        const int16_t key = event.noteOff.pitch;
        if (key >= 0 && key <= 127)
            playMidi(*engine_, 0x80, static_cast<uint8_t>(key), 0, offset);
    }
}

vst3::Result Processor::process(vst3::ProcessData& data) {
    if (!active_)
        return vst3::kNotInitialized;
    if (data.symbolicSampleSize != vst3::kSample32)
        return vst3::kInvalidArgument;
    const DenormalGuard denormals;
    playParameterChanges(data.inputParameterChanges);
    applyChangedValues();
    float* left = nullptr;
    float* right = nullptr;
    if (data.numOutputs >= 1 && data.outputs != nullptr && data.outputs[0].numChannels >= 2 &&
        data.outputs[0].channelBuffers32 != nullptr) {
        left = data.outputs[0].channelBuffers32[0];
        right = data.outputs[0].channelBuffers32[1];
    }
    vst3::EventList* in = data.inputEvents;
    const int32_t events = in != nullptr ? in->getEventCount() : 0;
    const int32_t frames = data.numSamples;
    if (left == nullptr || right == nullptr || frames <= 0) {
        // Nowhere to render, or a channel missing (or a host flushing
        // parameters): the notes still play, from the next block on. Frames
        // are refused, as nothing of them is written.
        for (int32_t k = 0; k < events; ++k)
            if (vst3::Event event{}; in->getEvent(k, event) == vst3::kOk)
                playEvent(event, 0);
        return frames > 0 ? vst3::kInvalidArgument : vst3::kOk;
    }
    // A bounce waits for a table being built, so that two give the same samples.
    if (offline_)
        builder_->settle(kSettleLimit);
    // More frames than set up for render in pieces of the reserved size, so
    // that nothing grows here. An event plays in the piece of its offset; one
    // outside the block plays at its nearest end.
    int32_t start = 0;
    do {
        const int32_t n = std::min(frames - start, maxFrames_);
        const bool last = start + n >= frames;
        for (int32_t k = 0; k < events; ++k) {
            vst3::Event event{};
            if (in->getEvent(k, event) != vst3::kOk)
                continue;
            const int32_t time = std::clamp(event.sampleOffset, 0, frames - 1);
            if (time >= start && (time < start + n || last))
                playEvent(event, time - start);
        }
        engine_->render(left + start, right + start, n);
        start += n;
    } while (start < frames);
    return vst3::kOk;
}

}  // namespace veltrosa::vst3edge
