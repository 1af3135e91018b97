// Renders the same held eight-note chord for 20 s at 44.1 kHz in 512-frame
// blocks through several VST 2 instruments and prints the CPU time of their
// render calls per frame, and each one's ratio to the first; a .clap file
// (the CLAP edition) and a .vst3 bundle (the VST 3 edition) are timed the
// same way through their process calls. Then the same
// chord on Veltrosa's engine alone, once on each render path this processor
// has, against the same instruments. LV2 peers (padthv1) would join here
// through an LV2 host, which the tools do not have yet.
//
//   compare_peers [--seconds S] [--repeat N] plugin.so [plugin.so ...]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "ClapHost.h"
#include "Host.h"
#include "Vst3Host.h"
#include "engine/SynthEngine.h"
#include "vst2/Instrument.h"

namespace {

using bench::kChord;
using bench::Result;
constexpr float kRate = bench::kChordRate;
constexpr int32_t kBlock = bench::kChordBlock;

// The chord's blocks through a hosted instance's process call (CLAP, VST 3).
template <class Instance, class Events>
void timeChord(Result& result, double seconds, Instance& instance, Events& chord, Events& none) {
    const auto blocks = static_cast<int>(seconds * static_cast<double>(kRate) / kBlock);
    double cpu = 0.0;
    for (int b = 0; b < blocks; ++b) {
        const double t0 = bench::threadSeconds();
        instance.process(kBlock, b == 0 ? &chord : &none);
        cpu += bench::threadSeconds() - t0;
        for (const auto* channel : {&instance.left(), &instance.right()})
            for (int i = 0; i < kBlock; ++i)
                result.peak = std::max(result.peak, std::fabs((*channel)[static_cast<std::size_t>(i)]));
    }
    result.ok = true;
    result.nsPerFrame = cpu * 1e9 / (static_cast<double>(blocks) * kBlock);
}

// A CLAP plug-in (Veltrosa.clap): the same chord through its process call.
Result measureClap(const std::string& path, double seconds) {
    Result result;
    const double loading = bench::wallSeconds();
    auto library = claphost::Library::open(path, result.error);
    auto instance = library ? claphost::Instance::create(*library, result.error) : nullptr;
    if (!instance || !instance->activate(kRate, kBlock)) {
        result.error = result.error.empty() ? "activation failed" : result.error;
        return result;
    }
    result.instantiateMs = (bench::wallSeconds() - loading) * 1e3;
    claphost::EventList chord;
    for (int key : kChord)
        chord.noteOn(0, static_cast<int16_t>(key), 100 / 127.0);
    claphost::EventList none;
    chord.get();
    none.get();
    timeChord(result, seconds, *instance, chord, none);
    return result;
}

// A VST 3 bundle (Veltrosa.vst3): the same chord through its process call.
Result measureVst3(const std::string& bundle, double seconds) {
    Result result;
    const double loading = bench::wallSeconds();
    auto module = vst3host::Module::open(vst3host::moduleInBundle(bundle), result.error);
    auto instance = module ? vst3host::Instance::create(*module, result.error) : nullptr;
    if (!instance || !instance->start(static_cast<double>(kRate), kBlock)) {
        result.error = result.error.empty() ? "activation failed" : result.error;
        return result;
    }
    result.instantiateMs = (bench::wallSeconds() - loading) * 1e3;
    vst3host::EventList chord;
    for (int key : kChord)
        chord.noteOn(0, static_cast<int16_t>(key), 100 / 127.0f);
    vst3host::EventList none;
    timeChord(result, seconds, *instance, chord, none);
    instance->stop();
    return result;
}

bool endsWith(const std::string& text, const char* tail) {
    const std::size_t n = std::strlen(tail);
    return text.size() > n && text.compare(text.size() - n, n, tail) == 0;
}

Result measure(const std::string& path, double seconds) {
    if (endsWith(path, ".clap"))
        return measureClap(path, seconds);
    if (endsWith(path, ".vst3"))
        return measureVst3(path, seconds);
    Result result;
    const double loading = bench::wallSeconds();
    auto plugin = vsthost::Plugin::load(path, result.error);
    if (!plugin)
        return result;
    plugin->start(kRate, kBlock);
    result.instantiateMs = (bench::wallSeconds() - loading) * 1e3;
    const int outputs = std::max(plugin->effect()->numOutputs, 2);
    const int inputs = std::max(plugin->effect()->numInputs, 0);
    std::vector<std::vector<float>> out(static_cast<std::size_t>(outputs), std::vector<float>(kBlock));
    std::vector<std::vector<float>> in(static_cast<std::size_t>(inputs) + 1, std::vector<float>(kBlock));
    std::vector<float*> outPtr, inPtr;
    for (auto& b : out)
        outPtr.push_back(b.data());
    for (auto& b : in)
        inPtr.push_back(b.data());

    std::vector<vsthost::MidiMessage> chord;
    for (int key : kChord)
        chord.push_back(vsthost::noteOn(0, key, 100));
    vsthost::EventList events(chord);
    vsthost::EventList none;
    vst2::AEffect* effect = plugin->effect();
    const auto blocks = static_cast<int>(seconds * static_cast<double>(kRate) / kBlock);
    double cpu = 0.0;
    for (int b = 0; b < blocks; ++b) {
        effect->dispatcher(effect, vst2::effProcessEvents, 0, 0, (b == 0 ? events : none).get(), 0.0f);
        const double t0 = bench::threadSeconds();
        effect->processReplacing(effect, inPtr.data(), outPtr.data(), kBlock);
        cpu += bench::threadSeconds() - t0;
        for (int c = 0; c < 2; ++c)
            for (float x : out[static_cast<std::size_t>(c)])
                result.peak = std::max(result.peak, std::fabs(x));
    }
    plugin->close();
    result.ok = true;
    result.nsPerFrame = cpu * 1e9 / (static_cast<double>(blocks) * kBlock);
    return result;
}

// The chord as the plug-in plays it (note = key - 12), on the engine alone.
Result measureEngine(veltrosa::RenderPath path, double seconds) {
    Result result;
    veltrosa::SynthEngine engine;
    if (!engine.setRenderPath(path)) {
        result.error = "not available on this processor";
        return result;
    }
    engine.setSampleRate(kRate);
    std::vector<float> left(kBlock), right(kBlock);
    const auto& frequencies = veltrosa::noteFrequencyTable();
    for (int key : kChord)
        engine.noteOn(key - 12, frequencies[static_cast<std::size_t>(key - 12)], 100, 0);
    const auto blocks = static_cast<int>(seconds * static_cast<double>(kRate) / kBlock);
    double cpu = 0.0;
    for (int b = 0; b < blocks; ++b) {
        const double t0 = bench::threadSeconds();
        engine.render(left.data(), right.data(), kBlock);
        cpu += bench::threadSeconds() - t0;
        for (std::size_t i = 0; i < left.size(); ++i)
            result.peak = std::max({result.peak, std::fabs(left[i]), std::fabs(right[i])});
    }
    result.ok = true;
    result.nsPerFrame = cpu * 1e9 / (static_cast<double>(blocks) * kBlock);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Options options{20.0, 3, {}};
    if (!options.parse(argc, argv, "plugin.so"))
        return 2;
    const double seconds = options.seconds;
    const int repeat = options.repeat;
    const std::vector<std::string>& paths = options.names;
    std::printf(
        "%s; held 8-note chord, %.0f s at %.0f Hz in %d-frame blocks; CPU time of the render calls, "
        "best and median of %d\n",
        bench::processorName().c_str(), seconds, static_cast<double>(kRate), kBlock, repeat);
    std::printf("%s; table read: %s\n", bench::vendorAndFamily().c_str(),
                bench::tableReadName(veltrosa::SynthEngine::bestTableRead()));
    std::vector<bench::Rounds> rounds(paths.size());
    const veltrosa::RenderPath renderPaths[] = {veltrosa::RenderPath::Scalar, veltrosa::RenderPath::Sse2,
                                                veltrosa::RenderPath::Avx2, veltrosa::RenderPath::Avx512};
    constexpr int kPaths = 4;
    bench::Rounds engineRounds[kPaths];
    // Interleaved rounds, so that a busy moment on the machine hits every plug-in alike.
    for (int round = 0; round < repeat; ++round) {
        for (std::size_t i = 0; i < paths.size(); ++i)
            rounds[i].add(measure(paths[i], seconds));
        for (int k = 0; k < kPaths; ++k)
            engineRounds[k].add(measureEngine(renderPaths[k], seconds));
    }
    std::vector<Result> best;
    for (const auto& r : rounds)
        best.push_back(r.best);
    Result engineBest[kPaths];
    for (int k = 0; k < kPaths; ++k)
        engineBest[k] = engineRounds[k].best;
    int failures = 0;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const Result& r = best[i];
        if (!r.ok) {
            std::printf("%-40s  failed: %s\n", paths[i].c_str(), r.error.c_str());
            ++failures;
            continue;
        }
        std::printf("%-40s %9.1f ns/frame (median %.1f)  peak %.3f  instantiation %.2f ms", paths[i].c_str(),
                    r.nsPerFrame, rounds[i].median(), static_cast<double>(r.peak), rounds[i].instantiateMs);
        if (i > 0 && best[0].ok)
            std::printf("  first/this %.3f", best[0].nsPerFrame / r.nsPerFrame);
        std::printf("\n");
    }
    std::printf("engine alone (no plug-in frame), per render path; plug-in dispatch: %s\n",
                bench::pathName(veltrosa::SynthEngine::bestRenderPath()));
    for (int k = 0; k < kPaths; ++k) {
        const Result& r = engineBest[k];
        const char* name = bench::pathName(renderPaths[k]);
        if (!r.ok) {
            std::printf("  %-7s path  %s\n", name, r.error.c_str());
            continue;
        }
        std::printf("  %-7s path %9.1f ns/frame  peak %.3f  scalar/this %.2f", name, r.nsPerFrame,
                    static_cast<double>(r.peak), engineBest[0].ok ? engineBest[0].nsPerFrame / r.nsPerFrame : 0.0);
        if (k > 1 && engineBest[k - 1].ok)
            std::printf("  %s/this %.2f", bench::pathName(renderPaths[k - 1]),
                        engineBest[k - 1].nsPerFrame / r.nsPerFrame);
        for (std::size_t i = 1; i < paths.size(); ++i)
            if (best[i].ok)
                std::printf("  this/%s %.3f", paths[i].substr(paths[i].rfind('/') + 1).c_str(),
                            r.nsPerFrame / best[i].nsPerFrame);
        std::printf("\n");
    }
    return failures == 0 ? 0 : 1;
}
