// What the benchmark programs share: CPU clocks, the processor's name, the
// render paths' names, and the scene the peer comparisons play.
#pragma once

#include <time.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "engine/VoiceLanes.h"

namespace bench {

// Every instrument compared plays the same held eight-note chord at this
// rate, in blocks of this many frames.
constexpr float kChordRate = 44100.0f;
constexpr int32_t kChordBlock = 512;
inline constexpr int kChord[] = {48, 52, 55, 59, 60, 64, 67, 71};

// One instrument's cost, or why it could not be measured.
struct Result {
    bool ok = false;
    double nsPerFrame = 0.0;
    float peak = 0.0f;
    std::string error;
};

inline double threadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

inline double wallSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The "model name" line of /proc/cpuinfo, or "unknown processor".
inline std::string processorName() {
    std::ifstream in("/proc/cpuinfo");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("model name", 0) == 0) {
            const auto colon = line.find(':');
            if (colon != std::string::npos && colon + 2 <= line.size())
                return line.substr(colon + 2);
        }
    }
    return "unknown processor";
}

inline const char* pathName(veltrosa::RenderPath path) {
    switch (path) {
    case veltrosa::RenderPath::Scalar:
        return "scalar";
    case veltrosa::RenderPath::Sse2:
        return "SSE2";
    case veltrosa::RenderPath::Avx2:
        return "AVX2";
    case veltrosa::RenderPath::Avx512:
        return "AVX-512";
    }
    return "?";
}

}  // namespace bench
