// A loader nobody here wrote: Qtractor's scan helper loads the file with its
// own reading of the format and prints what it found: name, audio ins:outs,
// MIDI ins:outs, parameters. Not in sanitized builds: the helper has no
// sanitizer runtime for the module to use.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "TestSupport.h"

TEST(Clap, QtractorsScanHelperAcceptsThePlugin) {
    const char* helper = "/usr/lib/x86_64-linux-gnu/qtractor/qtractor_plugin_scan";
    if (!std::filesystem::exists(helper))
        SKIP_UNLESS_CI("qtractor's plug-in scan helper is not installed");
    const std::string command = std::string("echo 'CLAP:") + VELTROSA_CLAP_PATH + "' | " + helper + " 2>/dev/null";
    int status = 0;
    const std::string output = testing_support::commandOutput(command, status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output.rfind("CLAP|Veltrosa|0:2|1:0|48:0|", 0), 0u) << output;
}
