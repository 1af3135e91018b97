// What a careless host or a damaged project may pass across the boundary,
// each case one that once got through: the plug-in must answer as for any
// other refusal and change nothing.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "TestSupport.h"

namespace {

using testing_support::startedPlugin;

// effSetChunk's byte count is pointer-sized; only exactly 192 is ours, so a
// count whose low 32 bits read 192 must not pass as one.
TEST(HostBoundary, ChunkByteCountIsComparedWhole) {
    auto plugin = startedPlugin();
    ASSERT_TRUE(plugin);
    const std::vector<unsigned char> before = plugin->getChunk();
    std::array<float, 48> chunk{};
    chunk.fill(0.25f);
    std::vector<intptr_t> counts = {-1, -192, INTPTR_MIN, INTPTR_MAX};
    if constexpr (sizeof(intptr_t) > 4) {
        counts.push_back(static_cast<intptr_t>((int64_t{1} << 32) + 192));
        counts.push_back(static_cast<intptr_t>((int64_t{-1} << 32) + 192));
    }
    for (intptr_t count : counts) {
        EXPECT_EQ(plugin->dispatch(vst2::effSetChunk, 0, count, chunk.data()), 0) << count;
        EXPECT_EQ(plugin->getChunk(), before) << count;
    }
}

// The list is declared with two entries; hosts allocate as many as they
// send, and every one of them counts.
TEST(HostBoundary, LongEventListIsReadToItsEnd) {
    auto plugin = startedPlugin();
    ASSERT_TRUE(plugin);
    std::vector<vsthost::MidiMessage> messages;
    for (int i = 0; i < 11; ++i)
        messages.push_back(vsthost::controlChange(0, 1, i));  // modulation: ignored
    messages.push_back(vsthost::noteOn(0, 60, 100));
    EXPECT_EQ(plugin->sendEvents(messages), 1);
    plugin->process(2048);
    float peak = 0.0f;
    for (float sample : plugin->output(0))
        peak = std::max(peak, std::fabs(sample));
    EXPECT_GT(peak, 0.0f);
}

// No host runs at these rates, but one that announces them must still get
// finite, bounded samples: a loud note through every envelope stage.
TEST(HostBoundary, AbsurdSampleRatesKeepTheOutputBounded) {
    const float rates[] = {0.0039f,
                           1.0f,
                           10.0f,
                           1e-30f,
                           0.0f,
                           -44100.0f,
                           std::numeric_limits<float>::quiet_NaN(),
                           std::numeric_limits<float>::infinity(),
                           1e30f};
    for (float rate : rates) {
        auto plugin = startedPlugin(rate);
        ASSERT_TRUE(plugin);
        const std::array<vsthost::MidiMessage, 2> chord = {vsthost::noteOn(0, 60, 127), vsthost::noteOn(0, 67, 127)};
        plugin->sendEvents(chord);
        float peak = 0.0f;
        for (int block = 0; block < 8; ++block) {
            plugin->process(512);
            for (int channel = 0; channel < 2; ++channel)
                for (float sample : plugin->output(channel))
                    peak = std::max(peak, std::isfinite(sample) ? std::fabs(sample) : HUGE_VALF);
        }
        EXPECT_LT(peak, 100.0f) << "rate " << rate;
    }
}

// Out-of-range values are used as they are, and a negative damping drives the
// filter of a held note far beyond any sane level. Once the host puts the value
// back in range the very next block must be sane again, not ring down from there.
TEST(HostBoundary, FilterDrivenWildSettlesWhenTheValueComesBack) {
    auto plugin = startedPlugin();
    ASSERT_TRUE(plugin);
    plugin->setParameter(44, 1.0f);  // amplitude sustain: the note holds
    const std::array<vsthost::MidiMessage, 1> note = {vsthost::noteOn(0, 60, 127)};
    plugin->sendEvents(note);
    plugin->process(512);
    for (float resonance : {1.3f, 3.0f, 40.0f}) {
        plugin->setParameter(40, resonance);
        for (int block = 0; block < 20; ++block)
            plugin->process(512);
        plugin->setParameter(40, 0.5f);
        plugin->process(512);
        float peak = 0.0f;
        for (int channel = 0; channel < 2; ++channel)
            for (float sample : plugin->output(channel))
                peak = std::max(peak, std::fabs(sample));
        EXPECT_LT(peak, 10.0f) << "resonance " << resonance;
    }
}

// A negative sustain level lets a decay fall for ever; once the value is back
// in range the envelope must not hold the note at a level far below zero,
// which squared would be a gain of thousands and a runaway cutoff.
TEST(HostBoundary, EnvelopeDrivenBelowZeroSettlesWhenSustainComesBack) {
    auto plugin = startedPlugin();
    ASSERT_TRUE(plugin);
    // Loud and open, the filter tame: the amplitude envelope alone decides.
    plugin->setParameter(38, 0.0f);
    plugin->setParameter(39, 1.0f);
    plugin->setParameter(47, 1.0f);
    for (int32_t envelope : {34, 42}) {            // filter, amplitude
        plugin->setParameter(envelope + 1, 0.0f);  // fastest decay
        plugin->setParameter(envelope + 2, -1e6f);
    }
    const std::array<vsthost::MidiMessage, 1> note = {vsthost::noteOn(0, 60, 127)};
    plugin->sendEvents(note);
    for (int block = 0; block < 20; ++block)
        plugin->process(512);
    plugin->setParameter(36, 0.5f);
    plugin->setParameter(44, 0.5f);
    float peak = 0.0f;
    for (int block = 0; block < 4; ++block) {
        plugin->process(512);
        for (int channel = 0; channel < 2; ++channel)
            for (float sample : plugin->output(channel))
                peak = std::max(peak, std::fabs(sample));
    }
    EXPECT_LT(peak, 10.0f);
}

}  // namespace
