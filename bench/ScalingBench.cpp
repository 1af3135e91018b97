// How the plug-in scales the way a large project uses it, through its VST 2
// record as a host drives it: many instances rendered one after another per
// block, the memory each one adds, the cost per frame at several block sizes,
// and the worst blocks with and without a table regeneration running on
// another thread. Every instance holds an eight-note chord at 44.1 kHz.
//
//   scaling_bench [--seconds S] [Veltrosa.so]
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "Host.h"
#include "engine/SynthEngine.h"

namespace {

constexpr float kRate = bench::kChordRate;
using bench::kChord;

double residentMegabytes() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// One loaded instance with the chord held and its own output buffers.
struct Instance {
    std::unique_ptr<vsthost::Plugin> plugin;
    std::vector<float> left, right;
    float* outputs[2] = {};
    float* inputs[2] = {};

    bool open(const std::string& path, int32_t maxBlock) {
        std::string error;
        plugin = vsthost::Plugin::load(path, error);
        if (!plugin) {
            std::fprintf(stderr, "scaling_bench: %s: %s\n", path.c_str(), error.c_str());
            return false;
        }
        plugin->start(kRate, maxBlock);
        left.assign(static_cast<std::size_t>(maxBlock), 0.0f);
        right.assign(static_cast<std::size_t>(maxBlock), 0.0f);
        outputs[0] = left.data();
        outputs[1] = right.data();
        std::vector<vsthost::MidiMessage> chord;
        for (int key : kChord)
            chord.push_back(vsthost::noteOn(0, key, 100));
        plugin->sendEvents(chord);
        for (int b = 0; b < 40; ++b)  // past the attacks
            process(std::min<int32_t>(maxBlock, 512));
        return true;
    }
    void process(int32_t frames) {
        vst2::AEffect* e = plugin->effect();
        e->processReplacing(e, inputs, outputs, frames);
    }
};

// CPU time per instance-frame of rounds in which every instance renders one
// block, best of three runs of about `seconds` each.
double nsPerInstanceFrame(std::vector<Instance>& instances, int32_t block, double seconds) {
    double best = 1e30;
    for (int run = 0; run < 3; ++run) {
        int64_t frames = 0;
        const double t0 = bench::threadSeconds();
        double spent = 0.0;
        while (spent < seconds) {
            for (int r = 0; r < 16; ++r)
                for (Instance& i : instances)
                    i.process(block);
            frames += 16 * static_cast<int64_t>(block) * static_cast<int64_t>(instances.size());
            spent = bench::threadSeconds() - t0;
        }
        best = std::min(best, spent * 1e9 / static_cast<double>(frames));
    }
    return best;
}

struct Spread {
    double median, p999, max;  // microseconds
};

// Wall time of each processReplacing call of one instance, 64-frame blocks
// back to back for `seconds`; with regenerate, another thread sets the update
// parameter every 20 ms, so the audio thread adopts a new table each time.
Spread worstBlocks(Instance& instance, double seconds, bool regenerate, int& regenerations) {
    std::atomic<bool> stop{false};
    std::atomic<int> count{0};
    std::thread regenerator;
    if (regenerate) {
        regenerator = std::thread([&] {
            while (!stop.load()) {
                instance.plugin->effect()->setParameter(instance.plugin->effect(), veltrosa::kParamUpdate, 1.0f);
                count.fetch_add(1);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    std::vector<double> times;
    times.reserve(4000000);
    const double end = bench::wallSeconds() + seconds;
    for (double now = bench::wallSeconds(); now < end;) {
        instance.process(64);
        const double after = bench::wallSeconds();
        times.push_back((after - now) * 1e6);
        now = after;
    }
    stop.store(true);
    if (regenerator.joinable())
        regenerator.join();
    regenerations = count.load();
    std::sort(times.begin(), times.end());
    auto at = [&](double q) { return times[static_cast<std::size_t>(q * static_cast<double>(times.size() - 1))]; };
    return {at(0.5), at(0.999), times.back()};
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 1.0;
    std::string path = VELTROSA_PLUGIN_PATH;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::max(0.1, std::atof(argv[++i]));
        else
            path = argv[i];
    }
    std::printf(
        "\nScaling: %s, %s, render path %s; every instance holds an 8-note chord at %.0f Hz; CPU time "
        "unless stated, best of 3\n\n",
        path.substr(path.rfind('/') + 1).c_str(), bench::processorName().c_str(),
        bench::pathName(veltrosa::SynthEngine::bestRenderPath()), static_cast<double>(kRate));

    // (a) and (b): instances added one by one, so that memory freed by an
    // earlier step is not counted again.
    std::vector<Instance> instances;
    instances.reserve(64);
    const double residentBefore = residentMegabytes();
    double residentOne = 0.0, single = 0.0;
    std::printf("| Instances, 512-frame blocks | ns per instance-frame | against 1 instance |\n|---|---|---|\n");
    for (std::size_t n : {1u, 16u, 64u}) {
        while (instances.size() < n) {
            instances.emplace_back();
            if (!instances.back().open(path, 4096))
                return 1;
        }
        if (n == 1)
            residentOne = residentMegabytes();
        const double ns = nsPerInstanceFrame(instances, 512, seconds);
        if (n == 1)
            single = ns;
        std::printf("| %zu | %.1f | %.2f |\n", n, ns, ns / single);
    }
    const double residentAll = residentMegabytes();
    std::printf(
        "\nResident memory: %.1f MB before loading, %.1f MB with 1 instance, %.1f MB with 64: "
        "%.2f MB per added instance\n\n",
        residentBefore, residentOne, residentAll, (residentAll - residentOne) / 63.0);
    instances.resize(1);

    // (c) one instance at several block sizes.
    std::printf("| Block size | ns per frame |\n|---|---|\n");
    for (int32_t block : {16, 64, 512, 4096})
        std::printf("| %d | %.1f |\n", block, nsPerInstanceFrame(instances, block, seconds));

    // (d) the worst 64-frame blocks, wall time.
    int none = 0, regenerations = 0;
    const Spread quiet = worstBlocks(instances[0], 2.0 * seconds, false, none);
    const Spread busy = worstBlocks(instances[0], 2.0 * seconds, true, regenerations);
    std::printf(
        "\n| One 64-frame processReplacing, wall time | median | 99.9th percentile | maximum |\n"
        "|---|---|---|---|\n");
    std::printf("| alone | %.2f µs | %.2f µs | %.1f µs |\n", quiet.median, quiet.p999, quiet.max);
    std::printf("| table regenerated every 20 ms on another thread (%d times) | %.2f µs | %.2f µs | %.1f µs |\n",
                regenerations, busy.median, busy.p999, busy.max);
    std::printf("\n99.9th percentile with regeneration / without: %.2f\n", busy.p999 / quiet.p999);
    return 0;
}
