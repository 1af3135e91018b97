// Shared helpers for tests that load the built plug-in through the host
// library, as a sequencer would.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "Host.h"

namespace testing_support {

inline const char* pluginPath() { return VELTROSA_PLUGIN_PATH; }

// CI installs every peer and tool the tests use (scripts/install-deps test).
inline bool inContinuousIntegration() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && *ci != '\0' && std::string_view(ci) != "false" && std::string_view(ci) != "0";
}

inline std::unique_ptr<vsthost::Plugin> loadPlugin(const vsthost::LoadOptions& options = {}) {
    std::string error;
    auto plugin = vsthost::Plugin::load(pluginPath(), error, options);
    EXPECT_TRUE(plugin) << error;
    return plugin;
}

// A plug-in started as a host starts it: open, rate, block size, resumed.
inline std::unique_ptr<vsthost::Plugin> startedPlugin(float sampleRate = 44100.0f, int32_t blockSize = 512) {
    auto plugin = loadPlugin();
    if (plugin)
        plugin->start(sampleRate, blockSize);
    return plugin;
}

inline uint32_t floatBits(float value) { return std::bit_cast<uint32_t>(value); }

// What a shell command printed, and its exit status (-1 if it could not run).
inline std::string commandOutput(const std::string& command, int& status) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        status = -1;
        return output;
    }
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        output += buffer;
    status = pclose(pipe);
    return output;
}

}  // namespace testing_support

// Skips a test that needs something this machine lacks; under CI the lack is
// a failure, so that no test goes quietly unrun there.
#define SKIP_UNLESS_CI(why)                                 \
    do {                                                    \
        if (::testing_support::inContinuousIntegration()) { \
            GTEST_FAIL() << why << " (CI must provide it)"; \
        } else {                                            \
            GTEST_SKIP() << why;                            \
        }                                                   \
    } while (false)
