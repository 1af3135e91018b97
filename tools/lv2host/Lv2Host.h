// A small LV2 host over Debian's lilv, for tests and benchmarks: the plug-ins
// LV2_PATH names, one instance with every port connected, MIDI into its atom
// input, and the host's worker (run at once, in a thread, or held back).
//
// Threads: an Instance is driven from one thread, except that a Thread
// worker calls the plug-in's work() from its own.
#pragma once

#include <lilv/lilv.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lv2host {

// The lilv world with every bundle on LV2_PATH, and the URID map it shares
// with the plug-ins it instantiates.
class World {
public:
    World();
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    LilvWorld* get() const { return world_; }
    const LilvPlugin* plugin(const std::string& uri) const;
    LV2_URID map(const char* uri);
    const char* unmap(LV2_URID urid);
    LV2_URID_Map* uridMap() { return &map_; }
    LV2_URID_Unmap* uridUnmap() { return &unmap_; }

private:
    LilvWorld* world_ = nullptr;
    std::mutex mutex_;
    std::deque<std::string> uris_;  // index + 1 is the URID; never moves an entry
    LV2_URID_Map map_{};
    LV2_URID_Unmap unmap_{};
};

enum class WorkerMode {
    Synchronous,  // scheduled work runs right after the cycle that asked
    Thread,       // on a worker thread, its responses delivered after a later cycle
    Held,         // only when releaseWork() is called
};

class Instance {
public:
    // Every control input at its default; null with the reason in error.
    static std::unique_ptr<Instance> create(World& world, const std::string& uri, double rate, int32_t blockLength,
                                            WorkerMode mode, std::string& error);
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // A control input port's value, by port index (any other index: ignored).
    void setControl(uint32_t index, float value);
    float control(uint32_t index) const;
    // A MIDI message for the next cycle, frames into it.
    void midi(int64_t frame, const std::vector<uint8_t>& bytes);
    // One cycle; the events queued are delivered and dropped. Answers the
    // thread's CPU time spent in the plug-in's run(), in seconds.
    double run(uint32_t frames);
    // Audio outputs in port order.
    const float* out(std::size_t channel) const { return audioOut_[channel].data(); }
    std::size_t outputs() const { return audioOut_.size(); }

    // The work the plug-in asked for so far, and how much of it has run.
    int scheduled() const { return scheduled_.load(); }
    int worked() const { return worked_.load(); }
    // Held mode: runs the waiting work now; responses come after the next cycle.
    void releaseWork();

private:
    static constexpr std::size_t kQueue = 16;  // work requests or responses in flight
    Instance() = default;
    struct Message {
        uint32_t size = 0;
        std::array<uint8_t, 1024> data{};
    };
    static LV2_Worker_Status enqueue(std::vector<Message>& queue, std::size_t& pending, uint32_t size,
                                     const void* data);
    static LV2_Worker_Status schedule(LV2_Worker_Schedule_Handle handle, uint32_t size, const void* data);
    static LV2_Worker_Status respond(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data);
    void clearEvents();
    void doWork(const Message& request);
    void workerLoop();
    void deliverResponses();

    LilvInstance* instance_ = nullptr;
    const LV2_Worker_Interface* worker_ = nullptr;
    WorkerMode mode_ = WorkerMode::Synchronous;
    LV2_URID midiEvent_ = 0, sequence_ = 0, chunk_ = 0;
    int32_t blockLength_ = 0;

    std::vector<float> controls_;
    std::vector<uint32_t> controlInputs_;
    std::vector<std::vector<float>> audioOut_;
    std::vector<float> silence_;  // audio and CV inputs
    std::vector<std::vector<uint64_t>> atomIn_, atomOut_;
    std::size_t eventBytes_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Message> requests_, responses_;  // capacity reserved: no allocation while running
    std::array<Message, kQueue> delivering_{};
    std::size_t pendingRequests_ = 0, pendingResponses_ = 0;
    std::atomic<int> scheduled_{0}, worked_{0};
    bool stopping_ = false;
    std::thread thread_;

    LV2_Worker_Schedule scheduleFeature_{};
    std::array<int32_t, 3> blockValues_{};
    std::vector<LV2_Options_Option> options_;
    std::vector<LV2_Feature> features_;
    std::vector<const LV2_Feature*> featureList_;
};

}  // namespace lv2host
