// A small VST 3 host for tests: loads a bundle's module as the system's hosts
// do (ModuleEntry or InitDll before the factory, ModuleExit or ExitDll before
// unloading), creates the first audio module class with its controller, and
// runs the processor on the calling thread. Events, parameter changes and
// streams are the host's own simple objects.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "abi/vst3.h"

namespace vst3host {

// The module inside a bundle folder, for this machine.
std::string moduleInBundle(const std::string& bundle);

class Module {
public:
    static std::unique_ptr<Module> open(const std::string& path, std::string& error);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    vst3::PluginFactory* factory() const { return factory_; }

private:
    Module() = default;
    void* handle_ = nullptr;
    vst3::PluginFactory* factory_ = nullptr;
};

// A stream over bytes in memory that moves at most chunk bytes per call.
class MemoryStream final : public vst3::Stream {
public:
    explicit MemoryStream(std::vector<unsigned char> bytes = {}, int32_t chunk = 1 << 30)
        : bytes_(std::move(bytes)), chunk_(chunk) {}
    vst3::Result VST3CALL queryInterface(const char* iid, void** object) override;
    uint32_t VST3CALL addRef() override { return 1; }
    uint32_t VST3CALL release() override { return 1; }
    vst3::Result VST3CALL read(void* buffer, int32_t bytes, int32_t* bytesRead) override;
    vst3::Result VST3CALL write(void* buffer, int32_t bytes, int32_t* bytesWritten) override;
    vst3::Result VST3CALL seek(int64_t position, int32_t mode, int64_t* result) override;
    vst3::Result VST3CALL tell(int64_t* position) override;
    const std::vector<unsigned char>& bytes() const { return bytes_; }

private:
    std::vector<unsigned char> bytes_;
    std::size_t at_ = 0;
    int32_t chunk_;
};

class EventList final : public vst3::EventList {
public:
    vst3::Result VST3CALL queryInterface(const char* iid, void** object) override;
    uint32_t VST3CALL addRef() override { return 1; }
    uint32_t VST3CALL release() override { return 1; }
    int32_t VST3CALL getEventCount() override { return static_cast<int32_t>(events_.size()); }
    vst3::Result VST3CALL getEvent(int32_t index, vst3::Event& event) override;
    vst3::Result VST3CALL addEvent(vst3::Event& event) override;

    void noteOn(int32_t offset, int16_t pitch, float velocity, int32_t noteId = -1);
    void noteOff(int32_t offset, int16_t pitch);
    void clear() { events_.clear(); }

private:
    std::vector<vst3::Event> events_;
};

class ParamQueue final : public vst3::ParamValueQueue {
public:
    explicit ParamQueue(vst3::ParamId id) : id_(id) {}
    vst3::Result VST3CALL queryInterface(const char* iid, void** object) override;
    uint32_t VST3CALL addRef() override { return 1; }
    uint32_t VST3CALL release() override { return 1; }
    vst3::ParamId VST3CALL getParameterId() override { return id_; }
    int32_t VST3CALL getPointCount() override { return static_cast<int32_t>(points_.size()); }
    vst3::Result VST3CALL getPoint(int32_t index, int32_t& sampleOffset, double& value) override;
    vst3::Result VST3CALL addPoint(int32_t sampleOffset, double value, int32_t& index) override;

private:
    vst3::ParamId id_;
    std::vector<std::pair<int32_t, double>> points_;
};

class ParamChanges final : public vst3::ParameterChanges {
public:
    vst3::Result VST3CALL queryInterface(const char* iid, void** object) override;
    uint32_t VST3CALL addRef() override { return 1; }
    uint32_t VST3CALL release() override { return 1; }
    int32_t VST3CALL getParameterCount() override { return static_cast<int32_t>(queues_.size()); }
    vst3::ParamValueQueue* VST3CALL getParameterData(int32_t index) override;
    vst3::ParamValueQueue* VST3CALL addParameterData(const vst3::ParamId& id, int32_t& index) override;

    void add(vst3::ParamId id, int32_t offset, double value);
    void clear() { queues_.clear(); }

private:
    std::vector<std::unique_ptr<ParamQueue>> queues_;
};

class Instance {
public:
    // The factory's first audio module class and its controller, initialised.
    static std::unique_ptr<Instance> create(const Module& module, std::string& error);
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    vst3::Component* component() const { return component_; }
    vst3::AudioProcessor* processor() const { return processor_; }
    vst3::EditController* controller() const { return controller_; }

    // setupProcessing, setActive and setProcessing; false if any refuses.
    bool start(double rate, int32_t maxFrames, int32_t mode = vst3::kRealtime);
    void stop();
    // One block into left() and right().
    vst3::Result process(int32_t frames, EventList* events = nullptr, ParamChanges* changes = nullptr);
    const std::vector<float>& left() const { return left_; }
    const std::vector<float>& right() const { return right_; }

private:
    Instance() = default;
    vst3::Component* component_ = nullptr;
    vst3::AudioProcessor* processor_ = nullptr;
    vst3::EditController* controller_ = nullptr;
    bool started_ = false;
    int32_t mode_ = vst3::kRealtime;
    std::vector<float> left_, right_;
};

}  // namespace vst3host
