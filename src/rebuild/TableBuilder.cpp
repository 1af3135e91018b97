#include "rebuild/TableBuilder.h"

#include <system_error>

namespace veltrosa {

TableBuilder::TableBuilder(SynthEngine& engine) : engine_(engine), rule_(engine.values()) {}

TableBuilder::~TableBuilder() { stop(); }

bool TableBuilder::start() {
    if (thread_.joinable())
        return true;
    quit_.store(false, std::memory_order_relaxed);
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
    pending_.notify_one();
    if (thread_.joinable())
        thread_.join();
}

void TableBuilder::request() noexcept {
    if (pending_.exchange(1, std::memory_order_acq_rel) == 0)
        pending_.notify_one();
}

void TableBuilder::setSampleRate(double rate) noexcept {
    rate_.store(rate, std::memory_order_release);
    request();
}

bool TableBuilder::settle(std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (pending_.load(std::memory_order_acquire) != 0 || busy_.load(std::memory_order_acquire)) {
        if (!thread_.joinable() || std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void TableBuilder::run() {
    for (;;) {
        pending_.wait(0, std::memory_order_acquire);
        // Busy before the flag drops, so that settle() never sees neither.
        busy_.store(true, std::memory_order_release);
        pending_.store(0, std::memory_order_release);
        if (quit_.load(std::memory_order_acquire)) {
            busy_.store(false, std::memory_order_release);
            return;
        }
        buildIfDue();
        busy_.store(false, std::memory_order_release);
    }
}

void TableBuilder::buildIfDue() {
    // Read before building, so that a change made during the build asks again.
    const ParameterValues values = engine_.values();
    const double rate = rate_.exchange(0.0, std::memory_order_acq_rel);
    if (rate > 0.0 && rate != engine_.getSampleRate()) {
        engine_.setSampleRate(rate);  // builds from the current values
        rule_.begin(values);
        rule_.finished();
        return;
    }
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
