// One sounding note: two table readers half a table apart (left, right) at
// twice the output rate, a state-variable low-pass per channel with its own
// envelope, and the amplitude envelope.
//
// Threads: everything runs on the audio thread except parameterChanged (the
// parameter thread), which only writes envelope rates.
#pragma once

#include <atomic>
#include <bit>
#include <cstdint>

#include "engine/Envelope.h"
#include "engine/VoiceLanes.h"

namespace veltrosa {

class Wavetable;

// A sample the host can take: NaN and infinities become 0. Branch-free, so
// loops over a block stay straight vector loops.
inline float finiteOrZero(float x) {
    const uint32_t bits = std::bit_cast<uint32_t>(x);
    return (bits & 0x7F800000u) == 0x7F800000u ? 0.0f : x;
}

// One table reader with its four-stage smoothing chain; VoiceKernel.h reads
// and smooths.
struct Oscillator {
    float position = 0.0f;                  // table samples, 0 <= position < 65536
    float step = 0.0f;                      // table samples per read; two reads per output sample
    float smoothCoef = 0.0f;                // one-pole coefficient of each smoothing stage
    float out = 0.0f;                       // fourth (output) smoothing stage
    float s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;  // inner stages
};

// Chamberlin state-variable filter state of one channel.
struct SvfState {
    float low = 0.0f, band = 0.0f, high = 0.0f;
};

class Voice {
public:
    // params: the engine's 48 values; sampleRate: the engine's rate in Hz.
    Voice(float* params, const std::atomic<double>& sampleRate);

    // Parameter thread: recompute the envelope rates that depend on index
    // (34..37 filter, 42..45 amplitude, anything else both).
    void parameterChanged(int32_t index);

    // Audio thread.
    void noteOn(int32_t startOffset, int32_t age, float frequency, float velocity, int32_t note);
    // Adds n samples into outLeft/outRight; scratchLeft/Right hold >= n floats.
    // table: the adopted wavetable (kLength + 1 floats).
    void render(float* scratchLeft, float* scratchRight, float* outLeft, float* outRight, int32_t n,
                const VoiceParams& p, const float* table);
    void release(int32_t delay);  // note-off
    void fadeForReuse();          // stolen: falls silent within 167 samples
    void silence() { active_ = false; }

    // Rendering in lanes (audio thread). A voice fits a lane for a block
    // when it sounds from the block's first sample on; one that starts later
    // in the block, or waits beyond it, goes through render instead.
    bool fitsLane() const { return active_ && (!startPending_ || startOffset_ == 0); }
    // Copies the voice into lane j; one that does not fit leaves an idle lane.
    // A voice that fits then lives in the lane: block after block its state
    // stays there, and nothing is copied, until anything here needs it (settle).
    void toLane(VoiceLanes& lanes, int32_t j);
    bool livesIn(int32_t j) const { return lane_ == j; }
    // The rates, which the parameter thread may change at any time.
    void ratesToLane(VoiceLanes& lanes, int32_t j) const;
    // Ends a block rendered in lane j (of the engine's lanes, or of render's
    // own one).
    template <class Lanes>
    void renderedInLane(const Lanes& lanes, int32_t j) {
        startPending_ = false;
        startOffset_ = 0;
        active_ = lanes.ampEnv.state[j] != lane::kIdle;
    }
    // Takes the state back from the voice's lane, if it lives in one: before
    // anything here reads or changes it, or the lane goes to another voice.
    void settle() const;
    void renumberAge(int32_t age) { age_ = age; }

    bool active() const { return active_; }
    bool releasing() const { return releasing_; }
    int32_t note() const { return note_; }
    int32_t age() const { return age_; }
    bool startPending() const { return startPending_; }
    int32_t startOffset() const { return startOffset_; }
    const EnvLevel& ampEnvelope() const {
        settle();
        return ampEnv_.now;
    }
    const EnvLevel& filterEnvelope() const {
        settle();
        return filterEnv_.now;
    }
    EnvRates ampRates() const { return ampEnv_.rates(); }
    EnvRates filterRates() const { return filterEnv_.rates(); }
    const Oscillator& oscillator(int channel) const {
        settle();
        return channel == 0 ? oscLeft_ : oscRight_;
    }

    // The smoothing coefficient for a usable sample rate: π·9000/rate as long
    // as the stages settle (rates above about 14137 Hz).
    static float smoothingFor(double rate);
    // The rate the voice computes with: the engine's when it is usable.
    static double usableRate(double rate);

private:
    template <class Lanes>
    void copyTo(Lanes& lanes, int32_t j, bool sounds) const;
    template <class Lanes>
    void copyRates(Lanes& lanes, int32_t j) const;
    template <class Lanes>
    void takeBack(const Lanes& lanes, int32_t j);

    Oscillator oscLeft_, oscRight_;
    Envelope ampEnv_, filterEnv_;
    bool active_ = false;
    bool releasing_ = false;
    bool startPending_ = false;
    int32_t startOffset_ = 0;
    int32_t note_ = 0;
    int32_t age_ = 1;
    const std::atomic<double>& sampleRate_;
    float velocitySquared_ = 0.0f;
    float* params_;
    SvfState left_, right_;
    float damping_ = 0.0f;
    float cutoffCoef_ = 0.0f;
    const VoiceLanes* home_ = nullptr;  // the lanes whose lane_ holds the state, if lane_ >= 0
    int32_t lane_ = -1;
};

}  // namespace veltrosa
