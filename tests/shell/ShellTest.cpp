// The rules every edition but the VST 2 one meets its host by, once: values,
// states, value text, velocities, blocks of any length, whole-sound switches
// and Update's press.
#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <thread>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/ValueText.h"
#include "engine/Midi.h"
#include "shell/Instrument.h"

namespace veltrosa {
namespace {

constexpr float kNan = std::numeric_limits<float>::quiet_NaN();

TEST(Shell, SetsAValueByOneRule) {
    const struct {
        int32_t index;
        double value;
        bool accepted;
        float stored;
    } cases[] = {
        {0, 0.25, true, 0.25f},          {kParamCutoff, -3.0, true, 0.0f}, {kParamCutoff, 7.0, true, 1.0f},
        {kParamVolume, 1e-50, true, 0.0f}, {1, std::nan(""), false, 1.0f},  {kNumParams, 0.5, false, 0.0f},
        {-1, 0.5, false, 0.0f},
    };
    shell::Instrument shell;
    for (const auto& c : cases) {
        EXPECT_EQ(shell.setValue(c.index, c.value), c.accepted) << c.index << " " << c.value;
        EXPECT_EQ(shell.value(c.index), c.stored) << c.index << " " << c.value;
    }
}

TEST(Shell, AStateIsOneStatesBytesWithEveryValueIn0To1) {
    const auto bytesWith = [](int32_t index, float value) {
        ParameterValues values = defaultValues();
        values[static_cast<std::size_t>(index)] = value;
        const StateBytes state = encodeState(values);
        return std::vector<unsigned char>(state.begin(), state.end());
    };
    std::vector<unsigned char> shorter = bytesWith(0, 0.5f), longer = shorter;
    shorter.pop_back();
    longer.push_back(0);
    const struct {
        const char* what;
        std::vector<unsigned char> bytes;
        bool ours;
    } cases[] = {
        {"a state", bytesWith(0, 0.5f), true},  {"-0", bytesWith(3, -0.0f), true},
        {"one byte short", shorter, false},     {"one byte long", longer, false},
        {"a NaN", bytesWith(5, kNan), false},   {"above 1", bytesWith(47, 1.0001f), false},
        {"below 0", bytesWith(40, -1e-30f), false}, {"nothing", {}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shell::Instrument::readState(c.bytes).has_value(), c.ours) << c.what;
    shell::Instrument shell;
    EXPECT_FALSE(shell.loadState(longer));
    EXPECT_EQ(shell.values(), defaultValues());
}

TEST(ValueText, WritesTheEditorsNumberAndReadsTypedNumbersBack) {
    const struct {
        double value;
        const char* text;
    } written[] = {{0.0, "0"}, {0.3125, "31"}, {0.999, "99"}, {1.0, "100"}, {0.155, "15"}};
    for (const auto& w : written) {
        char text[8];
        ASSERT_TRUE(formatValue(kParamVolume, w.value, text, sizeof text));
        EXPECT_STREQ(text, w.text);
    }
    char tiny[3];
    EXPECT_FALSE(formatValue(kParamVolume, 1.0, tiny, sizeof tiny));  // "100" needs four bytes
    EXPECT_FALSE(formatValue(kParamVolume, 1.5, tiny, sizeof tiny));
    EXPECT_FALSE(formatValue(kNumParams, 0.5, tiny, sizeof tiny));

    const struct {
        const char* text;
        std::optional<double> value;
    } read[] = {{"50.5", 0.505}, {" 7 ", 0.07f}, {"+3", 0.03f}, {"0", 0.0}, {"100", 1.0}, {"101", std::nullopt},
                {"-1", std::nullopt}, {"x", std::nullopt}, {"", std::nullopt}, {"nan", std::nullopt},
                {"5 5", std::nullopt}};
    for (const auto& r : read) {
        const auto value = parseValue(kParamCutoff, r.text);
        ASSERT_EQ(value.has_value(), r.value.has_value()) << r.text;
        if (value) {
            EXPECT_EQ(static_cast<float>(*value), static_cast<float>(*r.value)) << r.text;
        }
    }
    // Every whole number the editor shows reads back to a value it shows as that number.
    for (int n = 0; n <= 100; ++n) {
        const auto value = parseValue(0, std::to_string(n));
        ASSERT_TRUE(value);
        EXPECT_EQ(shownNumber(static_cast<float>(*value)), n);
    }
}

// A float velocity plays as the MIDI velocity beside it, never as a note-off.
TEST(Shell, PlaysAFloatVelocityAsItsMidiVelocity) {
    const struct {
        double velocity;
        uint8_t midi;
    } cases[] = {{0.0, 1}, {std::nan(""), 1}, {-2.0, 1}, {0.5, 64}, {1.0 / 127.0, 1}, {1.0, 127}, {3.0, 127}};
    for (const auto& c : cases) {
        phase::restart();
        shell::Instrument shell;
        ASSERT_TRUE(shell.prepare(44100.0, 256));
        shell.activate();
        const int32_t voice = shell.noteOn(60, c.velocity, 0);
        EXPECT_NE(voice, shell::Instrument::kNoVoice) << c.velocity;
        std::vector<float> l(256), r(256);
        shell.render(l.data(), r.data(), 256, [](const auto&) {});

        phase::restart();
        SynthEngine engine;
        playMidi(engine, 0x90, 60, c.midi, 0);
        std::vector<float> el(256), er(256);
        engine.render(el.data(), er.data(), 256);
        EXPECT_EQ(l, el) << c.velocity;
    }
    shell::Instrument shell;
    EXPECT_EQ(shell.noteOn(5, 1.0, 0), shell::Instrument::kNoVoice);  // no frequency below key 12
    EXPECT_EQ(shell.noteOn(128, 1.0, 0), shell::Instrument::kNoVoice);
}

// Pieces of the prepared size; each event in the piece of its frame, those
// outside the block at its nearest end.
TEST(Shell, SplitsALongBlockAndPlacesEachEventInItsPiece) {
    shell::Instrument shell;
    ASSERT_TRUE(shell.prepare(44100.0, 64));
    shell.activate();
    const int64_t times[] = {-5, 0, 63, 64, 130, 199, 500};
    struct Placed {
        int piece;
        int32_t offset;
        uint32_t frame;
        bool operator==(const Placed&) const = default;
    };
    std::vector<Placed> placed;
    std::vector<uint32_t> ends;
    int piece = 0;
    std::vector<float> l(200), r(200);
    shell.render(
        l.data(), r.data(), 200,
        [&](const auto& place) {
            for (const int64_t t : times)
                if (const auto at = place(t))
                    placed.push_back({piece, at->offset, at->frame});
        },
        [&](uint32_t last) {
            ends.push_back(last);
            ++piece;
        });
    const std::vector<Placed> expected = {{0, 0, 0},  {0, 0, 0},  {0, 63, 63}, {1, 0, 64},
                                          {2, 2, 130}, {3, 7, 199}, {3, 7, 199}};
    EXPECT_EQ(placed, expected);
    EXPECT_EQ(ends, (std::vector<uint32_t>{63, 127, 191, 199}));
}

// The voices keep the old sound until the new one's table comes, then take
// its values and its table together; values set meanwhile stay set.
TEST(Shell, ASwitchTakesValuesAndTableTogetherAndKeepsWhatWasSetMeanwhile) {
    shell::Instrument shell;
    ASSERT_TRUE(shell.start() && shell.prepare(44100.0, 64));
    shell.activate();
    ParameterValues sound = defaultValues();
    sound[0] = 0.0f;
    sound[kParamCutoff] = 0.75f;
    sound[kParamUpdate] = 1.0f;  // a sound presses nothing
    const uint32_t taken = shell.engine().valuesTaken();
    shell.switchTo(sound);
    EXPECT_FALSE(shell.switched());
    EXPECT_EQ(shell.value(kParamCutoff), 0.75f);  // read back at once
    EXPECT_EQ(shell.engine().param(kParamCutoff), defaultParam(kParamCutoff));  // not yet played
    EXPECT_TRUE(shell.setValue(kParamVolume, 0.5));
    EXPECT_EQ(shell.value(kParamVolume), 0.5f);
    std::vector<float> l(64), r(64);
    for (int b = 0; b < 2000 && !shell.switched(); ++b) {
        shell.render(l.data(), r.data(), 64, [](const auto&) {});
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(shell.switched());
    EXPECT_EQ(shell.engine().valuesTaken(), taken + 1);
    EXPECT_EQ(shell.engine().param(kParamCutoff), 0.75f);
    EXPECT_EQ(shell.engine().param(kParamVolume), 0.5f);
    EXPECT_EQ(shell.value(kParamUpdate), 0.0f);
    EXPECT_EQ(shell.engine().param(0), 0.0f);
}

// Update pressed and released before the builder looks still builds a table.
TEST(Shell, UpdatePressedAndReleasedAtOnceStillBuilds) {
    shell::Instrument shell;
    ASSERT_TRUE(shell.start() && shell.prepare(44100.0, 64));
    shell.activate();
    for (int round = 0; round < 20; ++round) {
        const uint32_t before = phase::current();
        shell.setValue(kParamUpdate, 1.0);
        shell.setValue(kParamUpdate, 0.0);
        shell.setOffline(true);  // a block then waits for what was asked
        std::vector<float> l(64), r(64);
        shell.render(l.data(), r.data(), 64, [](const auto&) {});
        EXPECT_NE(phase::current(), before) << round;
    }
}

}  // namespace
}  // namespace veltrosa
