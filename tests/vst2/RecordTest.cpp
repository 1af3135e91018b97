// The effect record as a host reads it, byte by byte.
#include <cstring>

#include "TestSupport.h"

using namespace testing_support;

TEST(Record, FieldsAsTheHostReadsThem) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    const vst2::AEffect* e = plugin->effect();
    int32_t magic;
    std::memcpy(&magic, e, sizeof magic);
    EXPECT_EQ(magic, 0x56737450);
    EXPECT_EQ(e->numPrograms, 1);
    EXPECT_EQ(e->numParams, 48);
    EXPECT_EQ(e->numInputs, 0);
    EXPECT_EQ(e->numOutputs, 2);
    EXPECT_EQ(e->uniqueID, 0x546F6F74);
    EXPECT_EQ(e->version, 1);
    EXPECT_EQ(e->initialDelay, 0);
    EXPECT_EQ(e->realQualities, 0);
    EXPECT_EQ(e->offQualities, 0);
    EXPECT_EQ(e->resvd1, 0);
    EXPECT_EQ(e->resvd2, 0);
    EXPECT_EQ(e->ioRatio, 1.0f);
    EXPECT_NE(e->object, nullptr);
    EXPECT_NE(e->dispatcher, nullptr);
    EXPECT_NE(e->process, nullptr);
    EXPECT_NE(e->setParameter, nullptr);
    EXPECT_NE(e->getParameter, nullptr);
    EXPECT_NE(e->processReplacing, nullptr);
    EXPECT_NE(e->processDoubleReplacing, nullptr);
    const char zeros[56] = {};
    EXPECT_EQ(std::memcmp(e->future, zeros, sizeof zeros), 0);
}

TEST(Record, FlagsDeclareSynthChunksAndReplacingButNotDoubles) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    const int32_t flags = plugin->effect()->flags;
    EXPECT_EQ(flags & ~vst2::effFlagsHasEditor, 0x130);
    EXPECT_EQ(flags & vst2::effFlagsCanDoubleReplacing, 0);
}

TEST(Record, EntryAsksTheHostVersionFirstWithoutARecord) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    const auto calls = plugin->calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front().opcode, vst2::audioMasterVersion);
    EXPECT_FALSE(calls.front().withEffect);
    EXPECT_EQ(calls.front().index, 0);
    EXPECT_EQ(calls.front().value, 0);
    EXPECT_EQ(calls.front().ptr, nullptr);
    EXPECT_EQ(calls.front().opt, 0.0f);
}

TEST(Record, HostAnsweringVersionZeroGetsNoEffect) {
    vsthost::LoadOptions options;
    options.hostVersion = 0;
    std::string error;
    EXPECT_EQ(vsthost::Plugin::load(pluginPath(), error, options), nullptr);
}

TEST(Record, BothEntryNamesLeadToAnEffect) {
    for (const char* name : {"VSTPluginMain", "main"}) {
        vsthost::LoadOptions options;
        options.entryName = name;
        auto plugin = loadPlugin(options);
        ASSERT_TRUE(plugin) << name;
        EXPECT_EQ(plugin->effect()->uniqueID, 0x546F6F74) << name;
    }
}
