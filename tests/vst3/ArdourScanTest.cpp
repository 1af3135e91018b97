// A loader nobody here wrote: Ardour's VST 3 scanner loads the bundle with
// its own reading of the format, runs without a display, and writes what it
// found. Not in sanitized builds: the scanner has no sanitizer runtime for
// the module to use.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "TestSupport.h"

TEST(Vst3, ArdoursScannerIndexesTheBundleAsAnInstrument) {
    const std::filesystem::path scanner = "/usr/lib/ardour7/ardour-vst3-scanner";
    if (!std::filesystem::exists(scanner))
        SKIP_UNLESS_CI("Ardour's VST 3 scanner is not installed");
    char home[] = "/tmp/veltrosa-ardour-XXXXXX";
    ASSERT_NE(mkdtemp(home), nullptr);
    const std::string command = std::string("HOME=") + home + " XDG_CACHE_HOME=" + home + "/cache LD_LIBRARY_PATH=" +
                                scanner.parent_path().string() + " timeout 60 " + scanner.string() + " -f -v '" +
                                VELTROSA_VST3_BUNDLE + "' 2>&1";
    int status = 0;
    const std::string output = testing_support::commandOutput(command, status);
    EXPECT_EQ(status, 0) << output;
    std::filesystem::remove_all(home);
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
