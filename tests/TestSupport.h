// Shared helpers for tests that load the built plug-in through the host
// library, as a sequencer would.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <memory>
#include <string>

#include "Host.h"

namespace testing_support {

inline const char* pluginPath() { return VELTROSA_PLUGIN_PATH; }

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

}  // namespace testing_support
