// libFuzzer target for the VST 3 edge: every input is a short session played
// against the factory's processor and controller as a host, a buggy host or
// a damaged project could play it: calls in and out of order (process before
// activation, setup while active, terminate and initialize again), setups and
// bus arrangements of any shape, blocks longer than announced or without
// buffers, events of any type with offsets past the block or out of order,
// parameter queues that lie about their points, NaN and out-of-range values,
// streams that fail or move bytes in pieces of any size, and controller calls
// with unknown IDs, any value and any text.
//
// Input format (front to back, missing bytes read as zero): a byte choosing
// whether the session starts as hosts start one, then steps, each an
// operation byte and its operands. Checked: a block the processor accepts is
// written and finite in every channel it was given, and the controller's
// values always lie in 0..1.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "FuzzInput.h"
#include "abi/vst3.h"
#include "core/Parameters.h"
#include "vst3/Factory.h"

namespace {

using namespace fuzz;

constexpr int kMaxSteps = 100;
constexpr int32_t kMaxFrames = 4096;

template <class Interface>
class Object : public Interface {
public:
    vst3::Result VST3CALL queryInterface(const char*, void** object) override {
        if (object != nullptr)
            *object = nullptr;
        return vst3::kNoInterface;
    }
    uint32_t VST3CALL addRef() override { return 1; }
    uint32_t VST3CALL release() override { return 1; }

protected:
    ~Object() = default;
};

// Counts may claim more entries than there are; those fail to read.
class Events final : public Object<vst3::EventList> {
public:
    int32_t VST3CALL getEventCount() override { return static_cast<int32_t>(list.size()) + extra; }
    vst3::Result VST3CALL getEvent(int32_t index, vst3::Event& event) override {
        if (index < 0 || index >= static_cast<int32_t>(list.size()))
            return vst3::kInvalidArgument;
        event = list[static_cast<std::size_t>(index)];
        return vst3::kOk;
    }
    vst3::Result VST3CALL addEvent(vst3::Event& event) override {
        list.push_back(event);
        return vst3::kOk;
    }
    std::vector<vst3::Event> list;
    int32_t extra = 0;
};

class Queue final : public Object<vst3::ParamValueQueue> {
public:
    vst3::ParamId VST3CALL getParameterId() override { return id; }
    int32_t VST3CALL getPointCount() override { return static_cast<int32_t>(points.size()) + extra; }
    vst3::Result VST3CALL getPoint(int32_t index, int32_t& offset, double& value) override {
        if (index < 0 || index >= static_cast<int32_t>(points.size()))
            return vst3::kInvalidArgument;
        offset = points[static_cast<std::size_t>(index)].first;
        value = points[static_cast<std::size_t>(index)].second;
        return vst3::kOk;
    }
    vst3::Result VST3CALL addPoint(int32_t, double, int32_t&) override { return vst3::kNotImplemented; }
    vst3::ParamId id = 0;
    std::vector<std::pair<int32_t, double>> points;
    int32_t extra = 0;
};

// A queue slot left empty reads as a null queue.
class Changes final : public Object<vst3::ParameterChanges> {
public:
    int32_t VST3CALL getParameterCount() override { return static_cast<int32_t>(queues.size()); }
    vst3::ParamValueQueue* VST3CALL getParameterData(int32_t index) override {
        if (index < 0 || index >= getParameterCount() || queues[static_cast<std::size_t>(index)].points.empty())
            return nullptr;
        return &queues[static_cast<std::size_t>(index)];
    }
    vst3::ParamValueQueue* VST3CALL addParameterData(const vst3::ParamId&, int32_t&) override { return nullptr; }
    std::vector<Queue> queues;
};

// Reads come from the input in pieces of its choosing; a piece byte of 255
// fails the call and 254 claims more bytes than were asked for. Writes keep
// what they get, so a saved state can be handed on.
class Stream final : public Object<vst3::Stream> {
public:
    Stream(Input& in, std::size_t left) : in_(&in), left_(left) {}
    explicit Stream(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)), left_(bytes_.size()) {}
    vst3::Result VST3CALL read(void* buffer, int32_t bytes, int32_t* bytesRead) override {
        const uint8_t piece = in_ != nullptr ? in_->byte() : 63;
        if (piece == 255 || buffer == nullptr || bytes < 0)
            return vst3::kInternalError;
        if (piece == 254) {
            if (bytesRead != nullptr)
                *bytesRead = bytes + 1;
            return vst3::kOk;
        }
        const auto n = std::min({static_cast<std::size_t>(bytes), left_, static_cast<std::size_t>(piece % 64u)});
        auto* out = static_cast<unsigned char*>(buffer);
        for (std::size_t i = 0; i < n; ++i)
            out[i] = in_ != nullptr ? in_->byte() : bytes_[bytes_.size() - left_ + i];
        left_ -= n;
        if (bytesRead != nullptr)
            *bytesRead = static_cast<int32_t>(n);
        return vst3::kOk;
    }
    vst3::Result VST3CALL write(void* buffer, int32_t bytes, int32_t* bytesWritten) override {
        if (buffer == nullptr || bytes < 0)
            return vst3::kInvalidArgument;
        const auto* from = static_cast<const unsigned char*>(buffer);
        bytes_.insert(bytes_.end(), from, from + bytes);
        if (bytesWritten != nullptr)
            *bytesWritten = bytes;
        return vst3::kOk;
    }
    vst3::Result VST3CALL seek(int64_t, int32_t, int64_t*) override { return vst3::kNotImplemented; }
    vst3::Result VST3CALL tell(int64_t*) override { return vst3::kNotImplemented; }
    std::vector<unsigned char> written() const { return bytes_; }

private:
    Input* in_ = nullptr;
    std::vector<unsigned char> bytes_;
    std::size_t left_;
};

// Most values take one byte: the awkward ones, then steps from 0 to 1.
double pickDouble(Input& in) {
    static const double kOdd[] = {std::nan(""), std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(), -1.0, 1e300, -0.0, 1.0 + 1e-9};
    const uint8_t how = in.byte();
    if (how < std::size(kOdd))
        return kOdd[how];
    return how < 250 ? static_cast<double>(how - std::size(kOdd)) / 242.0 : in.raw<double>();
}

// Mostly our parameters, sometimes just past them, sometimes anything.
vst3::ParamId pickId(Input& in) {
    const uint8_t how = in.byte();
    return how < 250 ? how % (veltrosa::kNumParams + 2) : in.raw<vst3::ParamId>();
}

// In the block and past it, now and then before it or anywhere.
int32_t pickOffset(Input& in) {
    const uint8_t how = in.byte();
    if (how < 128)
        return how;
    if (how < 240)
        return (how - 128) * 64;
    return how < 250 ? -static_cast<int32_t>(in.byte()) : in.raw<int32_t>();
}

void addEvent(Events& events, Input& in) {
    const uint8_t kind = in.byte();
    vst3::Event e{};
    e.type = kind % 4;  // note on, note off, and two kinds this edition does not play
    e.busIndex = kind % 32 >= 28 ? 1 : 0;
    events.extra = kind >= 240 ? 1 : 0;
    e.sampleOffset = pickOffset(in);
    const uint8_t key = in.byte();
    const auto pitch = key < 192 ? static_cast<int16_t>(key % 128) : in.raw<int16_t>();
    const float velocity = pickFloat(in);
    if (e.type == vst3::kNoteOffEvent)
        e.noteOff = {0, pitch, velocity, -1, 0.0f};
    else
        e.noteOn = {0, pitch, 0.0f, velocity, 0, -1};
    events.list.push_back(e);
}

// A queue of one ID now and then twice, left empty (read as a null queue),
// or claiming a point more than it has.
void addPoint(Changes& changes, Input& in) {
    const vst3::ParamId id = pickId(in);
    const uint8_t how = in.byte();
    Queue* queue = nullptr;
    for (Queue& q : changes.queues)
        if (q.id == id)
            queue = &q;
    if (queue == nullptr || how % 8 == 0) {
        changes.queues.emplace_back();
        queue = &changes.queues.back();
        queue->id = id;
    }
    queue->extra = how >= 240 ? 1 : 0;
    if (how % 16 == 1)
        return;
    const int32_t offset = pickOffset(in);
    queue->points.emplace_back(offset, pickDouble(in));
}

void textInto(vst3::Char16* text, std::size_t capacity, Input& in) {
    const std::size_t n = std::min<std::size_t>(in.byte(), capacity - 1);
    for (std::size_t i = 0; i < n; ++i) {
        const uint8_t c = in.byte();
        text[i] = c == 0 ? u'\u00e9' : c < 0x80 ? static_cast<vst3::Char16>(c) : static_cast<vst3::Char16>("0.5 e-1"[c % 7]);
    }
    text[n] = 0;
}

void driveController(vst3::EditController* controller, vst3::Component* component, Input& in) {
    switch (in.byte() % 8) {
        case 0: {
            Stream saved(std::vector<unsigned char>{});
            if (component->getState(&saved) == vst3::kOk) {
                Stream handed(saved.written());
                controller->setComponentState(&handed);
            }
            break;
        }
        case 1: {
            Stream stream(in, static_cast<std::size_t>(in.byte()) + 64);
            controller->setComponentState(in.byte() % 16 == 0 ? nullptr : &stream);
            break;
        }
        case 2: {
            const vst3::ParamId id = pickId(in);
            controller->setParamNormalized(id, pickDouble(in));
            break;
        }
        case 3: {
            vst3::String128 text{};
            const vst3::ParamId id = pickId(in);
            const double value = pickDouble(in);
            controller->getParamStringByValue(id, value, in.byte() % 16 == 0 ? nullptr : text);
            break;
        }
        case 4: {
            vst3::String128 text{};
            textInto(text, std::size(text), in);
            double value = -1.0;
            const vst3::ParamId id = pickId(in);
            if (controller->getParamValueByString(id, in.byte() % 16 == 0 ? nullptr : text, value) == vst3::kOk)
                FUZZ_CHECK(value >= 0.0 && value <= 1.0, "parsed value outside 0..1", static_cast<long>(id));
            break;
        }
        case 5: {
            vst3::ParameterInfo info{};
            controller->getParameterInfo(static_cast<int32_t>(pickId(in)), info);
            break;
        }
        case 6: {
            Stream stream(in, in.byte());
            controller->setState(&stream);
            controller->getState(&stream);
            break;
        }
        case 7:
            controller->terminate();
            controller->initialize(nullptr);
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Input in(data, size);
    vst3::PluginFactory2* factory = veltrosa::vst3edge::factory();
    vst3::ClassInfo2 processorInfo{}, controllerInfo{};
    FUZZ_CHECK(factory->getClassInfo2(0, &processorInfo) == vst3::kOk &&
                   factory->getClassInfo2(1, &controllerInfo) == vst3::kOk,
               "no classes");
    void* object = nullptr;
    FUZZ_CHECK(factory->createInstance(processorInfo.cid, vst3::kIidComponent.bytes, &object) == vst3::kOk,
               "no component");
    auto* component = static_cast<vst3::Component*>(object);
    FUZZ_CHECK(component->queryInterface(vst3::kIidAudioProcessor.bytes, &object) == vst3::kOk, "no processor");
    auto* processor = static_cast<vst3::AudioProcessor*>(object);
    FUZZ_CHECK(factory->createInstance(controllerInfo.cid, vst3::kIidEditController.bytes, &object) == vst3::kOk,
               "no controller");
    auto* controller = static_cast<vst3::EditController*>(object);
    controller->initialize(nullptr);
    // Connected as hosts connect them (most do), so that what the controller
    // is given reaches the processor too.
    vst3::ConnectionPoint* fromController = nullptr;
    if (in.byte() % 4 != 0 && controller->queryInterface(vst3::kIidConnectionPoint.bytes, &object) == vst3::kOk) {
        fromController = static_cast<vst3::ConnectionPoint*>(object);
        FUZZ_CHECK(component->queryInterface(vst3::kIidConnectionPoint.bytes, &object) == vst3::kOk,
                   "no connection point");
        auto* fromComponent = static_cast<vst3::ConnectionPoint*>(object);
        fromController->connect(fromComponent);
        fromComponent->connect(fromController);
        fromComponent->release();
    }

    // Most sessions start as hosts start them, with a note for the first
    // block, so that short inputs already play; the others begin wherever
    // their steps take them.
    std::vector<float> left(2 * kMaxFrames), right(2 * kMaxFrames);
    Events events;
    Changes changes;
    if (in.byte() % 4 != 0) {
        vst3::SpeakerArrangement stereo = vst3::kStereo;
        vst3::ProcessSetup setup{vst3::kRealtime, vst3::kSample32, 512, 44100.0};
        component->initialize(nullptr);
        processor->setBusArrangements(nullptr, 0, &stereo, 1);
        processor->setupProcessing(setup);
        component->setActive(1);
        processor->setProcessing(1);
        vst3::Event note{};
        note.type = vst3::kNoteOnEvent;
        note.noteOn = {0, 60, 0.0f, 0.8f, 0, -1};
        events.list.push_back(note);
    }
    for (int step = 0; step < kMaxSteps && !in.empty(); ++step) {
        switch (in.byte() % 12) {
            case 0:
                if (in.byte() % 4 == 0)
                    component->terminate();
                component->initialize(nullptr);
                break;
            case 1: {
                static const double kRates[] = {44100.0, 48000.0, 96000.0, 0.0, -1.0, std::nan(""), 1e30, 8000.0, 1.0};
                static const int32_t kSizes[] = {0, 1, -1, 7, 64, 512, kMaxFrames, std::numeric_limits<int32_t>::max()};
                vst3::ProcessSetup setup{in.byte() % 4, in.byte() % 8 == 0 ? vst3::kSample64 : vst3::kSample32,
                                         kSizes[in.byte() % std::size(kSizes)], kRates[in.byte() % std::size(kRates)]};
                processor->setupProcessing(setup);
                break;
            }
            case 2:
                component->setActive(in.byte() & 1);
                break;
            case 3: {
                static const vst3::SpeakerArrangement kShapes[] = {vst3::kStereo, 0, 1, 0x7, ~0ull};
                const uint8_t counts = in.byte(), shapes = in.byte();
                std::array<vst3::SpeakerArrangement, 3> ins{}, outs{};
                ins.fill(kShapes[shapes % std::size(kShapes)]);
                outs.fill(kShapes[shapes / std::size(kShapes) % std::size(kShapes)]);
                outs[1] = kShapes[shapes % 3];
                const auto numIns = static_cast<int32_t>(counts % 4) - 1;
                const auto numOuts = static_cast<int32_t>(counts / 4 % 4) - 1;
                processor->setBusArrangements(counts & 0x10 ? nullptr : ins.data(), numIns,
                                              counts & 0x20 ? nullptr : outs.data(), numOuts);
                break;
            }
            case 4:
            case 5:
                addEvent(events, in);
                break;
            case 6:
                addPoint(changes, in);
                break;
            case 7: {
                static const int32_t kFrames[] = {512, 64, 1, 0, 100, 513, 1000, kMaxFrames, 2 * kMaxFrames, -1};
                const uint8_t length = in.byte();
                const int32_t frames = length < 250 ? kFrames[length % std::size(kFrames)]
                                                    : in.raw<uint16_t>() % (2 * kMaxFrames + 1);
                const uint8_t how = in.byte();
                // Unwritten samples would stay NaN.
                std::fill(left.begin(), left.end(), std::numeric_limits<float>::quiet_NaN());
                std::fill(right.begin(), right.end(), std::numeric_limits<float>::quiet_NaN());
                float* channels[2] = {how % 17 == 0 ? nullptr : left.data(), how % 19 == 0 ? nullptr : right.data()};
                vst3::AudioBusBuffers output{};
                output.numChannels = how % 5 == 0 ? 1 : 2;
                output.channelBuffers32 = how % 7 == 0 ? nullptr : channels;
                vst3::ProcessData block{};
                block.processMode = how % 3;
                block.symbolicSampleSize = how % 23 == 0 ? vst3::kSample64 : vst3::kSample32;
                block.numSamples = frames;
                block.numOutputs = how % 11 == 0 ? 0 : 1;
                block.outputs = how % 13 == 0 ? nullptr : &output;
                block.inputParameterChanges = how % 29 == 0 ? nullptr : &changes;
                block.inputEvents = how % 31 == 0 ? nullptr : &events;
                if (processor->process(block) == vst3::kOk && block.outputs != nullptr && block.numOutputs > 0 &&
                    output.channelBuffers32 != nullptr)
                    for (int32_t c = 0; c < output.numChannels; ++c)
                        for (int32_t i = 0; channels[c] != nullptr && i < frames; ++i)
                            FUZZ_CHECK(std::isfinite(channels[c][i]), "sample unwritten or not finite", c, i);
                events.list.clear();
                changes.queues.clear();
                break;
            }
            case 8: {
                // The instance's own state, as a project keeps it, with a
                // byte changed or cut short now and then; or any bytes.
                const uint8_t how = in.byte();
                if (how % 2 == 0) {
                    Stream stream(in, static_cast<std::size_t>(in.byte()) + 64);
                    component->setState(how % 32 == 0 ? nullptr : &stream);
                    break;
                }
                Stream saved(std::vector<unsigned char>{});
                component->getState(&saved);
                std::vector<unsigned char> bytes = saved.written();
                if (how % 4 == 3 && !bytes.empty()) {
                    const std::size_t at = in.byte() % bytes.size();
                    bytes[at] = in.byte();
                }
                if (how % 8 == 5)
                    bytes.resize(in.byte() % (bytes.size() + 1));
                Stream stream(bytes);
                component->setState(&stream);
                break;
            }
            case 9:
                driveController(controller, component, in);
                break;
            case 10: {
                const int32_t type = in.byte() % 3, direction = in.byte() % 3, index = static_cast<int8_t>(in.byte());
                vst3::BusInfo info{};
                component->getBusInfo(type, direction, index, info);
                component->activateBus(type, direction, index, in.byte() & 1);
                vst3::SpeakerArrangement arrangement = 0;
                processor->getBusArrangement(direction, index, arrangement);
                processor->canProcessSampleSize(type);
                processor->setProcessing(in.byte() & 1);
                break;
            }
            case 11: {
                char id[16];
                in.fill(id, sizeof id);
                object = nullptr;
                if (factory->createInstance(in.byte() & 1 ? processorInfo.cid : id, id, &object) == vst3::kOk)
                    static_cast<vst3::Unknown*>(object)->release();
                vst3::ClassInfo info{};
                const int32_t index = static_cast<int8_t>(in.byte());
                factory->getClassInfo(index, in.byte() % 8 == 0 ? nullptr : &info);
                break;
            }
        }
    }
    for (int32_t i = 0; i < veltrosa::kNumParams; ++i) {
        const double v = controller->getParamNormalized(static_cast<vst3::ParamId>(i));
        FUZZ_CHECK(v >= 0.0 && v <= 1.0, "value outside 0..1", i);
    }
    component->setActive(0);
    if (fromController != nullptr)
        fromController->release();
    controller->terminate();
    controller->release();
    processor->release();
    component->terminate();
    component->release();
    return 0;
}
