// One note script for every edition's test against the VST 2 edition's
// samples: the same notes and parameter changes give the same samples bit
// for bit.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "core/Parameters.h"
#include "core/State.h"

namespace edition_script {

struct ScriptEvent {
    int64_t frame;  // or, for a parameter, the block it starts
    enum Kind { NoteOn, NoteOff, MidiOn, MidiOff, Param } kind;
    int key;    // or parameter index
    int value;  // velocity 1..127, or the parameter value in thousandths
};

// Chords over each other, a fifth voice stealing, a MIDI-dialect note with
// velocity 0 as its note-off, and parameter changes on block starts (both
// editions apply them before a block).
inline constexpr ScriptEvent kScript[] = {
    {0, ScriptEvent::NoteOn, 60, 100},       {37, ScriptEvent::NoteOn, 64, 90},
    {700, ScriptEvent::MidiOn, 67, 127},     {1500, ScriptEvent::NoteOn, 72, 1},
    {3000, ScriptEvent::NoteOn, 48, 64},     {5000, ScriptEvent::NoteOff, 60, 0},
    {6001, ScriptEvent::MidiOff, 67, 0},     {7000, ScriptEvent::NoteOn, 36, 127},
    {7001, ScriptEvent::NoteOn, 40, 127},    {7002, ScriptEvent::NoteOn, 43, 127},
    {7003, ScriptEvent::NoteOn, 79, 127},    {9000, ScriptEvent::NoteOff, 64, 0},
    {12000, ScriptEvent::NoteOff, 36, 0},    {15000, ScriptEvent::NoteOff, 72, 0},
};
inline constexpr ScriptEvent kParamScript[] = {
    {2, ScriptEvent::Param, veltrosa::kParamCutoff, 300},
    {20, ScriptEvent::Param, veltrosa::kParamVolume, 500},
    {40, ScriptEvent::Param, veltrosa::kParamResonance, 700},
};
constexpr int64_t kScriptFrames = 40000;

struct Rendered {
    std::vector<float> left, right;
};

inline Rendered renderVst2(float rate, int32_t block) {
    auto plugin = testing_support::startedPlugin(rate, block);
    Rendered out;
    if (!plugin)
        return out;
    for (int64_t at = 0, n = 0; at < kScriptFrames; at += block, ++n) {
        for (const ScriptEvent& p : kParamScript)
            if (p.frame == n)
                plugin->setParameter(p.key, static_cast<float>(p.value) / 1000.0f);
        std::vector<vsthost::MidiMessage> messages;
        for (const ScriptEvent& e : kScript) {
            if (e.frame < at || e.frame >= at + block)
                continue;
            const auto offset = static_cast<int32_t>(e.frame - at);
            const bool on = e.kind == ScriptEvent::NoteOn || e.kind == ScriptEvent::MidiOn;
            messages.push_back(on ? vsthost::noteOn(offset, e.key, e.value) : vsthost::noteOff(offset, e.key));
        }
        if (!messages.empty())
            plugin->sendEvents(messages);
        plugin->process(block);
        const auto l = plugin->output(0), r = plugin->output(1);
        out.left.insert(out.left.end(), l.begin(), l.begin() + block);
        out.right.insert(out.right.end(), r.begin(), r.begin() + block);
    }
    return out;
}

inline std::size_t firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (std::bit_cast<uint32_t>(a[i]) != std::bit_cast<uint32_t>(b[i]))
            return i;
    return a.size() == b.size() ? SIZE_MAX : std::min(a.size(), b.size());
}


// The rates and block sizes both editions play the script at.
struct RenderCase {
    double rate;
    int32_t block;
};
inline constexpr RenderCase kRenderCases[] = {{44100.0, 512}, {96000.0, 100}};

// The script is heard, and the other edition's samples are the VST 2
// edition's to the bit.
inline void expectVst2Samples(const Rendered& reference, const Rendered& other) {
    ASSERT_EQ(reference.left.size(), other.left.size());
    float peak = 0.0f;
    for (float s : reference.left)
        peak = std::max(peak, std::fabs(s));
    EXPECT_GT(peak, 0.01f);
    EXPECT_EQ(firstDifference(reference.left, other.left), SIZE_MAX);
    EXPECT_EQ(firstDifference(reference.right, other.right), SIZE_MAX);
}

// A whole sound to switch to while a note plays: no spectrum, full volume.
// A block playing its values with the old table would be several times as
// loud as before; one playing them with its own is silent.
inline veltrosa::ParameterValues emptyLoudSound() {
    veltrosa::ParameterValues sound = veltrosa::defaultValues();
    std::fill_n(sound.begin(), veltrosa::kNumHarmonics, 0.0f);
    sound[veltrosa::kParamVolume] = 1.0f;
    return sound;
}

// block() renders one block in real time and gives the peak of its last
// quarter, where what the filter held of the old sound has died away in the
// block that switched. Until the switch each stays under 1.5 times the
// loudest before it (bound); the switch comes within a few hundred blocks.
template <typename Block>
void expectSwitchInOneBlock(float bound, Block&& block) {
    bool switched = false;
    for (int b = 0; b < 400 && !switched; ++b) {
        const float peak = block();
        switched = peak < 1e-6f;
        if (!switched) {
            ASSERT_LT(peak, 1.5f * bound) << "block " << b << " played the new values with the old table";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(switched) << "the new sound never came";
}

}  // namespace edition_script
