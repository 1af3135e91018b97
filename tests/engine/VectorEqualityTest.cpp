// The vector render paths against the scalar voice: the same events and
// parameters on engines that play the very same table must give the same
// output bits on every path, block after block, and leave the voices in the
// same state.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>

#include "EngineTestSupport.h"

using namespace engine_test;
using namespace veltrosa;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

const char* nameOf(RenderPath path) {
    switch (path) {
    case RenderPath::Scalar:
        return "scalar";
    case RenderPath::Sse2:
        return "SSE2";
    case RenderPath::Avx2:
        return "AVX2";
    case RenderPath::Avx512:
        return "AVX512";
    case RenderPath::Simd128:
        return "SIMD128";
    case RenderPath::Neon:
        return "NEON";
    }
    return "?";
}

// A vector path and, on the paths that have a choice, how it reads the table.
struct Way {
    RenderPath path;
    TableRead read;
};

void PrintTo(const Way& way, std::ostream* os) {
    *os << nameOf(way.path) << (way.read == TableRead::Pairs ? " pairs" : " gathers");
}

float frequencyOf(int key) { return 8.175799f * std::pow(2.0f, static_cast<float>(key) / 12.0f); }

// One engine per path, all fed alike; block() compares every sample.
class Rig {
public:
    explicit Rig(Way way) {
        engines_[0] = std::make_unique<SynthEngine>();
        engines_[1] = std::make_unique<SynthEngine>();
        EXPECT_TRUE(engines_[0]->setRenderPath(RenderPath::Scalar));
        EXPECT_TRUE(engines_[1]->setRenderPath(way.path));
        engines_[1]->setTableRead(way.read);
        shareTable();
    }

    template <class F>
    void each(F f) {
        for (auto& e : engines_)
            f(*e);
    }
    void noteOn(int key, int velocity, int offset) {
        each([&](SynthEngine& e) { e.noteOn(key, frequencyOf(key), velocity, offset); });
    }
    void noteOff(int key, int delay) {
        each([&](SynthEngine& e) { e.noteOff(key, delay); });
    }
    void silenceAll() {
        each([](SynthEngine& e) { e.silenceAll(); });
    }
    void set(int index, float value) {
        each([&](SynthEngine& e) {
            e.setParam(index, value);
            e.parameterChanged(index);
        });
    }
    void setSampleRate(double rate) {
        each([&](SynthEngine& e) { e.setSampleRate(rate); });
        shareTable();  // a new rate regenerated each engine's table
    }

    // Renders n frames on every engine; false (with a message) at the first
    // sample or voice whose bits differ from the scalar engine's.
    ::testing::AssertionResult block(int n) {
        ++blocks_;
        for (int c = 0; c < 2; ++c) {
            out_[c][0].assign(static_cast<std::size_t>(n), 1.0f);
            out_[c][1].assign(static_cast<std::size_t>(n), -1.0f);
        }
        for (int k = 0; k < 2; ++k)
            engines_[k]->render(out_[0][k].data(), out_[1][k].data(), n);
        for (int c = 0; c < 2; ++c) {
            const auto& want = out_[c][0];
            const auto& got = out_[c][1];
            if (std::memcmp(want.data(), got.data(), want.size() * sizeof(float)) == 0)
                continue;
            std::size_t i = 0;
            while (std::bit_cast<uint32_t>(want[i]) == std::bit_cast<uint32_t>(got[i]))
                ++i;
            return ::testing::AssertionFailure()
                   << nameOf(engines_[1]->renderPath()) << " block " << blocks_ << " (n " << n << ") channel " << c
                   << " frame " << i << ": " << got[i] << " instead of " << want[i];
        }
        // Inspecting a voice takes its state back from its lane: on most
        // blocks the voices stay there, as they do when nobody looks.
        if (blocks_ % 3 != 0)
            return ::testing::AssertionSuccess();
        for (int v = 0; v < SynthEngine::kNumVoices; ++v)
            if (const std::string d = voiceDifference(engines_[0]->voice(v), engines_[1]->voice(v)); !d.empty())
                return ::testing::AssertionFailure()
                       << nameOf(engines_[1]->renderPath()) << " block " << blocks_ << " voice " << v << ": " << d;
        return ::testing::AssertionSuccess();
    }

    const SynthEngine& scalar() const { return *engines_[0]; }
    // The voices sounding on the scalar engine, voice v as bit v.
    uint32_t sounding() const {
        uint32_t mask = 0;
        for (int v = 0; v < SynthEngine::kNumVoices; ++v)
            mask |= engines_[0]->voice(v).active() ? 1u << v : 0u;
        return mask;
    }
    const std::vector<float>& lastLeft() const { return out_[0][0]; }

private:
    void shareTable() {
        engines_[0]->render(nullptr, nullptr, 0);
        const std::vector<float> table = copyTable(engines_[0]->table());
        ASSERT_TRUE(engines_[1]->wavetable().publish(table.data()));
        engines_[1]->render(nullptr, nullptr, 0);
        ASSERT_EQ(std::memcmp(engines_[1]->table(), table.data(), table.size() * sizeof(float)), 0);
    }

    static std::string voiceDifference(const Voice& a, const Voice& b) {
        // Runaway state stays until the next block resets it; a NaN's payload
        // never reaches a sample.
        auto same = [](float x, float y) {
            return std::bit_cast<uint32_t>(x) == std::bit_cast<uint32_t>(y) || (std::isnan(x) && std::isnan(y));
        };
        if (a.active() != b.active() || a.startPending() != b.startPending() || a.startOffset() != b.startOffset())
            return "activity or start differs";
        if (!a.active())
            return {};
        const std::pair<EnvLevel, EnvLevel> envelopes[] = {{a.ampEnvelope(), b.ampEnvelope()},
                                                           {a.filterEnvelope(), b.filterEnvelope()}};
        for (const auto& [x, y] : envelopes) {
            if (x.state != y.state || x.releaseDelay != y.releaseDelay || !same(x.level, y.level))
                return "envelope differs";
        }
        for (int c = 0; c < 2; ++c) {
            const Oscillator& x = a.oscillator(c);
            const Oscillator& y = b.oscillator(c);
            if (!same(x.position, y.position) || !same(x.out, y.out) || !same(x.s1, y.s1) || !same(x.s2, y.s2) ||
                !same(x.s3, y.s3))
                return "reader differs";
        }
        return {};
    }

    std::unique_ptr<SynthEngine> engines_[2];
    std::vector<float> out_[2][2];  // [channel][engine]
    int blocks_ = 0;
};

// Every table read is forced on the paths that have them, whatever this
// processor would pick, so that each is compared here.
std::vector<Way> vectorPaths() {
    std::vector<Way> ways;
    for (RenderPath p : {RenderPath::Sse2, RenderPath::Avx2, RenderPath::Avx512, RenderPath::Neon}) {
        if (!SynthEngine::renderPathAvailable(p))
            continue;
        ways.push_back({p, TableRead::Gather});
        if (p == RenderPath::Avx2 || p == RenderPath::Avx512)
            ways.push_back({p, TableRead::Pairs});
    }
    return ways;
}

class VectorEquality : public ::testing::TestWithParam<Way> {};

std::string pathName(const ::testing::TestParamInfo<Way>& info) {
    if (info.param.path == RenderPath::Sse2 || info.param.path == RenderPath::Neon)
        return nameOf(info.param.path);
    return std::string(nameOf(info.param.path)) + (info.param.read == TableRead::Pairs ? "_pairs" : "_gathers");
}

}  // namespace

TEST(RenderPath, ScalarAlwaysAndTheBestPathAreAvailable) {
    SynthEngine engine;
    EXPECT_EQ(engine.renderPath(), SynthEngine::bestRenderPath());
    EXPECT_TRUE(SynthEngine::renderPathAvailable(RenderPath::Scalar));
    EXPECT_TRUE(SynthEngine::renderPathAvailable(SynthEngine::bestRenderPath()));
#if defined(__x86_64__) || defined(__i386__)
    EXPECT_TRUE(SynthEngine::renderPathAvailable(RenderPath::Sse2));  // every build we ship assumes SSE2
    EXPECT_EQ(SynthEngine::renderPathAvailable(RenderPath::Avx2), __builtin_cpu_supports("avx2") != 0);
#endif
#if defined(__x86_64__)  // libgcc also checks that the system saves the AVX-512 state
    EXPECT_EQ(SynthEngine::renderPathAvailable(RenderPath::Avx512),
              __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl"));
#endif
#if defined(__aarch64__)  // every 64-bit ARM processor has NEON, and nothing x86 runs there
    EXPECT_EQ(SynthEngine::bestRenderPath(), RenderPath::Neon);
    EXPECT_FALSE(SynthEngine::renderPathAvailable(RenderPath::Sse2));
#else
    EXPECT_FALSE(SynthEngine::renderPathAvailable(RenderPath::Neon));
#endif
    for (RenderPath p : {RenderPath::Scalar, RenderPath::Sse2, RenderPath::Avx2, RenderPath::Avx512,
                         RenderPath::Simd128, RenderPath::Neon}) {
        const bool available = SynthEngine::renderPathAvailable(p);
        const RenderPath before = engine.renderPath();
        EXPECT_EQ(engine.setRenderPath(p), available);
        EXPECT_EQ(engine.renderPath(), available ? p : before);
    }
}

// Hand-written: every situation by name, in blocks of 1, 7, 512 and 4096.
TEST_P(VectorEquality, ScriptedSituationsInEveryBlockSize) {
    for (int n : {1, 7, 512, 4096}) {
        SCOPED_TRACE("block size " + std::to_string(n));
        Rig rig(GetParam());
        rig.set(kParamAmpAttack, 0.05f);
        rig.set(kParamFilterAttack, 0.03f);
        rig.set(kParamEnvDepth, 0.8f);
        // Notes at the start, inside the block and beyond it.
        rig.noteOn(60, 100, 0);
        rig.noteOn(64, 90, n / 2);
        rig.noteOn(67, 127, n - 1);
        rig.noteOn(71, 30, n);
        rig.noteOn(72, 64, n + 3);
        rig.noteOn(48, 1, 3 * n + 5);
        for (int b = 0; b < 4; ++b)
            ASSERT_TRUE(rig.block(n));
        // Releases with delays of 0, 1, inside and beyond the block.
        rig.noteOff(60, 0);
        rig.noteOff(64, 1);
        rig.noteOff(67, n / 3 + 2);
        rig.noteOff(71, 2 * n + 9);
        for (int b = 0; b < 6; ++b)
            ASSERT_TRUE(rig.block(n));
        // Steals: more notes than voices, some fading, one released while fading.
        for (int k = 0; k < 12; ++k)
            rig.noteOn(40 + 3 * k, 20 + 9 * k, (k * 5) % (n + 1));
        ASSERT_TRUE(rig.block(n));
        rig.noteOff(43, 2);
        for (int b = 0; b < 4; ++b)
            ASSERT_TRUE(rig.block(n));
        // Per-block parameters, then envelope parameters, to NaN and back.
        rig.set(kParamCutoff, kNaN);
        rig.set(kParamResonance, 1.0f);
        ASSERT_TRUE(rig.block(n));
        rig.set(kParamCutoff, 0.3f);
        rig.set(kParamVolume, kInf);
        ASSERT_TRUE(rig.block(n));
        rig.set(kParamVolume, 3.0e38f);  // each voice finite, their sum overflowing
        ASSERT_TRUE(rig.block(n));
        rig.set(kParamVolume, 0.5f);
        rig.set(kParamAmpDecay, kNaN);
        rig.set(kParamFilterSustain, -kInf);
        for (int b = 0; b < 3; ++b)
            ASSERT_TRUE(rig.block(n));
        rig.set(kParamAmpDecay, 0.2f);
        rig.set(kParamFilterSustain, 0.4f);
        rig.set(kParamAmpVelocity, 1.0f);
        rig.set(kParamFilterVelocity, 1.0f);
        for (int b = 0; b < 3; ++b)
            ASSERT_TRUE(rig.block(n));
        // Silence, then a fresh start on a different rate.
        rig.silenceAll();
        ASSERT_TRUE(rig.block(n));
        rig.setSampleRate(96000.0);
        rig.noteOn(50, 80, 2);
        rig.noteOn(57, 80, 0);
        for (int b = 0; b < 3; ++b)
            ASSERT_TRUE(rig.block(n));
        rig.noteOff(50, 0);
        rig.noteOff(57, 0);
        for (int b = 0; b < 4; ++b)
            ASSERT_TRUE(rig.block(n));
    }
}

// Random events, parameters and block lengths over a long stretch.
TEST_P(VectorEquality, LongRandomScenarios) {
    struct Case {
        unsigned seed;
        double rate;
        int maxBlock;
        int frames;
    };
    const Case cases[] = {
        {1, 44100.0, 600, 400000}, {2, 48000.0, 64, 120000}, {3, 22050.0, 4096, 400000},
        {4, 8000.0, 300, 120000},  {5, 96000.0, 9, 30000},
    };
    const int special[] = {1, 7, 512, 4096};
    for (const Case& c : cases) {
        SCOPED_TRACE("seed " + std::to_string(c.seed));
        Rig rig(GetParam());
        rig.setSampleRate(c.rate);
        std::mt19937 random(c.seed);
        auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
        auto chance = [&](int percent) { return below(100) < percent; };
        for (int done = 0; done < c.frames;) {
            const int n = chance(30) ? std::min(special[below(4)], c.maxBlock) : 1 + below(c.maxBlock);
            const int notes = chance(40) ? below(4) : 0;
            for (int k = 0; k < notes; ++k) {
                const int offset = chance(50) ? 0 : below(2 * n + 2);
                rig.noteOn(36 + below(48), 1 + below(127), offset);
            }
            for (int k = chance(30) ? below(4) : 0; k > 0; --k)
                rig.noteOff(36 + below(48), chance(50) ? below(2) : below(2 * n + 2));
            if (chance(1))
                rig.silenceAll();
            if (chance(10)) {
                const int index = kParamFilterAttack + below(kParamVolume - kParamFilterAttack + 1);
                const float odd[] = {kNaN, kInf, -kInf, -0.5f, 3.0f, 0.0f, 1.0f};
                const float value = chance(15) ? odd[below(7)] : static_cast<float>(below(1001)) / 1000.0f;
                rig.set(index, value);
            }
            if (chance(3)) {  // whatever went odd comes back to sane values
                for (int i = kParamFilterAttack; i <= kParamVolume; ++i)
                    rig.set(i, std::isfinite(rig.scalar().param(i)) ? std::clamp(rig.scalar().param(i), 0.0f, 1.0f)
                                                                    : defaultParam(i));
            }
            ASSERT_TRUE(rig.block(n));
            done += n;
        }
    }
}

// Few voices render packed into the first lanes of a narrower build (two
// or four voices) and many in the full width: every set of sounding voices,
// in whichever voices (so lanes) they sit, through its own notes, its
// release tails and steals, must give the scalar path's bits.
TEST_P(VectorEquality, EverySetOfSoundingVoicesInAnyLanes) {
    struct Case {
        uint32_t keep;  // the voices left sounding (voice 0 starts in reserve)
        int block;
    };
    const Case cases[] = {
        {0x02, 32}, {0x80, 64}, {0x10, 5},   {0x06, 64}, {0x48, 32}, {0x84, 7},  {0x1E, 64},
        {0xAA, 32}, {0xF0, 9},  {0x36, 512}, {0xFE, 64}, {0xFE, 32}, {0x7C, 13},
    };
    constexpr int kKeys[] = {48, 52, 55, 59, 60, 64, 67};  // voices 1..7 in turn
    for (const Case& c : cases) {
        SCOPED_TRACE("voices " + std::to_string(c.keep) + ", blocks of " + std::to_string(c.block));
        Rig rig(GetParam());
        rig.set(kParamAmpRelease, 0.05f);
        rig.set(kParamAmpAttack, 0.02f);
        for (int key : kKeys)
            rig.noteOn(key, 100, 0);
        for (int b = 0; b < 3; ++b)
            ASSERT_TRUE(rig.block(c.block));
        ASSERT_EQ(rig.sounding(), 0xFEu);
        // The others' release tails overlap the kept voices; then only those sound.
        for (int v = 1; v < SynthEngine::kNumVoices; ++v)
            if ((c.keep & (1u << v)) == 0)
                rig.noteOff(kKeys[v - 1], v % 3);
        for (int done = 0; done < 4000 || rig.sounding() != c.keep; done += c.block) {
            ASSERT_LT(done, 100000) << "the released voices never ended";
            ASSERT_TRUE(rig.block(c.block));
        }
        for (int b = 0; b < 6; ++b)
            ASSERT_TRUE(rig.block(c.block));
        // The free voices again, in the lanes they had before, then alone
        // the kept ones once more.
        const int free = 7 - std::popcount(c.keep);
        for (int k = 0; k < free; ++k)
            rig.noteOn(72 + k, 90, 0);
        for (int b = 0; b < 6; ++b)
            ASSERT_TRUE(rig.block(c.block));
        for (int k = 0; k < free; ++k)
            rig.noteOff(72 + k, 0);
        for (int done = 0; rig.sounding() != c.keep; done += c.block) {
            ASSERT_LT(done, 100000) << "the released voices never ended";
            ASSERT_TRUE(rig.block(c.block));
        }
        ASSERT_TRUE(rig.block(c.block));
        // A note more than the free voices take steals: the reserve voice
        // sounds, the oldest fades; then the kept voices' own tails.
        for (int k = 0; k <= free; ++k)
            rig.noteOn(84 + k, 60 + k, k % 2 == 0 ? 0 : 3);
        for (int b = 0; b < 8; ++b)
            ASSERT_TRUE(rig.block(c.block));
        for (int key : kKeys)
            rig.noteOff(key, 1);
        for (int k = 0; k <= free; ++k)
            rig.noteOff(84 + k, c.block / 2);
        for (int done = 0; rig.sounding() != 0; done += c.block) {
            ASSERT_LT(done, 100000) << "the voices never ended";
            ASSERT_TRUE(rig.block(c.block));
        }
    }
}

// The equality above must not be an equality of silences.
TEST_P(VectorEquality, TheComparedScenarioSounds) {
    Rig rig(GetParam());
    for (int key : {48, 52, 55, 59, 60, 64, 67, 71})
        rig.noteOn(key, 100, 0);
    float peak = 0.0f;
    for (int b = 0; b < 20; ++b) {
        ASSERT_TRUE(rig.block(512));
        for (float x : rig.lastLeft())
            peak = std::max(peak, std::fabs(x));
    }
    EXPECT_GT(peak, 0.01f);
}

INSTANTIATE_TEST_SUITE_P(Paths, VectorEquality, ::testing::ValuesIn(vectorPaths()), pathName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(VectorEquality);
