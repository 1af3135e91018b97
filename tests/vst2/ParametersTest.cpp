// The 48 parameters, names, labels and program name, through the built
// plug-in.
#include <array>
#include <cstring>
#include <string>

#include "TestSupport.h"
#include "vst2/Instrument.h"

using namespace testing_support;

namespace {

constexpr char kSentinel = '\x5A';

struct TextResult {
    std::string text;
    std::array<char, 40> bytes;
};

TextResult readInto(vsthost::Plugin& plugin, int32_t opcode, int32_t index) {
    TextResult r;
    r.bytes.fill(kSentinel);
    plugin.dispatch(opcode, index, 0, r.bytes.data());
    r.text.assign(r.bytes.data(), strnlen(r.bytes.data(), r.bytes.size()));
    return r;
}

}  // namespace

TEST(Parameters, DefaultsAreBitExact) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    const uint32_t expected[48] = {0x3F800000, 0x3F800000, 0x00000000, 0x3F111117, 0x3F111117, 0,          0,
                                   0,          0,          0x3F333333, 0x3F2EEEE9, 0,          0,          0,
                                   0,          0,          0x3F6AAAB0, 0x3F666666, 0,          0,          0,
                                   0,          0x3F22221D, 0x3EDDDDD3, 0,          0,          0x3E888894, 0x3E6EEED9,
                                   0,          0,          0,          0,          0x3F800000, 0x00000000, 0x3EA147AE,
                                   0x3F0F5C29, 0x3D99999A, 0x3F15C28F, 0x3EB33333, 0x3D3851EC, 0x00000000, 0x3C23D70A,
                                   0x3D3851EC, 0x3F1AE148, 0x3F133333, 0x3F170A3D, 0x3C23D70A, 0x3E1EB852};
    for (int32_t i = 0; i < 48; ++i)
        EXPECT_EQ(floatBits(plugin->getParameter(i)), expected[i]) << "parameter " << i;
    EXPECT_EQ(plugin->getParameter(47), 0.155f);
}

TEST(Parameters, NamesAreCutAtEightAndTerminated) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    const std::pair<int32_t, const char*> cases[] = {
        {0, "Harmo"},     {17, "Harmo"},   {31, "Harmo"},
        {32, "BandW"},    {33, "Update"},  {34, "Attack"},
        {35, "Decay"},    {36, "Sustain"}, {37, "Release"},
        {38, "Env Dpth"}, {39, "Cut"},     {40, "Res"},
        {41, "Flt Vel"},  {42, "Attack"},  {43, "Decay"},
        {44, "Sustain"},  {45, "Release"}, {46, "Amp Vel"},
        {47, "Volume"},   {-1, "Harmo"},   {std::numeric_limits<int32_t>::min(), "Harmo"},
    };
    for (const auto& [index, name] : cases) {
        const auto r = readInto(*plugin, vst2::effGetParamName, index);
        EXPECT_EQ(r.text, name) << "index " << index;
        for (std::size_t i = r.text.size(); i <= 8; ++i)
            EXPECT_EQ(r.bytes[i], '\0') << "index " << index << " byte " << i;
        for (std::size_t i = 9; i < r.bytes.size(); ++i)
            EXPECT_EQ(r.bytes[i], kSentinel) << "index " << index << " byte " << i;
    }
}

TEST(Parameters, NameBeyondTheTableLeavesTheBufferAlone) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    for (int32_t index : {48, 100, std::numeric_limits<int32_t>::max()}) {
        const auto r = readInto(*plugin, vst2::effGetParamName, index);
        for (char c : r.bytes)
            EXPECT_EQ(c, kSentinel) << "index " << index;
    }
}

TEST(Parameters, LabelIsYnkEverywhereAndDisplayWritesNothing) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    for (int32_t index : {-5, 0, 33, 47, 48, 1000}) {
        const auto label = readInto(*plugin, vst2::effGetParamLabel, index);
        EXPECT_EQ(label.text, "Ynk");
        EXPECT_EQ(label.bytes[8], '\0');
        EXPECT_EQ(label.bytes[9], kSentinel);
        const auto display = readInto(*plugin, vst2::effGetParamDisplay, index);
        for (char c : display.bytes)
            EXPECT_EQ(c, kSentinel);
    }
}

TEST(Parameters, ValuesAreStoredUnclampedAndIndicesChecked) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    plugin->setParameter(5, 2.0f);
    EXPECT_EQ(plugin->getParameter(5), 2.0f);
    plugin->setParameter(6, -3.5f);
    EXPECT_EQ(plugin->getParameter(6), -3.5f);
    plugin->setParameter(48, 0.7f);
    plugin->setParameter(-1, 0.7f);
    EXPECT_EQ(plugin->getParameter(48), 0.0f);
    EXPECT_EQ(plugin->getParameter(-1), 0.0f);
    EXPECT_EQ(floatBits(plugin->getParameter(47)), 0x3E1EB852u);
    EXPECT_EQ(floatBits(plugin->getParameter(0)), 0x3F800000u);
}

TEST(Parameters, UpdateFiresAboveNineTenthsAndReadsBackZero) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    const std::pair<float, float> cases[] = {{0.9f, 0.9f}, {0.95f, 0.0f}, {0.91f, 0.0f}, {0.5f, 0.5f}, {1.0f, 0.0f}};
    for (const auto& [written, readBack] : cases) {
        plugin->setParameter(33, written);
        EXPECT_EQ(plugin->getParameter(33), readBack) << "written " << written;
    }
}

TEST(Parameters, ProgramNameIsCutAtTwentyFour) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    const char* longName = "abcdefghijklmnopqrstuvwxyz";  // 26 characters
    plugin->dispatch(vst2::effSetProgramName, 0, 0, const_cast<char*>(longName));
    std::array<char, 40> buffer;
    buffer.fill(kSentinel);
    plugin->dispatch(vst2::effGetProgramName, 0, 0, buffer.data());
    EXPECT_EQ(std::string(buffer.data()), "abcdefghijklmnopqrstuvwx");
    EXPECT_EQ(buffer[24], '\0');
    EXPECT_EQ(buffer[25], kSentinel);
}

TEST(Parameters, AutomationAppliesTheValueBeforeTellingTheHost) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    auto* instrument = static_cast<veltrosa::vst2edge::EffectBase*>(plugin->effect()->object);
    float seenByHost = -1.0f;
    plugin->setCallHook([&](const vsthost::HostCall& call) -> std::optional<intptr_t> {
        if (call.opcode == vst2::audioMasterAutomate)
            seenByHost = plugin->getParameter(call.index);
        return std::nullopt;
    });
    plugin->clearCalls();
    instrument->setParameterAutomated(40, 0.25f);
    const auto calls = plugin->callsWithOpcode(vst2::audioMasterAutomate);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].index, 40);
    EXPECT_EQ(calls[0].value, 0);
    EXPECT_EQ(calls[0].ptr, nullptr);
    EXPECT_EQ(calls[0].opt, 0.25f);
    EXPECT_TRUE(calls[0].withEffect);
    EXPECT_EQ(seenByHost, 0.25f);
}
