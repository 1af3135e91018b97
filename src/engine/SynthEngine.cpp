#include "engine/SynthEngine.h"

#include <algorithm>
#include <cmath>

namespace veltrosa {

SynthEngine::SynthEngine() : EngineBase(kNumParams) {
    std::fill_n(params.get(), numParams, 0.01f);
    for (int32_t i = 0; i < numParams; ++i)
        setParam(i, defaultParam(i));
}

SynthEngine::~SynthEngine() = default;

void SynthEngine::setSampleRate(double rate) {
    if (rate == sampleRate)
        return;
    sampleRate = rate;
    parameterChanged(kAllParametersChanged);
}

void SynthEngine::parameterChanged(int32_t index) {
    if ((index == kParamUpdate && param(kParamUpdate) > 0.9f) || index == kAllParametersChanged)
        setParam(kParamUpdate, 0.0f);
}

void SynthEngine::noteOn(int32_t, float, int32_t, int32_t) {}
void SynthEngine::noteOff(int32_t, int32_t) {}
void SynthEngine::silenceAll() {}

void SynthEngine::render(float* outLeft, float* outRight, int32_t n) {
    std::fill_n(outLeft, n, 0.0f);
    std::fill_n(outRight, n, 0.0f);
}

}  // namespace veltrosa
