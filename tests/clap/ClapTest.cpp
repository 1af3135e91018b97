// The CLAP edition driven as hosts drive it: through the small host in
// tools/claphost (which finds the file on CLAP_PATH), against the VST 2
// edition's samples and a loader nobody here wrote.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "AllocationHooks.h"
#include "ClapHost.h"
#include "EditionScript.h"
#include "TestSupport.h"
#include "core/State.h"
#include "presets/Bank.h"

namespace {

using namespace edition_script;
using claphost::EventList;
using claphost::Instance;
using claphost::Library;

struct Loaded {
    std::unique_ptr<Library> library;
    std::unique_ptr<Instance> instance;
};

// The plug-in as a host finds it: by its file name on CLAP_PATH.
Loaded load() {
    const std::filesystem::path built(VELTROSA_CLAP_PATH);
    setenv("CLAP_PATH", ("/nonexistent:" + built.parent_path().string()).c_str(), 1);
    const std::string path = claphost::findOnClapPath(built.filename().string());
    EXPECT_FALSE(path.empty());
    Loaded loaded;
    std::string error;
    loaded.library = Library::open(path, error);
    EXPECT_TRUE(loaded.library) << error;
    if (loaded.library) {
        loaded.instance = Instance::create(*loaded.library, error);
        EXPECT_TRUE(loaded.instance) << error;
    }
    return loaded;
}

const clap::PluginParams* paramsOf(const Instance& instance) {
    return instance.extension<clap::PluginParams>(clap::kExtParams);
}

std::array<float, veltrosa::kNumParams> valuesOf(const Instance& instance) {
    std::array<float, veltrosa::kNumParams> values{};
    const auto* params = paramsOf(instance);
    for (uint32_t i = 0; i < values.size(); ++i) {
        double v = 0.0;
        EXPECT_TRUE(params->getValue(instance.plugin(), i, &v));
        values[i] = static_cast<float>(v);
    }
    return values;
}

Rendered renderClap(Instance& instance, double rate, uint32_t block) {
    Rendered out;
    EXPECT_TRUE(instance.activate(rate, block));
    EventList events;
    for (int64_t at = 0, n = 0; at < kScriptFrames; at += block, ++n) {
        events.clear();
        for (const ScriptEvent& p : kParamScript)
            if (p.frame == n)
                events.param(0, static_cast<clap::Id>(p.key), static_cast<double>(static_cast<float>(p.value) / 1000.0f));
        for (const ScriptEvent& e : kScript) {
            if (e.frame < at || e.frame >= at + block)
                continue;
            const auto time = static_cast<uint32_t>(e.frame - at);
            const auto key = static_cast<int16_t>(e.key);
            switch (e.kind) {
                case ScriptEvent::NoteOn:
                    events.noteOn(time, key, e.value / 127.0, static_cast<int32_t>(e.frame));
                    break;
                case ScriptEvent::NoteOff:
                    events.noteOff(time, key);
                    break;
                case ScriptEvent::MidiOn:
                    events.midi(time, 0x90, static_cast<uint8_t>(e.key), static_cast<uint8_t>(e.value));
                    break;
                default:
                    events.midi(time, 0x90, static_cast<uint8_t>(e.key), 0);
                    break;
            }
        }
        EXPECT_EQ(instance.process(block, &events), clap::kProcessContinue);
        out.left.insert(out.left.end(), instance.left().begin(), instance.left().begin() + block);
        out.right.insert(out.right.end(), instance.right().begin(), instance.right().begin() + block);
    }
    return out;
}

}  // namespace

TEST(Clap, TheSameScriptGivesTheVst2EditionsSamplesBitForBit) {
    for (const RenderCase& c : kRenderCases) {
        SCOPED_TRACE(c.rate);
        const Rendered reference = renderVst2(static_cast<float>(c.rate), c.block);
        auto loaded = load();
        ASSERT_TRUE(loaded.instance);
        expectVst2Samples(reference, renderClap(*loaded.instance, c.rate, static_cast<uint32_t>(c.block)));
    }
}

TEST(Clap, TheEntrysInitAndDeinitPairUp) {
    {
        auto loaded = load();
        ASSERT_TRUE(loaded.library);
        EXPECT_EQ(loaded.library->inits(), 1);
        EXPECT_EQ(loaded.library->deinits(), 0);
    }
    EXPECT_EQ(Library::unpairedInits(), 0);
}

TEST(Clap, ParametersFollowTheTable) {
    auto loaded = load();
    ASSERT_TRUE(loaded.instance);
    const auto* params = paramsOf(*loaded.instance);
    ASSERT_NE(params, nullptr);
    const clap::Plugin* plugin = loaded.instance->plugin();
    ASSERT_EQ(params->count(plugin), 48u);
    // Names and modules as the editor's groups read; default bits from the table.
    const struct {
        uint32_t index;
        const char* name;
        const char* module;
        uint32_t defaultBits;
        bool automatable;
    } cases[] = {
        {0, "Harmonic 1", "harmonics", 0x3F800000, true},     {31, "Harmonic 32", "harmonics", 0, true},
        {32, "Bandwidth", "harmonics", 0x3F800000, true},     {33, "Update", "harmonics", 0, false},
        {39, "Filter cutoff", "filter", 0x3D3851EC, true},    {41, "Filter velocity", "filter", 0x3C23D70A, true},
        {42, "Amp attack", "amplifier", 0x3D3851EC, true},    {47, "Volume", "amplifier", 0x3E1EB852, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        clap::ParamInfo info{};
        ASSERT_TRUE(params->getInfo(plugin, c.index, &info));
        EXPECT_EQ(info.id, c.index);
        EXPECT_STREQ(info.name, c.name);
        EXPECT_STREQ(info.module, c.module);
        EXPECT_EQ(info.minValue, 0.0);
        EXPECT_EQ(info.maxValue, 1.0);
        EXPECT_EQ(std::bit_cast<uint32_t>(static_cast<float>(info.defaultValue)), c.defaultBits);
        EXPECT_EQ(static_cast<double>(std::bit_cast<float>(c.defaultBits)), info.defaultValue);
        EXPECT_EQ((info.flags & clap::kParamIsAutomatable) != 0, c.automatable);
        double value = -1.0;
        ASSERT_TRUE(params->getValue(plugin, c.index, &value));
        EXPECT_EQ(value, info.defaultValue);
    }
    clap::ParamInfo info{};
    EXPECT_FALSE(params->getInfo(plugin, 48, &info));
    EXPECT_FALSE(params->getInfo(plugin, 0, nullptr));
    // Text both ways: the number the editor's volume box shows for 0.3125.
    char text[16];
    ASSERT_TRUE(params->valueToText(plugin, 47, 0.3125, text, sizeof text));
    EXPECT_STREQ(text, "31");
    double back = 0.0;
    ASSERT_TRUE(params->textToValue(plugin, 47, text, &back));
    ASSERT_TRUE(params->valueToText(plugin, 47, back, text, sizeof text));
    EXPECT_STREQ(text, "31");
    EXPECT_FALSE(params->textToValue(plugin, 47, "loud", &back));
    EXPECT_FALSE(params->textToValue(plugin, 47, "101", &back));
    EXPECT_FALSE(params->valueToText(plugin, 48, 0.5, text, sizeof text));
    EXPECT_FALSE(params->valueToText(plugin, 0, std::nan(""), text, sizeof text));
}

namespace {

// Streams that move one byte per call, as the format allows.
struct ByteStream {
    std::vector<unsigned char> bytes;
    std::size_t at = 0;
    bool failAt10 = false;
    static int64_t CLAPCALL read(const clap::InStream* s, void* buffer, uint64_t size) {
        auto* self = static_cast<ByteStream*>(s->ctx);
        if (self->failAt10 && self->at == 10)
            return -1;
        if (size == 0 || self->at == self->bytes.size())
            return 0;
        static_cast<unsigned char*>(buffer)[0] = self->bytes[self->at++];
        return 1;
    }
    static int64_t CLAPCALL write(const clap::OutStream* s, const void* buffer, uint64_t size) {
        auto* self = static_cast<ByteStream*>(s->ctx);
        if (size == 0)
            return 0;
        self->bytes.push_back(static_cast<const unsigned char*>(buffer)[0]);
        return 1;
    }
};

}  // namespace

TEST(Clap, StateMovesByteByByteAndRefusesWhatIsNotOurs) {
    auto loaded = load();
    ASSERT_TRUE(loaded.instance);
    Instance& instance = *loaded.instance;
    const auto* state = instance.extension<clap::PluginState>(clap::kExtState);
    ASSERT_NE(state, nullptr);
    // A state the VST 2 edition wrote, read here.
    auto vst2 = testing_support::startedPlugin();
    ASSERT_TRUE(vst2);
    vst2->setParameter(5, 0.25f);
    vst2->setParameter(47, -0.0f);
    ByteStream in{vst2->getChunk(), 0, false};
    const clap::InStream inStream{&in, &ByteStream::read};
    const int rescans = instance.rescans();
    ASSERT_TRUE(state->load(instance.plugin(), &inStream));
    EXPECT_EQ(instance.rescans(), rescans + 1);
    const auto values = valuesOf(instance);
    EXPECT_EQ(values[5], 0.25f);
    EXPECT_EQ(std::bit_cast<uint32_t>(values[47]), 0x80000000u);
    // Saved as the same 192 bytes.
    ByteStream out;
    const clap::OutStream outStream{&out, &ByteStream::write};
    ASSERT_TRUE(state->save(instance.plugin(), &outStream));
    EXPECT_EQ(out.bytes, in.bytes);
    // Short, long, failing, absent, or with values outside 0..1: refused, nothing changed.
    std::vector<unsigned char> longer = in.bytes;
    longer.push_back(0);
    std::vector<unsigned char> notANumber = in.bytes, aboveOne = in.bytes;
    notANumber[3] = 0x7F;
    notANumber[2] = 0xC0;  // value 0 is a quiet NaN
    aboveOne[4 * 47 + 3] = 0x40;  // the volume's exponent doubled, at least 2
    ByteStream bad[] = {{std::vector<unsigned char>(in.bytes.begin(), in.bytes.end() - 1), 0, false},
                        {longer, 0, false},
                        {std::vector<unsigned char>(192, 0x7F), 0, true},
                        {notANumber, 0, false},
                        {aboveOne, 0, false},
                        {{}, 0, false}};
    for (ByteStream& b : bad) {
        const clap::InStream stream{&b, &ByteStream::read};
        EXPECT_FALSE(state->load(instance.plugin(), &stream));
    }
    EXPECT_FALSE(state->load(instance.plugin(), nullptr));
    EXPECT_EQ(valuesOf(instance), values);
}

TEST(Clap, ProcessAllocatesNothing) {
    SKIP_WITHOUT_HOOKS();
    auto loaded = load();
    ASSERT_TRUE(loaded.instance);
    Instance& instance = *loaded.instance;
    ASSERT_TRUE(instance.activate(48000.0, 256));
    std::vector<EventList> lists(16);
    for (std::size_t i = 0; i < lists.size(); ++i) {
        lists[i].noteOn(static_cast<uint32_t>(i * 7), static_cast<int16_t>(48 + i), 0.8, static_cast<int32_t>(i));
        lists[i].noteOff(200, static_cast<int16_t>(48 + (i + 5) % 16));
        lists[i].param(0, veltrosa::kParamCutoff, 0.1 + 0.01 * static_cast<double>(i));
        lists[i].midi(100, 0x90, static_cast<uint8_t>(60 + i), 90);
        lists[i].get();
    }
    int allocations = 0;
    for (int block = 0; block < 1000; ++block) {
        const Counting counting;
        instance.process(256, &lists[static_cast<std::size_t>(block) % lists.size()]);
        allocations += tlsLog.allocations + tlsLog.frees;
    }
    EXPECT_EQ(allocations, 0);
}

TEST(Clap, NotesEndAsTheyBeganAndChokesSilenceAtOnce) {
    auto loaded = load();
    ASSERT_TRUE(loaded.instance);
    Instance& instance = *loaded.instance;
    ASSERT_TRUE(instance.activate(44100.0, 128));
    EventList events;
    // Velocity 0 is a note here (it sounds); a choke by ID ends it at once.
    events.noteOn(0, 60, 0.0, 77, 3);
    ASSERT_EQ(instance.process(128, &events), clap::kProcessContinue);
    float peak = 0.0f;
    for (int block = 0; block < 20; ++block) {
        instance.process(128);
        for (float s : instance.left())
            peak = std::max(peak, std::fabs(s));
    }
    EXPECT_GT(peak, 0.0f);
    EXPECT_TRUE(instance.noteEnds().empty());
    events.clear();
    events.choke(5, -1, 77);
    instance.process(128, &events);
    ASSERT_EQ(instance.noteEnds().size(), 1u);
    const claphost::NoteEnd end = instance.noteEnds()[0];
    EXPECT_EQ(end.noteId, 77);
    EXPECT_EQ(end.key, 60);
    EXPECT_EQ(end.channel, 3);
    EXPECT_EQ(end.port, 0);
    instance.process(128);
    for (float s : instance.left())
        EXPECT_EQ(s, 0.0f);
    // A key without a frequency ends as it begins.
    instance.clearNoteEnds();
    events.clear();
    events.noteOn(0, 5, 1.0, 9);
    instance.process(128, &events);
    ASSERT_EQ(instance.noteEnds().size(), 1u);
    EXPECT_EQ(instance.noteEnds()[0].noteId, 9);
}

TEST(Clap, BadInputIsRefusedWithoutHarm) {
    auto loaded = load();
    ASSERT_TRUE(loaded.instance);
    Instance& instance = *loaded.instance;
    const clap::Plugin* plugin = instance.plugin();
    // Before activation, and without buffers.
    EXPECT_EQ(plugin->process(plugin, nullptr), clap::kProcessError);
    ASSERT_TRUE(instance.activate(44100.0, 64));
    // Without buffers a block is refused, but its notes still play.
    EventList early;
    early.noteOn(10, 72, 1.0);
    clap::Process empty{};
    empty.framesCount = 64;
    empty.inEvents = early.get();
    EXPECT_EQ(plugin->process(plugin, &empty), clap::kProcessError);
    instance.process(64);
    EXPECT_NE(instance.left()[63], 0.0f);
    EXPECT_EQ(plugin->getExtension(plugin, "no.such.extension"), nullptr);
    // Events out of order, past the block, of unknown spaces and types, a NaN value:
    // the notes still play, the NaN is refused.
    EventList events;
    events.noteOn(500, 60, 1.0);
    events.noteOn(3, 64, 1.0);
    events.param(0, veltrosa::kParamVolume, std::nan(""));
    events.param(0, 999, 0.5);
    clap::EventHeader odd{sizeof(clap::EventHeader), 0, 7, clap::kEventNoteOn, 0};
    events.raw(odd, sizeof odd);
    clap::EventHeader unknown{sizeof(clap::EventHeader), 0, clap::kCoreEventSpace, 200, 0};
    events.raw(unknown, sizeof unknown);
    clap::EventHeader truncated{8, 0, clap::kCoreEventSpace, clap::kEventNoteOn, 0};
    events.raw(truncated, sizeof truncated);
    // More frames than activated for render in pieces.
    EXPECT_EQ(instance.process(1000, &events), clap::kProcessContinue);
    double volume = 0.0;
    paramsOf(instance)->getValue(plugin, veltrosa::kParamVolume, &volume);
    EXPECT_EQ(volume, static_cast<double>(veltrosa::defaultParam(veltrosa::kParamVolume)));
    int sounding = 0;
    for (int block = 0; block < 10; ++block) {
        instance.process(64);
        for (float s : instance.left()) {
            ASSERT_TRUE(std::isfinite(s));
            sounding += s != 0.0f;
        }
    }
    EXPECT_GT(sounding, 0);
    // A call from a thread the host says is not the audio thread.
    instance.setOnHostThreads(false);
    EXPECT_EQ(instance.process(64), clap::kProcessError);
    instance.setOnHostThreads(true);
}

namespace {

struct Listing {
    int locations = 0;
    uint32_t kind = 99;
    const char* location = "unset";
    std::vector<std::string> names, keys, descriptions, pluginIds;
};

Listing* listingOf(const clap::MetadataReceiver* r) { return static_cast<Listing*>(r->receiverData); }

}  // namespace

TEST(Clap, PresetDiscoveryListsTheFactoryBankAndLoadingOneGivesItsValues) {
    auto loaded = load();
    ASSERT_TRUE(loaded.instance);
    for (const char* id : {clap::kPresetDiscoveryFactoryId, clap::kPresetDiscoveryFactoryIdCompat}) {
        SCOPED_TRACE(id);
        const auto* factory = static_cast<const clap::PresetDiscoveryFactory*>(loaded.library->factory(id));
        ASSERT_NE(factory, nullptr);
        ASSERT_EQ(factory->count(factory), 1u);
        const clap::PresetProviderDescriptor* descriptor = factory->getDescriptor(factory, 0);
        ASSERT_NE(descriptor, nullptr);
        Listing listing;
        clap::PresetIndexer indexer{};
        indexer.version = clap::kVersion;
        indexer.name = "test";
        indexer.indexerData = &listing;
        indexer.declareLocation = [](const clap::PresetIndexer* i, const clap::PresetLocation* l) {
            auto* seen = static_cast<Listing*>(i->indexerData);
            ++seen->locations;
            seen->kind = l->kind;
            seen->location = l->location;
            return true;
        };
        const clap::PresetProvider* provider = factory->create(factory, &indexer, descriptor->id);
        ASSERT_NE(provider, nullptr);
        ASSERT_TRUE(provider->init(provider));
        EXPECT_EQ(listing.locations, 1);
        EXPECT_EQ(listing.kind, clap::kLocationPlugin);
        EXPECT_EQ(listing.location, nullptr);
        clap::MetadataReceiver receiver{};
        receiver.receiverData = &listing;
        receiver.beginPreset = [](const clap::MetadataReceiver* r, const char* name, const char* key) {
            listingOf(r)->names.emplace_back(name);
            listingOf(r)->keys.emplace_back(key);
            return true;
        };
        receiver.addPluginId = [](const clap::MetadataReceiver* r, const clap::UniversalPluginId* p) {
            listingOf(r)->pluginIds.push_back(std::string(p->abi) + ":" + p->id);
        };
        receiver.setDescription = [](const clap::MetadataReceiver* r, const char* d) {
            listingOf(r)->descriptions.emplace_back(d);
        };
        ASSERT_TRUE(provider->getMetadata(provider, listing.kind, listing.location, &receiver));
        provider->destroy(provider);
        ASSERT_EQ(listing.names.size(), 16u);
        EXPECT_EQ(listing.keys, listing.names);
        EXPECT_EQ(listing.descriptions.size(), 16u);
        EXPECT_EQ(listing.pluginIds,
                  std::vector<std::string>(16, std::string("clap:") + loaded.instance->plugin()->desc->id));

        // Each key loads the preset the bank's file describes.
        for (const char* ext : {clap::kExtPresetLoad, clap::kExtPresetLoadCompat}) {
            const auto* load = loaded.instance->extension<clap::PluginPresetLoad>(ext);
            ASSERT_NE(load, nullptr);
            const std::string& key = listing.keys[7];
            const int before = loaded.instance->presetsLoaded();
            ASSERT_TRUE(load->fromLocation(loaded.instance->plugin(), clap::kLocationPlugin, nullptr, key.c_str()));
            EXPECT_EQ(loaded.instance->presetsLoaded(), before + 1);
            const auto* preset = veltrosa::presets::findPreset(veltrosa::presets::factoryBank(), key);
            ASSERT_NE(preset, nullptr);
            EXPECT_EQ(valuesOf(*loaded.instance), preset->values);
            EXPECT_FALSE(load->fromLocation(loaded.instance->plugin(), clap::kLocationPlugin, nullptr, "No Such"));
            EXPECT_FALSE(load->fromLocation(loaded.instance->plugin(), clap::kLocationFile, "/x", key.c_str()));
        }
    }
}

namespace {

float peakOf(const Instance& instance, uint32_t frames, uint32_t from = 0) {
    float peak = 0.0f;
    for (uint32_t i = from; i < frames; ++i)
        peak = std::max({peak, std::fabs(instance.left()[i]), std::fabs(instance.right()[i])});
    return peak;
}

}  // namespace

// A state loaded while a note plays: its values and its table reach the
// voices in the same block (a preset takes the same way).
TEST(Clap, AStateSwitchesValuesAndTableInOneBlock) {
    auto loaded = load();
    ASSERT_TRUE(loaded.instance);
    Instance& instance = *loaded.instance;
    ASSERT_TRUE(instance.activate(44100.0, 256));
    EventList notes;
    notes.noteOn(0, 69, 0.8);
    // Long enough for the pad's attack to end: later blocks are no louder.
    float bound = 0.0f;
    for (int b = 0; b < 200; ++b) {
        instance.process(256, b == 0 ? &notes : nullptr);
        bound = std::max(bound, peakOf(instance, 256));
    }
    ASSERT_GT(bound, 0.01f);
    const veltrosa::StateBytes bytes = veltrosa::encodeState(edition_script::emptyLoudSound());
    ByteStream in{std::vector<unsigned char>(bytes.begin(), bytes.end()), 0, false};
    const clap::InStream stream{&in, &ByteStream::read};
    const auto* state = instance.extension<clap::PluginState>(clap::kExtState);
    ASSERT_TRUE(state->load(instance.plugin(), &stream));
    edition_script::expectSwitchInOneBlock(bound, [&] {
        instance.process(256);
        return peakOf(instance, 256, 192);
    });
}

// Update pressed alone, and pressed and released within one block's events:
// either builds a new table (fresh phases, so the samples after it change).
TEST(Clap, UpdatePressedAloneOrReleasedInTheSameBlockRebuilds) {
    const auto render = [](int presses) {
        auto loaded = load();
        std::vector<float> out;
        if (!loaded.instance)
            return out;
        Instance& instance = *loaded.instance;
        const auto* mode = instance.extension<clap::PluginRender>(clap::kExtRender);
        if (mode == nullptr || !mode->set(instance.plugin(), clap::kRenderOffline) || !instance.activate(48000.0, 256))
            return out;
        for (int block = 0; block < 8; ++block) {
            EventList events;
            if (block == 0)
                events.noteOn(0, 60, 0.8);
            if (block == 3 && presses > 0) {
                events.param(0, veltrosa::kParamUpdate, 1.0);
                if (presses > 1)
                    events.param(9, veltrosa::kParamUpdate, 0.0);
            }
            instance.process(256, &events);
            out.insert(out.end(), instance.left().begin(), instance.left().begin() + 256);
        }
        return out;
    };
    const std::vector<float> plain = render(0);
    ASSERT_EQ(plain.size(), 8u * 256u);
    for (const int presses : {1, 2}) {
        const std::vector<float> pressed = render(presses);
        ASSERT_EQ(pressed.size(), plain.size());
        EXPECT_EQ(firstDifference(std::vector<float>(plain.begin(), plain.begin() + 3 * 256),
                                  std::vector<float>(pressed.begin(), pressed.begin() + 3 * 256)),
                  SIZE_MAX)
            << presses;
        EXPECT_NE(firstDifference(plain, pressed), SIZE_MAX) << presses;
    }
}
