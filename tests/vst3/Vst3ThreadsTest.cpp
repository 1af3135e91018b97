// The VST 3 edition's threads at once, as hosts run them (ThreadSanitizer
// checks this in make test-tsan): blocks render on the audio thread while the
// host's main thread loads states, saves them and hands them to the
// controller, and the builder rebuilds the table after each.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "Vst3Host.h"
#include "core/Parameters.h"
#include "presets/Bank.h"

TEST(Vst3Threads, StatesLoadAndTheControllerFollowsWhileTheAudioThreadPlays) {
    std::string error;
    auto module = vst3host::Module::open(vst3host::moduleInBundle(VELTROSA_VST3_BUNDLE), error);
    ASSERT_TRUE(module) << error;
    auto instance = vst3host::Instance::create(*module, error);
    ASSERT_TRUE(instance) << error;
    ASSERT_TRUE(instance->start(48000.0, 128));
    std::atomic<bool> done{false};
    std::atomic<bool> finite{true};
    // The host's automation of a harmonic (each asks for a table) in every
    // block, and a press of Update now and then.
    std::thread audio([&] {
        vst3host::EventList events;
        vst3host::ParamChanges changes;
        for (int block = 0; !done.load() || block < 50; ++block) {
            events.clear();
            changes.clear();
            if (block % 8 == 0)
                events.noteOn(0, static_cast<int16_t>(48 + block % 24), 0.7f);
            changes.add(static_cast<vst3::ParamId>(block % veltrosa::kNumHarmonics), 0, 0.25 + 0.5 * (block % 2));
            if (block % 16 == 0)
                changes.add(veltrosa::kParamUpdate, 0, 1.0);
            instance->process(128, &events, &changes);
            for (float s : instance->left())
                if (!std::isfinite(s))
                    finite.store(false);
        }
    });
    vst3::Component* component = instance->component();
    vst3::EditController* controller = instance->controller();
    const auto& bank = veltrosa::presets::factoryBank();
    for (std::size_t round = 0; round < 40; ++round) {
        const auto chunk = veltrosa::presets::chunkOf(bank[round % bank.size()]);
        vst3host::MemoryStream in({chunk.begin(), chunk.end()}, 7);
        EXPECT_EQ(component->setState(&in), vst3::kOk);
        vst3host::MemoryStream saved;
        EXPECT_EQ(component->getState(&saved), vst3::kOk);
        vst3host::MemoryStream handed(saved.bytes());
        EXPECT_EQ(controller->setComponentState(&handed), vst3::kOk);
        const auto id = static_cast<vst3::ParamId>(round % veltrosa::kNumParams);
        EXPECT_EQ(controller->setParamNormalized(id, 0.3), vst3::kOk);
        vst3::String128 text{};
        EXPECT_EQ(controller->getParamStringByValue(id, controller->getParamNormalized(id), text), vst3::kOk);
    }
    done.store(true);
    audio.join();
    EXPECT_TRUE(finite.load());
}
