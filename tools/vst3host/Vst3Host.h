// A small VST 3 host for tests: loads a bundle's module as the system's hosts
// do (ModuleEntry or InitDll before the factory, ModuleExit or ExitDll before
// unloading), creates the first audio module class with its controller, and
// runs the processor on the calling thread. Events, parameter changes,
// streams, the component handler and a view's frame with its run loop (on
// Linux) are the host's own simple objects.
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

// The host's handler of the controller's edits: records them in order.
class ComponentHandler final : public vst3::ComponentHandler {
public:
    enum class Step { Begin, Perform, End };
    struct Edit {
        Step step;
        vst3::ParamId id;
        double value;
    };
    vst3::Result VST3CALL queryInterface(const char* iid, void** object) override;
    uint32_t VST3CALL addRef() override { return 1; }
    uint32_t VST3CALL release() override { return 1; }
    vst3::Result VST3CALL beginEdit(vst3::ParamId id) override;
    vst3::Result VST3CALL performEdit(vst3::ParamId id, double value) override;
    vst3::Result VST3CALL endEdit(vst3::ParamId id) override;
    vst3::Result VST3CALL restartComponent(int32_t) override { return vst3::kOk; }
    const std::vector<Edit>& edits() const { return edits_; }
    void clear() { edits_.clear(); }

private:
    std::vector<Edit> edits_;
};

#if !defined(_WIN32)
// The frame of the host's window around a view, and the run loop Linux hosts
// offer through it: handlers are held (with a reference) until unregistered,
// and run when the test turns the loop.
class Frame final : public vst3::PlugFrame, public vst3::RunLoop {
public:
    ~Frame();
    vst3::Result VST3CALL queryInterface(const char* iid, void** object) override;
    uint32_t VST3CALL addRef() override { return 1; }
    uint32_t VST3CALL release() override { return 1; }
    // Recorded, then answered with onSize as hosts do.
    vst3::Result VST3CALL resizeView(vst3::PlugView* view, vst3::ViewRect* newSize) override;
    vst3::Result VST3CALL registerEventHandler(vst3::EventHandler* handler, int fd) override;
    vst3::Result VST3CALL unregisterEventHandler(vst3::EventHandler* handler) override;
    vst3::Result VST3CALL registerTimer(vst3::TimerHandler* handler, uint64_t milliseconds) override;
    vst3::Result VST3CALL unregisterTimer(vst3::TimerHandler* handler) override;

    // One turn of the loop: the handlers of readable descriptors, then every timer.
    void pump();
    std::size_t eventHandlers() const { return fds_.size(); }
    std::size_t timers() const { return timers_.size(); }
    const std::vector<vst3::ViewRect>& resizes() const { return resizes_; }

private:
    std::vector<std::pair<vst3::EventHandler*, int>> fds_;
    std::vector<vst3::TimerHandler*> timers_;
    std::vector<vst3::ViewRect> resizes_;
};
#endif

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
