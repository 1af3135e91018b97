// Helpers shared by the engine tests: spectra of tables and small renders.
#pragma once

#include <kissfft/kiss_fftr.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <vector>

#include "engine/SynthEngine.h"

namespace engine_test {

using veltrosa::SynthEngine;
using veltrosa::Wavetable;

// Forward spectrum of the first kLength samples of a table.
inline std::vector<std::complex<float>> spectrum(const float* table) {
    const int n = Wavetable::kLength;
    kiss_fftr_cfg cfg = kiss_fftr_alloc(n, 0, nullptr, nullptr);
    std::vector<kiss_fft_cpx> bins(static_cast<std::size_t>(n / 2 + 1));
    kiss_fftr(cfg, table, bins.data());
    kiss_fftr_free(cfg);
    std::vector<std::complex<float>> out;
    out.reserve(bins.size());
    for (const auto& b : bins)
        out.emplace_back(b.r, b.i);
    return out;
}

inline float peakOf(const float* table) {
    float peak = 0.0f;
    for (int i = 0; i < Wavetable::kLength; ++i)
        peak = std::max(peak, std::fabs(table[i]));
    return peak;
}

inline std::vector<float> copyTable(const float* table) {
    return std::vector<float>(table, table + Wavetable::kLength + 1);
}

// Generates and adopts a fresh table with the engine's current parameters.
inline void regenerate(SynthEngine& engine) {
    engine.setParam(veltrosa::kParamUpdate, 1.0f);
    engine.parameterChanged(veltrosa::kParamUpdate);
    engine.render(nullptr, nullptr, 0);  // adopts
}

struct Stereo {
    std::vector<float> left, right;
};

// Renders frames in blocks; returns both channels.
inline Stereo renderBlocks(SynthEngine& engine, int frames, int block) {
    Stereo out;
    std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
    for (int done = 0; done < frames; done += block) {
        const int n = std::min(block, frames - done);
        engine.render(l.data(), r.data(), n);
        out.left.insert(out.left.end(), l.begin(), l.begin() + n);
        out.right.insert(out.right.end(), r.begin(), r.begin() + n);
    }
    return out;
}

}  // namespace engine_test
