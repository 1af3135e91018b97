// The wavetable generator: phase sequence, normalisation, guard entry,
// spectrum placement, and the hand-over to the audio thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numbers>

#include "EngineTestSupport.h"

using namespace engine_test;
using namespace veltrosa;

namespace {

void setHarmonics(SynthEngine& engine, std::initializer_list<std::pair<int, float>> values, float bandW) {
    for (int i = 0; i < kNumHarmonics; ++i)
        engine.setParam(i, 0.0f);
    for (const auto& [index, value] : values)
        engine.setParam(index, value);
    engine.setParam(kParamBandwidth, bandW);
}

int loudestBin(const std::vector<std::complex<float>>& s) {
    int best = 0;
    for (int k = 1; k < static_cast<int>(s.size()); ++k)
        if (std::abs(s[static_cast<std::size_t>(k)]) > std::abs(s[static_cast<std::size_t>(best)]))
            best = k;
    return best;
}

}  // namespace

TEST(PhaseGenerator, FirstStatesAndPhasesFromTheInitialState) {
    const struct {
        uint32_t state;
        float phase;
    } expected[] = {{1129873917u, 1.652913f}, {1591421545u, 2.328119f}, {3781532491u, -0.751113f}};
    uint32_t s = phase::kInitialState;
    for (const auto& e : expected) {
        s = phase::next(s);
        EXPECT_EQ(s, e.state);
        EXPECT_NEAR(phase::angle(s), e.phase, 2e-6f);
    }
    EXPECT_EQ(static_cast<int32_t>(3781532491u), -513434805);
}

TEST(PhaseGenerator, PhasesStayWithinPlusMinusPi) {
    uint32_t s = phase::kInitialState;
    for (int i = 0; i < 100000; ++i) {
        s = phase::next(s);
        const float a = phase::angle(s);
        ASSERT_GE(a, -std::numbers::pi_v<float>);
        ASSERT_LE(a, std::numbers::pi_v<float>);
    }
}

TEST(Wavetable, EveryGenerationIsNormalisedAndGuarded) {
    SynthEngine engine;
    const std::pair<int, float> settings[] = {{32, 1.0f}, {32, 0.0f}, {32, 0.37f}, {0, 5.0f}, {10, -2.0f}};
    for (const auto& [index, value] : settings) {
        engine.setParam(index, value);
        regenerate(engine);
        const float* t = engine.table();
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t[Wavetable::kLength], t[0]);
        EXPECT_FLOAT_EQ(peakOf(t), 1.0f / 1.4142f) << "after setting " << index << " to " << value;
    }
}

TEST(Wavetable, SameParametersGiveSameMagnitudesButNewPhases) {
    SynthEngine engine;
    const auto first = copyTable(engine.table());
    regenerate(engine);
    const auto second = copyTable(engine.table());
    EXPECT_NE(first, second);
    // Each table is scaled by its own peak: the magnitudes agree up to one factor.
    const auto a = spectrum(first.data());
    const auto b = spectrum(second.data());
    double ea = 0.0, eb = 0.0;
    for (std::size_t k = 0; k < a.size(); ++k) {
        ea += static_cast<double>(std::norm(a[k]));
        eb += static_cast<double>(std::norm(b[k]));
    }
    const auto scale = static_cast<float>(std::sqrt(ea / eb));
    const float top = std::abs(a[static_cast<std::size_t>(loudestBin(a))]);
    for (std::size_t k = 0; k < a.size(); ++k)
        ASSERT_NEAR(std::abs(a[k]), std::abs(b[k]) * scale, top * 1e-4f) << "bin " << k;
}

TEST(Wavetable, EachGenerationUsesTheNextRunOfPhases) {
    SynthEngine engine;
    setHarmonics(engine, {{0, 1.0f}, {1, 0.5f}}, 1.0f);
    const uint32_t before = phase::current();
    regenerate(engine);
    // The generator moved on by one state per bin.
    uint32_t s = before;
    std::vector<float> phases(Wavetable::kBins + 1);
    for (int k = 1; k <= Wavetable::kBins; ++k) {
        s = phase::next(s);
        phases[static_cast<std::size_t>(k)] = phase::angle(s);
    }
    EXPECT_EQ(phase::current(), s);
    // Where the spectrum is strong, the bin's phase is the generator's.
    const auto bins = spectrum(engine.table());
    const float top = std::abs(bins[static_cast<std::size_t>(loudestBin(bins))]);
    int checked = 0;
    for (int k = 1; k <= Wavetable::kBins; ++k) {
        const auto bin = bins[static_cast<std::size_t>(k)];
        if (std::abs(bin) < top * 0.05f)
            continue;
        const float diff =
            std::remainder(std::arg(bin) - phases[static_cast<std::size_t>(k)], 2.0f * std::numbers::pi_v<float>);
        EXPECT_NEAR(diff, 0.0f, 1e-3f) << "bin " << k;
        ++checked;
    }
    EXPECT_GT(checked, 10);
}

TEST(Wavetable, NoHarmonicsGiveASilentTable) {
    SynthEngine engine;
    setHarmonics(engine, {}, 1.0f);
    regenerate(engine);
    const float* t = engine.table();
    EXPECT_TRUE(std::all_of(t, t + Wavetable::kLength + 1, [](float x) { return x == 0.0f; }));
}

TEST(Wavetable, FundamentalAloneAtNarrowestBandIsANarrowToneNearBin256) {
    SynthEngine engine;
    setHarmonics(engine, {{0, 1.0f}}, 0.0f);
    regenerate(engine);
    EXPECT_NEAR(peakOf(engine.table()), 0.70711f, 1e-5f);
    const auto bins = spectrum(engine.table());
    // Energy-weighted centre of the band, and how far it spreads.
    double energy = 0.0, centre = 0.0;
    for (std::size_t k = 0; k < bins.size(); ++k) {
        const auto e = static_cast<double>(std::norm(bins[k]));
        energy += e;
        centre += e * static_cast<double>(k);
    }
    centre /= energy;
    // The band is narrower than a bin: it lands on the bin nearest 256.6.
    EXPECT_NEAR(centre, 256.6, 0.5);
    EXPECT_EQ(loudestBin(bins), 257);
    double inside = 0.0;
    for (int k = 256; k <= 258; ++k)
        inside += static_cast<double>(std::norm(bins[static_cast<std::size_t>(k)]));
    EXPECT_GT(inside / energy, 0.999);
}

TEST(Wavetable, HarmonicsLandOneBinAboveTheirProfile) {
    // Table-driven: harmonic i (parameter i - 1) peaks at bin 1 + i * 255.6053.
    const int harmonics[] = {1, 2, 7, 16, 31};
    for (int i : harmonics) {
        SynthEngine engine;
        setHarmonics(engine, {{i - 1, 1.0f}}, 0.0f);
        regenerate(engine);
        const int expected = static_cast<int>(std::lround(1.0 + i * 255.6053));
        EXPECT_NEAR(loudestBin(spectrum(engine.table())), expected, 1) << "harmonic " << i;
    }
}

TEST(Wavetable, TheThirtySecondBarFeedsAThirtySecondHarmonic) {
    SynthEngine engine;
    setHarmonics(engine, {{31, 1.0f}}, 0.5f);
    regenerate(engine);
    EXPECT_NEAR(peakOf(engine.table()), 0.70711f, 1e-5f);
    EXPECT_NEAR(loudestBin(spectrum(engine.table())), std::lround(1.0 + 32 * 255.6053), 2);
}

TEST(Wavetable, ParameterChangesWaitForARegeneration) {
    SynthEngine engine;
    const auto before = copyTable(engine.table());
    engine.setParam(3, 0.9f);
    engine.parameterChanged(3);
    engine.setParam(kParamBandwidth, 0.2f);
    engine.parameterChanged(kParamBandwidth);
    engine.render(nullptr, nullptr, 0);
    EXPECT_EQ(copyTable(engine.table()), before);
    EXPECT_FALSE(engine.wavetable().pending());
}

TEST(Wavetable, OutOfRangeAmplitudesAndWidthsNeverGiveNaN) {
    const struct {
        int index;
        float value;
    } cases[] = {
        {0, std::numeric_limits<float>::quiet_NaN()},
        {1, std::numeric_limits<float>::infinity()},
        {2, 3e38f},                  // overflows the spectrum
        {kParamBandwidth, -0.025f},  // zero width
        {kParamBandwidth, std::numeric_limits<float>::quiet_NaN()},
        {kParamBandwidth, 1e6f},
    };
    for (const auto& c : cases) {
        SynthEngine engine;
        engine.setParam(c.index, c.value);
        regenerate(engine);
        const float* t = engine.table();
        EXPECT_TRUE(std::all_of(t, t + Wavetable::kLength + 1, [](float x) { return std::isfinite(x); }))
            << "parameter " << c.index << " = " << c.value;
        EXPECT_EQ(t[Wavetable::kLength], t[0]);
    }
}

TEST(Wavetable, ANewerTableReplacesOneThatStillWaits) {
    float params[kNumParams];
    for (int i = 0; i < kNumParams; ++i)
        params[i] = defaultParam(i);
    Wavetable wt(params);
    EXPECT_EQ(wt.current(), nullptr);
    EXPECT_FALSE(wt.adopt());
    ASSERT_TRUE(wt.generate());
    EXPECT_TRUE(wt.pending());
    const uint32_t afterFirst = phase::current();
    ASSERT_TRUE(wt.generate());
    ASSERT_TRUE(wt.adopt());
    EXPECT_FALSE(wt.pending());
    // The adopted table is the second: its spectrum used the phases after the first run.
    uint32_t s = afterFirst;
    int strongest = 1 + static_cast<int>(std::lround(255.6053));
    for (int k = 1; k <= strongest; ++k)
        s = phase::next(s);
    const auto bins = spectrum(wt.current());
    EXPECT_NEAR(std::remainder(std::arg(bins[static_cast<std::size_t>(strongest)]) - phase::angle(s),
                               2.0f * std::numbers::pi_v<float>),
                0.0f, 1e-3f);
    EXPECT_FALSE(wt.adopt());
    // Each adoption parks the table it replaced; the next generation frees it
    // (the leak checker of the sanitizer build watches this).
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(wt.generate());
        ASSERT_TRUE(wt.adopt());
        ASSERT_EQ(wt.current()[Wavetable::kLength], wt.current()[0]);
    }
}

// The generator evaluated plainly, every bin for every harmonic, as a
// reference: whatever the generator skips or reuses must leave the table
// the same, bit for bit.
TEST(Wavetable, GenerationMatchesAPlainEvaluationBitForBit) {
    SynthEngine engine;
    const struct {
        std::initializer_list<std::pair<int, float>> harmonics;
        float bandW;
    } cases[] = {{{{0, 1.0f}}, 0.0f},
                 {{{0, 1.0f}, {1, 0.5f}, {4, 0.25f}, {30, 0.8f}, {31, 0.6f}}, 1.0f},
                 {{{2, 0.3f}, {9, 0.9f}, {17, 0.1f}}, 0.37f}};
    const int n = Wavetable::kLength, h = Wavetable::kBins;
    for (const auto& c : cases) {
        setHarmonics(engine, c.harmonics, c.bandW);
        uint32_t s = phase::current();
        regenerate(engine);

        std::vector<float> amp(static_cast<std::size_t>(h), 0.0f);
        const float cents = c.bandW * 80.0f + 2.0f;
        const auto b = static_cast<float>(std::pow(2.0, static_cast<double>(cents * 0.00083333335f)) - 1.0);
        for (int i = 1; i <= kNumHarmonics; ++i) {
            const float a = engine.param(i - 1);
            if (a == 0.0f)
                continue;
            const float f = static_cast<float>(i) * 0.0078004533f;
            const float invW = 1.0f / (((static_cast<float>(i) * b) * 344.0f) * 0.000011337868f);
            for (int j = 0; j < h; ++j) {
                const float x = (static_cast<float>(j) / static_cast<float>(h) - f) * invW;
                if (x * x > 14.71280603f)
                    continue;
                amp[static_cast<std::size_t>(j)] +=
                    a * (static_cast<float>(std::exp(-static_cast<double>(x * x))) * invW);
            }
        }
        std::vector<kiss_fft_cpx> bins(static_cast<std::size_t>(h + 1), kiss_fft_cpx{0.0f, 0.0f});
        for (int k = 1; k <= h; ++k) {
            s = phase::next(s);
            const auto theta = static_cast<double>(phase::angle(s));
            const float m = amp[static_cast<std::size_t>(k - 1)];
            bins[static_cast<std::size_t>(k)] = {m * static_cast<float>(std::cos(theta)),
                                                 m * static_cast<float>(std::sin(theta))};
        }
        std::vector<float> table(static_cast<std::size_t>(n + 1));
        kiss_fftr_cfg cfg = kiss_fftr_alloc(n, 1, nullptr, nullptr);
        kiss_fftri(cfg, bins.data(), table.data());
        kiss_fftr_free(cfg);
        float peak = 0.00001f;
        for (int i = 0; i < n; ++i)
            peak = std::max(peak, std::fabs(table[static_cast<std::size_t>(i)]));
        const float scale = 1.0f / (peak * 1.4142f);
        for (int i = 0; i < n; ++i)
            table[static_cast<std::size_t>(i)] *= scale;
        table[static_cast<std::size_t>(n)] = table[0];

        EXPECT_EQ(std::memcmp(engine.table(), table.data(), table.size() * sizeof(float)), 0);
    }
}
