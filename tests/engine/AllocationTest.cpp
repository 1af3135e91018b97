// Memory on the audio thread: nothing allocated or freed in steady state,
// and what happens when memory runs out. The test binary interposes malloc
// and friends; sanitizer runtimes own them, so these tests skip there.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <thread>

#include "AllocationHooks.h"
#include "EngineTestSupport.h"
#include "TestSupport.h"

using namespace engine_test;
using namespace veltrosa;

TEST(Allocation, SteadyStateRenderingAllocatesNothing) {
    SKIP_WITHOUT_HOOKS();
    SynthEngine engine;
    std::vector<float> l(512), r(512);
    engine.render(l.data(), r.data(), 512);  // scratch grows once
    std::atomic<bool> stop{false};
    // Tables keep arriving from another thread, and are adopted in the window.
    std::thread parameters([&] {
        for (int i = 0; i < 6 && !stop.load(); ++i) {
            engine.setParam(kParamUpdate, 1.0f);
            engine.parameterChanged(kParamUpdate);
        }
    });
    int allocations = 0, frees = 0;
    for (int block = 0; block < 4000; ++block) {
        const Counting counting;
        if (block % 16 == 0)
            engine.noteOn(36 + block % 40, 100.0f + static_cast<float>(block % 7) * 50.0f, 90, block % 512);
        if (block % 16 == 9)
            engine.noteOff(36 + (block - 9) % 40, block % 512);
        if (block % 500 == 499)
            engine.silenceAll();
        engine.render(l.data(), r.data(), block % 3 == 0 ? 512 : 100);
        allocations += tlsLog.allocations;
        frees += tlsLog.frees;
    }
    stop.store(true);
    parameters.join();
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(frees, 0);
}

TEST(Allocation, ThePluginAudioPathAllocatesNothing) {
    SKIP_WITHOUT_HOOKS();
    auto plugin = testing_support::startedPlugin(44100.0f, 512);
    ASSERT_TRUE(plugin);
    std::vector<float> l(512), r(512);
    float* outs[] = {l.data(), r.data()};
    vst2::AEffect* effect = plugin->effect();
    std::vector<vsthost::EventList> lists(64);
    for (int i = 0; i < 64; ++i) {
        lists[static_cast<std::size_t>(i)].add(vsthost::noteOn(i % 512, 48 + i % 24, 100));
        lists[static_cast<std::size_t>(i)].add(vsthost::noteOff((i * 7) % 512, 48 + (i + 12) % 24));
        lists[static_cast<std::size_t>(i)].get();  // the host builds its list before the block
    }
    // From the first block on: the announced size was reserved ahead.
    int allocations = 0, frees = 0;
    for (int block = 0; block < 2000; ++block) {
        vsthost::EventList& list = lists[static_cast<std::size_t>(block % 64)];
        const Counting counting;
        effect->dispatcher(effect, vst2::effProcessEvents, 0, 0, list.get(), 0.0f);
        effect->processReplacing(effect, nullptr, outs, 512);
        allocations += tlsLog.allocations;
        frees += tlsLog.frees;
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(frees, 0);
}

TEST(Allocation, EveryWayOfAnnouncingABlockSizeReservesItAhead) {
    SKIP_WITHOUT_HOOKS();
    const struct {
        const char* how;
        void (*announce)(vsthost::Plugin&, int32_t);
        int32_t block;
    } cases[] = {
        {"effSetBlockSize", [](vsthost::Plugin& p, int32_t n) { p.setBlockSize(n); }, 2048},
        {"effSetBlockSizeAndSampleRate",
         [](vsthost::Plugin& p, int32_t n) { p.dispatch(vst2::effSetBlockSizeAndSampleRate, 0, n, nullptr, 48000.0f); },
         2048},
        {"nothing (resumed with the default)", [](vsthost::Plugin&, int32_t) {}, 1024},
    };
    for (const auto& c : cases) {
        auto plugin = testing_support::loadPlugin();
        ASSERT_TRUE(plugin);
        vst2::AEffect* effect = plugin->effect();
        plugin->dispatch(vst2::effOpen);
        plugin->setSampleRate(48000.0f);  // a new table waits for the first block
        c.announce(*plugin, c.block);
        plugin->resume();
        std::vector<float> l(static_cast<std::size_t>(8 * c.block)), r(l.size());
        float* outs[] = {l.data(), r.data()};
        vsthost::EventList chord;
        for (int key : {48, 55, 60, 64})
            chord.add(vsthost::noteOn(key, key, 100));
        effect->dispatcher(effect, vst2::effProcessEvents, 0, 0, chord.get(), 0.0f);
        auto countBlock = [&](int32_t n) {
            const Counting counting;
            effect->processReplacing(effect, nullptr, outs, n);
            return std::pair{tlsLog.allocations, tlsLog.frees};
        };
        EXPECT_EQ(countBlock(c.block), std::pair(0, 0)) << c.how;
        EXPECT_EQ(countBlock(c.block / 2), std::pair(0, 0)) << c.how;
        // More than announced: the audio thread grows its buffers itself.
        EXPECT_GT(countBlock(4 * c.block).first, 0) << c.how;
        EXPECT_EQ(countBlock(4 * c.block), std::pair(0, 0)) << c.how;
        // Announced again while playing: taken over at the next block.
        if (c.block != 1024) {
            c.announce(*plugin, 8 * c.block);
            EXPECT_EQ(countBlock(8 * c.block), std::pair(0, 0)) << c.how;
        }
    }
}

TEST(Allocation, WithoutMemoryForATableThePreviousOneStays) {
    SKIP_WITHOUT_HOOKS();
    SynthEngine engine;
    const auto before = copyTable(engine.table());
    const uint32_t phaseBefore = phase::current();
    // The first request refused, then only the table (just above the
    // spectrum's size: the table's buffer also holds the values it may carry).
    const std::size_t spectrumBytes = (Wavetable::kBins + 1) * 2 * sizeof(float);
    for (std::size_t bytes : {std::size_t{1000}, std::size_t{100000}, spectrumBytes + 1}) {
        {
            const FailingFrom failing(bytes);
            EXPECT_FALSE(engine.wavetable().generate());
            engine.setParam(kParamUpdate, 1.0f);
            engine.parameterChanged(kParamUpdate);
        }
        EXPECT_EQ(engine.param(kParamUpdate), 0.0f);  // the button still fired
        EXPECT_FALSE(engine.wavetable().pending());
        engine.render(nullptr, nullptr, 0);
        EXPECT_EQ(copyTable(engine.table()), before);
        EXPECT_EQ(phase::current(), phaseBefore);
    }
    EXPECT_TRUE(engine.wavetable().generate());
}

TEST(Allocation, WithoutMemoryForScratchALongBlockRendersInPieces) {
    SKIP_WITHOUT_HOOKS();
    SynthEngine engine;
    std::vector<float> l(4096), r(4096);
    engine.render(l.data(), r.data(), 512);
    engine.noteOn(60, 261.6f, 100, 700);
    engine.noteOff(60, 3000);
    {
        const FailingFrom failing(4096);
        engine.render(l.data(), r.data(), 4096);
    }
    EXPECT_EQ(engine.scratchCapacity(), 512);
    // The same note through eight blocks of 512 sounds the same.
    engine.silenceAll();
    engine.noteOn(60, 261.6f, 100, 700);
    engine.noteOff(60, 3000);
    const auto pieces = renderBlocks(engine, 4096, 512);
    EXPECT_EQ(std::vector<float>(l.begin(), l.end()), pieces.left);
    EXPECT_EQ(std::vector<float>(r.begin(), r.end()), pieces.right);
}
