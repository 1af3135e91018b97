// The factory bank and its files: the VST 2 preset layouts byte for byte, the
// VST 3 preset files the build wrote, a preset reaching the built plug-in as
// hosts hand it over, and the bank's sounds measured on the plug-in's own
// output.
#include <kissfft/kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <span>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "presets/Bank.h"
#include "presets/FxFile.h"

namespace {

using namespace veltrosa::presets;

std::vector<unsigned char> be(std::initializer_list<uint32_t> words) {
    std::vector<unsigned char> out;
    for (uint32_t w : words)
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<unsigned char>(w >> shift));
    return out;
}

void append(std::vector<unsigned char>& to, const std::vector<unsigned char>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

std::vector<unsigned char> name28(const char* text) {
    std::vector<unsigned char> out(28, 0);
    std::memcpy(out.data(), text, std::strlen(text));
    return out;
}

// The published layout of a chunk program, field by field.
std::vector<unsigned char> handMadeFxp(const char* name, const std::vector<unsigned char>& chunk) {
    auto bytes = be({0x43636E4B /* CcnK */, static_cast<uint32_t>(52 + chunk.size()), 0x46504368 /* FPCh */, 1,
                     0x546F6F74 /* Toot */, 1, 1});
    append(bytes, name28(name));
    append(bytes, be({static_cast<uint32_t>(chunk.size())}));
    append(bytes, chunk);
    return bytes;
}

TEST(PresetFiles, MatchThePublishedLayoutAndReadBack) {
    std::vector<unsigned char> a(192), b(192);
    for (std::size_t i = 0; i < 192; ++i) {
        a[i] = static_cast<unsigned char>(i);
        b[i] = static_cast<unsigned char>(255 - i);
    }
    const FxProgram programs[] = {{"First", a}, {"A name of 24 characters!", b}};

    const auto fxp = handMadeFxp("First", a);
    ASSERT_EQ(fxp.size(), 252u);
    EXPECT_EQ(writeFxp(programs[0]), fxp);

    // Bank of programs, version 2: current program 0, 124 reserved bytes.
    auto fxb = be({0x43636E4B, 652, 0x4678426B /* FxBk */, 2, 0x546F6F74, 1, 2, 0});
    fxb.resize(156, 0);
    append(fxb, handMadeFxp("First", a));
    append(fxb, handMadeFxp("A name of 24 characters!", b));
    ASSERT_EQ(fxb.size(), 156u + 2 * 252u);
    EXPECT_EQ(writeFxb(programs), fxb);

    const std::vector<unsigned char>* const files[] = {&fxp, &fxb};
    for (const auto* bytes : files) {
        FxFile file;
        std::string error;
        ASSERT_TRUE(readFx(*bytes, file, error)) << error;
        EXPECT_EQ(file.pluginId, kPluginId);
        EXPECT_EQ(file.pluginVersion, 1);
        const std::size_t count = bytes == &fxp ? 1 : 2;
        ASSERT_EQ(file.programs.size(), count);
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_EQ(file.programs[i].name, programs[i].name);
            EXPECT_EQ(file.programs[i].chunk, programs[i].chunk);
        }
    }

    // A bank a host saved for us: one chunk, the program.
    auto chunkBank = be({0x43636E4B, 148 + 4 + 192, 0x46424368 /* FBCh */, 1, 0x546F6F74, 1000, 1});
    chunkBank.resize(156, 0);
    append(chunkBank, be({192}));
    append(chunkBank, a);
    FxFile file;
    std::string error;
    ASSERT_TRUE(readFx(chunkBank, file, error)) << error;
    EXPECT_EQ(file.kind, FxKind::ChunkBank);
    ASSERT_EQ(file.programs.size(), 1u);
    EXPECT_EQ(file.programs[0].chunk, a);
}

std::vector<unsigned char> fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Each .vstpreset the build wrote, read by the published layout: a 48-byte
// header ('VST3', version 1, the class ID as 32 hex digits, the list's
// 64-bit offset), the chunks, then 'List', a count and per chunk its ID and
// 64-bit offset and size, every number little-endian. Its one chunk, the
// component state, is the chunk of the preset's .fxp.
TEST(PresetFiles, VstPresetsFollowThePublishedLayoutAndHoldTheFxpChunk) {
    const auto le = [](const std::vector<unsigned char>& b, std::size_t at, std::size_t n) {
        uint64_t v = 0;
        for (std::size_t i = n; i-- > 0;)
            v = v << 8 | b.at(at + i);
        return v;
    };
    const auto text = [](const std::vector<unsigned char>& b, std::size_t at, std::size_t n) {
        return std::string(b.begin() + static_cast<std::ptrdiff_t>(at),
                           b.begin() + static_cast<std::ptrdiff_t>(at + n));
    };
    const std::filesystem::path dir = VELTROSA_PRESET_DIR;
    for (const Preset& preset : factoryBank()) {
        SCOPED_TRACE(preset.name);
        const auto file = fileBytes(dir / "vst3" / (preset.name + ".vstpreset"));
        ASSERT_EQ(file.size(), 48u + 192u + 8u + 20u);
        EXPECT_EQ(text(file, 0, 4), "VST3");
        EXPECT_EQ(le(file, 4, 4), 1u);
        // The processor's words "Toot" "Velt" "rosa" "Proc", by hand.
        EXPECT_EQ(text(file, 8, 32), "546F6F7456656C74726F736150726F63");
        const uint64_t list = le(file, 40, 8);
        ASSERT_EQ(list, 240u);
        EXPECT_EQ(text(file, list, 4), "List");
        EXPECT_EQ(le(file, list + 4, 4), 1u);
        EXPECT_EQ(text(file, list + 8, 4), "Comp");
        const uint64_t offset = le(file, list + 12, 8), size = le(file, list + 20, 8);
        ASSERT_EQ(offset, 48u);
        ASSERT_EQ(size, 192u);

        FxFile fxp;
        std::string error;
        ASSERT_TRUE(readFx(fileBytes(dir / (fileName(preset) + ".fxp")), fxp, error)) << error;
        ASSERT_EQ(fxp.programs.size(), 1u);
        EXPECT_EQ(std::vector<unsigned char>(file.begin() + 48, file.begin() + 48 + 192), fxp.programs[0].chunk);
    }
}

// A preset in the text format with every key; `skip` leaves one key out.
std::string presetText(const char* name, const std::string& skip = "") {
    std::string text = std::string("[") + name + "]\nabout = a test\n";
    if (skip != "harmonics") {
        text += "harmonics = 0.5";
        for (int i = 1; i < 32; ++i)
            text += i == 16 ? "\n   0" : " 0";  // an indented line continues the list
        text += "\n";
    }
    const char* keys[] = {"bandwidth",        "filter_attack", "filter_decay", "filter_sustain",  "filter_release",
                          "filter_env_depth", "cutoff",        "resonance",    "filter_velocity", "amp_attack",
                          "amp_decay",        "amp_sustain",   "amp_release",  "amp_velocity",    "volume"};
    int n = 0;
    for (const char* key : keys)
        if (key != skip)
            text += std::string(key) + " = 0." + std::to_string(++n) + "  # comment\n";
    return text;
}

TEST(PresetText, KeysLandOnTheirParametersAndMistakesNameTheirLine) {
    std::string error;
    const auto bank = parseBank("# a bank\n\n" + presetText("One") + presetText("Two"), error);
    ASSERT_TRUE(bank) << error;
    ASSERT_EQ(bank->size(), 2u);
    const Preset& one = (*bank)[0];
    EXPECT_EQ(one.name, "One");
    EXPECT_EQ(one.about, "a test");
    EXPECT_EQ(one.values[0], 0.5f);
    EXPECT_EQ(one.values[31], 0.0f);
    EXPECT_EQ(one.values[32], 0.1f);   // bandwidth
    EXPECT_EQ(one.values[33], 0.0f);   // Update: never in a preset
    EXPECT_EQ(one.values[34], 0.2f);   // filter attack
    EXPECT_EQ(one.values[39], 0.7f);   // cutoff
    EXPECT_EQ(one.values[42], 0.10f);  // amp attack
    EXPECT_EQ(one.values[47], 0.15f);  // volume
    EXPECT_EQ(fileName(one), "one");
    EXPECT_EQ(findPreset(*bank, "TWO"), &(*bank)[1]);

    const std::pair<std::string, const char*> mistakes[] = {
        {presetText("A", "cutoff"), "line 1: [A] lacks 'cutoff'"},
        {"volume = 0.5\n", "line 1: a value before the first [Name]"},
        {presetText("A") + "cutoff = 0.3\n", "'cutoff' given twice"},
        {presetText("A") + "wobble = 1\n", "unknown key 'wobble'"},
        {presetText("A") + presetText("a"), "repeats the name of [A]"},
        {"[A]\nharmonics = 1 1\nbandwidth = 1\n", "line 2: 'harmonics' takes 32 values, not 2"},
        {"[A]\nvolume = 1.5\n", "line 2: value 1.5 lies outside 0..1"},
        {"[A]\nvolume = loud\n", "line 2: 'loud' is not a number"},
        {"[A name far too long for a program]\n", "1 to 24 characters"},
    };
    for (const auto& [text, message] : mistakes) {
        EXPECT_FALSE(parseBank(text, error)) << text;
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
}

// Level of harmonic h of a note, from one long FFT of the output.
struct NoteSpectrum {
    std::vector<float> power;  // per bin
    double binHz;
    double level(double hz) const {
        const auto centre = static_cast<std::size_t>(std::lround(hz / binHz));
        double sum = 0.0;
        for (std::size_t k = centre - 4; k <= centre + 4; ++k)
            sum += double(power[k]);
        return 10.0 * std::log10(sum + 1e-30);
    }
};

// Power spectrum, Hann-windowed frames of n averaged over [from, to).
std::vector<float> averagePower(const std::vector<float>& x, std::size_t from, std::size_t to, int n) {
    kiss_fftr_cfg cfg = kiss_fftr_alloc(n, 0, nullptr, nullptr);
    std::vector<float> in(static_cast<std::size_t>(n)), power(static_cast<std::size_t>(n / 2 + 1), 0.0f);
    std::vector<kiss_fft_cpx> out(static_cast<std::size_t>(n / 2 + 1));
    for (std::size_t start = from; start + static_cast<std::size_t>(n) <= to;
         start += static_cast<std::size_t>(n / 2)) {
        for (int i = 0; i < n; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / n);
            in[static_cast<std::size_t>(i)] = static_cast<float>(w * double(x[start + static_cast<std::size_t>(i)]));
        }
        kiss_fftr(cfg, in.data(), out.data());
        for (std::size_t k = 0; k < out.size(); ++k)
            power[k] += out[k].r * out[k].r + out[k].i * out[k].i;
    }
    kiss_fftr_free(cfg);
    return power;
}

TEST(PresetFiles, APresetThroughEffSetChunkGivesItsValuesAndItsSound) {
    auto plugin = testing_support::startedPlugin();
    ASSERT_TRUE(plugin);
    EXPECT_EQ(plugin->effect()->uniqueID, kPluginId);
    EXPECT_EQ(plugin->effect()->version, kPluginVersion);  // what hosts write as fxVersion

    // Key 69 sounds at 441.04 Hz, 4 cents above standard pitch.
    const auto oddEvenGap = [&] {
        const vsthost::MidiMessage note[] = {vsthost::noteOn(0, 69, 100)};
        const auto [left, right] = plugin->render(44100 * 2, 512, note);
        (void)right;
        NoteSpectrum s{averagePower(left, 44100, 88200, 32768), 44100.0 / 32768};
        plugin->sendEvents(std::vector{vsthost::controlChange(0, 123, 0)});
        plugin->render(4096, 512);
        return s.level(3 * 441.04) - s.level(2 * 441.04);
    };
    // The default sound has harmonic 2 and no harmonic 3.
    EXPECT_LT(oddEvenGap(), -20.0);

    const Preset* organ = findPreset(factoryBank(), "Hollow Organ");
    ASSERT_NE(organ, nullptr);
    const auto chunk = chunkOf(*organ);
    EXPECT_NE(plugin->setChunk(chunk, /*preset=*/true), 0);
    const auto loaded = plugin->getChunk(true);
    ASSERT_EQ(loaded.size(), 192u);
    for (int32_t i = 0; i < 48; ++i) {
        float value;
        std::memcpy(&value, loaded.data() + 4 * i, 4);
        EXPECT_EQ(testing_support::floatBits(value),
                  testing_support::floatBits(organ->values[static_cast<std::size_t>(i)]))
            << i;
        EXPECT_EQ(testing_support::floatBits(plugin->getParameter(i)),
                  testing_support::floatBits(organ->values[static_cast<std::size_t>(i)]))
            << i;
    }
    // Odd harmonics only: the table was built again from the preset.
    EXPECT_GT(oddEvenGap(), 20.0);
}

// What the bank test hears of a preset: an eight-note chord at velocity 100,
// held 6 s (past the slowest attack, 5 s) and released; its peak, the shape
// of its spectrum in third-octave bands over the last 2 s held, and the
// shape of its loudness over time, both in dB relative to their own maximum
// so that level alone tells no presets apart.
struct Hearing {
    double peakDb = 0.0;
    std::vector<double> bands;     // 27 bands, 50 Hz .. 20 kHz
    std::vector<double> loudness;  // RMS of each 100 ms, 0 .. 8 s
};

constexpr int kRate = 44100;
constexpr int kHold = 6 * kRate;
constexpr int kLength = kHold + 2 * kRate;
constexpr int kChord[] = {60, 64, 67, 71, 72, 76, 79, 84};

double toDb(double power) { return 10.0 * std::log10(std::max(power, 1e-12)); }

// dB relative to the largest entry, floored at -60 dB.
void relative(std::vector<double>& db) {
    const double top = *std::max_element(db.begin(), db.end());
    for (double& v : db)
        v = std::max(v - top, -60.0);
}

Hearing hear(vsthost::Plugin& plugin, std::span<const unsigned char> chunk) {
    EXPECT_NE(plugin.setChunk(chunk, /*preset=*/true), 0);
    std::vector<vsthost::MidiMessage> notes;
    for (int key : kChord)
        notes.push_back(vsthost::noteOn(0, key, 100));
    for (int key : kChord)
        notes.push_back(vsthost::noteOff(kHold, key));
    const auto [left, right] = plugin.render(kLength, 512, notes);
    Hearing h;
    float peak = 0.0f;
    std::vector<float> mono(left.size());
    for (std::size_t i = 0; i < left.size(); ++i) {
        peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
        mono[i] = 0.5f * (left[i] + right[i]);
    }
    h.peakDb = 20.0 * std::log10(double(std::max(peak, 1e-9f)));

    constexpr int kFrame = 8192;
    const auto power = averagePower(mono, kHold - 2 * kRate, kHold, kFrame);
    const double binHz = double(kRate) / kFrame;
    for (double low = 50.0; low < 20000.0; low *= std::cbrt(2.0)) {
        double sum = 0.0;
        for (auto k = static_cast<std::size_t>(std::ceil(low / binHz)); k * binHz < low * std::cbrt(2.0); ++k)
            sum += double(power[k]);
        h.bands.push_back(toDb(sum));
    }
    relative(h.bands);
    constexpr std::size_t kWindow = kRate / 10;
    for (std::size_t start = 0; start + kWindow <= mono.size(); start += kWindow) {
        double sum = 0.0;
        for (std::size_t i = start; i < start + kWindow; ++i)
            sum += double(mono[i]) * double(mono[i]);
        h.loudness.push_back(toDb(sum / kWindow));
    }
    relative(h.loudness);
    plugin.sendEvents(std::vector{vsthost::controlChange(0, 123, 0)});
    plugin.render(4096, 512);
    return h;
}

// Root mean square difference, in dB.
double distance(const std::vector<double>& a, const std::vector<double>& b) {
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += (a[i] - b[i]) * (a[i] - b[i]);
    return std::sqrt(sum / double(a.size()));
}

// VELTROSA_PRESET_REPORT=1 prints every measurement, for designing presets.
TEST(FactoryBank, EveryPresetIsLevelledAndNoTwoSoundAlike) {
    const auto& bank = factoryBank();
    ASSERT_EQ(bank.size(), 16u);
    auto plugin = testing_support::startedPlugin();
    ASSERT_TRUE(plugin);
    const bool report = std::getenv("VELTROSA_PRESET_REPORT") != nullptr;
    std::vector<Hearing> heard;
    for (const Preset& preset : bank) {
        EXPECT_FALSE(preset.about.empty()) << preset.name;
        EXPECT_EQ(preset.values[33], 0.0f) << preset.name;
        heard.push_back(hear(*plugin, chunkOf(preset)));
        EXPECT_GE(heard.back().peakDb, -12.0) << preset.name;
        EXPECT_LE(heard.back().peakDb, -1.0) << preset.name;
        if (report) {
            std::printf("%-16s peak %6.1f dB  bands", preset.name.c_str(), heard.back().peakDb);
            for (double b : heard.back().bands)
                std::printf(" %3.0f", b);
            std::printf("\n%-16s loudness", "");
            for (double v : heard.back().loudness)
                std::printf(" %3.0f", v);
            std::printf("\n");
        }
    }
    // Two presets sound nearly alike when both their spectra and their
    // loudness curves nearly match; each pair must stand apart by this much
    // in the two distances together (the closest pair of the bank: 10.2 dB).
    constexpr double kMargin = 8.0;  // dB, root mean square over bands plus over time
    for (std::size_t i = 0; i < bank.size(); ++i)
        for (std::size_t j = i + 1; j < bank.size(); ++j) {
            const double spectrum = distance(heard[i].bands, heard[j].bands);
            const double loudness = distance(heard[i].loudness, heard[j].loudness);
            if (report)
                std::printf("%-16s %-16s spectrum %5.1f  loudness %5.1f\n", bank[i].name.c_str(), bank[j].name.c_str(),
                            spectrum, loudness);
            EXPECT_GE(spectrum + loudness, kMargin) << bank[i].name << " and " << bank[j].name;
        }
}

}  // namespace
