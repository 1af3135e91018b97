// MIDI intake and the audio callback through the built plug-in, as a host
// drives them: one instance per test, scenarios played one after another on
// it (each after a silence), so that every comparison reads the same table.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "TestSupport.h"
#include "core/Parameters.h"

using namespace testing_support;
using vsthost::controlChange;
using vsthost::MidiMessage;
using vsthost::noteOff;
using vsthost::noteOn;

namespace {

constexpr int32_t kBlock = 512;

struct Audio {
    std::vector<float> left, right;

    bool silent(std::size_t from = 0, std::size_t to = SIZE_MAX) const {
        to = std::min(to, left.size());
        for (std::size_t i = from; i < to; ++i)
            if (left[i] != 0.0f || right[i] != 0.0f)
                return false;
        return true;
    }
    bool sounds(std::size_t from = 0, std::size_t to = SIZE_MAX) const { return !silent(from, to); }
    bool operator==(const Audio&) const = default;
};

using Script = std::vector<std::vector<MidiMessage>>;  // the events sent before each block

class Events : public ::testing::Test {
protected:
    void SetUp() override {
        plugin = startedPlugin(44100.0f, kBlock);
        ASSERT_TRUE(plugin);
        // A short release keeps the scenarios short.
        plugin->setParameter(veltrosa::kParamAmpRelease, 0.0f);
    }

    // Silences every voice, then renders one block per script entry, and
    // `extra` blocks after that.
    Audio play(const Script& script, int extra = 0) {
        plugin->sendEvents(std::vector{controlChange(0, 123, 0)});
        plugin->process(kBlock);
        Audio audio;
        for (std::size_t b = 0; b < script.size() + static_cast<std::size_t>(extra); ++b) {
            if (b < script.size()) {
                EXPECT_EQ(plugin->sendEvents(script[b]), 1);
            }
            plugin->process(kBlock);
            append(audio);
        }
        return audio;
    }

    void append(Audio& audio) {
        const auto l = plugin->output(0), r = plugin->output(1);
        audio.left.insert(audio.left.end(), l.begin(), l.end());
        audio.right.insert(audio.right.end(), r.begin(), r.end());
    }

    // Sends a raw list the host built itself.
    intptr_t sendList(vst2::VstEvents* list) { return plugin->dispatch(vst2::effProcessEvents, 0, 0, list); }

    std::unique_ptr<vsthost::Plugin> plugin;
};

// A list with room for `slots` event pointers, as hosts allocate it.
struct RawList {
    explicit RawList(std::size_t slots)
        : storage(offsetof(vst2::VstEvents, events) + std::max<std::size_t>(slots, 2) * sizeof(void*), 0) {}
    vst2::VstEvents* get() { return reinterpret_cast<vst2::VstEvents*>(storage.data()); }
    vst2::VstEvent** slots() {
        return reinterpret_cast<vst2::VstEvent**>(storage.data() + offsetof(vst2::VstEvents, events));
    }
    std::vector<unsigned char> storage;
};

vst2::VstEvent midiEvent(const MidiMessage& m) {
    vsthost::EventList one;
    one.add(m);
    return *one.get()->events[0];
}

}  // namespace

TEST_F(Events, VelocityZeroNoteOnActsAsNoteOff) {
    for (int32_t offset : {0, 100, kBlock - 1}) {
        const Audio released = play({{noteOn(0, 60, 100)}, {}, {noteOff(offset, 60)}}, 3);
        const Audio zeroVelocity = play({{noteOn(0, 60, 100)}, {}, {noteOn(offset, 60, 0)}}, 3);
        EXPECT_TRUE(released.sounds(0, kBlock)) << offset;
        EXPECT_TRUE(released.silent(5 * kBlock)) << offset;
        EXPECT_EQ(released, zeroVelocity) << offset;
    }
}

TEST_F(Events, SameKeyOnTwoChannelsSoundsTwiceAndOneNoteOffReleasesBoth) {
    const Audio single = play({{noteOn(0, 60, 100, 0)}, {}});
    const Audio both = play({{noteOn(0, 60, 100, 0), noteOn(0, 60, 100, 9)}, {}});
    ASSERT_TRUE(single.sounds());
    for (std::size_t i = 0; i < single.left.size(); ++i) {
        ASSERT_EQ(both.left[i], 2.0f * single.left[i]) << i;
        ASSERT_EQ(both.right[i], 2.0f * single.right[i]) << i;
    }
    const Audio released = play({{noteOn(0, 60, 100, 0), noteOn(0, 60, 100, 9)}, {noteOff(0, 60, 4)}}, 3);
    EXPECT_TRUE(released.sounds(0, kBlock));
    EXPECT_TRUE(released.silent(3 * kBlock));
}

TEST_F(Events, NoteOnAndOffInOneListNeverSound) {
    const std::pair<int32_t, int32_t> offsets[] = {{0, 0}, {0, 300}, {200, 10}, {kBlock - 1, kBlock - 1}};
    for (const auto& [on, off] : offsets) {
        const Audio audio = play({{noteOn(on, 64, 127), noteOff(off, 64)}}, 3);
        EXPECT_TRUE(audio.silent()) << on << "/" << off;
    }
}

TEST_F(Events, AllNotesOffAndMonoModeSilenceTheWholeNextBlock) {
    for (int controller : {123, 126})
        for (int value : {0, 127})
            for (int32_t offset : {0, 300}) {
                const Audio audio = play(
                    {{noteOn(0, 60, 100), noteOn(0, 67, 90, 3)}, {controlChange(offset, controller, value, 5)}}, 2);
                EXPECT_TRUE(audio.sounds(0, kBlock));
                EXPECT_TRUE(audio.silent(kBlock)) << controller << " " << value << " " << offset;
            }
}

TEST_F(Events, OtherMessagesAndEventTypesChangeNothing) {
    vst2::VstEvent sysex{};
    sysex.type = vst2::kVstSysExType;
    sysex.byteSize = sizeof sysex;
    // Bytes where a MIDI event keeps its message: a note-on if misread.
    sysex.data[8] = char(0x90);
    sysex.data[9] = 60;
    sysex.data[10] = 100;

    std::vector<vst2::VstEvent> others = {sysex};
    const MidiMessage messages[] = {
        {0, 0xA0, 60, 100},        {0, 0xC5, 60, 100},       {0, 0xD0, 100, 0},      {0, 0xE0, 0, 100},
        {0, 0xF0, 60, 100},        {0, 0xF8, 0, 0},          {0, 0x70, 60, 100},     controlChange(0, 120, 0),
        controlChange(0, 64, 127), controlChange(0, 121, 0), controlChange(0, 7, 0),
    };
    for (const MidiMessage& m : messages)
        others.push_back(midiEvent(m));

    const Audio reference = play({{noteOn(0, 60, 100)}, {}, {}});
    for (std::size_t k = 0; k < others.size(); ++k) {
        // From silence: nothing starts.
        vsthost::EventList alone;
        alone.addRaw(others[k]);
        plugin->sendEvents(std::vector{controlChange(0, 123, 0)});
        plugin->process(kBlock);
        EXPECT_EQ(plugin->sendEvents(alone), 1);
        plugin->process(kBlock);
        EXPECT_TRUE((Audio{{plugin->output(0).begin(), plugin->output(0).end()},
                           {plugin->output(1).begin(), plugin->output(1).end()}})
                        .silent())
            << "event " << k;

        // Over a sounding note: nothing changes.
        plugin->sendEvents(std::vector{controlChange(0, 123, 0)});
        plugin->process(kBlock);
        Audio audio;
        for (int b = 0; b < 3; ++b) {
            vsthost::EventList list;
            if (b == 0)
                list.add(noteOn(0, 60, 100));
            if (b == 1)
                list.addRaw(others[k]);
            plugin->sendEvents(list);
            plugin->process(kBlock);
            append(audio);
        }
        EXPECT_EQ(audio, reference) << "event " << k;
    }
}

TEST_F(Events, EmptyListsDoNothing) {
    const Audio reference = play({{noteOn(0, 60, 100)}, {}, {}});
    RawList empty(0);
    plugin->sendEvents(std::vector{controlChange(0, 123, 0)});
    plugin->process(kBlock);
    Audio audio;
    plugin->sendEvents(std::vector{noteOn(0, 60, 100)});
    plugin->process(kBlock);
    append(audio);
    vsthost::EventList none;
    EXPECT_EQ(plugin->sendEvents(none), 1);
    plugin->process(kBlock);
    append(audio);
    EXPECT_EQ(sendList(empty.get()), 1);
    plugin->process(kBlock);
    append(audio);
    EXPECT_EQ(audio, reference);
    EXPECT_TRUE(play({{}, {}}).silent());
}

TEST_F(Events, LowestAndHighestPlayableKeysSoundAndRelease) {
    for (int key : {12, 127}) {
        const Audio audio = play({{noteOn(0, key, 127)}, {}, {}, {noteOff(0, key)}}, 3);
        EXPECT_TRUE(audio.sounds(kBlock, 3 * kBlock)) << key;
        EXPECT_TRUE(audio.silent(5 * kBlock)) << key;
        for (float s : audio.left)
            ASSERT_TRUE(std::isfinite(s)) << key;
    }
}

TEST_F(Events, KeysBelowTwelveAreIgnored) {
    const Audio reference = play({{noteOn(0, 60, 100)}, {}, {}});
    for (int key = 0; key < 12; ++key) {
        EXPECT_TRUE(play({{noteOn(0, key, 127)}, {}}).silent()) << key;
        // Their note-offs release nothing.
        EXPECT_EQ(play({{noteOn(0, 60, 100)}, {noteOff(0, key)}, {noteOn(0, key, 0)}}), reference) << key;
    }
}

TEST_F(Events, ReplacingWritesZerosOverGarbageWhenNoVoiceSounds) {
    for (int32_t frames : {1, 64, kBlock, 4096}) {
        std::vector<float> left(static_cast<std::size_t>(frames), std::numeric_limits<float>::quiet_NaN());
        std::vector<float> right(static_cast<std::size_t>(frames), -1.0e30f);
        float* outputs[] = {left.data(), right.data()};
        plugin->effect()->processReplacing(plugin->effect(), nullptr, outputs, frames);
        for (int32_t i = 0; i < frames; ++i) {
            ASSERT_EQ(left[static_cast<std::size_t>(i)], 0.0f) << frames << " " << i;
            ASSERT_EQ(right[static_cast<std::size_t>(i)], 0.0f) << frames << " " << i;
        }
    }
}

TEST_F(Events, MalformedListsAreSkippedNotFollowed) {
    EXPECT_EQ(sendList(nullptr), 1);

    // Null pointers among real events: the real events still play.
    vst2::VstEvent on = midiEvent(noteOn(0, 60, 100));
    RawList holes(3);
    holes.get()->numEvents = 3;
    holes.slots()[1] = &on;
    const Audio reference = play({{noteOn(0, 60, 100)}});
    plugin->sendEvents(std::vector{controlChange(0, 123, 0)});
    plugin->process(kBlock);
    EXPECT_EQ(sendList(holes.get()), 1);
    plugin->process(kBlock);
    Audio audio;
    append(audio);
    EXPECT_EQ(audio, reference);

    // A negative count reads nothing.
    for (int32_t count : {-1, -5, INT_MIN}) {
        RawList negative(2);
        negative.get()->numEvents = count;
        negative.slots()[0] = &on;
        negative.slots()[1] = &on;
        plugin->sendEvents(std::vector{controlChange(0, 123, 0)});
        plugin->process(kBlock);
        EXPECT_EQ(sendList(negative.get()), 1);
        plugin->process(kBlock);
        Audio none;
        append(none);
        EXPECT_TRUE(none.silent()) << count;
    }
}

TEST_F(Events, OffsetsBeforeTheBlockStartItAndOffsetsBeyondItCarryOver) {
    const Audio atStart = play({{noteOn(0, 60, 100)}, {}});
    for (int32_t early : {-1, -1000, INT_MIN})
        EXPECT_EQ(play({{noteOn(early, 60, 100)}, {}}), atStart) << early;

    // 700 in blocks of 512 is 188 in the next block, for a note-on and, once
    // the envelopes hold their sustain levels, for a note-off.
    for (int32_t p : {veltrosa::kParamAmpAttack, veltrosa::kParamAmpDecay, veltrosa::kParamFilterAttack,
                      veltrosa::kParamFilterDecay})
        plugin->setParameter(p, 0.0f);
    const Audio late = play({{noteOn(kBlock + 188, 60, 100)}, {}, {}});
    EXPECT_TRUE(late.silent(0, kBlock + 188));
    EXPECT_EQ(late, play({{}, {noteOn(188, 60, 100)}, {}}));
    const Audio lateOff = play({{noteOn(0, 60, 100)}, {}, {}, {noteOff(kBlock + 188, 60)}, {}}, 2);
    EXPECT_EQ(lateOff, play({{noteOn(0, 60, 100)}, {}, {}, {}, {noteOff(188, 60)}}, 2));
    EXPECT_TRUE(lateOff.sounds(4 * kBlock + 180, 4 * kBlock + 187));
    EXPECT_TRUE(lateOff.silent(4 * kBlock + 240));  // a release of about 1 ms

    // At the block's length a note starts in that block: its amplitude
    // envelope steps through it, as in one block twice as long.
    const Audio onTheEdge = play({{noteOn(kBlock, 60, 100)}, {}});
    plugin->sendEvents(std::vector{controlChange(0, 123, 0)});
    plugin->process(kBlock);
    plugin->sendEvents(std::vector{noteOn(kBlock, 60, 100)});
    plugin->process(2 * kBlock);
    Audio oneBlock;
    append(oneBlock);
    EXPECT_TRUE(onTheEdge.silent(0, kBlock));
    EXPECT_TRUE(onTheEdge.sounds(kBlock));
    EXPECT_EQ(onTheEdge, oneBlock);

    // Far in the future: a note waits, a note-off leaves its note sounding.
    EXPECT_TRUE(play({{noteOn(INT_MAX, 60, 100)}}, 3).silent());
    EXPECT_TRUE(play({{noteOn(0, 60, 100)}, {noteOff(INT_MAX, 60)}}, 3).sounds(3 * kBlock));
}

TEST_F(Events, NullOutputsAndNonPositiveBlocksAreHarmless) {
    std::vector<float> buffer(kBlock, 7.0f);
    float* oneMissing[] = {buffer.data(), nullptr};
    float* otherMissing[] = {nullptr, buffer.data()};
    auto* effect = plugin->effect();
    plugin->sendEvents(std::vector{noteOn(0, 60, 100)});
    effect->processReplacing(effect, nullptr, nullptr, kBlock);
    effect->processReplacing(effect, nullptr, oneMissing, kBlock);
    effect->processReplacing(effect, nullptr, otherMissing, kBlock);
    float* both[] = {buffer.data(), buffer.data() + kBlock / 2};
    for (int32_t frames : {0, -1, -kBlock, INT_MIN})
        effect->processReplacing(effect, nullptr, both, frames);
    for (float s : buffer)
        ASSERT_EQ(s, 7.0f);
    // The instance still plays afterwards.
    EXPECT_TRUE(play({{noteOn(0, 60, 100)}, {}}).sounds());
}

TEST_F(Events, AMillionFramesInOneCallMatchTheSameInBlocks) {
    constexpr int32_t kFrames = 1'000'000;
    const Audio blocked = play({{noteOn(0, 60, 100), noteOn(0, 72, 80)}}, kFrames / kBlock);

    plugin->sendEvents(std::vector{controlChange(0, 123, 0)});
    plugin->process(kBlock);
    plugin->sendEvents(std::vector{noteOn(0, 60, 100), noteOn(0, 72, 80)});
    plugin->process(kFrames);
    const auto l = plugin->output(0), r = plugin->output(1);
    const std::size_t n = static_cast<std::size_t>(kFrames);
    ASSERT_EQ(l.size(), n);
    ASSERT_GE(blocked.left.size(), n);
    ASSERT_TRUE(blocked.sounds());
    EXPECT_EQ(std::memcmp(l.data(), blocked.left.data(), n * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(r.data(), blocked.right.data(), n * sizeof(float)), 0);
}
