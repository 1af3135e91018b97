// The 192-byte state chunk through the built plug-in: what a host saves, what
// it may hand back, and what is refused.
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "TestSupport.h"
#include "core/Parameters.h"

using namespace testing_support;

namespace {

constexpr std::size_t kChunkBytes = 192;

std::vector<float> parameters(vsthost::Plugin& plugin) {
    std::vector<float> values;
    for (int32_t i = 0; i < 48; ++i)
        values.push_back(plugin.getParameter(i));
    return values;
}

std::vector<uint32_t> bits(const std::vector<float>& values) {
    std::vector<uint32_t> result;
    for (float v : values)
        result.push_back(floatBits(v));
    return result;
}

std::vector<unsigned char> chunkOf(const std::vector<float>& values) {
    std::vector<unsigned char> bytes(values.size() * sizeof(float));
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

// Every value differs from its default; some are out of range or not numbers,
// which a chunk carries unchanged.
std::vector<float> unusualValues() {
    std::vector<float> values;
    for (int32_t i = 0; i < 48; ++i)
        values.push_back(0.013f * static_cast<float>(i) + 0.004f);
    values[3] = std::numeric_limits<float>::quiet_NaN();
    values[7] = 2.5f;
    values[12] = -1.0f;
    values[veltrosa::kParamUpdate] = 0.0f;
    return values;
}

std::vector<float> playNote(vsthost::Plugin& plugin) {
    plugin.sendEvents(std::vector{vsthost::controlChange(0, 123, 0)});
    plugin.process(512);
    return plugin.render(4096, 512, std::vector{vsthost::noteOn(0, 60, 100)}).first;
}

}  // namespace

TEST(Chunk, NewInstanceHoldsTheDefaultsAsLittleEndianFloats) {
    auto plugin = startedPlugin();
    ASSERT_TRUE(plugin);
    for (bool preset : {false, true}) {
        const auto chunk = plugin->getChunk(preset);
        ASSERT_EQ(chunk.size(), kChunkBytes);
        EXPECT_EQ(chunk[0], 0x00);
        EXPECT_EQ(chunk[1], 0x00);
        EXPECT_EQ(chunk[2], 0x80);
        EXPECT_EQ(chunk[3], 0x3F);
        for (std::size_t i = 0; i < 48; ++i) {
            const uint32_t word = uint32_t(chunk[4 * i]) | uint32_t(chunk[4 * i + 1]) << 8 |
                                  uint32_t(chunk[4 * i + 2]) << 16 | uint32_t(chunk[4 * i + 3]) << 24;
            EXPECT_EQ(word, floatBits(veltrosa::defaultParam(static_cast<int32_t>(i)))) << i;
        }
        float last;
        std::memcpy(&last, chunk.data() + 188, sizeof last);
        EXPECT_EQ(last, 0.155f);
    }
}

TEST(Chunk, HandsOutTheLiveArrayAtOneAddress) {
    auto plugin = startedPlugin();
    ASSERT_TRUE(plugin);
    void* first = nullptr;
    void* second = nullptr;
    EXPECT_EQ(plugin->dispatch(vst2::effGetChunk, 0, 0, &first), 192);
    EXPECT_EQ(plugin->dispatch(vst2::effGetChunk, 1, 0, &second), 192);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);

    plugin->setParameter(5, 0.25f);
    plugin->setParameter(47, 0.75f);
    const auto* live = static_cast<const float*>(first);
    EXPECT_EQ(live[5], 0.25f);
    EXPECT_EQ(live[47], 0.75f);

    // A null place to store the pointer is refused, not written through.
    EXPECT_EQ(plugin->dispatch(vst2::effGetChunk, 0, 0, nullptr), 0);
}

TEST(Chunk, WrongSizesAndNullDataChangeNothing) {
    auto plugin = startedPlugin();
    ASSERT_TRUE(plugin);
    plugin->setParameter(10, 0.3f);
    const auto before = bits(parameters(*plugin));
    std::vector<float> other(100, 0.5f);
    for (intptr_t size : {intptr_t{0}, intptr_t{1}, intptr_t{4}, intptr_t{188}, intptr_t{191}, intptr_t{193},
                          intptr_t{196}, intptr_t{384}, intptr_t{-192}, intptr_t{-1}}) {
        EXPECT_EQ(plugin->dispatch(vst2::effSetChunk, 0, size, other.data()), 0) << size;
        EXPECT_EQ(bits(parameters(*plugin)), before) << size;
    }
    for (int32_t preset : {0, 1}) {
        EXPECT_EQ(plugin->dispatch(vst2::effSetChunk, preset, 192, nullptr), 0);
        EXPECT_EQ(bits(parameters(*plugin)), before);
    }
}

TEST(Chunk, LoadTakesEveryValueButResetsUpdate) {
    auto plugin = startedPlugin();
    ASSERT_TRUE(plugin);
    auto values = unusualValues();
    values[veltrosa::kParamUpdate] = 1.0f;
    plugin->clearCalls();
    EXPECT_EQ(plugin->setChunk(chunkOf(values)), 192);
    auto expected = values;
    expected[veltrosa::kParamUpdate] = 0.0f;
    EXPECT_EQ(bits(parameters(*plugin)), bits(expected));
    EXPECT_TRUE(plugin->callsWithOpcode(vst2::audioMasterAutomate).empty());
}

TEST(Chunk, MovesFromOneInstanceToAnother) {
    auto source = startedPlugin();
    auto target = startedPlugin();
    ASSERT_TRUE(source && target);
    const auto values = unusualValues();
    for (int32_t i = 0; i < 48; ++i)
        source->setParameter(i, values[static_cast<std::size_t>(i)]);
    const auto chunk = source->getChunk();
    EXPECT_EQ(target->setChunk(chunk, true), 192);
    EXPECT_EQ(bits(parameters(*target)), bits(parameters(*source)));
    EXPECT_EQ(target->getChunk(), chunk);
}

TEST(Chunk, ReloadingItsOwnBytesStillRegeneratesTheTable) {
    auto plugin = startedPlugin();
    ASSERT_TRUE(plugin);
    const auto before = playNote(*plugin);
    const auto chunk = plugin->getChunk();
    EXPECT_EQ(plugin->setChunk(chunk), 192);
    EXPECT_EQ(plugin->getChunk(), chunk);
    const auto after = playNote(*plugin);
    ASSERT_EQ(before.size(), after.size());
    // Same parameters, new random phases: the note sounds, but differently.
    EXPECT_NE(std::memcmp(before.data(), after.data(), before.size() * sizeof(float)), 0);
    EXPECT_NE(*std::max_element(after.begin(), after.end()), 0.0f);

    // Handing back the very pointer it handed out is a load too.
    void* live = nullptr;
    ASSERT_EQ(plugin->dispatch(vst2::effGetChunk, 0, 0, &live), 192);
    EXPECT_EQ(plugin->dispatch(vst2::effSetChunk, 0, 192, live), 192);
    EXPECT_EQ(plugin->getChunk(), chunk);
}
