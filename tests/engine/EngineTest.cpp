// SynthEngine: construction, voice allocation, parameters and sample rate,
// rendering limits, recovery from non-finite values, and one whole note
// against a straightforward evaluation of the voice formulas; and the note
// table every edition plays MIDI keys by.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "EngineTestSupport.h"
#include "engine/DenormalGuard.h"
#include "engine/Midi.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace {
// The floating-point control bits the guard sets: MXCSR's flush-to-zero and
// denormals-are-zero, or FPCR's flush-to-zero.
#if defined(__SSE__)
#define VELTROSA_FLOAT_CONTROL 1
uint64_t floatControl() { return _mm_getcsr(); }
constexpr uint64_t kFlushBits = 0x8040u;
#elif defined(__aarch64__)
#define VELTROSA_FLOAT_CONTROL 1
uint64_t floatControl() { return veltrosa::DenormalGuard::fpcr(); }
constexpr uint64_t kFlushBits = veltrosa::DenormalGuard::kFlushToZero;
#endif
}  // namespace

using namespace engine_test;
using namespace veltrosa;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

int voiceOf(const SynthEngine& engine, int note) {
    for (int i = 0; i < SynthEngine::kNumVoices; ++i)
        if (engine.voice(i).note() == note && engine.voice(i).active())
            return i;
    return -1;
}

// Per-sample envelope rate for parameter value v, time constant c, rate sr.
float rateFor(float v, float c, double sr) {
    const auto dv = static_cast<double>(v);
    return static_cast<float>(1.0 / ((dv * dv + static_cast<double>(c)) * 5.0 * sr));
}

bool allFinite(const Stereo& s) {
    auto ok = [](float x) { return std::isfinite(x); };
    return std::all_of(s.left.begin(), s.left.end(), ok) && std::all_of(s.right.begin(), s.right.end(), ok);
}

float energy(const Stereo& s) {
    float e = 0.0f;
    for (float x : s.left)
        e += x * x;
    return e;
}

}  // namespace

TEST(SynthEngine, StartsAt44100WithRatesAndATable) {
    SynthEngine engine;
    EXPECT_EQ(engine.getSampleRate(), 44100.0);
    EXPECT_EQ(engine.reservedVoice(), 0);
    EXPECT_EQ(engine.noteCounter(), 1);
    EXPECT_EQ(engine.scratchCapacity(), 1);
    EXPECT_FALSE(engine.wavetable().pending());
    ASSERT_NE(engine.table(), nullptr);
    EXPECT_EQ(engine.param(kParamUpdate), 0.0f);
    const float a = defaultParam(kParamAmpAttack);
    const float expectedAttack = rateFor(a, 0.001f, 44100.0);
    for (int v = 0; v < SynthEngine::kNumVoices; ++v) {
        EXPECT_FALSE(engine.voice(v).active());
        EXPECT_EQ(engine.voice(v).ampRates().attack, expectedAttack);
        EXPECT_EQ(engine.voice(v).filterRates().sustain, defaultParam(kParamFilterSustain));
    }
}

TEST(SynthEngine, EightOverlappingNotesThenTheNinth) {
    SynthEngine engine;
    const int expected[] = {1, 2, 3, 4, 5, 6, 7, 0};
    for (int i = 0; i < 8; ++i) {
        engine.noteOn(40 + i, 200.0f, 100, 0);
        EXPECT_EQ(voiceOf(engine, 40 + i), expected[i]) << "note " << i;
    }
    // The eighth note stole: the first note's voice fades and is now reserved.
    EXPECT_EQ(engine.reservedVoice(), 1);
    EXPECT_TRUE(engine.voice(1).releasing());
    EXPECT_EQ(engine.voice(1).ampEnvelope().state, EnvState::Fade);
    engine.noteOn(60, 200.0f, 100, 0);
    EXPECT_EQ(voiceOf(engine, 60), 1);
    EXPECT_EQ(engine.reservedVoice(), 2);  // the oldest held note now fades
    EXPECT_EQ(engine.noteCounter(), 10);
}

TEST(SynthEngine, AReleasedVoiceIsStolenBeforeAHeldOne) {
    SynthEngine engine;
    for (int i = 0; i < 7; ++i)
        engine.noteOn(40 + i, 200.0f, 100, 0);  // voices 1..7
    engine.noteOff(45, 0);                      // voice 6
    engine.noteOff(43, 0);                      // voice 4: the older of the two released
    engine.noteOn(60, 200.0f, 100, 0);
    EXPECT_EQ(voiceOf(engine, 60), 0);
    EXPECT_EQ(engine.reservedVoice(), 4);
    EXPECT_EQ(engine.voice(4).ampEnvelope().state, EnvState::Fade);
    EXPECT_EQ(engine.voice(1).ampEnvelope().state, EnvState::Attack);  // oldest held note untouched
}

TEST(SynthEngine, NoteOffReleasesEveryVoiceWithThatNote) {
    SynthEngine engine;
    engine.noteOn(50, 200.0f, 100, 0);
    engine.noteOn(50, 200.0f, 100, 0);
    engine.noteOn(51, 210.0f, 100, 0);
    engine.noteOff(50, 3);
    for (int v : {1, 2}) {
        EXPECT_TRUE(engine.voice(v).releasing());
        EXPECT_EQ(engine.voice(v).ampEnvelope().state, EnvState::Release);
        EXPECT_EQ(engine.voice(v).filterEnvelope().state, EnvState::Release);
        EXPECT_EQ(engine.voice(v).ampEnvelope().releaseDelay, 3);
    }
    EXPECT_FALSE(engine.voice(3).releasing());
}

TEST(SynthEngine, StealingKeepsWorkingAcrossTheAgeBound) {
    // The same pattern of notes from a fresh count and from one just short of
    // the bound (and from one that wrapped) picks the same voices.
    auto pattern = [](int32_t startCount) {
        SynthEngine engine;
        engine.setNoteCounter(startCount);
        std::vector<int> choices;
        std::vector<float> l(64), r(64);
        for (int i = 0; i < 60; ++i) {
            const int note = 30 + i;
            engine.noteOn(note, 100.0f + i, 100, 0);
            choices.push_back(voiceOf(engine, note));
            if (i % 3 == 0)
                engine.noteOff(note - 2, 0);
            engine.render(l.data(), r.data(), 64);
            EXPECT_LT(engine.noteCounter(), SynthEngine::kAgeBound);
            for (int v = 0; v < SynthEngine::kNumVoices; ++v)
                EXPECT_LT(engine.voice(v).age(), SynthEngine::kAgeBound);
        }
        return choices;
    };
    const auto fresh = pattern(1);
    EXPECT_EQ(pattern(SynthEngine::kAgeBound - 20), fresh);
    EXPECT_EQ(pattern(std::numeric_limits<int32_t>::max()), fresh);
    EXPECT_EQ(pattern(std::numeric_limits<int32_t>::min()), fresh);
    EXPECT_TRUE(std::none_of(fresh.begin(), fresh.end(), [](int v) { return v < 0; }));
}

TEST(SynthEngine, UpdateFiresAboveNineTenthsOnly) {
    SynthEngine engine;
    const struct {
        float value;
        bool regenerates;
        float readBack;
    } cases[] = {
        {0.9f, false, 0.9f}, {0.91f, true, 0.0f}, {0.5f, false, 0.5f}, {1.0f, true, 0.0f}, {kNaN, false, kNaN}};
    for (const auto& c : cases) {
        engine.render(nullptr, nullptr, 0);
        const uint32_t before = phase::current();
        engine.setParam(kParamUpdate, c.value);
        engine.parameterChanged(kParamUpdate);
        EXPECT_EQ(engine.wavetable().pending(), c.regenerates) << c.value;
        EXPECT_EQ(phase::current() != before, c.regenerates) << c.value;
        if (std::isnan(c.readBack))
            EXPECT_TRUE(std::isnan(engine.param(kParamUpdate)));
        else
            EXPECT_EQ(engine.param(kParamUpdate), c.readBack) << c.value;
    }
    // Everything changed (a loaded chunk): regenerates and resets Update.
    engine.setParam(kParamUpdate, 0.5f);
    engine.parameterChanged(kAllParametersChanged);
    EXPECT_TRUE(engine.wavetable().pending());
    EXPECT_EQ(engine.param(kParamUpdate), 0.0f);
}

TEST(SynthEngine, SampleRateChangesRegenerateAndRecomputeRates) {
    SynthEngine engine;
    const struct {
        double rate;
        bool regenerates;
        double ratesAt;
    } cases[] = {{44100.0, false, 44100.0},     {48000.0, true, 48000.0},      {48000.0, false, 48000.0},
                 {std::nan(""), true, 44100.0}, {std::nan(""), true, 44100.0}, {96000.0, true, 96000.0},
                 {-1.0, true, 44100.0}};
    for (const auto& c : cases) {
        engine.render(nullptr, nullptr, 0);
        engine.setSampleRate(c.rate);
        EXPECT_EQ(engine.wavetable().pending(), c.regenerates) << c.rate;
        const float r = defaultParam(kParamAmpRelease);
        const float expected = rateFor(r, 0.0002f, c.ratesAt);
        EXPECT_EQ(engine.voice(3).ampRates().release, expected) << c.rate;
    }
    EXPECT_EQ(engine.getSampleRate(), -1.0);  // stored as given
}

TEST(SynthEngine, OnlyTheChangedEnvelopeIsRecomputed) {
    SynthEngine engine;
    const EnvRates amp = engine.voice(0).ampRates(), filter = engine.voice(0).filterRates();
    engine.setParam(kParamAmpSustain, 0.25f);
    engine.setParam(kParamFilterSustain, 0.75f);
    engine.parameterChanged(kParamAmpSustain);
    EXPECT_EQ(engine.voice(7).ampRates().sustain, 0.25f);
    EXPECT_EQ(engine.voice(7).filterRates().sustain, filter.sustain);
    engine.parameterChanged(kParamFilterAttack);
    EXPECT_EQ(engine.voice(7).filterRates().sustain, 0.75f);
    EXPECT_EQ(engine.voice(7).ampRates().attack, amp.attack);
}

TEST(SynthEngine, ScratchGrowsToExactlyTheLongestBlock) {
    SynthEngine engine;
    engine.noteOn(60, 261.6f, 100, 0);
    std::vector<float> l(5000), r(5000);
    const struct {
        int n, capacity;
    } steps[] = {{300, 300}, {100, 300}, {300, 300}, {4097, 4097}, {0, 4097}, {-20, 4097}, {512, 4097}};
    for (const auto& s : steps) {
        engine.render(l.data(), r.data(), s.n);
        EXPECT_EQ(engine.scratchCapacity(), s.capacity) << s.n;
    }
}

TEST(SynthEngine, EmptyOrNegativeBlocksWriteNothingAndMoveNothing) {
    SynthEngine engine;
    engine.noteOn(60, 261.6f, 100, 700);
    std::vector<float> l(16, 7.0f), r(16, 7.0f);
    regenerate(engine);
    engine.setParam(kParamUpdate, 1.0f);
    engine.parameterChanged(kParamUpdate);
    for (int n : {0, -1, std::numeric_limits<int32_t>::min()}) {
        engine.render(l.data(), r.data(), n);
        EXPECT_FALSE(engine.wavetable().pending());  // still adopted
        EXPECT_EQ(engine.voice(1).startOffset(), 700);
        EXPECT_TRUE(engine.voice(1).startPending());
    }
    EXPECT_TRUE(std::all_of(l.begin(), l.end(), [](float x) { return x == 7.0f; }));
    EXPECT_TRUE(std::all_of(r.begin(), r.end(), [](float x) { return x == 7.0f; }));
}

TEST(SynthEngine, OutputsAreReplacedAndSilentWithoutVoices) {
    SynthEngine engine;
    std::vector<float> l(512, 3.0f), r(512, -3.0f);
    engine.render(l.data(), r.data(), 512);
    EXPECT_TRUE(std::all_of(l.begin(), l.end(), [](float x) { return x == 0.0f; }));
    EXPECT_TRUE(std::all_of(r.begin(), r.end(), [](float x) { return x == 0.0f; }));
    engine.noteOn(60, 261.6f, 100, 0);
    engine.render(l.data(), r.data(), 512);
    engine.silenceAll();
    std::fill(l.begin(), l.end(), 3.0f);
    engine.render(l.data(), r.data(), 512);
    EXPECT_TRUE(std::all_of(l.begin(), l.end(), [](float x) { return x == 0.0f; }));
}

TEST(SynthEngine, NonFiniteParametersNeverReachTheHostAndTheVoicesRecover) {
    const int indices[] = {kParamEnvDepth,      kParamCutoff,       kParamResonance,    kParamFilterVelocity,
                           kParamAmpVelocity,   kParamVolume,       kParamAmpAttack,    kParamAmpDecay,
                           kParamAmpSustain,    kParamAmpRelease,   kParamFilterAttack, kParamFilterDecay,
                           kParamFilterSustain, kParamFilterRelease};
    for (int index : indices) {
        for (float bad : {kNaN, kInf, -kInf, 1e30f, -1e30f}) {
            SynthEngine engine;
            for (int n = 0; n < 4; ++n)
                engine.noteOn(50 + n, 150.0f + 40.0f * n, 100, n * 10);
            renderBlocks(engine, 1024, 512);
            engine.setParam(index, bad);
            engine.parameterChanged(index);
            engine.noteOn(70, 500.0f, 100, 0);
            const auto broken = renderBlocks(engine, 8192, 512);
            EXPECT_TRUE(allFinite(broken)) << index << " = " << bad;
            // Back to a sane value: every voice ends after its note-off, and a
            // new note sounds again.
            engine.setParam(index, defaultParam(index));
            engine.parameterChanged(index);
            for (int n : {50, 51, 52, 53, 70})
                engine.noteOff(n, 0);
            for (int b = 0; b < 300 && voiceOf(engine, 50) + voiceOf(engine, 51) + voiceOf(engine, 52) +
                                               voiceOf(engine, 53) + voiceOf(engine, 70) >
                                           -5;
                 ++b)
                EXPECT_TRUE(allFinite(renderBlocks(engine, 512, 512)));
            for (int v = 0; v < SynthEngine::kNumVoices; ++v)
                EXPECT_FALSE(engine.voice(v).active()) << index << " = " << bad << " voice " << v;
            engine.noteOn(60, 261.6f, 100, 0);
            const auto again = renderBlocks(engine, 4096, 512);
            EXPECT_TRUE(allFinite(again));
            EXPECT_GT(energy(again), 1e-6f) << index << " = " << bad;
        }
    }
}

TEST(SynthEngine, RenderRestoresTheCallersFloatingPointState) {
#ifdef VELTROSA_FLOAT_CONTROL
    SynthEngine engine;
    engine.noteOn(60, 261.6f, 100, 0);
    std::vector<float> l(256), r(256);
    const uint64_t before = floatControl();
    ASSERT_EQ(before & kFlushBits, 0u);
    engine.render(l.data(), r.data(), 256);
    EXPECT_EQ(floatControl(), before);
    {
        const DenormalGuard guard;
        volatile float tiny = 1e-30f;
        volatile float product = tiny * 1e-10f;  // a denormal without the guard
        EXPECT_EQ(product, 0.0f);
        EXPECT_EQ(floatControl() & kFlushBits, kFlushBits);
    }
    EXPECT_EQ(floatControl(), before);
#else
    GTEST_SKIP() << "no known floating-point control register on this target";
#endif
}

// ---------------------------------------------------------------------------
// One whole note, compared sample by sample with the formulas evaluated one
// sample at a time in the plainest way: exact equality, since both perform the
// same single-precision operations in the same order.

namespace {

struct PlainEnvelope {
    int state = 1;  // 0 idle, 1 attack, 2 decay, 3 sustain, 4 release
    float level = 0.0f;
    int delay = 0;
    float attack, decay, sustain, release;

    PlainEnvelope(float a, float d, float s, float r, double sr)
        : attack(rateFor(a, 0.001f, sr)), decay(rateFor(d, 0.005f, sr)), sustain(s), release(rateFor(r, 0.0002f, sr)) {}

    void step() {
        if (state == 1) {
            level += attack;
            if (level >= 1.0f) {
                level = 1.0f;
                state = 2;
            }
        } else if (state == 2) {
            level -= decay;
            if (sustain >= level)
                state = 3;
        } else if (state == 4) {
            if (delay > 0)
                delay -= 1;
            if (delay == 0) {
                level -= release;
                if (level <= 0.0f) {
                    level = 0.0f;
                    state = 0;
                }
            }
        }
    }
};

struct PlainReader {
    float position, step, coef;
    float stage[4] = {0.0f, 0.0f, 0.0f, 0.0f};

    float next(const float* t) {
        float out = 0.0f;
        for (int twice = 0; twice < 2; ++twice) {
            const int k = static_cast<int>(std::floor(position));
            const float frac = position - static_cast<float>(k);
            float in = t[k] + frac * (t[k + 1] - t[k]);
            for (float& s : stage) {
                s = (in - s) * coef + s;
                in = s;
            }
            out += stage[3];
            position += step;
            if (position >= 65536.0f)
                position -= 65536.0f;
        }
        return out;
    }
};

}  // namespace

TEST(SynthEngine, AWholeNoteMatchesAPlainEvaluationExactly) {
    SynthEngine engine;
    const std::pair<int, float> settings[] = {
        {kParamFilterAttack, 0.05f},  {kParamFilterDecay, 0.1f},    {kParamFilterSustain, 0.3f},
        {kParamFilterRelease, 0.02f}, {kParamEnvDepth, 0.6f},       {kParamCutoff, 0.2f},
        {kParamResonance, 0.7f},      {kParamFilterVelocity, 0.4f}, {kParamAmpAttack, 0.02f},
        {kParamAmpDecay, 0.05f},      {kParamAmpSustain, 0.6f},     {kParamAmpRelease, 0.01f},
        {kParamAmpVelocity, 0.3f},    {kParamVolume, 0.5f}};
    for (const auto& [i, v] : settings)
        engine.setParam(i, v);
    engine.setSampleRate(32000.0);
    engine.render(nullptr, nullptr, 0);
    const double sr = 32000.0;
    const float frequency = 220.0f;
    const int velocity = 100, start = 100, block = 256, offAt = 2 * block, offDelay = 37, frames = 6 * block;

    engine.noteOn(45, frequency, velocity, start);
    Stereo out;
    std::vector<float> l(block), r(block);
    for (int b = 0; b * block < frames; ++b) {
        if (b * block == offAt)
            engine.noteOff(45, offDelay);
        engine.render(l.data(), r.data(), block);
        out.left.insert(out.left.end(), l.begin(), l.end());
        out.right.insert(out.right.end(), r.begin(), r.end());
    }
    EXPECT_EQ(voiceOf(engine, 45), -1);  // released and gone

    // The plain evaluation.
    const float* t = engine.table();
    auto p = [&](int i) { return engine.param(i); };
    const float v = static_cast<float>(velocity) * 0.007874016f, v2 = v * v;
    const float step = static_cast<float>(static_cast<double>(256.0f * frequency) / sr);
    const auto coef = static_cast<float>(56548.66776461628 / (2.0 * sr));
    PlainReader left{0.0f, step, coef}, right{32768.0f, step, coef};
    PlainEnvelope ampEnv(p(42), p(43), p(44), p(45), sr), filterEnv(p(34), p(35), p(36), p(37), sr);
    float lowL = 0, bandL = 0, lowR = 0, bandR = 0;
    for (int g = 0; g < frames; ++g) {
        if (g == offAt) {
            ampEnv.state = filterEnv.state = 4;
            ampEnv.delay = filterEnv.delay = offDelay;
        }
        float sl = 0.0f, sr2 = 0.0f;
        if (g >= start) {
            sl = left.next(t);
            sr2 = right.next(t);
            const float damping = 1.1f - p(40);
            filterEnv.step();
            const float e = filterEnv.level;
            const float x = p(38) * (e * e) + p(39);
            float f = 1.0f - (x - 1.0f) * (x - 1.0f);
            f = f + (f * v2 - f) * p(41);
            lowL = lowL + f * bandL;
            const float highL = sl - lowL - damping * bandL;
            bandL = bandL + f * highL;
            lowR = lowR + f * bandR;
            const float highR = sr2 - lowR - damping * bandR;
            bandR = bandR + f * highR;
            sl = lowL + (lowL * v2 - lowL) * p(46);
            sr2 = lowR + (lowR * v2 - lowR) * p(46);
            sl = sl * p(47);
            sr2 = sr2 * p(47);
        }
        ampEnv.step();  // from the start of the note's block, which is block 0
        const float gain = ampEnv.level * ampEnv.level;
        sl *= gain;
        sr2 *= gain;
        ASSERT_EQ(out.left[static_cast<std::size_t>(g)], sl) << "left sample " << g;
        ASSERT_EQ(out.right[static_cast<std::size_t>(g)], sr2) << "right sample " << g;
    }
    EXPECT_EQ(ampEnv.state, 0);
    EXPECT_GT(energy(out), 1e-4f);
}

TEST(Midi, NoteFrequencyTable) {
    const auto& table = veltrosa::noteFrequencyTable();
    EXPECT_EQ(table[69], 440.0f);
    EXPECT_EQ(table[57], 220.0f);
    EXPECT_EQ(table[81], 880.0f);
    EXPECT_FLOAT_EQ(table[0], 8.175799f);
    EXPECT_FLOAT_EQ(table[60], 261.62558f);
    EXPECT_FLOAT_EQ(table[127], 12543.854f);
}
