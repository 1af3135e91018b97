// The VST 3 edition driven as hosts drive it, through the small host in
// tools/vst3host, against the VST 2 edition's samples.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "AllocationHooks.h"
#include "EditionScript.h"
#include "Vst3Host.h"
#include "core/State.h"

namespace {

using namespace edition_script;

struct Loaded {
    std::unique_ptr<vst3host::Module> module;
    std::unique_ptr<vst3host::Instance> instance;
};

Loaded load() {
    Loaded loaded;
    std::string error;
    loaded.module = vst3host::Module::open(vst3host::moduleInBundle(VELTROSA_VST3_BUNDLE), error);
    EXPECT_TRUE(loaded.module) << error;
    if (loaded.module) {
        loaded.instance = vst3host::Instance::create(*loaded.module, error);
        EXPECT_TRUE(loaded.instance) << error;
    }
    return loaded;
}

Rendered renderVst3(vst3host::Instance& instance, double rate, int32_t block) {
    Rendered out;
    EXPECT_TRUE(instance.start(rate, block));
    vst3host::EventList events;
    vst3host::ParamChanges changes;
    for (int64_t at = 0, n = 0; at < kScriptFrames; at += block, ++n) {
        events.clear();
        changes.clear();
        for (const ScriptEvent& p : kParamScript)
            if (p.frame == n)
                changes.add(static_cast<vst3::ParamId>(p.key), 0,
                            static_cast<double>(static_cast<float>(p.value) / 1000.0f));
        for (const ScriptEvent& e : kScript) {
            if (e.frame < at || e.frame >= at + block)
                continue;
            const auto offset = static_cast<int32_t>(e.frame - at);
            const auto key = static_cast<int16_t>(e.key);
            if (e.kind == ScriptEvent::NoteOn || e.kind == ScriptEvent::MidiOn)
                events.noteOn(offset, key, static_cast<float>(e.value) / 127.0f, static_cast<int32_t>(e.frame));
            else
                events.noteOff(offset, key);
        }
        EXPECT_EQ(instance.process(block, &events, &changes), vst3::kOk);
        out.left.insert(out.left.end(), instance.left().begin(), instance.left().begin() + block);
        out.right.insert(out.right.end(), instance.right().begin(), instance.right().begin() + block);
    }
    return out;
}

std::vector<double> valuesOf(vst3::EditController* controller) {
    std::vector<double> values;
    for (int32_t i = 0; i < veltrosa::kNumParams; ++i)
        values.push_back(controller->getParamNormalized(static_cast<vst3::ParamId>(i)));
    return values;
}

}  // namespace

TEST(Vst3, TheSameScriptGivesTheVst2EditionsSamplesBitForBit) {
    for (const RenderCase& c : kRenderCases) {
        SCOPED_TRACE(c.rate);
        const Rendered reference = renderVst2(static_cast<float>(c.rate), c.block);
        auto loaded = load();
        ASSERT_TRUE(loaded.instance);
        expectVst2Samples(reference, renderVst3(*loaded.instance, c.rate, c.block));
    }
}

// The component state is the VST 2 chunk's bytes, through a stream that
// moves three bytes a call; the controller follows it; anything else is
// refused with nothing changed.
TEST(Vst3, StateIsTheVst2ChunkInPiecesAndOthersAreRefused) {
    auto vst2 = testing_support::startedPlugin();
    ASSERT_TRUE(vst2);
    vst2->setParameter(5, 0.25f);
    vst2->setParameter(47, 0.75f);
    const std::vector<unsigned char> chunk = vst2->getChunk();
    ASSERT_EQ(chunk.size(), veltrosa::kStateBytes);

    auto loaded = load();
    ASSERT_TRUE(loaded.instance);
    vst3::Component* component = loaded.instance->component();
    vst3::EditController* controller = loaded.instance->controller();
    vst3host::MemoryStream in(chunk, 3);
    ASSERT_EQ(component->setState(&in), vst3::kOk);
    vst3host::MemoryStream out({}, 3);
    ASSERT_EQ(component->getState(&out), vst3::kOk);
    EXPECT_EQ(out.bytes(), chunk);
    vst3host::MemoryStream forController(chunk, 3);
    ASSERT_EQ(controller->setComponentState(&forController), vst3::kOk);
    EXPECT_EQ(controller->getParamNormalized(5), 0.25);
    EXPECT_EQ(controller->getParamNormalized(47), 0.75);

    std::vector<unsigned char> nan = chunk;
    nan[3] = 0x7F, nan[2] = 0xC0;  // the first value a NaN
    const std::vector<std::vector<unsigned char>> bad = {
        {}, std::vector<unsigned char>(chunk.begin(), chunk.end() - 1), [&] {
            auto longer = chunk;
            longer.push_back(0);
            return longer;
        }(),
        nan};
    const std::vector<double> before = valuesOf(controller);
    for (const auto& bytes : bad) {
        vst3host::MemoryStream stream(bytes, 3);
        EXPECT_NE(component->setState(&stream), vst3::kOk);
        vst3host::MemoryStream again(bytes, 3);
        EXPECT_NE(controller->setComponentState(&again), vst3::kOk);
    }
    EXPECT_NE(component->setState(nullptr), vst3::kOk);
    EXPECT_EQ(valuesOf(controller), before);
    vst3host::MemoryStream unchanged({}, 3);
    ASSERT_EQ(component->getState(&unchanged), vst3::kOk);
    EXPECT_EQ(unchanged.bytes(), chunk);
}

TEST(Vst3, ProcessAllocatesNothing) {
    SKIP_WITHOUT_HOOKS();
    auto loaded = load();
    ASSERT_TRUE(loaded.instance);
    vst3host::Instance& instance = *loaded.instance;
    ASSERT_TRUE(instance.start(48000.0, 256));
    std::vector<vst3host::EventList> lists(16);
    std::vector<vst3host::ParamChanges> changes(16);
    for (std::size_t i = 0; i < lists.size(); ++i) {
        lists[i].noteOn(static_cast<int32_t>(i * 7), static_cast<int16_t>(48 + i), 0.8f, static_cast<int32_t>(i));
        lists[i].noteOff(200, static_cast<int16_t>(48 + (i + 5) % 16));
        changes[i].add(veltrosa::kParamCutoff, 0, 0.1 + 0.01 * static_cast<double>(i));
    }
    int allocations = 0;
    for (int block = 0; block < 1000; ++block) {
        const Counting counting;
        const std::size_t k = static_cast<std::size_t>(block) % lists.size();
        instance.process(256, &lists[k], &changes[k]);
        allocations += tlsLog.allocations + tlsLog.frees;
    }
    EXPECT_EQ(allocations, 0);
}
