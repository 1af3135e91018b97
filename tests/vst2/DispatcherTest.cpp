// The dispatcher's answers, opcode by opcode, and its behaviour on whatever a
// host may pass.
#include <array>
#include <cstring>
#include <limits>

#include "TestSupport.h"

using namespace testing_support;

namespace {

struct OpcodeAnswer {
    int32_t opcode;
    int32_t index;
    intptr_t value;
    intptr_t expected;
};

}  // namespace

TEST(Dispatcher, FixedAnswers) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    const OpcodeAnswer cases[] = {
        {vst2::effOpen, 0, 0, 0},
        {vst2::effGetProgram, 0, 0, 0},
        {vst2::effIdentify, 0, 0, 0x4E764566},
        {vst2::effGetVstVersion, 0, 0, 2400},
        {vst2::effGetVendorVersion, 0, 0, 1000},
        {vst2::effGetPlugCategory, 0, 0, 2},
        {vst2::effGetCurrentMidiProgram, 0, 0, -1},
        {vst2::effSetTotalSampleToProcess, 0, 12345, 12345},
        {vst2::effSetTotalSampleToProcess, 0, -7, -7},
        {vst2::effCanBeAutomated, 33, 0, 0},
        {vst2::effCanBeAutomated, 0, 0, 1},
        {vst2::effCanBeAutomated, 32, 0, 1},
        {vst2::effCanBeAutomated, 47, 0, 1},
        {vst2::effCanBeAutomated, 48, 0, 1},
        {vst2::effCanBeAutomated, -1, 0, 1},
        {vst2::effEditKeyDown, 65, 10, 0},
        {vst2::effEditKeyUp, 65, 10, 0},
        {vst2::effSetEditKnobMode, 0, 2, 0},
        {80, 0, 0, 0},
        {1000, 0, 0, 0},
        {-1, 0, 0, 0},
        {std::numeric_limits<int32_t>::min(), 0, 0, 0},
        {std::numeric_limits<int32_t>::max(), 0, 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(plugin->dispatch(c.opcode, c.index, c.value), c.expected)
            << "opcode " << c.opcode << " index " << c.index << " value " << c.value;
}

TEST(Dispatcher, OpcodesWithoutEffectAnswerZero) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    for (int32_t opcode :
         {9,  16, 17, 18, 20, 21, 27, 28, 29, 30, 31, 32, 33, 34, 36, 37, 38, 39, 40, 41, 42, 43, 44,
          46, 50, 52, 53, 54, 55, 56, 57, 62, 64, 65, 66, 67, 68, 70, 71, 72, 74, 75, 76, 77, 78, 79}) {
        std::array<char, 512> buffer{};
        EXPECT_EQ(plugin->dispatch(opcode, 0, 0, buffer.data()), 0) << "opcode " << opcode;
        EXPECT_EQ(plugin->dispatch(opcode, 0, 0, nullptr), 0) << "opcode " << opcode << " with null";
    }
}

TEST(Dispatcher, SetProgramNeverChangesTheProgram) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    for (intptr_t program : {0, 1, -1, 1000})
        plugin->dispatch(vst2::effSetProgram, 0, program);
    EXPECT_EQ(plugin->dispatch(vst2::effGetProgram), 0);
}

TEST(Dispatcher, IdentityStrings) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    EXPECT_EQ(plugin->effectName(), "Veltrosa");
    EXPECT_EQ(plugin->productString(), "Veltrosa");
    EXPECT_EQ(plugin->vendorString(), "Bramblers Global Entertainment");
    EXPECT_EQ(plugin->programName(), "Default");
    EXPECT_EQ(plugin->dispatch(vst2::effGetEffectName, 0, 0, std::array<char, 64>{}.data()), 1);
}

TEST(Dispatcher, CanDoMatchesWholeTextsOnly) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    const std::pair<const char*, intptr_t> cases[] = {
        {"receiveVstEvents", 1},  {"receiveVstMidiEvent", 1},   {"receiveVstTimeInfo", 1},   {"receiveVstEvent", -1},
        {"sendVstMidiEvent", -1}, {"receiveVstMidiEvents", -1}, {"ReceiveVstMidiEvent", -1}, {"", -1},
        {"bypass", -1},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(plugin->dispatch(vst2::effCanDo, 0, 0, const_cast<char*>(text)), expected) << text;
}

TEST(Dispatcher, NullPointersAreAnsweredSafely) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    for (int32_t opcode = -2; opcode <= 81; ++opcode) {
        if (opcode == vst2::effClose)
            continue;
        for (int32_t index : {-1, 0, 33, 48, std::numeric_limits<int32_t>::max()}) {
            const intptr_t answer = plugin->dispatch(opcode, index, 0, nullptr, 0.0f);
            const bool fixedAnswer = opcode == vst2::effIdentify || opcode == vst2::effGetVstVersion ||
                                     opcode == vst2::effGetVendorVersion || opcode == vst2::effGetPlugCategory ||
                                     opcode == vst2::effGetCurrentMidiProgram || opcode == vst2::effCanBeAutomated ||
                                     opcode == vst2::effGetProgram;
            if (opcode == vst2::effProcessEvents) {
                EXPECT_EQ(answer, 1);
            } else if (!fixedAnswer) {
                EXPECT_EQ(answer, 0) << "opcode " << opcode << " index " << index;
            }
        }
    }
    // Still alive and answering.
    EXPECT_EQ(plugin->dispatch(vst2::effIdentify), 0x4E764566);
}

TEST(Dispatcher, HugeAndOddArgumentsAreHarmless) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    const float odd[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(), 1e30f, -1e30f};
    for (float opt : odd) {
        EXPECT_EQ(plugin->dispatch(vst2::effEditKeyDown, -1, -1, nullptr, opt), 0);
        EXPECT_EQ(plugin->dispatch(vst2::effEditKeyUp, 0x7FFFFFFF, 0x7FFFFFFF, nullptr, opt), 0);
    }
    EXPECT_EQ(plugin->dispatch(vst2::effSetBlockSize, 0, -1), 0);
    EXPECT_EQ(plugin->dispatch(vst2::effSetBlockSize, 0, std::numeric_limits<intptr_t>::max()), 0);
    EXPECT_EQ(plugin->dispatch(vst2::effSetProgram, 0, std::numeric_limits<intptr_t>::min()), 0);
    EXPECT_EQ(plugin->dispatch(vst2::effGetProgram), 0);
}

TEST(Dispatcher, SpeakerArrangementQueryClearsBothPointers) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    auto* marker = reinterpret_cast<vst2::VstSpeakerArrangement*>(std::uintptr_t{0x1234});
    vst2::VstSpeakerArrangement* input = marker;
    vst2::VstSpeakerArrangement* output = marker;
    EXPECT_EQ(plugin->dispatch(vst2::effGetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&input), &output), 0);
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(output, nullptr);
    output = marker;
    EXPECT_EQ(plugin->dispatch(vst2::effGetSpeakerArrangement, 0, 0, &output), 0);
    EXPECT_EQ(output, nullptr);
}

TEST(Dispatcher, MainsChangedAsksForMidiOnEveryResume) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    plugin->clearCalls();
    plugin->suspend();
    EXPECT_TRUE(plugin->calls().empty());
    plugin->resume();
    plugin->resume();
    const auto calls = plugin->calls();
    ASSERT_EQ(calls.size(), 2u);
    for (const auto& call : calls) {
        EXPECT_EQ(call.opcode, vst2::audioMasterWantMidi);
        EXPECT_TRUE(call.withEffect);
        EXPECT_EQ(call.index, 0);
        EXPECT_EQ(call.value, 1);
        EXPECT_EQ(call.ptr, nullptr);
        EXPECT_EQ(call.opt, 0.0f);
    }
}
