// The DSP library as a host drives it through lilv: what the bundle tells a
// host, the same samples as the VST 2 edition for the same events, and
// wavetables built on the instance's own thread, never in run().
#include <gtest/gtest.h>
#include <lv2/midi/midi.h>
#include <lv2/presets/presets.h>
#include <lv2/ui/ui.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <thread>
#include <vector>

#include "AllocationHooks.h"
#include "DrawingCaches.h"
#include "Lv2Support.h"
#include "TestSupport.h"
#include "presets/Bank.h"

using namespace veltrosa;
using namespace lv2test;

namespace {

struct Node {
    LilvNode* node;
    explicit Node(LilvNode* n) : node(n) {}
    ~Node() { lilv_node_free(node); }
    operator const LilvNode*() const { return node; }
};

float peak(const lv2host::Instance& instance, uint32_t frames, uint32_t from = 0) {
    float p = 0.0f;
    for (std::size_t c = 0; c < 2; ++c)
        for (uint32_t i = from; i < frames; ++i)
            p = std::max(p, std::fabs(instance.out(c)[i]));
    return p;
}

}  // namespace

// Every fact a host reads: the 48 controls by name, range and default (the
// very float of the table), MIDI in, two outputs, the editor, the presets.
TEST(Lv2Bundle, DescribesEveryPortPresetAndTheEditor) {
    const LilvPlugin* plugin = world().plugin(lv2edge::kPluginUri);
    ASSERT_NE(plugin, nullptr);
    LilvWorld* w = world().get();
    ASSERT_EQ(lilv_plugin_get_num_ports(plugin), lv2edge::kNumPorts);
    std::vector<float> min(lv2edge::kNumPorts), max(lv2edge::kNumPorts), def(lv2edge::kNumPorts);
    lilv_plugin_get_port_ranges_float(plugin, min.data(), max.data(), def.data());
    for (int32_t i = 0; i < kNumParams; ++i) {
        const ParamInfo& info = kParams[static_cast<std::size_t>(i)];
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, static_cast<uint32_t>(i));
        EXPECT_STREQ(lilv_node_as_string(lilv_port_get_symbol(plugin, port)), info.symbol);
        LilvNode* name = lilv_port_get_name(plugin, port);
        EXPECT_STREQ(lilv_node_as_string(name), info.name);
        lilv_node_free(name);
        EXPECT_EQ(min[static_cast<std::size_t>(i)], 0.0f);
        EXPECT_EQ(max[static_cast<std::size_t>(i)], 1.0f);
        EXPECT_EQ(testing_support::floatBits(def[static_cast<std::size_t>(i)]), info.defaultBits) << info.symbol;
    }
    const Node midiEvent(lilv_new_uri(w, LV2_MIDI__MidiEvent)), audio(lilv_new_uri(w, LV2_CORE__AudioPort));
    const Node output(lilv_new_uri(w, LV2_CORE__OutputPort));
    EXPECT_TRUE(lilv_port_supports_event(plugin, lilv_plugin_get_port_by_index(plugin, lv2edge::kMidiInPort), midiEvent));
    for (uint32_t p : {lv2edge::kOutLeftPort, lv2edge::kOutRightPort}) {
        EXPECT_TRUE(lilv_port_is_a(plugin, lilv_plugin_get_port_by_index(plugin, p), audio));
        EXPECT_TRUE(lilv_port_is_a(plugin, lilv_plugin_get_port_by_index(plugin, p), output));
    }
    const Node input(lilv_new_uri(w, LV2_CORE__InputPort)), freeWheeling(lilv_new_uri(w, LV2_CORE__freeWheeling));
    const LilvPort* freewheel = lilv_plugin_get_port_by_designation(plugin, input, freeWheeling);
    ASSERT_NE(freewheel, nullptr);
    EXPECT_EQ(lilv_port_get_index(plugin, freewheel), lv2edge::kFreeWheelPort);

    LilvUIs* uis = lilv_plugin_get_uis(plugin);
    const Node uiUri(lilv_new_uri(w, lv2edge::kUiUri)), x11(lilv_new_uri(w, LV2_UI__X11UI));
    const LilvUI* ui = lilv_uis_get_by_uri(uis, uiUri);
    ASSERT_NE(ui, nullptr);
    EXPECT_TRUE(lilv_ui_is_a(ui, x11));
    lilv_uis_free(uis);

    // Every factory preset, found as hosts find presets, with its values.
    const Node presetClass(lilv_new_uri(w, LV2_PRESETS__Preset)), portValue(lilv_new_uri(w, LV2_PRESETS__value));
    const Node symbolPredicate(lilv_new_uri(w, LV2_CORE__symbol)), portPredicate(lilv_new_uri(w, LV2_CORE__port));
    const Node label(lilv_new_uri(w, LILV_NS_RDFS "label"));
    const auto& bank = presets::factoryBank();
    LilvNodes* presets = lilv_plugin_get_related(plugin, presetClass);
    ASSERT_EQ(lilv_nodes_size(presets), bank.size());
    LILV_FOREACH(nodes, p, presets) {
        const LilvNode* preset = lilv_nodes_get(presets, p);
        lilv_world_load_resource(w, preset);
        LilvNode* name = lilv_world_get(w, preset, label, nullptr);
        ASSERT_NE(name, nullptr);
        const presets::Preset* expected = presets::findPreset(bank, lilv_node_as_string(name));
        lilv_node_free(name);
        ASSERT_NE(expected, nullptr);
        LilvNodes* ports = lilv_world_find_nodes(w, preset, portPredicate, nullptr);
        EXPECT_EQ(lilv_nodes_size(ports), static_cast<unsigned>(kNumParams - 1));  // all but Update
        LILV_FOREACH(nodes, it, ports) {
            const LilvNode* port = lilv_nodes_get(ports, it);
            LilvNode* symbol = lilv_world_get(w, port, symbolPredicate, nullptr);
            LilvNode* value = lilv_world_get(w, port, portValue, nullptr);
            ASSERT_TRUE(symbol && value);
            const auto found = std::find_if(kParams.begin(), kParams.end(), [&](const ParamInfo& info) {
                return std::string(info.symbol) == lilv_node_as_string(symbol);
            });
            ASSERT_NE(found, kParams.end());
            const auto index = static_cast<std::size_t>(found - kParams.begin());
            EXPECT_EQ(testing_support::floatBits(lilv_node_as_float(value)),
                      testing_support::floatBits(expected->values[index]))
                << expected->name << " " << found->symbol;
            lilv_node_free(symbol);
            lilv_node_free(value);
        }
        lilv_nodes_free(ports);
    }
    lilv_nodes_free(presets);
}

// The same event script, parameter moves included, through both editions.
// Each module builds its first tables from the same process-wide phase
// state, so both play the very same table.
TEST(Lv2Plugin, PlaysTheSameSamplesAsTheVst2Edition) {
    struct Event {
        int block;
        int32_t frame;
        std::vector<uint8_t> bytes;
        int64_t lv2Frame = -1;  // stamped at or past the cycle's end: played on its last frame
    };
    struct Move {
        int block;
        int32_t index;
        float value;
    };
    for (const auto& [rate, block] : {std::pair{44100.0, 512}, std::pair{96000.0, 100}}) {
        SCOPED_TRACE(rate);
        const int32_t n = block;
        const std::vector<Event> events = {
            {0, 0, {0x90, 60, 100}},  {0, 37, {0x90, 64, 80}},    {2, n - 1, {0x90, 67, 127}}, {3, 10, {0x80, 60, 0}},
            {3, 20, {0x90, 64, 0}},   {4, 3, {0x90, 5, 100}},     {4, 4, {0xB0, 7, 20}},       {4, 5, {0xE0, 0, 90}},
            {4, 6, {0x91, 72, 90}},   {8, n / 2, {0xB0, 123, 0}}, {9, 1, {0x90, 48, 100}},     {9, 2, {0x90, 50, 100}},
            {9, 3, {0x90, 52, 100}},  {9, 4, {0x90, 53, 100}},    {9, 5, {0x90, 55, 100}},     {9, 6, {0x90, 57, 100}},
            {9, 7, {0x90, 59, 100}},  {9, 8, {0x90, 60, 100}},    {9, 9, {0x90, 62, 100}},     {12, 0, {0xB0, 126, 0}},
            {13, 30, {0x90, 45, 90}}, {20, 0, {0x80, 45, 64}},
            {22, n - 1, {0x90, 62, 100}, n}, {23, n - 1, {0x90, 65, 90}, n + 100},
            {25, n - 1, {0x80, 62, 0}, int64_t{1} << 40},
        };
        const std::vector<Move> moves = {{5, kParamCutoff, 0.8f},    {5, kParamAmpRelease, 0.2f},
                                         {6, kParamResonance, 0.7f}, {14, kParamFilterAttack, 0.01f},
                                         {14, kParamVolume, 0.9f},   {16, kParamAmpSustain, 0.3f}};
        auto vst = testing_support::startedPlugin(static_cast<float>(rate), n);
        auto lv2 = instrument(rate, n);
        ASSERT_TRUE(vst && lv2);
        float loudest = 0.0f;
        for (int b = 0; b < 30; ++b) {
            vsthost::EventList list;
            for (const Move& m : moves)
                if (m.block == b) {
                    vst->setParameter(m.index, m.value);
                    lv2->setControl(static_cast<uint32_t>(m.index), m.value);
                }
            for (const Event& e : events)
                if (e.block == b) {
                    list.add({e.frame, e.bytes[0], e.bytes[1], e.bytes[2]});
                    lv2->midi(e.lv2Frame >= 0 ? e.lv2Frame : e.frame, e.bytes);
                }
            vst->sendEvents(list);
            vst->process(n);
            lv2->run(static_cast<uint32_t>(n));
            for (int c = 0; c < 2; ++c) {
                const auto expected = vst->output(c);
                for (int32_t i = 0; i < n; ++i)
                    ASSERT_EQ(std::bit_cast<uint32_t>(lv2->out(static_cast<std::size_t>(c))[i]),
                              std::bit_cast<uint32_t>(expected[static_cast<std::size_t>(i)]))
                        << "block " << b << " channel " << c << " frame " << i;
            }
            loudest = std::max(loudest, peak(*lv2, static_cast<uint32_t>(n)));
        }
        EXPECT_GT(loudest, 0.01f);
        EXPECT_EQ(lv2->scheduled(), 0);  // no spectrum moved: no table built
    }
}

// Rendering offline, a cycle that asks for a table plays it: the same
// samples however long the host's worker takes.
TEST(Lv2Plugin, FreewheelingWaitsForTheTableItAsksFor) {
    for (const float freewheeling : {0.0f, 1.0f}) {
        SCOPED_TRACE(freewheeling);
        auto lv2 = instrument(44100.0, 256, lv2host::WorkerMode::Held);
        ASSERT_TRUE(lv2);
        lv2->setControl(lv2edge::kFreeWheelPort, freewheeling);
        for (int32_t h = 0; h < kNumHarmonics; ++h)
            lv2->setControl(static_cast<uint32_t>(h), 0.0f);
        std::thread worker;
        if (freewheeling > 0.0f)  // a worker that takes its time
            worker = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                lv2->releaseWork();
            });
        lv2->midi(0, noteOn(69, 100));
        lv2->run(256);
        // Silent only if this first cycle played the new, empty table.
        const float first = peak(*lv2, 256);
        if (worker.joinable())
            worker.join();
        else
            lv2->releaseWork();
        lv2->run(256);
        EXPECT_EQ(first == 0.0f, freewheeling > 0.0f) << first;
    }
}

// Harmonics take effect without Update, from the host's worker or none: the
// instance builds its tables itself. A preset (every port at once) plays its
// values and its table from the same cycle: a louder volume with an empty
// spectrum is never heard.
TEST(Lv2Plugin, BuildsItsOwnTablesAndSwitchesWholeSoundsInOneCycle) {
    auto lv2 = instrument(44100.0, 256, lv2host::WorkerMode::Held);
    ASSERT_TRUE(lv2);
    lv2->midi(0, noteOn(69, 100));
    for (int i = 0; i < 20; ++i)
        lv2->run(256);
    ASSERT_GT(peak(*lv2, 256), 0.01f);
    for (int32_t h = 0; h < kNumHarmonics; ++h)
        lv2->setControl(static_cast<uint32_t>(h), 0.0f);
    lv2->setControl(kParamVolume, 1.0f);
    float before = 0.0f;
    for (int i = 0; i < 400 && before == 0.0f; ++i) {
        lv2->run(256);
        // Until the empty table comes, the old spectrum plays at the old volume.
        // The last quarter: what the filter held of the old sound dies away
        // in the cycle that switches.
        const float p = peak(*lv2, 256, 192);
        if (p > 1e-6f)
            EXPECT_LT(p, 0.5f) << i;  // at full volume it would be about 0.9
        else
            before = 1.0f;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(before, 1.0f) << "the empty spectrum never came";
    EXPECT_EQ(lv2->scheduled(), 0);
    // One harmonic is heard, no Update pressed.
    lv2->setControl(0, 1.0f);
    float heard = 0.0f;
    for (int i = 0; i < 400 && heard < 0.01f; ++i) {
        lv2->run(256);
        heard = peak(*lv2, 256);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GT(heard, 0.01f);
}

// Also the ThreadSanitizer's case for the hand-over between the builder and
// run(), where the allocations go uncounted.
TEST(Lv2Plugin, RunAllocatesNothingWhileTablesAreBuilt) {
    auto lv2 = instrument(48000.0, 256, lv2host::WorkerMode::Thread);
    ASSERT_TRUE(lv2);
    lv2->run(256);
    int allocations = 0, frees = 0;
    for (int cycle = 0; cycle < 400; ++cycle) {
        if (cycle % 50 == 0)
            lv2->midi(cycle % 256, noteOn(48 + cycle % 30, 100));
        if (cycle % 50 == 25)
            lv2->midi(3, {0x80, static_cast<uint8_t>(48 + (cycle - 25) % 30), 0});
        lv2->setControl(4, static_cast<float>(cycle % 7) / 7.0f);  // the spectrum keeps moving
        {
            const Counting counting;
            lv2->run(cycle % 3 == 0 ? 256 : 77);
            allocations += tlsLog.allocations;
            frees += tlsLog.frees;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    if (!VELTROSA_ALLOC_HOOKS)
        GTEST_SKIP() << "the sanitizer runtime owns malloc: allocations not counted";
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(frees, 0);
}

// The rates hosts commonly run at.
TEST(Lv2Plugin, PlaysANoteAtEachRate) {
    for (double rate : {44100.0, 96000.0}) {
        auto lv2 = instrument(rate, 64);
        ASSERT_TRUE(lv2);
        lv2->midi(5, noteOn(57, 110));
        lv2->run(64);
        float loudest = 0.0f;
        for (int i = 0; i < 40; ++i) {
            lv2->run(64);
            loudest = std::max(loudest, peak(*lv2, 64));
        }
        EXPECT_GT(loudest, 0.01f) << rate;
    }
}
