// The CLAP edition's two threads at once, as hosts run them (ThreadSanitizer
// checks this in make test-tsan), and offline bounces that repeat.
#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <thread>
#include <vector>

#include "ClapHost.h"
#include "core/Parameters.h"
#include "presets/Bank.h"

namespace {

struct Loaded {
    std::unique_ptr<claphost::Library> library;
    std::unique_ptr<claphost::Instance> instance;
};

Loaded load() {
    Loaded loaded;
    std::string error;
    loaded.library = claphost::Library::open(VELTROSA_CLAP_PATH, error);
    EXPECT_TRUE(loaded.library) << error;
    if (loaded.library) {
        loaded.instance = claphost::Instance::create(*loaded.library, error);
        EXPECT_TRUE(loaded.instance) << error;
    }
    return loaded;
}

}  // namespace

// Presets loaded on the main thread while blocks render on another, with the
// host's own automation of harmonics (each asks for a table) in every block.
TEST(ClapThreads, PresetsLoadWhileTheAudioThreadPlays) {
    auto loaded = load();
    ASSERT_TRUE(loaded.instance);
    claphost::Instance& instance = *loaded.instance;
    ASSERT_TRUE(instance.activate(48000.0, 128));
    const auto* presetLoad = instance.extension<clap::PluginPresetLoad>(clap::kExtPresetLoad);
    ASSERT_NE(presetLoad, nullptr);
    std::atomic<bool> done{false};
    std::atomic<bool> finite{true};
    std::thread audio([&] {
        claphost::EventList events;
        for (int block = 0; !done.load() || block < 50; ++block) {
            events.clear();
            if (block % 8 == 0)
                events.noteOn(3, static_cast<int16_t>(48 + block % 24), 0.7);
            events.param(0, static_cast<clap::Id>(block % veltrosa::kNumHarmonics), 0.5);
            instance.process(128, &events);
            for (float s : instance.left())
                if (!std::isfinite(s))
                    finite.store(false);
        }
    });
    const auto& bank = veltrosa::presets::factoryBank();
    for (int round = 0; round < 40; ++round) {
        const std::string& name = bank[static_cast<std::size_t>(round) % bank.size()].name;
        EXPECT_TRUE(presetLoad->fromLocation(instance.plugin(), clap::kLocationPlugin, nullptr, name.c_str()));
    }
    done.store(true);
    audio.join();
    EXPECT_TRUE(finite.load());
    EXPECT_EQ(instance.presetsLoaded(), 40);
}

namespace {

// A harmonic moved in the first block, then a chord, in offline mode.
std::vector<float> bounce() {
    auto loaded = load();
    if (!loaded.instance)
        return {};
    claphost::Instance& instance = *loaded.instance;
    const auto* render = instance.extension<clap::PluginRender>(clap::kExtRender);
    EXPECT_TRUE(render != nullptr && render->set(instance.plugin(), clap::kRenderOffline));
    EXPECT_TRUE(instance.activate(44100.0, 256));
    std::vector<float> out;
    claphost::EventList events;
    events.param(0, 2, 0.9);
    events.param(0, veltrosa::kParamBandwidth, 0.25);
    events.noteOn(0, 60, 1.0);
    events.noteOn(0, 67, 1.0);
    for (int block = 0; block < 40; ++block) {
        instance.process(256, block == 0 ? &events : nullptr);
        out.insert(out.end(), instance.left().begin(), instance.left().begin() + 256);
    }
    return out;
}

}  // namespace

// Offline, the first block waits for the table its values ask for, so the
// bounce is the same as one whose values were there before it started.
TEST(ClapThreads, OfflineBouncesPlayTheTableTheirValuesAskFor) {
    std::vector<float> reference;
    {
        auto loaded = load();
        ASSERT_TRUE(loaded.instance);
        claphost::Instance& instance = *loaded.instance;
        claphost::EventList values;
        values.param(0, 2, 0.9);
        values.param(0, veltrosa::kParamBandwidth, 0.25);
        instance.flushParams(values);
        ASSERT_TRUE(instance.activate(44100.0, 256));  // the table of these values first
        claphost::EventList notes;
        notes.noteOn(0, 60, 1.0);
        notes.noteOn(0, 67, 1.0);
        for (int block = 0; block < 40; ++block) {
            instance.process(256, block == 0 ? &notes : nullptr);
            reference.insert(reference.end(), instance.left().begin(), instance.left().begin() + 256);
        }
    }
    for (int run = 0; run < 3; ++run) {
        const std::vector<float> out = bounce();
        ASSERT_EQ(out.size(), reference.size());
        for (std::size_t i = 0; i < out.size(); ++i)
            ASSERT_EQ(std::bit_cast<uint32_t>(out[i]), std::bit_cast<uint32_t>(reference[i])) << "run " << run << " frame " << i;
    }
}
