#include "app/TableWorker.h"

#include <system_error>

namespace veltrosa {

TableWorker::TableWorker(SynthEngine& engine) : engine_(engine), builtFrom_(spectrum()) {}

TableWorker::~TableWorker() { stop(); }

bool TableWorker::start() {
    if (thread_.joinable())
        return true;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void TableWorker::stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable())
        thread_.join();
}

void TableWorker::parametersChanged() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        pending_ = true;
    }
    wake_.notify_one();
}

void TableWorker::sampleRateChanged(double rate) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        rate_ = rate;
        pending_ = true;
    }
    wake_.notify_one();
}

TableWorker::Spectrum TableWorker::spectrum() const {
    Spectrum values{};
    for (int32_t i = 0; i <= kParamBandwidth; ++i)
        values[static_cast<std::size_t>(i)] = engine_.param(i);
    return values;
}

void TableWorker::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return pending_ || quit_; });
        if (quit_)
            return;
        pending_ = false;
        const double rate = rate_;
        rate_ = 0.0;
        lock.unlock();
        // Read before building, so a change made during the build asks again.
        const Spectrum now = spectrum();
        if (rate > 0.0 && rate != engine_.getSampleRate()) {
            engine_.setSampleRate(rate);  // builds from the current parameters
            builtFrom_ = now;
        } else if (engine_.param(kParamUpdate) > 0.9f) {
            engine_.parameterChanged(kParamUpdate);
            builtFrom_ = now;
        } else if (now != builtFrom_ && engine_.regenerate()) {
            builtFrom_ = now;
        }
        lock.lock();
    }
}

}  // namespace veltrosa
