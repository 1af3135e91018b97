// A loader nobody here wrote: Ardour's VST 3 scanner loads the bundle with
// its own reading of the format, runs without a display, and writes what it
// found; Ardour's headless session tool then plays the bundle. Not in
// sanitized builds: Ardour has no sanitizer runtime for the module to use.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

#include "TestSupport.h"

namespace {

const std::filesystem::path kArdour = "/usr/lib/ardour7";
const std::filesystem::path kScanner = kArdour / "ardour-vst3-scanner";

// A temporary home for Ardour's tools, so that they neither read nor write
// the user's configuration, cache or plug-ins.
struct ArdourHome {
    std::filesystem::path path;
    ArdourHome() {
        char name[] = "/tmp/veltrosa-ardour-XXXXXX";
        if (mkdtemp(name) != nullptr)
            path = name;
    }
    ~ArdourHome() {
        if (!path.empty())
            std::filesystem::remove_all(path);
    }
    std::string environment() const {
        const std::string home = path.string();
        return "HOME=" + home + " XDG_CONFIG_HOME=" + home + "/config XDG_CACHE_HOME=" + home +
               "/cache XDG_DATA_HOME=" + home + "/data ";
    }
    std::string scan(const std::filesystem::path& bundle, int& status) const {
        return testing_support::commandOutput(environment() + "LD_LIBRARY_PATH=" + kArdour.string() + " timeout 60 " +
                                                  kScanner.string() + " -f -v '" + bundle.string() + "' 2>&1",
                                              status);
    }
};

// The number after label in the session tool's report, or NaN.
double reading(const std::string& output, const std::string& label) {
    const auto at = output.find(label);
    return at == std::string::npos ? std::nan("") : std::strtod(output.c_str() + at + label.size(), nullptr);
}

}  // namespace

TEST(Vst3, ArdoursScannerIndexesTheBundleAsAnInstrument) {
    if (!std::filesystem::exists(kScanner))
        SKIP_UNLESS_CI("Ardour's VST 3 scanner is not installed");
    const ArdourHome home;
    ASSERT_FALSE(home.path.empty());
    int status = 0;
    const std::string output = home.scan(VELTROSA_VST3_BUNDLE, status);
    EXPECT_EQ(status, 0) << output;
    // Its index entry: our processor's class ID, name, vendor, category,
    // version, and the buses (no audio in, stereo out, one event input).
    EXPECT_NE(output.find("<VST3Info uid=\"546F6F7456656C74726F736150726F63\" name=\"Veltrosa\" "
                          "vendor=\"Bramblers Global Entertainment\" category=\"Instrument|Synth\" "
                          "version=\"" VELTROSA_VERSION "\""),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("n_inputs=\"0\" n_outputs=\"2\" n_aux_inputs=\"0\" n_aux_outputs=\"0\" n_midi_inputs=\"1\" "
                          "n_midi_outputs=\"0\""),
              std::string::npos)
        << output;
}

// A session of Ardour's own, on its dummy backend: a MIDI track with the
// edition as instrument sounds a note. Ardour's session tool reads plug-ins
// from the scanner's cache only, and VST 3 bundles from VST3_PATH (besides
// the home's and the system's folders); LV2_PATH keeps the system's LV2
// plug-ins out. Without the bundle the same script finds no instrument.
TEST(Vst3, ArdoursSessionToolPlaysANoteThroughTheBundle) {
    const std::filesystem::path tool = "/usr/bin/ardour7-lua";
    if (!std::filesystem::exists(kScanner) || !std::filesystem::exists(tool))
        SKIP_UNLESS_CI("Ardour is not installed");
    const ArdourHome home;
    ASSERT_FALSE(home.path.empty());
    const std::filesystem::path folder = home.path / "vst3";
    const std::filesystem::path bundle = folder / "Veltrosa.vst3";
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(home.path / "lv2");
    std::filesystem::create_directory_symlink(VELTROSA_VST3_BUNDLE, bundle);
    int status = 0;
    const std::string scanned = home.scan(bundle, status);
    ASSERT_EQ(status, 0) << scanned;
    const auto play = [&](const char* session, int& result) {
        return testing_support::commandOutput(home.environment() + "VST3_PATH='" + folder.string() + "' LV2_PATH='" +
                                                  (home.path / "lv2").string() + "' timeout 60 " + tool.string() +
                                                  " '" VELTROSA_ARDOUR_SCRIPT "' '" + (home.path / session).string() +
                                                  "' 2>&1",
                                              result);
    };
    const std::string output = play("with", status);
    ASSERT_EQ(status, 0) << output;
    EXPECT_EQ(reading(output, "before the note:"), -std::numeric_limits<double>::infinity()) << output;
    EXPECT_GT(reading(output, "with the note:"), -40.0) << output;

    std::filesystem::remove(bundle);
    const std::string missing = play("without", status);
    EXPECT_NE(status, 0) << missing;
    EXPECT_NE(missing.find("Veltrosa: no VST 3 plug-in of that name"), std::string::npos) << missing;
}
