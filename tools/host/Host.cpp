#include "Host.h"

#include <algorithm>
#include <cstring>

#include "Library.h"

namespace vsthost {

namespace {

// The plug-in being constructed: its entry calls back before it has a record.
thread_local Plugin* loadingPlugin = nullptr;

MidiMessage message(int32_t deltaFrames, int status, int data1, int data2) {
    return MidiMessage{deltaFrames, static_cast<uint8_t>(status), static_cast<uint8_t>(data1 & 0x7F),
                       static_cast<uint8_t>(data2 & 0x7F)};
}

bool textEquals(const void* ptr, const char* text) {
    return ptr != nullptr && std::strcmp(static_cast<const char*>(ptr), text) == 0;
}

}  // namespace

MidiMessage noteOn(int32_t deltaFrames, int key, int velocity, int channel) {
    return message(deltaFrames, 0x90 | (channel & 0x0F), key, velocity);
}

MidiMessage noteOff(int32_t deltaFrames, int key, int channel) {
    return message(deltaFrames, 0x80 | (channel & 0x0F), key, 0);
}

MidiMessage controlChange(int32_t deltaFrames, int controller, int value, int channel) {
    return message(deltaFrames, 0xB0 | (channel & 0x0F), controller, value);
}

EventList::EventList(std::span<const MidiMessage> messages) {
    for (const MidiMessage& m : messages)
        add(m);
}

void EventList::add(const MidiMessage& m) {
    vst2::VstMidiEvent midi{};
    midi.type = vst2::kVstMidiType;
    midi.byteSize = static_cast<int32_t>(sizeof midi);
    midi.deltaFrames = m.deltaFrames;
    midi.midiData[0] = static_cast<char>(m.status);
    midi.midiData[1] = static_cast<char>(m.data1);
    midi.midiData[2] = static_cast<char>(m.data2);
    vst2::VstEvent event{};
    std::memcpy(&event, &midi, sizeof event);
    events_.push_back(event);
}

void EventList::addRaw(const vst2::VstEvent& event) { events_.push_back(event); }

vst2::VstEvents* EventList::get() {
    // The list is declared with two pointers; hosts allocate room for all.
    const std::size_t pointers = std::max<std::size_t>(2, events_.size());
    storage_.assign(offsetof(vst2::VstEvents, events) + pointers * sizeof(vst2::VstEvent*), 0);
    auto* list = reinterpret_cast<vst2::VstEvents*>(storage_.data());
    list->numEvents = static_cast<int32_t>(events_.size());
    auto** slots = reinterpret_cast<vst2::VstEvent**>(storage_.data() + offsetof(vst2::VstEvents, events));
    for (std::size_t i = 0; i < events_.size(); ++i)
        slots[i] = &events_[i];
    return list;
}

std::unique_ptr<Plugin> Plugin::load(const std::string& path, std::string& error, const LoadOptions& options) {
    std::unique_ptr<Plugin> plugin(new Plugin());
    plugin->options_ = options;
    plugin->sampleRate_ = options.sampleRate;
    plugin->blockSize_ = options.blockSize;
    plugin->library_ = Library::open(path, error);
    if (!plugin->library_)
        return nullptr;
    void* entry = plugin->library_->symbol(options.entryName);
    if (entry == nullptr)
        entry = plugin->library_->symbol("main");
    if (entry == nullptr) {
        error = path + ": not a VST 2 plug-in (no VSTPluginMain or main)";
        return nullptr;
    }
    loadingPlugin = plugin.get();
    vst2::AEffect* effect = reinterpret_cast<vst2::EntryProc>(entry)(&Plugin::hostCallback);
    loadingPlugin = nullptr;
    if (effect == nullptr) {
        error = path + ": the plug-in's entry returned no effect";
        return nullptr;
    }
    if (effect->magic != vst2::kEffectMagic) {
        error = path + ": the plug-in returned a record with a bad magic number";
        return nullptr;
    }
    effect->user = plugin.get();
    plugin->effect_ = effect;
    plugin->outputs_.assign(static_cast<std::size_t>(std::max(0, effect->numOutputs)), {});
    plugin->inputs_.assign(static_cast<std::size_t>(std::max(0, effect->numInputs)), {});
    return plugin;
}

Plugin::~Plugin() {
    close();
    library_.reset();
}

intptr_t Plugin::dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    if (effect_ == nullptr)
        return 0;
    if (opcode == vst2::effClose)
        return close();
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

intptr_t Plugin::close() {
    if (effect_ == nullptr)
        return 0;
    vst2::AEffect* effect = effect_;
    effect_ = nullptr;
    return effect->dispatcher(effect, vst2::effClose, 0, 0, nullptr, 0.0f);
}

void Plugin::start(float sampleRate, int32_t blockSize) {
    dispatch(vst2::effOpen);
    setSampleRate(sampleRate);
    setBlockSize(blockSize);
    resume();
}

void Plugin::setSampleRate(float rate) {
    sampleRate_ = rate;
    dispatch(vst2::effSetSampleRate, 0, 0, nullptr, rate);
}

void Plugin::setBlockSize(int32_t frames) {
    blockSize_ = frames;
    dispatch(vst2::effSetBlockSize, 0, frames);
}

void Plugin::resume() { dispatch(vst2::effMainsChanged, 0, 1); }
void Plugin::suspend() { dispatch(vst2::effMainsChanged, 0, 0); }

int32_t Plugin::numParams() const { return effect_ != nullptr ? effect_->numParams : 0; }

void Plugin::setParameter(int32_t index, float value) {
    if (effect_ != nullptr)
        effect_->setParameter(effect_, index, value);
}

float Plugin::getParameter(int32_t index) { return effect_ != nullptr ? effect_->getParameter(effect_, index) : 0.0f; }

std::string Plugin::readText(int32_t opcode, int32_t index, std::size_t size) {
    // Generous room: plug-ins in the wild overrun the published limits.
    const std::size_t room = std::max<std::size_t>(size, 256);
    std::vector<char> buffer(room + 1, '\0');
    dispatch(opcode, index, 0, buffer.data());
    buffer[room] = '\0';
    return std::string(buffer.data());
}

std::string Plugin::parameterName(int32_t index) { return readText(vst2::effGetParamName, index, 8); }
std::string Plugin::parameterLabel(int32_t index) { return readText(vst2::effGetParamLabel, index, 8); }
std::string Plugin::parameterDisplay(int32_t index) { return readText(vst2::effGetParamDisplay, index, 8); }
std::string Plugin::effectName() { return readText(vst2::effGetEffectName, 0, 32); }
std::string Plugin::vendorString() { return readText(vst2::effGetVendorString, 0, 64); }
std::string Plugin::productString() { return readText(vst2::effGetProductString, 0, 64); }
std::string Plugin::programName() { return readText(vst2::effGetProgramName, 0, 24); }

std::vector<unsigned char> Plugin::getChunk(bool preset) {
    void* data = nullptr;
    const intptr_t size = dispatch(vst2::effGetChunk, preset ? 1 : 0, 0, &data);
    if (data == nullptr || size <= 0)
        return {};
    const auto* bytes = static_cast<const unsigned char*>(data);
    return std::vector<unsigned char>(bytes, bytes + size);
}

intptr_t Plugin::setChunk(std::span<const unsigned char> bytes, bool preset) {
    // A private copy: the plug-in may keep reading while we still run. It
    // ends in a NUL past the size handed over, because plug-ins that keep
    // text state hand out their text without its terminator and then read
    // it back as a C string.
    std::vector<unsigned char> copy(bytes.begin(), bytes.end());
    copy.push_back(0);
    return dispatch(vst2::effSetChunk, preset ? 1 : 0, static_cast<intptr_t>(bytes.size()),
                    bytes.empty() ? nullptr : copy.data());
}

intptr_t Plugin::sendEvents(std::span<const MidiMessage> messages) {
    EventList list(messages);
    return sendEvents(list);
}

intptr_t Plugin::sendEvents(EventList& events) { return dispatch(vst2::effProcessEvents, 0, 0, events.get()); }

void Plugin::process(int32_t frames) {
    if (effect_ == nullptr || frames < 0)
        return;
    const auto size = static_cast<std::size_t>(frames);
    inputPointers_.clear();
    outputPointers_.clear();
    for (auto& buffer : inputs_) {
        buffer.assign(std::max<std::size_t>(size, 1), 0.0f);
        inputPointers_.push_back(buffer.data());
    }
    for (auto& buffer : outputs_) {
        if (buffer.size() < std::max<std::size_t>(size, 1))
            buffer.resize(std::max<std::size_t>(size, 1));
        outputPointers_.push_back(buffer.data());
    }
    processedFrames_ = frames;
    float** inputs = inputPointers_.empty() ? nullptr : inputPointers_.data();
    if ((effect_->flags & vst2::effFlagsCanReplacing) != 0 && effect_->processReplacing != nullptr) {
        effect_->processReplacing(effect_, inputs, outputPointers_.data(), frames);
    } else if (effect_->process != nullptr) {
        for (auto& buffer : outputs_)
            std::fill_n(buffer.begin(), size, 0.0f);
        effect_->process(effect_, inputs, outputPointers_.data(), frames);
    }
}

std::span<const float> Plugin::output(int32_t channel) const {
    const auto& buffer = outputs_.at(static_cast<std::size_t>(channel));
    return std::span<const float>(buffer.data(), static_cast<std::size_t>(processedFrames_));
}

std::pair<std::vector<float>, std::vector<float>> Plugin::render(int32_t frames, int32_t blockSize,
                                                                 std::span<const MidiMessage> messages) {
    std::vector<TimedMessage> timed;
    for (const MidiMessage& m : messages)
        timed.push_back({std::max(0, m.deltaFrames), m});
    std::vector<float> left, right;
    left.reserve(static_cast<std::size_t>(std::max(frames, 0)));
    right.reserve(static_cast<std::size_t>(std::max(frames, 0)));
    BlockFeeder feeder(*this, timed);
    for (int32_t start = 0; start < frames; start += blockSize) {
        feeder.renderBlock(std::min(blockSize, frames - start));
        const auto l = output(0);
        const auto r = output(outputCount() > 1 ? 1 : 0);
        left.insert(left.end(), l.begin(), l.end());
        right.insert(right.end(), r.begin(), r.end());
    }
    return {std::move(left), std::move(right)};
}

void BlockFeeder::renderBlock(int32_t frames) {
    EventList list;
    const int64_t end = position_ + frames;
    while (next_ < messages_.size() && messages_[next_].frame < end) {
        MidiMessage m = messages_[next_++].message;
        // Anything earlier than this block (an unsorted list) goes out at once.
        m.deltaFrames = static_cast<int32_t>(std::max<int64_t>(0, messages_[next_ - 1].frame - position_));
        list.add(m);
    }
    plugin_.sendEvents(list);
    plugin_.process(frames);
    position_ = end;
}

std::vector<HostCall> Plugin::calls() const {
    std::lock_guard lock(callsMutex_);
    return calls_;
}

std::vector<HostCall> Plugin::callsWithOpcode(int32_t opcode) const {
    std::lock_guard lock(callsMutex_);
    std::vector<HostCall> result;
    std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(result),
                 [opcode](const HostCall& c) { return c.opcode == opcode; });
    return result;
}

void Plugin::clearCalls() {
    std::lock_guard lock(callsMutex_);
    calls_.clear();
}

void Plugin::setCallHook(CallHook hook) {
    std::lock_guard lock(callsMutex_);
    hook_ = std::move(hook);
}

void Plugin::record(const HostCall& call) {
    std::lock_guard lock(callsMutex_);
    calls_.push_back(call);
}

intptr_t VSTCALL Plugin::hostCallback(vst2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                      float opt) {
    Plugin* self = nullptr;
    if (effect != nullptr && effect->user != nullptr)
        self = static_cast<Plugin*>(effect->user);
    else
        self = loadingPlugin;
    if (self == nullptr)
        return opcode == vst2::audioMasterVersion ? 2400 : 0;
    const HostCall call{opcode, index, value, ptr, opt, effect != nullptr};
    self->record(call);
    CallHook hook;
    {
        std::lock_guard lock(self->callsMutex_);
        hook = self->hook_;
    }
    if (hook)
        if (auto answer = hook(call))
            return *answer;
    return self->answer(call, ptr);
}

intptr_t Plugin::answer(const HostCall& call, void* ptr) {
    using namespace vst2;
    switch (call.opcode) {
    case audioMasterVersion:
        return options_.hostVersion;
    case audioMasterGetSampleRate:
        return static_cast<intptr_t>(sampleRate_);
    case audioMasterGetBlockSize:
        return blockSize_;
    case audioMasterGetCurrentProcessLevel:
        return 0;
    case audioMasterGetTime: {
        timeInfo_.assign(sizeof(VstTimeInfo), 0);
        auto* info = reinterpret_cast<VstTimeInfo*>(timeInfo_.data());
        info->sampleRate = sampleRate_;
        info->tempo = 120.0;
        info->timeSigNumerator = 4;
        info->timeSigDenominator = 4;
        info->flags = kVstTempoValid | kVstTimeSigValid;
        return reinterpret_cast<intptr_t>(info);
    }
    case audioMasterGetVendorString:
        if (ptr != nullptr)
            std::strcpy(static_cast<char*>(ptr), "vsthost");
        return 1;
    case audioMasterGetProductString:
        if (ptr != nullptr)
            std::strcpy(static_cast<char*>(ptr), "vsthost");
        return 1;
    case audioMasterGetVendorVersion:
        return 1000;
    case audioMasterCanDo:
        return textEquals(ptr, "sendVstEvents") || textEquals(ptr, "sendVstMidiEvent") ||
                       textEquals(ptr, "sendVstTimeInfo") || textEquals(ptr, "sizeWindow")
                   ? 1
                   : 0;
    default:
        return 0;
    }
}

}  // namespace vsthost
