// The sound engine: parameters, the wavetable and eight voices.
#pragma once

#include <cstdint>

#include "engine/EngineBase.h"
#include "engine/Parameters.h"

namespace veltrosa {

class SynthEngine : public EngineBase {
public:
    SynthEngine();
    ~SynthEngine() override;

    // Parameter thread. Also regenerates the wavetable for "Update" and 100.
    void setSampleRate(double rate) override;
    void parameterChanged(int32_t index) override;

    // Audio thread.
    void noteOn(int32_t note, float frequency, int32_t velocity, int32_t startOffset);
    void noteOff(int32_t note, int32_t releaseDelay);
    void silenceAll();
    void render(float* outLeft, float* outRight, int32_t n);
};

}  // namespace veltrosa
