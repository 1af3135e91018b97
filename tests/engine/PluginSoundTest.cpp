// The engine through the built plug-in, as a host drives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "TestSupport.h"
#include "engine/Parameters.h"

using namespace testing_support;

namespace {

float peak(const std::vector<float>& v, std::size_t from = 0, std::size_t to = SIZE_MAX) {
    float p = 0.0f;
    for (std::size_t i = from; i < std::min(to, v.size()); ++i)
        p = std::max(p, std::fabs(v[i]));
    return p;
}

}  // namespace

TEST(PluginSound, AChordSoundsInStereoAndFadesAfterItsNoteOffs) {
    auto plugin = startedPlugin(44100.0f, 512);
    ASSERT_TRUE(plugin);
    std::vector<vsthost::MidiMessage> events;
    for (int key : {48, 52, 55, 60})
        events.push_back(vsthost::noteOn(1000 + key, key, 100));
    for (int key : {48, 52, 55, 60})
        events.push_back(vsthost::noteOff(44100, key));
    const auto [left, right] = plugin->render(44100 * 4, 512, events);
    EXPECT_EQ(peak(left, 0, 1048), 0.0f);  // nothing before the first note
    EXPECT_GT(peak(left, 1048, 44100), 0.01f);
    EXPECT_LT(peak(left, 1048, 44100), 1.0f);
    EXPECT_NE(left, right);
    EXPECT_EQ(peak(left, 44100 * 3), 0.0f);  // released within about 1.7 s
    EXPECT_EQ(peak(right, 44100 * 3), 0.0f);
}

TEST(PluginSound, AllNotesOffSilencesFromTheNextBlock) {
    auto plugin = startedPlugin(44100.0f, 256);
    ASSERT_TRUE(plugin);
    const vsthost::MidiMessage on[] = {vsthost::noteOn(0, 60, 127), vsthost::noteOn(0, 64, 127)};
    plugin->sendEvents(on);
    for (int i = 0; i < 40; ++i)
        plugin->process(256);
    EXPECT_GT(peak({plugin->output(0).begin(), plugin->output(0).end()}), 0.0f);
    const vsthost::MidiMessage off[] = {vsthost::controlChange(0, 123, 0)};
    plugin->sendEvents(off);
    plugin->process(256);
    EXPECT_EQ(peak({plugin->output(0).begin(), plugin->output(0).end()}), 0.0f);
}

TEST(PluginSound, UpdateAndRateChangesKeepTheSoundGoing) {
    auto plugin = startedPlugin(44100.0f, 512);
    ASSERT_TRUE(plugin);
    const vsthost::MidiMessage on[] = {vsthost::noteOn(0, 60, 100)};
    plugin->sendEvents(on);
    for (int i = 0; i < 20; ++i)
        plugin->process(512);
    plugin->setParameter(veltrosa::kParamUpdate, 0.95f);
    EXPECT_EQ(plugin->getParameter(veltrosa::kParamUpdate), 0.0f);
    plugin->setParameter(veltrosa::kParamUpdate, 0.9f);
    EXPECT_EQ(plugin->getParameter(veltrosa::kParamUpdate), 0.9f);
    plugin->setSampleRate(48000.0f);
    for (int i = 0; i < 20; ++i) {
        plugin->process(512);
        const auto out = plugin->output(1);
        ASSERT_TRUE(std::all_of(out.begin(), out.end(), [](float x) { return std::isfinite(x); }));
    }
    EXPECT_GT(peak({plugin->output(1).begin(), plugin->output(1).end()}), 0.001f);
}
