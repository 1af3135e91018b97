// Engine costs: one wavetable generation against one inverse transform, and
// one 512-frame block with eight, seven (a held chord) and no voices sounding,
// on each render path (path:0 scalar, 1 SSE2, 2 AVX2, 3 AVX-512) and, where
// the path has a choice, each table read (read:0 gathers, 1 64-bit pairs);
// and the cost of making an engine, which a host pays for every instance.
#include <benchmark/benchmark.h>

#include <kissfft/kiss_fftr.h>

#include <vector>

#include "BenchSupport.h"
#include "engine/SynthEngine.h"

using veltrosa::RenderPath;
using veltrosa::SynthEngine;
using veltrosa::TableRead;
using veltrosa::Wavetable;

namespace {

constexpr int kBlock = bench::kChordBlock;
using bench::kChord;

float frequencyOf(int key) { return 8.175799f * std::pow(2.0f, static_cast<float>(key) / 12.0f); }

void BM_Generation(benchmark::State& state) {
    SynthEngine engine;
    for (auto _ : state)
        benchmark::DoNotOptimize(engine.wavetable().generate());  // replaces the waiting table
}
BENCHMARK(BM_Generation)->Unit(benchmark::kMillisecond);

// The transform alone, as a generation would run it without a kept configuration.
void BM_InverseFftWithConfiguration(benchmark::State& state) {
    std::vector<kiss_fft_cpx> bins(Wavetable::kBins + 1);
    for (std::size_t k = 0; k < bins.size(); ++k)
        bins[k] = {std::sin(static_cast<float>(k)), std::cos(static_cast<float>(k) * 0.5f)};
    std::vector<float> out(Wavetable::kLength);
    for (auto _ : state) {
        kiss_fftr_cfg cfg = kiss_fftr_alloc(Wavetable::kLength, 1, nullptr, nullptr);
        kiss_fftri(cfg, bins.data(), out.data());
        kiss_fftr_free(cfg);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_InverseFftWithConfiguration)->Unit(benchmark::kMillisecond);

void BM_InverseFftOnly(benchmark::State& state) {
    std::vector<kiss_fft_cpx> bins(Wavetable::kBins + 1);
    for (std::size_t k = 0; k < bins.size(); ++k)
        bins[k] = {std::sin(static_cast<float>(k)), std::cos(static_cast<float>(k) * 0.5f)};
    std::vector<float> out(Wavetable::kLength);
    kiss_fftr_cfg cfg = kiss_fftr_alloc(Wavetable::kLength, 1, nullptr, nullptr);
    for (auto _ : state) {
        kiss_fftri(cfg, bins.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    kiss_fftr_free(cfg);
}
BENCHMARK(BM_InverseFftOnly)->Unit(benchmark::kMillisecond);

void reportFrames(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * kBlock);
    state.counters["ns/frame"] = benchmark::Counter(static_cast<double>(state.iterations()) * kBlock,
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Eight voices: one voice always stands in reserve, so a new note every block
// keeps all eight rendering (seven held, one fading), the busiest state.
// The render path and the table read are the benchmark's arguments
// (RenderPath, TableRead); a path this processor lacks is skipped.
bool usePath(SynthEngine& engine, benchmark::State& state) {
    const auto path = static_cast<RenderPath>(state.range(0));
    engine.setTableRead(static_cast<TableRead>(state.range(1)));
    if (engine.setRenderPath(path))
        return true;
    state.SkipWithError("render path not available on this processor");
    return false;
}

void paths(benchmark::internal::Benchmark* b) {
    b->ArgNames({"path", "read"});
    for (RenderPath p : {RenderPath::Scalar, RenderPath::Sse2, RenderPath::Avx2, RenderPath::Avx512}) {
        b->Args({static_cast<int64_t>(p), static_cast<int64_t>(TableRead::Gather)});
        if (p >= RenderPath::Avx2)
            b->Args({static_cast<int64_t>(p), static_cast<int64_t>(TableRead::Pairs)});
    }
}

// A host makes an instance of every plug-in it scans: the engine with its
// first table and its render choices.
void BM_Instantiation(benchmark::State& state) {
    for (auto _ : state) {
        SynthEngine engine;
        benchmark::DoNotOptimize(engine.table());
    }
}
BENCHMARK(BM_Instantiation)->Unit(benchmark::kMillisecond);

void BM_Block8Voices(benchmark::State& state) {
    SynthEngine engine;
    if (!usePath(engine, state))
        return;
    std::vector<float> l(kBlock), r(kBlock);
    int next = 0;
    for (int key : kChord)
        engine.noteOn(key, frequencyOf(key), 100, 0);
    engine.render(l.data(), r.data(), kBlock);
    for (auto _ : state) {
        const int key = kChord[next++ % 8];
        engine.noteOn(key, frequencyOf(key), 100, 0);
        engine.render(l.data(), r.data(), kBlock);
        benchmark::DoNotOptimize(l.data());
    }
    reportFrames(state);
}
BENCHMARK(BM_Block8Voices)->Apply(paths);

// A held eight-note chord: seven voices sound, the eighth has faded out.
void BM_BlockHeldChord(benchmark::State& state) {
    SynthEngine engine;
    if (!usePath(engine, state))
        return;
    std::vector<float> l(kBlock), r(kBlock);
    for (int key : kChord)
        engine.noteOn(key, frequencyOf(key), 100, 0);
    engine.render(l.data(), r.data(), kBlock);
    for (auto _ : state) {
        engine.render(l.data(), r.data(), kBlock);
        benchmark::DoNotOptimize(l.data());
    }
    reportFrames(state);
}
BENCHMARK(BM_BlockHeldChord)->Apply(paths);

void BM_BlockSilent(benchmark::State& state) {
    SynthEngine engine;
    if (!usePath(engine, state))
        return;
    std::vector<float> l(kBlock), r(kBlock);
    engine.render(l.data(), r.data(), kBlock);
    for (auto _ : state) {
        engine.render(l.data(), r.data(), kBlock);
        benchmark::DoNotOptimize(l.data());
    }
    reportFrames(state);
}
BENCHMARK(BM_BlockSilent)->Apply(paths);

}  // namespace
