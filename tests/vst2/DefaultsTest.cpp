// What the base class answers where a subclass adds nothing: through the
// built plug-in's dispatcher, and on a bare effect for the operations the
// instrument replaces.
#include <array>
#include <cstring>
#include <functional>

#include "BaseSupport.h"
#include "TestSupport.h"

using base_support::BareEffect;
using namespace testing_support;

namespace {

constexpr unsigned char kSentinel = 0xA5;

struct DefaultCase {
    int32_t opcode;
    int32_t index;
    intptr_t value;
    float opt;
    intptr_t expected;
};

}  // namespace

TEST(Defaults, BaseOperationsAnswerAndWriteNothing) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    const DefaultCase cases[] = {
        {vst2::effString2Parameter, 3, 0, 0.0f, 0},
        {vst2::effGetProgramNameIndexed, 0, 0, 0.0f, 0},
        {vst2::effGetInputProperties, 0, 0, 0.0f, 0},
        {vst2::effGetOutputProperties, 1, 0, 0.0f, 0},
        {vst2::effOfflineNotify, 1, 1, 0.0f, 0},
        {vst2::effOfflinePrepare, 0, 1, 0.0f, 0},
        {vst2::effOfflineRun, 0, 1, 0.0f, 0},
        {vst2::effProcessVarIo, 0, 0, 0.0f, 0},
        {vst2::effSetBypass, 0, 1, 0.0f, 0},
        {vst2::effVendorSpecific, 1, 2, 3.0f, 0},
        {vst2::effGetTailSize, 0, 0, 0.0f, 0},
        {vst2::effGetParameterProperties, 5, 0, 0.0f, 0},
        {vst2::effGetMidiProgramName, 0, 0, 0.0f, 0},
        {vst2::effGetCurrentMidiProgram, 0, 0, 0.0f, -1},
        {vst2::effGetMidiProgramCategory, 0, 0, 0.0f, 0},
        {vst2::effHasMidiProgramsChanged, 0, 0, 0.0f, 0},
        {vst2::effGetMidiKeyName, 0, 0, 0.0f, 0},
        {vst2::effBeginSetProgram, 0, 0, 0.0f, 0},
        {vst2::effEndSetProgram, 0, 0, 0.0f, 0},
        {vst2::effShellGetNextPlugin, 0, 0, 0.0f, 0},
        {vst2::effStartProcess, 0, 0, 0.0f, 0},
        {vst2::effStopProcess, 0, 0, 0.0f, 0},
        {vst2::effSetTotalSampleToProcess, 0, 4096, 0.0f, 4096},
        {vst2::effSetPanLaw, 0, 1, 0.7071f, 0},
        {vst2::effBeginLoadBank, 0, 0, 0.0f, 0},
        {vst2::effBeginLoadProgram, 0, 0, 0.0f, 0},
        {vst2::effSetProcessPrecision, 0, 1, 0.0f, 0},
        {vst2::effGetNumMidiInputChannels, 0, 0, 0.0f, 0},
        {vst2::effGetNumMidiOutputChannels, 0, 0, 0.0f, 0},
        {vst2::effGetVstVersion, 0, 0, 0.0f, 2400},
        {vst2::effGetPlugCategory, 0, 0, 0.0f, vst2::kPlugCategSynth},
    };
    for (const auto& c : cases) {
        std::array<unsigned char, 1024> buffer;
        buffer.fill(kSentinel);
        EXPECT_EQ(plugin->dispatch(c.opcode, c.index, c.value, buffer.data(), c.opt), c.expected)
            << "opcode " << c.opcode;
        for (unsigned char byte : buffer)
            ASSERT_EQ(byte, kSentinel) << "opcode " << c.opcode << " wrote into the buffer";
    }
    // Setting an arrangement is refused whatever is offered; getting one
    // clears both addresses.
    vst2::VstSpeakerArrangement arrangement{};
    EXPECT_EQ(
        plugin->dispatch(vst2::effSetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&arrangement), &arrangement), 0);
    EXPECT_EQ(plugin->dispatch(vst2::effSetSpeakerArrangement), 0);
}

TEST(Defaults, AccumulatingAndDoubleCallbacksLeaveBuffersAlone) {
    auto plugin = startedPlugin();
    ASSERT_TRUE(plugin);
    vst2::AEffect* effect = plugin->effect();
    std::array<float, 64> left, right;
    left.fill(0.5f);
    right.fill(-0.25f);
    float* outputs[] = {left.data(), right.data()};
    plugin->sendEvents(std::array{vsthost::noteOn(0, 60, 100)});
    effect->process(effect, nullptr, outputs, 64);
    for (std::size_t i = 0; i < left.size(); ++i) {
        ASSERT_EQ(left[i], 0.5f);
        ASSERT_EQ(right[i], -0.25f);
    }
    std::array<double, 64> leftD, rightD;
    leftD.fill(0.5);
    rightD.fill(-0.25);
    double* outputsD[] = {leftD.data(), rightD.data()};
    effect->processDoubleReplacing(effect, nullptr, outputsD, 64);
    for (std::size_t i = 0; i < leftD.size(); ++i) {
        ASSERT_EQ(leftD[i], 0.5);
        ASSERT_EQ(rightD[i], -0.25);
    }
}

TEST(Defaults, TheBareEffectClaimsNothing) {
    BareEffect effect;
    std::array<char, 80> text;
    text.fill('#');
    const auto call = [&](int32_t opcode, int32_t index = 0, void* ptr = nullptr) {
        return effect.dispatcher(opcode, index, 0, ptr, 0.0f);
    };
    EXPECT_EQ(call(vst2::effCanBeAutomated, 33), 1);
    EXPECT_EQ(call(vst2::effProcessEvents), 0);
    EXPECT_EQ(call(vst2::effGetEffectName, 0, text.data()), 0);
    EXPECT_EQ(call(vst2::effGetVendorString, 0, text.data()), 0);
    EXPECT_EQ(call(vst2::effGetProductString, 0, text.data()), 0);
    EXPECT_EQ(text[0], '#') << "no name is written";
    EXPECT_EQ(call(vst2::effGetVendorVersion), 0);
    EXPECT_EQ(call(vst2::effCanDo, 0, const_cast<char*>("receiveVstMidiEvent")), -1);
    EXPECT_EQ(call(vst2::effGetPlugCategory), vst2::kPlugCategUnknown);
    effect.isSynth(true);
    EXPECT_EQ(call(vst2::effGetPlugCategory), vst2::kPlugCategSynth);

    // Names the instrument replaces: the empty text, within the bound.
    for (int32_t opcode :
         {vst2::effGetProgramName, vst2::effGetParamLabel, vst2::effGetParamDisplay, vst2::effGetParamName}) {
        text.fill('#');
        EXPECT_EQ(call(opcode, 0, text.data()), 0);
        EXPECT_EQ(text[0], '\0') << opcode;
        EXPECT_EQ(text[26], '#') << opcode;
    }
    EXPECT_EQ(effect.getParameter(0), 0.0f);
    effect.setProgram(3);
    EXPECT_EQ(call(vst2::effGetProgram), 3);
    EXPECT_EQ(effect.getChunk(nullptr, false), 0);
    EXPECT_EQ(effect.setChunk(nullptr, 0, true), 0);
}

TEST(Defaults, SettersTouchOnlyTheirFieldOrBit) {
    struct FlagCase {
        std::function<void(BareEffect&, bool)> set;
        int32_t bit;
    };
    const FlagCase flags[] = {
        {[](BareEffect& e, bool s) { e.hasClip(s); }, 0x2},
        {[](BareEffect& e, bool s) { e.hasVu(s); }, 0x4},
        {[](BareEffect& e, bool s) { e.canMono(s); }, 0x8},
        {[](BareEffect& e, bool s) { e.canProcessReplacing(s); }, 0x10},
        {[](BareEffect& e, bool s) { e.programsAreChunks(s); }, 0x20},
        {[](BareEffect& e, bool s) { e.isSynth(s); }, 0x100},
        {[](BareEffect& e, bool s) { e.noTail(s); }, 0x200},
        {[](BareEffect& e, bool s) { e.setExtIsAsync(s); }, 0x400},
        {[](BareEffect& e, bool s) { e.setExtHasBuffer(s); }, 0x800},
        {[](BareEffect& e, bool s) { e.canDoubleReplacing(s); }, 0x1000},
    };
    for (const auto& f : flags) {
        BareEffect effect;
        const int32_t before = effect.flags();
        EXPECT_EQ(before, vst2::effFlagsCanReplacing);
        f.set(effect, true);
        EXPECT_EQ(effect.flags(), before | f.bit) << f.bit;
        f.set(effect, false);
        EXPECT_EQ(effect.flags(), before & ~f.bit) << f.bit;
    }

    BareEffect effect;
    vst2::AEffect* record = effect.getAeffect();
    effect.setUniqueID(0x12345678);
    effect.setNumInputs(3);
    effect.setNumOutputs(6);
    effect.setInitialDelay(64);
    effect.setRealtimeQualities(5);
    effect.setOfflineQualities(7);
    EXPECT_EQ(record->uniqueID, 0x12345678);
    EXPECT_EQ(record->numInputs, 3);
    EXPECT_EQ(record->numOutputs, 6);
    EXPECT_EQ(record->initialDelay, 64);
    EXPECT_EQ(record->realQualities, 5);
    EXPECT_EQ(record->offQualities, 7);
    EXPECT_EQ(record->flags, vst2::effFlagsCanReplacing);
    EXPECT_EQ(effect.getEditor(), nullptr);
    EXPECT_EQ(record->object, &effect);
    EXPECT_EQ(effect.getSampleRate(), 44100.0f);
    EXPECT_EQ(effect.getBlockSize(), 1024);
    effect.setBlockSizeAndSampleRate(256, 96000.0f);
    EXPECT_EQ(effect.getBlockSize(), 256);
    EXPECT_EQ(effect.getSampleRate(), 96000.0f);
    effect.dispatcher(vst2::effSetBlockSize, 0, 128, nullptr, 0.0f);
    EXPECT_EQ(effect.getBlockSize(), 128);
}

TEST(Defaults, OldOperationsKeepTheirFixedAnswers) {
    BareEffect effect;
    char text[8] = "x";
    EXPECT_EQ(effect.getVu(), 0.0f);
    EXPECT_EQ(effect.getNumCategories(), 1);
    EXPECT_FALSE(effect.copyProgram(0));
    effect.inputConnected(0, true);
    effect.outputConnected(0, false);
    EXPECT_EQ(effect.reportCurrentPosition(), 0);
    EXPECT_EQ(effect.reportDestinationBuffer(), nullptr);
    EXPECT_FALSE(effect.getErrorText(text));
    EXPECT_EQ(text[0], 'x');
    EXPECT_EQ(effect.getIcon(), nullptr);
    EXPECT_FALSE(effect.setViewPosition(10, 20));
    EXPECT_EQ(effect.effectIdle(), 0);
    EXPECT_FALSE(effect.keysRequired());
    EXPECT_EQ(effect.getNumOfflinePasses(), 0);
    EXPECT_EQ(effect.getNumOfflineMetaPasses(), 0);
    // The host reaches none of them: the program-category count stays 0 there.
    EXPECT_EQ(effect.dispatcher(vst2::effGetNumProgramCategories, 0, 0, nullptr, 0.0f), 0);
}
