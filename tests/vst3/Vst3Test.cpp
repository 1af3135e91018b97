// The VST 3 edition driven as hosts drive it, through the small host in
// tools/vst3host, against the VST 2 edition's samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "AllocationHooks.h"
#include "EditionScript.h"
#include "Vst3Host.h"
#include "core/State.h"
#include "presets/Bank.h"

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

namespace {

std::string narrow(const vst3::Char16* text) {
    std::string out;
    for (; *text != 0; ++text)
        out += static_cast<char>(*text);
    return out;
}

}  // namespace

// Every parameter as the table gives it: ID = index, both names, the
// default to the bit; "Update" a two-step trigger hosts do not record.
TEST(Vst3, ParametersFollowTheTable) {
    auto loaded = load();
    ASSERT_TRUE(loaded.instance);
    vst3::EditController* controller = loaded.instance->controller();
    ASSERT_EQ(controller->getParameterCount(), veltrosa::kNumParams + 1);  // and the program
    for (int32_t i = 0; i < veltrosa::kNumParams; ++i) {
        SCOPED_TRACE(i);
        vst3::ParameterInfo info{};
        ASSERT_EQ(controller->getParameterInfo(i, info), vst3::kOk);
        const veltrosa::ParamInfo& p = veltrosa::kParams[static_cast<std::size_t>(i)];
        EXPECT_EQ(info.id, static_cast<vst3::ParamId>(i));
        EXPECT_EQ(narrow(info.title), p.name);
        EXPECT_EQ(narrow(info.shortTitle), p.shortName);
        EXPECT_EQ(std::bit_cast<uint32_t>(static_cast<float>(info.defaultNormalizedValue)), p.defaultBits);
        EXPECT_EQ(controller->getParamNormalized(info.id), info.defaultNormalizedValue);
        const bool update = i == veltrosa::kParamUpdate;
        EXPECT_EQ(info.stepCount, update ? 1 : 0);
        EXPECT_EQ((info.flags & vst3::kCanAutomate) != 0, !update);
    }
    vst3::ParameterInfo info{};
    ASSERT_EQ(controller->getParameterInfo(veltrosa::kNumParams, info), vst3::kOk);
    EXPECT_EQ(info.flags & vst3::kIsProgramChange, vst3::kIsProgramChange);
    EXPECT_EQ(info.stepCount + 1, static_cast<int32_t>(veltrosa::presets::factoryBank().size()));
    EXPECT_NE(controller->getParameterInfo(veltrosa::kNumParams + 1, info), vst3::kOk);
    EXPECT_NE(controller->getParameterInfo(-1, info), vst3::kOk);

    // Text as the editor shows the value, read back by the same rule.
    vst3::String128 text{};
    ASSERT_EQ(controller->getParamStringByValue(3, 0.25, text), vst3::kOk);
    EXPECT_EQ(narrow(text), "25");
    double value = -1.0;
    ASSERT_EQ(controller->getParamValueByString(3, text, value), vst3::kOk);
    EXPECT_EQ(value, 0.25);
    std::u16string refused = u"101";
    EXPECT_NE(controller->getParamValueByString(3, refused.data(), value), vst3::kOk);
}

// Calls in the wrong order, formats and layouts not offered, and broken
// process data are refused or survived, never followed into a crash or NaN.
TEST(Vst3, BadInputIsRefusedWithoutHarm) {
    auto loaded = load();
    ASSERT_TRUE(loaded.instance);
    vst3host::Instance& instance = *loaded.instance;
    vst3::AudioProcessor* processor = instance.processor();
    vst3::Component* component = instance.component();
    EXPECT_NE(instance.process(64), vst3::kOk);  // before setup
    EXPECT_NE(component->setActive(1), vst3::kOk);
    EXPECT_NE(processor->canProcessSampleSize(vst3::kSample64), vst3::kOk);
    vst3::ProcessSetup doubles{vst3::kRealtime, vst3::kSample64, 256, 48000.0};
    EXPECT_NE(processor->setupProcessing(doubles), vst3::kOk);
    vst3::ProcessSetup noRate{vst3::kRealtime, vst3::kSample32, 256, std::nan("")};
    EXPECT_NE(processor->setupProcessing(noRate), vst3::kOk);
    vst3::SpeakerArrangement mono = 1, stereo = vst3::kStereo;
    EXPECT_NE(processor->setBusArrangements(nullptr, 0, &mono, 1), vst3::kOk);
    EXPECT_NE(processor->setBusArrangements(&stereo, 1, &stereo, 1), vst3::kOk);
    EXPECT_NE(processor->setBusArrangements(nullptr, 0, nullptr, 1), vst3::kOk);
    vst3::BusInfo bus{};
    EXPECT_NE(component->getBusInfo(vst3::kAudio, vst3::kInput, 0, bus), vst3::kOk);
    EXPECT_NE(component->getBusInfo(vst3::kAudio, vst3::kOutput, 1, bus), vst3::kOk);

    ASSERT_TRUE(instance.start(48000.0, 64));
    EXPECT_EQ(component->setActive(1), vst3::kOk);  // twice
    vst3host::EventList events;
    events.noteOn(-5, 60, 1.0f);
    events.noteOn(10000, 64, 2.0f);
    events.noteOn(30, 67, std::nanf(""));
    events.noteOn(10, 200, 0.5f);
    vst3::Event unknown{};
    unknown.type = 7;
    unknown.sampleOffset = 3;
    events.addEvent(unknown);
    vst3host::ParamChanges changes;
    changes.add(veltrosa::kParamVolume, 0, std::nan(""));
    changes.add(999, 0, 0.5);
    changes.add(veltrosa::kParamCutoff, 0, 7.0);
    // More frames than set up for, in one block.
    ASSERT_EQ(instance.process(1000, &events, &changes), vst3::kOk);
    float peak = 0.0f;
    for (std::size_t i = 0; i < 1000; ++i) {
        ASSERT_TRUE(std::isfinite(instance.left()[i]) && std::isfinite(instance.right()[i])) << i;
        peak = std::max(peak, std::fabs(instance.left()[i]));
    }
    EXPECT_GT(peak, 0.0f);  // the notes in range still play

    float* channels[2] = {nullptr, nullptr};
    vst3::AudioBusBuffers output{};
    output.numChannels = 2;
    output.channelBuffers32 = channels;
    vst3::ProcessData data{};
    data.symbolicSampleSize = vst3::kSample32;
    data.numSamples = 64;
    data.numOutputs = 1;
    data.outputs = &output;
    EXPECT_NE(processor->process(data), vst3::kOk);
    output.numChannels = 1;
    EXPECT_NE(processor->process(data), vst3::kOk);
    data.outputs = nullptr;
    EXPECT_NE(processor->process(data), vst3::kOk);
    data.numOutputs = 0;
    data.numSamples = 0;  // a host flushing parameters
    EXPECT_EQ(processor->process(data), vst3::kOk);
    data.symbolicSampleSize = vst3::kSample64;
    EXPECT_NE(processor->process(data), vst3::kOk);
}

// A press of Update that its queue releases again within the block still
// builds a new table (fresh phases, so the samples after it change); in
// offline processing the block waits for it.
TEST(Vst3, UpdatePressedAndReleasedInOneBlockRebuilds) {
    const auto render = [](bool press) {
        auto loaded = load();
        std::vector<float> out;
        if (!loaded.instance || !loaded.instance->start(48000.0, 256, vst3::kOffline))
            return out;
        vst3host::EventList notes;
        notes.noteOn(0, 60, 0.8f);
        for (int block = 0; block < 8; ++block) {
            vst3host::ParamChanges changes;
            if (press && block == 3) {
                changes.add(veltrosa::kParamUpdate, 0, 1.0);
                changes.add(veltrosa::kParamUpdate, 9, 0.0);
            }
            loaded.instance->process(256, block == 0 ? &notes : nullptr, &changes);
            out.insert(out.end(), loaded.instance->left().begin(), loaded.instance->left().begin() + 256);
        }
        return out;
    };
    const std::vector<float> plain = render(false), pressed = render(true);
    ASSERT_EQ(plain.size(), 8u * 256u);
    ASSERT_EQ(pressed.size(), plain.size());
    EXPECT_EQ(firstDifference(std::vector<float>(plain.begin(), plain.begin() + 3 * 256),
                              std::vector<float>(pressed.begin(), pressed.begin() + 3 * 256)),
              SIZE_MAX);
    EXPECT_NE(plain, pressed);
}

// A state loaded while a note plays: its values and its table reach the
// voices in the same block.
TEST(Vst3, AStateSwitchesValuesAndTableInOneBlock) {
    auto loaded = load();
    ASSERT_TRUE(loaded.instance && loaded.instance->start(44100.0, 256));
    vst3host::Instance& instance = *loaded.instance;
    const auto peak = [&](int from = 0) {
        float p = 0.0f;
        for (int i = from; i < 256; ++i)
            p = std::max({p, std::fabs(instance.left()[static_cast<std::size_t>(i)]),
                          std::fabs(instance.right()[static_cast<std::size_t>(i)])});
        return p;
    };
    vst3host::EventList notes;
    notes.noteOn(0, 69, 0.8f);
    // Long enough for the pad's attack to end: later blocks are no louder.
    float bound = 0.0f;
    for (int b = 0; b < 200; ++b) {
        instance.process(256, b == 0 ? &notes : nullptr);
        bound = std::max(bound, peak());
    }
    ASSERT_GT(bound, 0.01f);
    const veltrosa::StateBytes bytes = veltrosa::encodeState(edition_script::emptyLoudSound());
    vst3host::MemoryStream stream(std::vector<unsigned char>(bytes.begin(), bytes.end()));
    ASSERT_EQ(instance.component()->setState(&stream), vst3::kOk);
    edition_script::expectSwitchInOneBlock(bound, [&] {
        instance.process(256);
        return peak(192);
    });
}

namespace {

template <typename T>
T* query(vst3::Unknown* object, const vst3::Guid& iid) {
    void* found = nullptr;
    return object->queryInterface(reinterpret_cast<const char*>(iid.bytes), &found) == vst3::kOk
               ? static_cast<T*>(found)
               : nullptr;
}

std::vector<unsigned char> savedState(vst3::Component* component) {
    vst3host::MemoryStream stream;
    EXPECT_EQ(component->getState(&stream), vst3::kOk);
    return stream.bytes();
}

}  // namespace

// Connected as hosts connect them, the controller passes on what a host sets
// there: a state saved with no block run since holds it, and a program
// chosen from the list (the factory presets, by name) is the whole sound.
TEST(Vst3, TheConnectedControllerReachesTheSoundAndOffersThePresetsAsPrograms) {
    auto loaded = load();
    ASSERT_TRUE(loaded.instance && loaded.instance->start(44100.0, 256));
    vst3::EditController* controller = loaded.instance->controller();
    auto* fromComponent = query<vst3::ConnectionPoint>(loaded.instance->component(), vst3::kIidConnectionPoint);
    auto* fromController = query<vst3::ConnectionPoint>(controller, vst3::kIidConnectionPoint);
    ASSERT_TRUE(fromComponent && fromController);
    EXPECT_EQ(fromComponent->connect(fromController), vst3::kOk);
    EXPECT_EQ(fromController->connect(fromComponent), vst3::kOk);

    ASSERT_EQ(controller->setParamNormalized(5, 0.25), vst3::kOk);
    auto expected = veltrosa::defaultValues();
    expected[5] = 0.25f;
    const auto defaultsBut5 = veltrosa::encodeState(expected);
    EXPECT_EQ(savedState(loaded.instance->component()), std::vector<unsigned char>(defaultsBut5.begin(), defaultsBut5.end()));

    auto* units = query<vst3::UnitInfoSource>(controller, vst3::kIidUnitInfo);
    ASSERT_NE(units, nullptr);
    vst3::UnitInfo unit{};
    ASSERT_EQ(units->getUnitInfo(0, unit), vst3::kOk);
    vst3::ProgramListInfo list{};
    ASSERT_EQ(units->getProgramListInfo(0, list), vst3::kOk);
    EXPECT_EQ(list.id, unit.programListId);
    const auto& bank = veltrosa::presets::factoryBank();
    ASSERT_EQ(list.programCount, static_cast<int32_t>(bank.size()));
    for (int32_t p = 0; p < list.programCount; ++p) {
        vst3::String128 name{};
        ASSERT_EQ(units->getProgramName(list.id, p, name), vst3::kOk);
        EXPECT_EQ(narrow(name), bank[static_cast<std::size_t>(p)].name);
    }
    const std::size_t chosen = 5;
    ASSERT_EQ(controller->setParamNormalized(veltrosa::kNumParams,
                                             static_cast<double>(chosen) / static_cast<double>(bank.size() - 1)),
              vst3::kOk);
    const auto preset = veltrosa::encodeState(bank[chosen].values);
    EXPECT_EQ(savedState(loaded.instance->component()), std::vector<unsigned char>(preset.begin(), preset.end()));
    EXPECT_EQ(controller->getParamNormalized(0), static_cast<double>(bank[chosen].values[0]));
    units->release();
    fromController->disconnect(fromComponent);
    fromComponent->disconnect(fromController);
    fromController->release();
    fromComponent->release();
}

// A note-on's float velocity is never a note-off: 0, NaN and anything below
// zero play the softest note, MIDI velocity 1 (the float 1/127), which the
// note-off then ends (the default release lasts under two seconds).
TEST(Vst3, NoteOnsWithoutAPositiveVelocityPlayTheSoftestNote) {
    constexpr int32_t kBlock = 512, kHeldBlocks = 8, kBlocks = kHeldBlocks + 200;
    const auto play = [](float velocity) {
        std::vector<float> out;
        auto loaded = load();
        if (!loaded.instance || !loaded.instance->start(48000.0, kBlock))
            return out;
        vst3host::EventList on, off;
        on.noteOn(0, 60, velocity);
        off.noteOff(0, 60);
        for (int32_t block = 0; block < kBlocks; ++block) {
            loaded.instance->process(kBlock, block == 0 ? &on : block == kHeldBlocks ? &off : nullptr);
            out.insert(out.end(), loaded.instance->left().begin(), loaded.instance->left().begin() + kBlock);
        }
        return out;
    };
    const std::vector<float> softest = play(1.0f / 127.0f);
    for (float velocity : {0.0f, std::nanf(""), -0.5f}) {
        SCOPED_TRACE(velocity);
        const std::vector<float> out = play(velocity);
        ASSERT_EQ(out.size(), static_cast<std::size_t>(kBlocks * kBlock));
        const auto peak = [&](int32_t fromBlock, int32_t toBlock) {
            float p = 0.0f;
            for (int32_t i = fromBlock * kBlock; i < toBlock * kBlock; ++i)
                p = std::max(p, std::fabs(out[static_cast<std::size_t>(i)]));
            return p;
        };
        EXPECT_GT(peak(0, kHeldBlocks), 0.0f);        // sounds
        EXPECT_EQ(peak(kBlocks - 1, kBlocks), 0.0f);  // and has ended
        EXPECT_EQ(firstDifference(out, softest), SIZE_MAX);
    }
}
