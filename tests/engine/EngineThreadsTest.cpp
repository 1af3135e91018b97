// A parameter thread regenerating over and over while the audio thread plays
// and renders: every adopted table is whole. Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "EngineTestSupport.h"

using namespace engine_test;
using namespace veltrosa;

TEST(EngineThreads, RegenerationWhileRendering) {
    SynthEngine engine;
    std::atomic<bool> done{false};
    constexpr int kGenerations = 24;

    std::thread parameters([&] {
        for (int i = 0; i < kGenerations; ++i) {
            engine.setParam(i % kNumHarmonics, (i % 3) * 0.4f);
            engine.setParam(kParamAmpRelease, (i % 5) * 0.1f);
            engine.parameterChanged(kParamAmpRelease);
            if (i % 4 == 3) {
                engine.setSampleRate(i % 8 == 3 ? 48000.0 : 44100.0);
            } else {
                engine.setParam(kParamUpdate, 1.0f);
                engine.parameterChanged(kParamUpdate);
            }
        }
        done.store(true);
    });

    std::vector<float> l(256), r(256);
    const float* seen = engine.table();
    int adopted = 0, blocks = 0;
    // Keep going a little past the last generation so its table is adopted.
    for (int after = 0; after < 2; after += done.load() ? 1 : 0) {
        if (blocks % 8 == 0)
            engine.noteOn(40 + blocks % 30, 100.0f + static_cast<float>(blocks % 50) * 10.0f, 100, blocks % 256);
        if (blocks % 8 == 4)
            engine.noteOff(40 + (blocks - 4) % 30, blocks % 256);
        engine.render(l.data(), r.data(), 256);
        ++blocks;
        const float* t = engine.table();
        if (t != seen) {
            seen = t;
            ++adopted;
            ASSERT_EQ(t[Wavetable::kLength], t[0]);
            ASSERT_NEAR(peakOf(t), 1.0f / 1.4142f, 1e-6f);
        }
        for (int i = 0; i < 256; ++i)
            ASSERT_TRUE(std::isfinite(l[static_cast<std::size_t>(i)]) && std::isfinite(r[static_cast<std::size_t>(i)]));
    }
    parameters.join();
    EXPECT_GE(adopted, 1);
    EXPECT_FALSE(engine.wavetable().pending());
}

TEST(EngineThreads, TwoEnginesGenerateAtOnce) {
    // The phase generator and the transform configuration are shared by every
    // engine in the process.
    auto work = [] {
        for (int i = 0; i < 4; ++i) {
            SynthEngine engine;
            regenerate(engine);
            EXPECT_EQ(engine.table()[Wavetable::kLength], engine.table()[0]);
            EXPECT_NEAR(peakOf(engine.table()), 1.0f / 1.4142f, 1e-6f);
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
}
