// Linear attack / decay / release envelope stepped once per output sample.
//
// Threads: the rates are written by the parameter thread (setRates) while the
// audio thread steps the envelope; everything else belongs to the audio thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace veltrosa {

enum class EnvState : int32_t { Idle = 0, Attack = 1, Decay = 2, Sustain = 3, Release = 4, Fade = 5 };

// Per-sample level changes, as one block sees them.
struct EnvRates {
    float attack = 0.0f;   // added per sample in Attack
    float decay = 0.0f;    // removed per sample in Decay
    float sustain = 0.0f;  // level at which Decay ends
    float release = 0.0f;  // removed per sample in Release, once the delay ran out
};

// The part of an envelope the audio thread steps; in a block, a lane of the
// voice kernel (VoiceKernel.h).
struct EnvLevel {
    EnvState state = EnvState::Attack;
    int32_t releaseDelay = 0;  // samples left before a release starts to fall
    float level = 0.0f;        // 0..1

    static constexpr float kFadeStep = 0.006f;  // 1 -> 0 in 167 samples

    // One sample: the voice kernel's envelope step on a lane of its own.
    void step(const EnvRates& r);
};

class Envelope {
public:
    // Parameter thread: a, d, s, r are the raw 0..1 parameter values, rate
    // in Hz. Times grow with the square of the value.
    void setRates(float a, float d, float s, float r, double rate) {
        store(attack_, 1.0 / ((sq(a) + static_cast<double>(0.001f)) * 5.0 * rate));
        store(decay_, 1.0 / ((sq(d) + static_cast<double>(0.005f)) * 5.0 * rate));
        sustain_.store(s, std::memory_order_relaxed);
        store(release_, 1.0 / ((sq(r) + static_cast<double>(0.0002f)) * 5.0 * rate));
    }

    // Audio thread: the rates as last written.
    EnvRates rates() const {
        return {attack_.load(std::memory_order_relaxed), decay_.load(std::memory_order_relaxed),
                sustain_.load(std::memory_order_relaxed), release_.load(std::memory_order_relaxed)};
    }

    EnvLevel now;  // audio thread

private:
    static double sq(float v) { return static_cast<double>(v) * static_cast<double>(v); }
    static void store(std::atomic<float>& to, double value) {
        to.store(static_cast<float>(value), std::memory_order_relaxed);
    }

    std::atomic<float> attack_{0.0f};
    std::atomic<float> decay_{0.0f};
    std::atomic<float> sustain_{0.0f};
    std::atomic<float> release_{0.0f};
};

}  // namespace veltrosa
