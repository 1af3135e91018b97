// The LV2 bundle as hosts find it: through lilv, with LV2_PATH naming the
// build directory and Debian's LV2 bundles.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "Lv2Host.h"
#include "lv2/Ports.h"

namespace lv2test {

inline lv2host::World& world() {
    static lv2host::World* shared = [] {
        setenv("LV2_PATH", VELTROSA_LV2_PATH ":/usr/lib/lv2", 1);
        return new lv2host::World;
    }();
    return *shared;
}

inline std::unique_ptr<lv2host::Instance> instrument(double rate, int32_t block,
                                                     lv2host::WorkerMode mode = lv2host::WorkerMode::Synchronous) {
    std::string error;
    auto instance = lv2host::Instance::create(world(), veltrosa::lv2edge::kPluginUri, rate, block, mode, error);
    EXPECT_TRUE(instance) << error;
    return instance;
}

inline std::vector<uint8_t> noteOn(int key, int velocity) {
    return {0x90, static_cast<uint8_t>(key), static_cast<uint8_t>(velocity)};
}

}  // namespace lv2test
