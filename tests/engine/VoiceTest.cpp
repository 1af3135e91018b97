// Envelopes, readers and voices: timings, offsets, filter limits, velocity.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "EngineTestSupport.h"

using namespace engine_test;
using namespace veltrosa;

namespace {

int stepsUntil(EnvLevel env, const EnvRates& rates, EnvState until, int limit = 1000000) {
    for (int i = 1; i <= limit; ++i) {
        env.step(rates);
        if (env.state == until)
            return i;
    }
    return -1;
}

bool allZero(const std::vector<float>& v, std::size_t from, std::size_t to) {
    return std::all_of(v.begin() + static_cast<std::ptrdiff_t>(from), v.begin() + static_cast<std::ptrdiff_t>(to),
                       [](float x) { return x == 0.0f; });
}

float peakAbs(const std::vector<float>& v) {
    float p = 0.0f;
    for (float x : v)
        p = std::max(p, std::fabs(x));
    return p;
}

// The voice holding a sounding note, or -1.
int voiceOf(const SynthEngine& engine, int note) {
    for (int i = 0; i < SynthEngine::kNumVoices; ++i)
        if (engine.voice(i).active() && engine.voice(i).note() == note)
            return i;
    return -1;
}

}  // namespace

TEST(Envelope, TimingsAtTheirLimits) {
    Envelope env;
    env.setRates(0.0f, 0.0f, 0.5f, 0.0f, 44100.0);
    EXPECT_EQ(stepsUntil({EnvState::Attack, 0, 0.0f}, env.rates(), EnvState::Decay), 221);
    EXPECT_EQ(stepsUntil({EnvState::Fade, 0, 1.0f}, env.rates(), EnvState::Idle), 167);
    // Rates: 1 / ((v^2 + c) * 5 * rate), in double, stored as float.
    env.setRates(0.5f, 0.25f, 0.75f, 1.0f, 48000.0);
    const EnvRates r = env.rates();
    EXPECT_EQ(r.attack, static_cast<float>(1.0 / ((0.25 + static_cast<double>(0.001f)) * 5.0 * 48000.0)));
    EXPECT_EQ(r.decay, static_cast<float>(1.0 / ((0.0625 + static_cast<double>(0.005f)) * 5.0 * 48000.0)));
    EXPECT_EQ(r.sustain, 0.75f);
    EXPECT_EQ(r.release, static_cast<float>(1.0 / ((1.0 + static_cast<double>(0.0002f)) * 5.0 * 48000.0)));
}

TEST(Envelope, DecayStopsAtMostOneStepBelowSustainAndSustainHolds) {
    const EnvRates r{0.1f, 0.03f, 0.5f, 0.01f};
    EnvLevel env{EnvState::Decay, 0, 1.0f};
    while (env.state == EnvState::Decay)
        env.step(r);
    EXPECT_LE(env.level, 0.5f);
    EXPECT_GT(env.level, 0.5f - 0.03f - 1e-6f);
    const float held = env.level;
    for (int i = 0; i < 1000; ++i)
        env.step({0.1f, 0.03f, 0.9f, 0.01f});  // a later sustain change does not move it
    EXPECT_EQ(env.level, held);
}

TEST(Envelope, ReleaseDelayFollowsTheEventPosition) {
    // The level first falls on sample max(d - 1, 0) of the release.
    const struct { int delay, firstFall; } cases[] = {{0, 0}, {1, 0}, {2, 1}, {37, 36}, {511, 510}, {700, 699}};
    const EnvRates r{0.0f, 0.0f, 0.0f, 0.001f};
    for (const auto& c : cases) {
        EnvLevel env{EnvState::Release, c.delay, 0.8f};
        int first = -1;
        for (int i = 0; i < 1000 && first < 0; ++i) {
            env.step(r);
            if (env.level < 0.8f)
                first = i;
        }
        EXPECT_EQ(first, c.firstFall) << "delay " << c.delay;
    }
}

TEST(Voice, ALaterNoteOffReleasesLater) {
    SynthEngine engine;
    std::vector<float> l(512), r(512);
    float previous = -1.0f;
    for (int delay : {-5, 0, 1, 100, 400}) {
        engine.silenceAll();
        engine.noteOn(40, 220.0f, 100, 0);
        for (int b = 0; b < 200; ++b)  // well into sustain
            engine.render(l.data(), r.data(), 512);
        const int v = voiceOf(engine, 40);
        ASSERT_GE(v, 0);
        ASSERT_EQ(engine.voice(v).ampEnvelope().state, EnvState::Sustain);
        const float sustained = engine.voice(v).ampEnvelope().level;
        engine.noteOff(40, delay);
        engine.render(l.data(), r.data(), 512);
        const float level = engine.voice(v).ampEnvelope().level;
        const int falling = 512 - std::max(delay - 1, 0);
        EXPECT_NEAR(sustained - level, falling * engine.voice(v).ampRates().release, 1e-4f) << "delay " << delay;
        if (delay > 1) {
            EXPECT_GT(level, previous) << "delay " << delay;
        } else if (previous >= 0.0f) {
            EXPECT_EQ(level, previous) << "delay " << delay;
        }
        previous = level;
    }
}

TEST(Voice, StartOffsetSilencesTheSamplesBeforeIt) {
    for (int offset : {-7, 0, 1, 100, 255, 256}) {
        SynthEngine engine;
        engine.noteOn(50, 300.0f, 127, offset);
        const auto out = renderBlocks(engine, 512, 256);
        const auto o = static_cast<std::size_t>(std::max(offset, 0));
        EXPECT_TRUE(allZero(out.left, 0, o)) << "offset " << offset;
        EXPECT_TRUE(allZero(out.right, 0, o)) << "offset " << offset;
        EXPECT_FALSE(allZero(out.left, o, 512)) << "offset " << offset;
    }
}

TEST(Voice, NegativeOffsetPlaysLikeOffsetZero) {
    SynthEngine engine;
    engine.noteOn(50, 300.0f, 90, 0);
    const auto zero = renderBlocks(engine, 1024, 256);
    engine.silenceAll();
    engine.noteOn(50, 300.0f, 90, -1000);
    const auto negative = renderBlocks(engine, 1024, 256);
    EXPECT_EQ(zero.left, negative.left);
    EXPECT_EQ(zero.right, negative.right);
}

TEST(Voice, ANoteBeyondTheBlockWaitsStillForItsBlock) {
    SynthEngine engine;
    // Offset 600 in blocks of 256: two untouched blocks, then the note at 88.
    engine.noteOn(50, 300.0f, 100, 600);
    std::vector<float> l(256), r(256);
    std::vector<float> early;
    for (int b = 0; b < 2; ++b) {
        engine.render(l.data(), r.data(), 256);
        early.insert(early.end(), l.begin(), l.end());
        const int v = voiceOf(engine, 50);
        ASSERT_GE(v, 0);
        EXPECT_TRUE(engine.voice(v).startPending());
        EXPECT_EQ(engine.voice(v).ampEnvelope().level, 0.0f);
        EXPECT_EQ(engine.voice(v).filterEnvelope().level, 0.0f);
    }
    EXPECT_TRUE(allZero(early, 0, early.size()));
    const auto waited = renderBlocks(engine, 512, 256);
    // The same note sent with offset 88 just before that block sounds the same.
    engine.silenceAll();
    renderBlocks(engine, 512, 256);
    engine.noteOn(50, 300.0f, 100, 88);
    const auto direct = renderBlocks(engine, 512, 256);
    EXPECT_EQ(waited.left, direct.left);
    EXPECT_EQ(waited.right, direct.right);
    EXPECT_TRUE(allZero(direct.left, 0, 88));
}

TEST(Voice, ZeroSustainKeepsTheVoiceUntilReleased) {
    SynthEngine engine;
    engine.setParam(kParamAmpDecay, 0.0f);
    engine.setParam(kParamAmpSustain, 0.0f);
    engine.parameterChanged(kParamAmpSustain);
    engine.noteOn(60, 261.6f, 100, 0);
    const auto out = renderBlocks(engine, 44100, 512);
    const int v = voiceOf(engine, 60);
    ASSERT_GE(v, 0);
    EXPECT_EQ(engine.voice(v).ampEnvelope().state, EnvState::Sustain);
    EXPECT_LE(engine.voice(v).ampEnvelope().level, 0.0f);
    EXPECT_LT(std::fabs(out.left.back()), 1e-6f);
    engine.noteOff(60, 0);
    renderBlocks(engine, 512, 512);
    EXPECT_FALSE(engine.voice(v).active());
}

TEST(Voice, SmoothingCoefficientStaysSane) {
    const double pi9000 = 56548.66776461628 / 2.0;
    const struct {
        double rate;
        float expected;
    } cases[] = {
        {44100.0, static_cast<float>(pi9000 / 44100.0)},
        {96000.0, static_cast<float>(pi9000 / 96000.0)},
        {14200.0, static_cast<float>(pi9000 / 14200.0)},  // unchanged just above the limit
        {14000.0, static_cast<float>(1.0 - std::exp(-pi9000 / 14000.0))},
        {8000.0, static_cast<float>(1.0 - std::exp(-pi9000 / 8000.0))},
        {1.0, 1.0f},
    };
    for (const auto& c : cases) {
        const float coef = Voice::smoothingFor(c.rate);
        EXPECT_EQ(coef, c.expected) << c.rate;
        EXPECT_GT(coef, 0.0f);
        EXPECT_LT(coef, 2.0f);
    }
    for (double bad : {0.0, -44100.0, std::nan(""), HUGE_VAL})
        EXPECT_EQ(Voice::usableRate(bad), 44100.0);
    EXPECT_EQ(Voice::usableRate(22050.0), 22050.0);
}

TEST(Voice, LowAndOddSampleRatesStayBoundedAndInsideTheTable) {
    for (float rate : {22050.0f, 14137.0f, 12000.0f, 8000.0f, 100.0f, 1.0f, 0.0f, -48000.0f}) {
        SynthEngine engine;
        engine.setSampleRate(rate);
        engine.render(nullptr, nullptr, 0);
        for (int note : {0, 60, 127})
            engine.noteOn(note, 8.18f * std::pow(2.0f, static_cast<float>(note) / 12.0f), 127, 0);
        const auto out = renderBlocks(engine, 8192, 512);
        EXPECT_LT(peakAbs(out.left), 4.0f) << rate;
        EXPECT_TRUE(std::all_of(out.left.begin(), out.left.end(), [](float x) { return std::isfinite(x); }));
        for (int v = 0; v < SynthEngine::kNumVoices; ++v) {
            const float pos = engine.voice(v).oscillator(0).position;
            EXPECT_TRUE(pos >= 0.0f && pos < 65536.0f) << rate;
        }
    }
}

TEST(Voice, FilterAndVelocityLimits) {
    // Cut 0 with no envelope depth and no velocity term: the filter never opens.
    SynthEngine engine;
    for (auto [i, v] : {std::pair{kParamCutoff, 0.0f}, {kParamEnvDepth, 0.0f}, {kParamFilterVelocity, 0.0f}})
        engine.setParam(i, v);
    engine.noteOn(60, 261.6f, 100, 0);
    const auto closed = renderBlocks(engine, 4096, 512);
    EXPECT_TRUE(allZero(closed.left, 0, closed.left.size()));
    EXPECT_TRUE(allZero(closed.right, 0, closed.right.size()));

    // Amp Vel 0: velocity does nothing; Amp Vel 1: gain (v/127)^2.
    auto play = [](float ampVel, int velocity) {
        static SynthEngine shared;  // one table for every comparison
        shared.silenceAll();
        shared.setParam(kParamFilterVelocity, 0.0f);
        shared.setParam(kParamAmpVelocity, ampVel);
        shared.noteOn(60, 261.6f, velocity, 0);
        return renderBlocks(shared, 2048, 512);
    };
    EXPECT_EQ(play(0.0f, 127).left, play(0.0f, 20).left);
    const auto loud = play(1.0f, 127), soft = play(1.0f, 64);
    const float v = 64.0f * 0.007874016f;
    for (std::size_t i = 0; i < loud.left.size(); i += 97)
        EXPECT_NEAR(soft.left[i], loud.left[i] * v * v / (127.0f * 0.007874016f * 127.0f * 0.007874016f),
                    1e-6f + std::fabs(loud.left[i]) * 1e-4f);
}

TEST(Voice, RightChannelReadsHalfATableAhead) {
    SynthEngine engine;
    engine.noteOn(60, 261.6f, 100, 0);
    const int v = voiceOf(engine, 60);
    ASSERT_GE(v, 0);
    EXPECT_EQ(engine.voice(v).oscillator(0).position, 0.0f);
    EXPECT_EQ(engine.voice(v).oscillator(1).position, 32768.0f);
    EXPECT_EQ(engine.voice(v).oscillator(1).step, engine.voice(v).oscillator(0).step);
    const auto out = renderBlocks(engine, 2048, 512);
    EXPECT_NE(out.left, out.right);
}

// Every block, the readers' positions against their recurrence written out
// here (two steps a frame, one wrap at the table's end): blocks that cannot
// reach the end skip the test for it, and must still wrap when they do.
TEST(Voice, ReadersWrapAtTheTableEndInEveryBlockSize) {
    for (RenderPath path : {RenderPath::Scalar, SynthEngine::bestRenderPath()}) {
        for (int block : {1, 7, 64, 512}) {
            SynthEngine engine;
            ASSERT_TRUE(engine.setRenderPath(path));
            // Envelopes that hold at once: the blocks of a held note.
            for (int i : {kParamFilterAttack, kParamFilterDecay, kParamAmpAttack, kParamAmpDecay}) {
                engine.setParam(i, 0.0f);
                engine.parameterChanged(i);
            }
            engine.noteOn(127, 12543.85f, 100, 0);
            engine.noteOn(100, 2637.02f, 100, 0);
            float expected[2][2] = {};
            float steps[2] = {};
            int voices[2] = {};
            for (int k = 0; k < 2; ++k) {
                voices[k] = voiceOf(engine, k == 0 ? 127 : 100);
                ASSERT_GE(voices[k], 0);
                steps[k] = engine.voice(voices[k]).oscillator(0).step;
                expected[k][0] = 0.0f;
                expected[k][1] = 32768.0f;
            }
            std::vector<float> left(static_cast<std::size_t>(block)), right(left);
            int wraps = 0;
            for (int done = 0; done < 30000; done += block) {
                engine.render(left.data(), right.data(), block);
                for (int k = 0; k < 2; ++k) {
                    for (int c = 0; c < 2; ++c) {
                        float& p = expected[k][c];
                        for (int i = 0; i < 2 * block; ++i) {
                            p = p + steps[k];
                            if (p >= 65536.0f) {
                                p = p - 65536.0f;
                                ++wraps;
                            }
                        }
                        ASSERT_EQ(engine.voice(voices[k]).oscillator(c).position, p)
                            << "path " << static_cast<int>(path) << ", blocks of " << block << ", frame " << done;
                    }
                }
            }
            EXPECT_GT(wraps, 100);
        }
    }
}
