// The held eight-note chord of compare_peers (20 s at 44.1 kHz in 512-frame
// blocks) through LV2 instruments, hosted with lilv: the CPU time of their
// run() per frame, and each one's ratio to the first.
//
//   lv2_bench [--seconds S] [--repeat N] plugin-uri [plugin-uri ...]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Lv2Host.h"

namespace {

using bench::kChord;
using bench::Result;
constexpr double kRate = bench::kChordRate;
constexpr auto kBlock = static_cast<uint32_t>(bench::kChordBlock);

Result measure(lv2host::World& world, const std::string& uri, double seconds) {
    Result result;
    const double creating = bench::wallSeconds();
    auto instance =
        lv2host::Instance::create(world, uri, kRate, kBlock, lv2host::WorkerMode::Synchronous, result.error);
    if (!instance)
        return result;
    result.instantiateMs = (bench::wallSeconds() - creating) * 1e3;
    if (instance->outputs() < 1) {
        result.error = "no audio output";
        return result;
    }
    // Two seconds of silent cycles first, not timed: padthv1 builds its
    // samples in a thread of its own after instantiation and is silent until
    // then. Busy, not sleeping: a thread woken from sleep measured up to 10 %
    // slower here, on whichever core it was given back.
    const auto warm = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < warm)
        instance->run(kBlock);
    for (int key : kChord)
        instance->midi(0, {0x90, static_cast<uint8_t>(key), 100});
    const auto blocks = static_cast<int>(seconds * kRate / kBlock);
    double cpu = 0.0;
    for (int b = 0; b < blocks; ++b) {
        cpu += instance->run(kBlock);
        for (std::size_t c = 0; c < std::min<std::size_t>(instance->outputs(), 2); ++c)
            for (uint32_t i = 0; i < kBlock; ++i)
                result.peak = std::max(result.peak, std::fabs(instance->out(c)[i]));
    }
    result.ok = true;
    result.nsPerFrame = cpu * 1e9 / (static_cast<double>(blocks) * kBlock);
    // Kept until the process ends: padthv1 crashes in its own thread when
    // freed by a host that runs no Qt application.
    (void)instance.release();
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    // Options as compare_peers takes them, so compare-peers passes its own on.
    bench::Options options{20.0, 3, {}};
    if (!options.parse(argc, argv, "plugin-uri"))
        return 2;
    const double seconds = options.seconds;
    const int repeat = options.repeat;
    const std::vector<std::string>& uris = options.names;
    lv2host::World world;
    std::printf("LV2, held 8-note chord, %.0f s at %.0f Hz in %u-frame blocks; CPU time of run(), best and median of %d\n",
                seconds, kRate, kBlock, repeat);
    std::vector<bench::Rounds> rounds(uris.size());
    // Interleaved rounds, so that a busy moment hits every plug-in alike.
    for (int round = 0; round < repeat; ++round)
        for (std::size_t i = 0; i < uris.size(); ++i)
            rounds[i].add(measure(world, uris[i], seconds));
    for (std::size_t i = 0; i < uris.size(); ++i) {
        const Result& best = rounds[i].best;
        if (!best.ok) {
            std::printf("%-40s  failed: %s\n", uris[i].c_str(), best.error.c_str());
            continue;
        }
        std::printf("%-40s %9.1f ns/frame (median %.1f)  peak %.3f  instantiation %.2f ms", uris[i].c_str(),
                    best.nsPerFrame, rounds[i].median(), static_cast<double>(best.peak), rounds[i].instantiateMs);
        if (i > 0 && rounds[0].best.ok)
            std::printf("  this/first %.3f", best.nsPerFrame / rounds[0].best.nsPerFrame);
        std::printf("\n");
    }
    return 0;
}
