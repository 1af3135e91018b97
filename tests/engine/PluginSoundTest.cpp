// The engine through the built plug-in, as a host drives it.
#include <gtest/gtest.h>
#include <kissfft/kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "core/Parameters.h"

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

// Where key 69 sounds: the table's fundamental lies at 256.6053 cycles per
// 65536 table samples, and the readers step 2 × 256 × 220 / rate table
// samples per output sample (key 69 plays note 57, 220 Hz), so about
// 441.04 Hz at every rate. Measured as the power-weighted mean frequency of
// a single harmonic's band. The readers' positions are single floats, so the
// step they really take is rounded to each position's precision: that moves
// the pitch by about 0.08 Hz at 44100 Hz and 0.3 Hz at 48000 Hz.
TEST(PluginSound, Key69SoundsWhereThePitchRulePutsIt) {
    constexpr int kFrames = 1 << 18;
    for (auto [rate, tolerance] : {std::pair{44100.0, 0.15}, std::pair{48000.0, 0.5}}) {
        auto plugin = startedPlugin(static_cast<float>(rate), 512);
        ASSERT_TRUE(plugin);
        for (int i = 0; i < veltrosa::kNumHarmonics; ++i)
            plugin->setParameter(i, i == 0 ? 1.0f : 0.0f);
        const std::pair<int, float> steady[] = {{veltrosa::kParamBandwidth, 0.5f}, {veltrosa::kParamUpdate, 1.0f},
                                                {veltrosa::kParamEnvDepth, 0.0f},  {veltrosa::kParamCutoff, 1.0f},
                                                {veltrosa::kParamAmpAttack, 0.0f}, {veltrosa::kParamAmpDecay, 0.0f},
                                                {veltrosa::kParamAmpSustain, 1.0f}};
        for (auto [index, value] : steady)
            plugin->setParameter(index, value);
        const auto skip = static_cast<int>(rate / 4);  // past the attack
        const auto [left, right] = plugin->render(skip + kFrames, 512, std::vector{vsthost::noteOn(0, 69, 100)});

        std::vector<float> windowed(kFrames);
        for (int i = 0; i < kFrames; ++i)
            windowed[static_cast<std::size_t>(i)] =
                left[static_cast<std::size_t>(skip + i)] *
                static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / kFrames));
        kiss_fftr_cfg cfg = kiss_fftr_alloc(kFrames, 0, nullptr, nullptr);
        std::vector<kiss_fft_cpx> bins(kFrames / 2 + 1);
        kiss_fftr(cfg, windowed.data(), bins.data());
        kiss_fftr_free(cfg);
        double total = 0.0, power = 0.0, moment = 0.0;
        for (std::size_t k = 0; k < bins.size(); ++k) {
            const double hz = static_cast<double>(k) * rate / kFrames;
            const double re = bins[k].r, im = bins[k].i;
            const double p = re * re + im * im;
            total += p;
            if (hz >= 400.0 && hz <= 482.0) {
                power += p;
                moment += p * hz;
            }
        }
        const double step = 2.0 * 256.0 * 220.0 / rate;
        const double expected = step * 256.6053 / 65536.0 * rate;
        ASSERT_GT(power, 0.999 * total) << rate;  // the band holds the sound
        EXPECT_NEAR(moment / power, expected, tolerance) << rate;
    }
}
