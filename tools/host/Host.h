// A small VST 2 host: loads an instrument from a shared library, drives it
// through its record exactly as a sequencer does, and records every call the
// plug-in makes back to the host.
//
// Threads: a Plugin may be driven from several threads at once, as hosts do
// (audio, parameters, user interface); the call log is guarded by a mutex on
// the host side only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "abi/vst2.h"

namespace vsthost {

class Library;

// One call the plug-in made to the host.
struct HostCall {
    int32_t opcode;
    int32_t index;
    intptr_t value;
    const void* ptr;
    float opt;
    bool withEffect;  // false for calls made before the record existed
};

// A MIDI message to deliver at a sample offset within the next block.
struct MidiMessage {
    int32_t deltaFrames = 0;
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
};

MidiMessage noteOn(int32_t deltaFrames, int key, int velocity, int channel = 0);
MidiMessage noteOff(int32_t deltaFrames, int key, int channel = 0);
MidiMessage controlChange(int32_t deltaFrames, int controller, int value, int channel = 0);

// A VstEvents list that owns its events, for handing to effProcessEvents.
class EventList {
public:
    EventList() = default;
    explicit EventList(std::span<const MidiMessage> messages);
    void add(const MidiMessage& message);
    void addRaw(const vst2::VstEvent& event);
    vst2::VstEvents* get();
    int32_t size() const { return static_cast<int32_t>(events_.size()); }

private:
    std::vector<vst2::VstEvent> events_;
    std::vector<unsigned char> storage_;
};

// A MIDI message at a frame counted from the start of a whole rendering.
struct TimedMessage {
    int64_t frame = 0;
    MidiMessage message;
};

class Plugin;

// Plays a time-ordered message list through a plug-in block by block: each
// message goes out with the block that contains its frame, its deltaFrames
// being its offset in that block, so timing is sample-accurate whatever the
// block size.
class BlockFeeder {
public:
    BlockFeeder(Plugin& plugin, std::span<const TimedMessage> messages) : plugin_(plugin), messages_(messages) {}
    // Sends the messages that fall into the next `frames` frames, then
    // renders them; the plug-in's output() holds the block.
    void renderBlock(int32_t frames);
    int64_t position() const { return position_; }
    bool allSent() const { return next_ == messages_.size(); }

private:
    Plugin& plugin_;
    std::span<const TimedMessage> messages_;
    std::size_t next_ = 0;
    int64_t position_ = 0;
};

struct LoadOptions {
    intptr_t hostVersion = 2400;  // answer to audioMasterVersion
    float sampleRate = 44100.0f;
    int32_t blockSize = 512;
    const char* entryName = "VSTPluginMain";  // falls back to "main"
};

class Plugin {
public:
    // Loads the library and calls its entry. Null on failure, with the reason
    // in error.
    static std::unique_ptr<Plugin> load(const std::string& path, std::string& error, const LoadOptions& options = {});
    // Closes the effect (if still open) and unloads the library.
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    vst2::AEffect* effect() const { return effect_; }
    bool isOpen() const { return effect_ != nullptr; }

    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f);
    // effClose through the record; the record is gone afterwards.
    intptr_t close();

    // The usual start-up: effOpen, sample rate, block size, resume.
    void start(float sampleRate, int32_t blockSize);
    void setSampleRate(float rate);
    void setBlockSize(int32_t frames);
    void resume();
    void suspend();

    int32_t numParams() const;
    void setParameter(int32_t index, float value);
    float getParameter(int32_t index);
    std::string parameterName(int32_t index);
    std::string parameterLabel(int32_t index);
    std::string parameterDisplay(int32_t index);
    std::string effectName();
    std::string vendorString();
    std::string productString();
    std::string programName();

    // State chunk: a copy of the bytes the plug-in hands out.
    std::vector<unsigned char> getChunk(bool preset = false);
    intptr_t setChunk(std::span<const unsigned char> bytes, bool preset = false);

    intptr_t sendEvents(std::span<const MidiMessage> messages);
    intptr_t sendEvents(EventList& events);

    // processReplacing into buffers the host owns; grows them as needed.
    // Plug-ins that only accumulate (no effFlagsCanReplacing) get cleared
    // buffers and their process callback instead.
    void process(int32_t frames);
    std::span<const float> output(int32_t channel) const;
    int32_t outputCount() const { return static_cast<int32_t>(outputs_.size()); }

    // Renders `frames` in blocks of `blockSize`, sending `messages` (offsets
    // relative to the start of the whole span) in the blocks they fall into.
    // Returns the interleaved-free left and right channels.
    std::pair<std::vector<float>, std::vector<float>> render(int32_t frames, int32_t blockSize,
                                                             std::span<const MidiMessage> messages = {});

    std::vector<HostCall> calls() const;
    std::vector<HostCall> callsWithOpcode(int32_t opcode) const;
    void clearCalls();

    // Called for every host call after it is recorded; may override the
    // answer by returning a value.
    using CallHook = std::function<std::optional<intptr_t>(const HostCall&)>;
    void setCallHook(CallHook hook);

    float sampleRate() const { return sampleRate_; }

private:
    Plugin() = default;
    static intptr_t VSTCALL hostCallback(vst2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                                         void* ptr, float opt);
    intptr_t answer(const HostCall& call, void* ptr);
    void record(const HostCall& call);
    std::string readText(int32_t opcode, int32_t index, std::size_t size);

    std::unique_ptr<Library> library_;
    vst2::AEffect* effect_ = nullptr;
    LoadOptions options_;
    float sampleRate_ = 44100.0f;
    int32_t blockSize_ = 512;

    mutable std::mutex callsMutex_;
    std::vector<HostCall> calls_;
    CallHook hook_;

    std::vector<std::vector<float>> inputs_;
    std::vector<std::vector<float>> outputs_;
    std::vector<float*> inputPointers_;
    std::vector<float*> outputPointers_;
    int32_t processedFrames_ = 0;
    std::vector<unsigned char> timeInfo_;
};

}  // namespace vsthost
