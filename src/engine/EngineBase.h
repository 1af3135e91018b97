// The parameter store every engine starts from. Parameter values are single
// floats shared between the thread that sets them and the audio thread; each
// is read and written whole (relaxed atomics on plain float storage, so that
// the array itself can be handed to the host as the state chunk).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace veltrosa {

// The audio thread must never wait on a lock hidden inside an atomic.
static_assert(std::atomic<double>::is_always_lock_free && std::atomic<float>::is_always_lock_free);

class EngineBase {
public:
    explicit EngineBase(int32_t count) : params(new float[static_cast<std::size_t>(count)]()), numParams(count) {}
    virtual ~EngineBase() = default;
    EngineBase(const EngineBase&) = delete;
    EngineBase& operator=(const EngineBase&) = delete;

    // Parameter thread.
    virtual void setSampleRate(double rate) { sampleRate.store(rate, std::memory_order_relaxed); }
    virtual void parameterChanged(int32_t /*index*/) {}

    // Any thread. index must lie in 0..numParams-1.
    float param(int32_t index) const { return std::atomic_ref<float>(params[index]).load(std::memory_order_relaxed); }
    void setParam(int32_t index, float value) {
        std::atomic_ref<float>(params[index]).store(value, std::memory_order_relaxed);
    }
    // The live array: allocated once, never moved, the state chunk's bytes.
    float* paramData() { return params.get(); }
    int32_t paramCount() const { return numParams; }
    double getSampleRate() const { return sampleRate.load(std::memory_order_relaxed); }

protected:
    std::unique_ptr<float[]> params;
    // Written on the parameter thread, read on the audio thread at note-on.
    std::atomic<double> sampleRate{44100.0};
    int32_t numParams;
};

}  // namespace veltrosa
