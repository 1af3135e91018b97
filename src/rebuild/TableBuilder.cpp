#include "rebuild/TableBuilder.h"

#include <optional>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace veltrosa {

TableBuilder::TableBuilder(SynthEngine& engine) : engine_(engine), rule_(engine.values()) {}

TableBuilder::~TableBuilder() { stop(); }

bool TableBuilder::start() {
    if (thread_.joinable())
        return true;
    quit_.store(false, std::memory_order_relaxed);
#ifdef _WIN32
    if (wake_ == nullptr && (wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr)) == nullptr)
        return false;
#endif
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void TableBuilder::stop() {
    quit_.store(true, std::memory_order_release);
    pending_.store(1, std::memory_order_release);
    wake();
    if (thread_.joinable())
        thread_.join();
#ifdef _WIN32
    if (wake_ != nullptr)
        CloseHandle(wake_);
    wake_ = nullptr;
#endif
}

void TableBuilder::request() noexcept {
    if (pending_.exchange(1, std::memory_order_acq_rel) == 0)
        wake();
}

// libstdc++'s atomic wait outside Linux checks the value and then sleeps on a
// condition variable, and a notification between the two is lost: the host
// would hang in stop(). An event stays set until the builder takes it.
void TableBuilder::wake() noexcept {
#ifdef _WIN32
    SetEvent(wake_);
#else
    pending_.notify_one();
#endif
}

void TableBuilder::sleepWhileIdle() {
#ifdef _WIN32
    while (pending_.load(std::memory_order_acquire) == 0)
        WaitForSingleObject(wake_, INFINITE);
#else
    pending_.wait(0, std::memory_order_acquire);
#endif
}

void TableBuilder::setSampleRate(double rate) noexcept {
    rate_.store(rate, std::memory_order_release);
    request();
}

void TableBuilder::switchTo(const ParameterValues& values, uint32_t tag) {
    {
        const std::lock_guard lock(switchLock_);
        switchValues_ = values;
        switchTag_ = tag;
        switchWanted_ = true;
    }
    request();
}

bool TableBuilder::settle(std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while ((pending_.load(std::memory_order_acquire) != 0 || busy_.load(std::memory_order_acquire)) &&
           !handing_.load(std::memory_order_acquire)) {
        if (!thread_.joinable() || std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void TableBuilder::run() {
    for (;;) {
        sleepWhileIdle();
        // Busy before the flag drops, so that settle() never sees neither.
        // An exchange, not a store: a store could land after stop()'s and
        // hide it, the quit read before it having missed stop()'s too.
        busy_.store(true, std::memory_order_release);
        pending_.exchange(0, std::memory_order_acq_rel);
        if (quit_.load(std::memory_order_acquire)) {
            busy_.store(false, std::memory_order_release);
            return;
        }
        buildIfDue();
        busy_.store(false, std::memory_order_release);
    }
}

void TableBuilder::buildNow() {
    if (thread_.joinable() || pending_.exchange(0, std::memory_order_acq_rel) == 0)
        return;
    threadless_ = true;
    busy_.store(true, std::memory_order_release);
    buildIfDue();
    busy_.store(false, std::memory_order_release);
}

void TableBuilder::buildIfDue() {
    // Read before building, so that a change made during the build asks again.
    const ParameterValues values = engine_.values();
    std::optional<ParameterValues> target;
    uint32_t tag = 0;
    {
        const std::lock_guard lock(switchLock_);
        if (switchWanted_) {
            target = switchValues_;
            tag = switchTag_;
            switchWanted_ = false;
        }
    }
    const double rate = rate_.exchange(0.0, std::memory_order_acq_rel);
    const bool newRate = rate > 0.0 && rate != engine_.getSampleRate();
    if (newRate) {
        engine_.setSampleRate(rate);  // builds from the current values
        rule_.begin(values);
        rule_.finished();
    }
    if (target) {
        // Named before the table is published, so that the audio thread
        // taking it reads this tag.
        const uint32_t before = switched_.exchange(tag, std::memory_order_acq_rel);
        if (engine_.regenerate(*target)) {
            rule_.begin(*target);
            rule_.finished();
            // A table built next, from the values the switch replaces, would
            // take its place before the audio thread took it. Meanwhile
            // settle() lets the audio thread on, to take it.
            handing_.store(true, std::memory_order_release);
            while (!threadless_ && engine_.wavetable().pending() && !quit_.load(std::memory_order_acquire))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            handing_.store(false, std::memory_order_release);
        } else {  // without memory it waits for the next request, unless replaced
            switched_.store(before, std::memory_order_release);
            const std::lock_guard lock(switchLock_);
            if (!switchWanted_) {
                switchValues_ = *target;
                switchTag_ = tag;
                switchWanted_ = true;
            }
        }
    }
    if (target || newRate) {
        if (pressed_.load(std::memory_order_acquire))
            request();  // a press met a switch or a rate change: its own turn next
        return;
    }
    if (pressed_.exchange(false, std::memory_order_acq_rel))
        rule_.press();
    if (!rule_.due(values))
        return;
    rule_.begin(values);
    if (values[kParamUpdate] > kUpdateThreshold)
        engine_.setParam(kParamUpdate, 0.0f);  // the button springs back, as in every edition
    if (!engine_.regenerate())
        rule_.abandon();  // without memory the previous table stays; asked again next time
    else
        rule_.finished();
}

}  // namespace veltrosa
