// The looped wavetable every voice reads, and the generator that builds it
// from the harmonic amplitudes and the bandwidth.
//
// Threads: generate() runs on the parameter thread (any thread that changes a
// parameter); adopt() and current() on the audio thread. A finished table
// crosses over through one atomic pointer; the audio thread never allocates,
// never frees and never waits.
//
// A table may also be built from values other than the engine's: they then
// travel in the table's own buffer, so the audio thread takes both in the
// same block and no block plays one sound's table with another's values.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace veltrosa {

// The process-wide phase generator: one 32-bit state shared by every engine
// in the process, never reseeded, so each generation continues where the last
// one stopped.
namespace phase {
constexpr uint32_t kInitialState = 656446;
// One step of the generator; wraps modulo 2^32 without correction.
constexpr uint32_t next(uint32_t s) { return (s % 2u) * 1588635695u - (s / 2u) * 1117695901u; }
// The bin phase, in radians in [-pi, pi), that a state stands for.
float angle(uint32_t state);
// Current process-wide state (any thread; for diagnostics and tests).
uint32_t current();
// Back to kInitialState, as in a new process: for tests that compare tables
// with another process's.
void restart();
}  // namespace phase

class Wavetable {
public:
    static constexpr int32_t kPeriod = 256;    // table samples per fundamental cycle
    static constexpr int32_t kLength = 65536;  // N; the table holds N + 1 floats
    static constexpr int32_t kBins = kLength / 2;

    // params: the engine's parameter array (read through relaxed atomics).
    explicit Wavetable(float* params);
    ~Wavetable();
    Wavetable(const Wavetable&) = delete;
    Wavetable& operator=(const Wavetable&) = delete;

    // Parameter thread. Builds a table from the current parameters, or from
    // values (kNumParams of them) that go with it, and publishes it as the
    // waiting one, replacing (and freeing) one that still waits. Returns
    // false, with nothing published and the phase generator untouched, when
    // memory cannot be had: the previous table stays in use.
    bool generate(const float* values = nullptr) noexcept;
    // Parameter thread: publishes a copy of samples (kLength + 1 floats) as
    // the waiting table, as generate does with its own. Lets two engines play
    // the very same table. False, with nothing published, without memory.
    bool publish(const float* samples) noexcept;

    // Audio thread, real-time safe. Takes a waiting table, if any, as current;
    // the old one is parked for the generating side to free. With nowhere to
    // park it, the table keeps waiting. True if adopted.
    bool adopt() noexcept;
    // Audio thread: the table the voices read (kLength + 1 floats, the last
    // equal to the first), or null before any table was adopted.
    const float* current() const noexcept { return current_; }
    // Audio thread: the values the current table was generated with, if it
    // was given some; null otherwise.
    const float* carriedValues() const noexcept;

    // Any thread: a finished table waits for adoption.
    bool pending() const noexcept { return next_.load(std::memory_order_acquire) != nullptr; }

private:
    void freeRetired() noexcept;

    float* params_;
    float* current_ = nullptr;           // audio thread only
    std::atomic<float*> next_{nullptr};  // parameter thread -> audio thread
    // Replaced tables on their way back from the audio thread; freed by the
    // next generation or the destructor.
    std::array<std::atomic<float*>, 4> retired_{};
};

}  // namespace veltrosa
