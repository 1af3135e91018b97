// What a careless host or a damaged project may pass across the boundary,
// each case one that once got through: the plug-in must answer as for any
// other refusal and change nothing.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "TestSupport.h"

namespace {

using testing_support::startedPlugin;

// effSetChunk's byte count is pointer-sized; only exactly 192 is ours, so a
// count whose low 32 bits read 192 must not pass as one.
TEST(HostBoundary, ChunkByteCountIsComparedWhole) {
    auto plugin = startedPlugin();
    ASSERT_TRUE(plugin);
    const std::vector<unsigned char> before = plugin->getChunk();
    std::array<float, 48> chunk{};
    chunk.fill(0.25f);
    std::vector<intptr_t> counts = {-1, -192, INTPTR_MIN, INTPTR_MAX};
    if constexpr (sizeof(intptr_t) > 4) {
        counts.push_back(static_cast<intptr_t>((int64_t{1} << 32) + 192));
        counts.push_back(static_cast<intptr_t>((int64_t{-1} << 32) + 192));
    }
    for (intptr_t count : counts) {
        EXPECT_EQ(plugin->dispatch(vst2::effSetChunk, 0, count, chunk.data()), 0) << count;
        EXPECT_EQ(plugin->getChunk(), before) << count;
    }
}

}  // namespace
