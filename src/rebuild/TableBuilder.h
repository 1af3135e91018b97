// One background thread that builds an engine's wavetables and takes its
// sample-rate changes, for editions whose host offers no worker of its own:
// generation never runs on the audio thread, nor on two threads at once.
// Requests are coalesced, and the TableRule decides whether one builds.
//
// The thread lives exactly as long as the builder (started by start(),
// joined by stop() or the destructor), so no code of a module keeps running
// once the instance that owns it is gone.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "engine/SynthEngine.h"
#include "rebuild/TableRule.h"

namespace veltrosa {

class TableBuilder {
public:
    // The engine's current table counts as built from its current values.
    explicit TableBuilder(SynthEngine& engine);
    ~TableBuilder();
    TableBuilder(const TableBuilder&) = delete;
    TableBuilder& operator=(const TableBuilder&) = delete;

    // False when no thread could be started (the engine keeps its table).
    bool start();
    void stop();
    // Instead of start(), where there are no threads (the browser's
    // worklet): what the thread would do with what was asked so far, here
    // and now. A switch's table is not waited for: the caller renders a
    // block, which takes it, before calling again.
    void buildNow();

    // Any thread, the audio thread included: a value the table is built from,
    // or Update, may have changed. A flag, and a wake-up only when the
    // builder sleeps.
    void request() noexcept;
    // Any thread, the audio thread included: Update was pressed; the next
    // request() builds a table even if its value falls back before the
    // builder looks.
    void press() noexcept { pressed_.store(true, std::memory_order_release); }
    // Any thread: the engine takes this rate, and its table, on the builder.
    void setSampleRate(double rate) noexcept;
    // Never the audio thread: the engine switches to every one of values
    // together with a table built from them, in one block
    // (SynthEngine::regenerate(values)). A later switch replaces one not yet
    // begun. tag: the caller's name for this switch, which switched() gives
    // once its table is on its way to the audio thread.
    void switchTo(const ParameterValues& values, uint32_t tag = 0);
    // Any thread: the tag of the latest switch whose table was built.
    uint32_t switched() const noexcept { return switched_.load(std::memory_order_acquire); }
    // Offline rendering only (it blocks): waits until everything asked so far
    // is built, at most limit. False if the limit ran out.
    bool settle(std::chrono::milliseconds limit) const;
    // Any thread: nothing asked for is waiting or being built.
    bool idle() const noexcept {
        return pending_.load(std::memory_order_acquire) == 0 && !busy_.load(std::memory_order_acquire);
    }

private:
    void run();
    void buildIfDue();
    void sleepWhileIdle();
    void wake() noexcept;

    SynthEngine& engine_;
    TableRule rule_;  // the builder's thread only, once started
    std::atomic<uint32_t> pending_{0};
    std::atomic<bool> busy_{false};
    std::atomic<bool> quit_{false};
    std::atomic<double> rate_{0.0};  // a sample rate to take, 0 for none
    std::atomic<bool> pressed_{false};
    std::mutex switchLock_;  // never taken on the audio thread
    ParameterValues switchValues_{};
    uint32_t switchTag_ = 0;
    bool switchWanted_ = false;
    std::atomic<uint32_t> switched_{0};
    std::atomic<bool> handing_{false};                     // waiting for the audio thread to take a switch
    bool threadless_ = false;                              // built by buildNow, never by a thread
#ifdef _WIN32
    void* wake_ = nullptr;  // an auto-reset event: set whenever pending_ rises
#endif
    std::thread thread_;
};

}  // namespace veltrosa
