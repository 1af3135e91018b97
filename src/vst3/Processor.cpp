#include "vst3/Processor.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/State.h"
#include "vst3/Ids.h"
#include "vst3/Text.h"

namespace veltrosa::vst3edge {

Processor::Processor() = default;

Processor::~Processor() = default;

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
    else if (sameId(iid, vst3::kIidConnectionPoint))
        *object = static_cast<vst3::ConnectionPoint*>(this);
    else if (sameId(iid, kPeerId))
        *object = this;
    else
        return vst3::kNoInterface;
    addRef();
    return vst3::kOk;
}

vst3::Result Processor::initialize(vst3::Unknown*) {
    if (initialized_)
        return vst3::kFalse;
    if (!shell_.start())
        return vst3::kInternalError;
    initialized_ = true;
    return vst3::kOk;
}

vst3::Result Processor::terminate() {
    shell_.deactivate();
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
    if (state != 0 && !shell_.active()) {
        if (!setUp_)
            return vst3::kNotInitialized;
        shell_.activate();
    } else if (state == 0) {
        shell_.deactivate();
    }
    return vst3::kOk;
}

vst3::Result Processor::setState(vst3::Stream* state) {
    const auto values = readState(state);
    if (!values)
        return vst3::kInvalidArgument;
    shell_.switchTo(*values);
    return vst3::kOk;
}

vst3::Result Processor::getState(vst3::Stream* state) {
    StateBytes bytes = shell_.saveState();
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
    if (setup.symbolicSampleSize != vst3::kSample32 || !shell_.prepare(setup.sampleRate, setup.maxSamplesPerBlock))
        return vst3::kInvalidArgument;
    shell_.setOffline(setup.processMode == vst3::kOffline);
    setUp_ = true;
    return vst3::kOk;
}

vst3::Result Processor::setProcessing(uint8_t) { return shell_.active() ? vst3::kOk : vst3::kNotInitialized; }

uint32_t Processor::getTailSamples() { return vst3::kInfiniteTail; }  // voices ring on after their notes

// Each queue's points apply before the block in their order, as a VST 2 host
// sets values between blocks; a trigger's press counts wherever it lies.
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
        for (int32_t p = isTrigger(index) ? 0 : points - 1; p < points; ++p)
            if (queue->getPoint(p, offset, value) == vst3::kOk)
                shell_.setValue(index, value);
    }
}

void Processor::playEvent(const vst3::Event& event, int32_t offset) noexcept {
    if (event.busIndex != 0)
        return;
    if (event.type == vst3::kNoteOnEvent)
        shell_.noteOn(event.noteOn.pitch, static_cast<double>(event.noteOn.velocity), offset);
    else if (event.type == vst3::kNoteOffEvent)
        shell_.noteOff(event.noteOff.pitch, offset);
}

vst3::Result Processor::process(vst3::ProcessData& data) {
    if (!shell_.active())
        return vst3::kNotInitialized;
    if (data.symbolicSampleSize != vst3::kSample32)
        return vst3::kInvalidArgument;
    playParameterChanges(data.inputParameterChanges);
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
    const auto notes = [&](const auto& place) {
        for (int32_t k = 0; k < events; ++k)
            if (vst3::Event event{}; in->getEvent(k, event) == vst3::kOk)
                if (const auto at = place(event.sampleOffset))
                    playEvent(event, at->offset);
    };
    // Nowhere to render, or a channel missing (or a host flushing
    // parameters): the notes still play, from the next block on. Frames are
    // refused, as nothing of them is written.
    const bool rendering = left != nullptr && right != nullptr && frames > 0;
    shell_.render(rendering ? left : nullptr, right, rendering ? static_cast<uint32_t>(frames) : 0u, notes);
    return rendering || frames <= 0 ? vst3::kOk : vst3::kInvalidArgument;
}

}  // namespace veltrosa::vst3edge
