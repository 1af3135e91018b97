// What the benchmark programs share: CPU clocks, the processor's name, the
// render paths' names, and the scene the peer comparisons play.
#pragma once

#include <time.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

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
    double instantiateMs = 0.0;  // wall time from loading to the first block
    std::string error;
};

// An instrument's rounds: the best one, and every cost for the median (the
// figure that shows whether one process is as fast as another); the
// quickest instantiation (the first round's also loads the library).
struct Rounds {
    Result best;
    std::vector<double> costs;
    double instantiateMs = 0.0;

    void add(const Result& r) {
        if (r.ok)
            costs.push_back(r.nsPerFrame);
        if (r.ok && (costs.size() == 1 || r.instantiateMs < instantiateMs))
            instantiateMs = r.instantiateMs;
        if (r.ok && (!best.ok || r.nsPerFrame < best.nsPerFrame))
            best = r;
        else if (!best.ok)
            best.error = r.error;
    }
    double median() const {
        std::vector<double> c = costs;
        std::sort(c.begin(), c.end());
        const std::size_t n = c.size();
        return n == 0 ? 0.0 : n % 2 == 1 ? c[n / 2] : (c[n / 2 - 1] + c[n / 2]) / 2.0;
    }
};

// The programs' common options, --seconds S and --repeat N (at least 1),
// and the instruments named after them. False, after a usage line naming
// what, when none is named or the length is not positive.
struct Options {
    double seconds;
    int repeat;
    std::vector<std::string> names;

    bool parse(int argc, char** argv, const char* what) {
        for (int i = 1; i < argc; ++i) {
            const bool valued = i + 1 < argc;
            if (std::strcmp(argv[i], "--seconds") == 0 && valued)
                seconds = std::atof(argv[++i]);
            else if (std::strcmp(argv[i], "--repeat") == 0 && valued)
                repeat = std::max(1, std::atoi(argv[++i]));
            else
                names.emplace_back(argv[i]);
        }
        if (!names.empty() && seconds > 0.0)
            return true;
        std::fprintf(stderr, "usage: %s [--seconds S] [--repeat N] %s...\n", argv[0], what);
        return false;
    }
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

// The processor's vendor string and family as cpuid gives them (the family
// with its extended bits added, as the vendors number them), which decide
// the table read (SynthEngine::bestTableRead).
inline std::string vendorAndFamily() {
#if defined(__x86_64__) || defined(__i386__)
    uint32_t a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(0, &a, &b, &c, &d) == 0)
        return "unknown vendor";
    char vendor[13] = {};
    std::memcpy(vendor, &b, 4);
    std::memcpy(vendor + 4, &d, 4);
    std::memcpy(vendor + 8, &c, 4);
    __get_cpuid(1, &a, &b, &c, &d);
    const uint32_t base = (a >> 8) & 0xFu;
    const uint32_t family = base == 0xFu ? base + ((a >> 20) & 0xFFu) : base;
    return std::string(vendor) + ", family " + std::to_string(family);
#else
    return "not an x86 processor";
#endif
}

inline const char* tableReadName(veltrosa::TableRead read) {
    return read == veltrosa::TableRead::Pairs ? "64-bit pair loads" : "gathers";
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
    case veltrosa::RenderPath::Simd128:
        return "SIMD128";
    case veltrosa::RenderPath::Neon:
        return "NEON";
    }
    return "?";
}

}  // namespace bench
