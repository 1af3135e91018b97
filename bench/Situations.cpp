// Where players play: 32-, 64- and 512-frame blocks with 8, 4, 2, 1 and no
// held notes, through VST 2 instruments (Veltrosa.so first, then any other
// build of it or peer), each situation's CPU time per frame and its ratio to
// the same instrument's 512-frame eight-note case, measured in interleaved
// rounds in one process. Every instance is new, plays its notes for a second
// (the attacks and the stolen voice's fade are over), then renders the timed
// blocks; the clock is read once around all of them, so its own cost (a
// system call per read) stays out of the small blocks' figures.
//
//   situations_bench [--seconds S] [--repeat N] plugin.so [plugin.so ...]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Host.h"
#include "engine/SynthEngine.h"

namespace {

using bench::Result;
constexpr float kRate = bench::kChordRate;

struct Situation {
    int32_t block;
    int notes;  // the chord's first notes
};
constexpr Situation kSituations[] = {{512, 8}, {64, 8},  {32, 8}, {512, 4}, {64, 4},  {32, 4}, {512, 2},
                                     {64, 2},  {512, 1}, {64, 1}, {32, 1},  {512, 0}, {64, 0}, {32, 0}};
constexpr int kCount = static_cast<int>(std::size(kSituations));

Result measure(const std::string& path, const Situation& s, double seconds) {
    Result result;
    auto plugin = vsthost::Plugin::load(path, result.error);
    if (!plugin)
        return result;
    plugin->start(kRate, s.block);
    vst2::AEffect* effect = plugin->effect();
    const int outputs = std::max(effect->numOutputs, 2);
    const int inputs = std::max(effect->numInputs, 0);
    std::vector<std::vector<float>> out(static_cast<std::size_t>(outputs), std::vector<float>(512));
    std::vector<std::vector<float>> in(static_cast<std::size_t>(inputs) + 1, std::vector<float>(512));
    std::vector<float*> outPtr, inPtr;
    for (auto& b : out)
        outPtr.push_back(b.data());
    for (auto& b : in)
        inPtr.push_back(b.data());
    std::vector<vsthost::MidiMessage> notes;
    for (int k = 0; k < s.notes; ++k)
        notes.push_back(vsthost::noteOn(0, bench::kChord[k], 100));
    vsthost::EventList events(notes);
    effect->dispatcher(effect, vst2::effProcessEvents, 0, 0, events.get(), 0.0f);
    const int warm = static_cast<int>(kRate) / s.block;
    for (int b = 0; b < warm; ++b)
        effect->processReplacing(effect, inPtr.data(), outPtr.data(), s.block);
    const auto blocks = static_cast<int>(seconds * static_cast<double>(kRate) / s.block);
    const double t0 = bench::threadSeconds();
    for (int b = 0; b < blocks; ++b)
        effect->processReplacing(effect, inPtr.data(), outPtr.data(), s.block);
    const double cpu = bench::threadSeconds() - t0;
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < s.block; ++i)
            result.peak =
                std::max(result.peak, std::fabs(out[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)]));
    plugin->close();
    result.ok = true;
    result.nsPerFrame = cpu * 1e9 / (static_cast<double>(blocks) * s.block);
    return result;
}

std::string shortName(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash);
    const auto up = dir.rfind('/');
    // Two builds of one plug-in differ by their folder.
    return (up == std::string::npos ? dir : dir.substr(up + 1)) + "/" + file;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Options options{2.0, 5, {}};
    if (!options.parse(argc, argv, "plugin.so"))
        return 2;
    const double seconds = options.seconds;
    const int repeat = options.repeat;
    const std::vector<std::string>& paths = options.names;
    // Some peers print to the standard streams while they play: the table
    // goes to the original output, everything else to /dev/null.
    std::fflush(stdout);
    FILE* report = fdopen(dup(1), "w");
    if (report == nullptr)
        return 1;
    if (const int null = open("/dev/null", O_WRONLY); null >= 0) {
        dup2(null, 1);
        dup2(null, 2);
        close(null);
    }
    std::fprintf(report, "%s; %s; Veltrosa's path here: %s, table read: %s\n", bench::processorName().c_str(),
                 bench::vendorAndFamily().c_str(), bench::pathName(veltrosa::SynthEngine::bestRenderPath()),
                 bench::tableReadName(veltrosa::SynthEngine::bestTableRead()));
    std::fprintf(report, "%.0f Hz, %.1f s per round, %d interleaved rounds; CPU time per frame, best and median\n",
                 static_cast<double>(kRate), seconds, repeat);
    std::vector<std::vector<bench::Rounds>> rounds(paths.size(), std::vector<bench::Rounds>(kCount));
    for (int round = 0; round < repeat; ++round)
        for (int s = 0; s < kCount; ++s)
            for (std::size_t p = 0; p < paths.size(); ++p)
                rounds[p][static_cast<std::size_t>(s)].add(measure(paths[p], kSituations[s], seconds));

    std::fprintf(report, "%-7s %-6s", "block", "notes");
    for (const auto& p : paths)
        std::fprintf(report, " | %-36s", shortName(p).substr(0, 36).c_str());
    std::fprintf(report, "\n");
    for (int s = 0; s < kCount; ++s) {
        std::fprintf(report, "%-7d %-6d", kSituations[s].block, kSituations[s].notes);
        for (std::size_t p = 0; p < paths.size(); ++p) {
            const bench::Rounds& r = rounds[p][static_cast<std::size_t>(s)];
            const bench::Rounds& base = rounds[p][0];
            if (!r.best.ok) {
                std::fprintf(report, " | %-36s", ("failed: " + r.best.error).substr(0, 36).c_str());
                continue;
            }
            std::fprintf(report, " | %7.2f %7.2f (%5.2fx; med %5.2fx)", r.best.nsPerFrame, r.median(),
                         base.best.ok ? r.best.nsPerFrame / base.best.nsPerFrame : 0.0,
                         base.best.ok ? r.median() / base.median() : 0.0);
        }
        std::fprintf(report, "\n");
    }
    std::fprintf(report,
                 "each cell: best, median ns/frame (best / best and median / median of the 512-frame 8-note row)\n");
    for (std::size_t p = 0; p < paths.size(); ++p) {
        for (std::size_t q = p + 1; q < paths.size(); ++q) {
            std::fprintf(report, "%s / %s, best (median):", shortName(paths[p]).c_str(), shortName(paths[q]).c_str());
            for (int s = 0; s < kCount; ++s) {
                const bench::Rounds& a = rounds[p][static_cast<std::size_t>(s)];
                const bench::Rounds& b = rounds[q][static_cast<std::size_t>(s)];
                if (a.best.ok && b.best.ok && kSituations[s].notes > 0)
                    std::fprintf(report, " %d/%d %.3f (%.3f)", kSituations[s].block, kSituations[s].notes,
                                 a.best.nsPerFrame / b.best.nsPerFrame, a.median() / b.median());
            }
            std::fprintf(report, "\n");
        }
    }
    std::fclose(report);
    return 0;
}
