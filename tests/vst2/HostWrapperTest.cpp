// The base class's calls back to the host: each opcode with exactly its
// arguments, the answer it makes of the host's reply, and its fallback when
// no host callback is stored.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "BaseSupport.h"

using base_support::BareEffect;
using base_support::RecordingHost;

namespace {

// Stand-ins for the host-side records: the wrappers pass them unread.
char storage[5][16];
auto* const kTask = reinterpret_cast<vst2::VstOfflineTask*>(storage[0]);
auto* const kFiles = reinterpret_cast<vst2::VstAudioFile*>(storage[1]);
auto* const kWindow = reinterpret_cast<vst2::VstWindow*>(storage[2]);
auto* const kSelect = reinterpret_cast<vst2::VstFileSelect*>(storage[3]);
char* const kText = storage[4];

template <typename T>
intptr_t asInt(T* pointer) {
    return reinterpret_cast<intptr_t>(pointer);
}

struct WrapperCase {
    const char* name;
    std::function<intptr_t(BareEffect&)> call;
    int32_t opcode;
    int32_t index;
    intptr_t value;
    void* ptr;
    float opt;
    intptr_t whenZero;     // the host answers 0
    intptr_t whenSeven;    // the host answers 7
    intptr_t withoutHost;  // no callback stored
};

}  // namespace

TEST(HostWrappers, EachOpcodeWithItsArgumentsAnswerAndFallback) {
    const WrapperCase cases[] = {
        {"automate",
         [](BareEffect& e) {
             e.setParameterAutomated(5, 0.25f);
             return intptr_t{0};
         },
         vst2::audioMasterAutomate, 5, 0, nullptr, 0.25f, 0, 0, 0},
        {"version", [](BareEffect& e) { return intptr_t{e.getMasterVersion()}; }, vst2::audioMasterVersion, 0, 0,
         nullptr, 0.0f, 1, 7, 1},
        {"current id", [](BareEffect& e) { return intptr_t{e.getCurrentUniqueId()}; }, vst2::audioMasterCurrentId, 0, 0,
         nullptr, 0.0f, 0, 7, 0},
        {"idle", [](BareEffect& e) { return intptr_t{e.masterIdle()}; }, vst2::audioMasterIdle, 0, 0, nullptr, 0.0f, 0,
         7, 0},
        {"input pin", [](BareEffect& e) { return intptr_t{e.isInputConnected(3)}; }, vst2::audioMasterPinConnected, 3,
         0, nullptr, 0.0f, 1, 0, 1},
        {"output pin", [](BareEffect& e) { return intptr_t{e.isOutputConnected(2)}; }, vst2::audioMasterPinConnected, 2,
         1, nullptr, 0.0f, 1, 0, 1},
        {"want midi", [](BareEffect& e) { return e.wantEvents(); }, vst2::audioMasterWantMidi, 0, 1, nullptr, 0.0f, 0,
         7, 0},
        {"time", [](BareEffect& e) { return asInt(e.getTimeInfo(0x2E00)); }, vst2::audioMasterGetTime, 0, 0x2E00,
         nullptr, 0.0f, 0, 7, 0},
        {"tempo at", [](BareEffect& e) { return e.tempoAt(123456); }, vst2::audioMasterTempoAt, 0, 123456, nullptr,
         0.0f, 0, 7, 0},
        {"automatable", [](BareEffect& e) { return intptr_t{e.getNumAutomatableParameters()}; },
         vst2::audioMasterGetNumAutomatableParameters, 0, 0, nullptr, 0.0f, 0, 7, 0},
        {"quantization", [](BareEffect& e) { return intptr_t{e.getParameterQuantization()}; },
         vst2::audioMasterGetParameterQuantization, 0, 0, nullptr, 0.0f, 0, 7, 0},
        {"io changed", [](BareEffect& e) { return intptr_t{e.ioChanged()}; }, vst2::audioMasterIOChanged, 0, 0, nullptr,
         0.0f, 0, 1, 0},
        {"need idle", [](BareEffect& e) { return intptr_t{e.needIdle()}; }, vst2::audioMasterNeedIdle, 0, 0, nullptr,
         0.0f, 0, 1, 0},
        {"size window", [](BareEffect& e) { return intptr_t{e.sizeWindow(305, 370)}; }, vst2::audioMasterSizeWindow,
         305, 370, nullptr, 0.0f, 0, 1, 0},
        {"sample rate", [](BareEffect& e) { return static_cast<intptr_t>(e.updateSampleRate()); },
         vst2::audioMasterGetSampleRate, 0, 0, nullptr, 0.0f, 44100, 7, 44100},
        {"block size", [](BareEffect& e) { return intptr_t{e.updateBlockSize()}; }, vst2::audioMasterGetBlockSize, 0, 0,
         nullptr, 0.0f, 1024, 7, 1024},
        {"input latency", [](BareEffect& e) { return intptr_t{e.getInputLatency()}; }, vst2::audioMasterGetInputLatency,
         0, 0, nullptr, 0.0f, 0, 7, 0},
        {"output latency", [](BareEffect& e) { return intptr_t{e.getOutputLatency()}; },
         vst2::audioMasterGetOutputLatency, 0, 0, nullptr, 0.0f, 0, 7, 0},
        {"previous plug", [](BareEffect& e) { return asInt(e.getPreviousPlug(5)); }, vst2::audioMasterGetPreviousPlug,
         0, 0, nullptr, 0.0f, 0, 7, 0},
        {"next plug", [](BareEffect& e) { return asInt(e.getNextPlug(5)); }, vst2::audioMasterGetNextPlug, 0, 0,
         nullptr, 0.0f, 0, 7, 0},
        {"replace or accumulate", [](BareEffect& e) { return intptr_t{e.willProcessReplacing()}; },
         vst2::audioMasterWillReplaceOrAccumulate, 0, 0, nullptr, 0.0f, 0, 7, 0},
        {"process level", [](BareEffect& e) { return intptr_t{e.getCurrentProcessLevel()}; },
         vst2::audioMasterGetCurrentProcessLevel, 0, 0, nullptr, 0.0f, 0, 7, 0},
        {"automation state", [](BareEffect& e) { return intptr_t{e.getAutomationState()}; },
         vst2::audioMasterGetAutomationState, 0, 0, nullptr, 0.0f, 0, 7, 0},
        {"offline start", [](BareEffect& e) { return intptr_t{e.offlineStart(kFiles, 4, 2)}; },
         vst2::audioMasterOfflineStart, 2, 4, kFiles, 0.0f, 0, 1, 0},
        {"offline read", [](BareEffect& e) { return intptr_t{e.offlineRead(kTask, 9, true)}; },
         vst2::audioMasterOfflineRead, 1, 9, kTask, 0.0f, 0, 1, 0},
        {"offline write", [](BareEffect& e) { return intptr_t{e.offlineWrite(kTask, 9)}; },
         vst2::audioMasterOfflineWrite, 0, 9, kTask, 0.0f, 0, 1, 0},
        {"offline pass", [](BareEffect& e) { return intptr_t{e.offlineGetCurrentPass()}; },
         vst2::audioMasterOfflineGetCurrentPass, 0, 0, nullptr, 0.0f, 0, 1, 0},
        {"offline meta pass", [](BareEffect& e) { return intptr_t{e.offlineGetCurrentMetaPass()}; },
         vst2::audioMasterOfflineGetCurrentMetaPass, 0, 0, nullptr, 0.0f, 0, 1, 0},
        {"output sample rate", [](BareEffect& e) { return e.setOutputSampleRate(48000.0f); },
         vst2::audioMasterSetOutputSampleRate, 0, 0, nullptr, 48000.0f, 0, 7, 0},
        {"output arrangement", [](BareEffect& e) { return asInt(e.getOutputSpeakerArrangement()); },
         vst2::audioMasterGetOutputSpeakerArrangement, 0, 0, nullptr, 0.0f, 0, 7, 0},
        {"vendor string", [](BareEffect& e) { return intptr_t{e.getHostVendorString(kText)}; },
         vst2::audioMasterGetVendorString, 0, 0, kText, 0.0f, 0, 1, 0},
        {"product string", [](BareEffect& e) { return intptr_t{e.getHostProductString(kText)}; },
         vst2::audioMasterGetProductString, 0, 0, kText, 0.0f, 0, 1, 0},
        {"vendor version", [](BareEffect& e) { return intptr_t{e.getHostVendorVersion()}; },
         vst2::audioMasterGetVendorVersion, 0, 0, nullptr, 0.0f, 0, 7, 0},
        {"vendor specific", [](BareEffect& e) { return e.hostVendorSpecific(3, -4, kText, 0.5f); },
         vst2::audioMasterVendorSpecific, 3, -4, kText, 0.5f, 0, 7, 0},
        {"can do", [](BareEffect& e) { return intptr_t{e.canHostDo(kText)}; }, vst2::audioMasterCanDo, 0, 0, kText,
         0.0f, 0, 1, 0},
        {"language", [](BareEffect& e) { return intptr_t{e.getHostLanguage()}; }, vst2::audioMasterGetLanguage, 0, 0,
         nullptr, 0.0f, 0, 7, 0},
        {"open window", [](BareEffect& e) { return asInt(e.openWindow(kWindow)); }, vst2::audioMasterOpenWindow, 0, 0,
         kWindow, 0.0f, 0, 7, 0},
        {"close window", [](BareEffect& e) { return intptr_t{e.closeWindow(kWindow)}; }, vst2::audioMasterCloseWindow,
         0, 0, kWindow, 0.0f, 0, 1, 0},
        {"directory", [](BareEffect& e) { return asInt(e.getDirectory()); }, vst2::audioMasterGetDirectory, 0, 0,
         nullptr, 0.0f, 0, 7, 0},
        {"update display", [](BareEffect& e) { return intptr_t{e.updateDisplay()}; }, vst2::audioMasterUpdateDisplay, 0,
         0, nullptr, 0.0f, 0, 1, 0},
        {"begin edit", [](BareEffect& e) { return intptr_t{e.beginEdit(12)}; }, vst2::audioMasterBeginEdit, 12, 0,
         nullptr, 0.0f, 0, 1, 0},
        {"end edit", [](BareEffect& e) { return intptr_t{e.endEdit(12)}; }, vst2::audioMasterEndEdit, 12, 0, nullptr,
         0.0f, 0, 1, 0},
        {"open file selector", [](BareEffect& e) { return intptr_t{e.openFileSelector(kSelect)}; },
         vst2::audioMasterOpenFileSelector, 0, 0, kSelect, 0.0f, 0, 1, 0},
        {"close file selector", [](BareEffect& e) { return intptr_t{e.closeFileSelector(kSelect)}; },
         vst2::audioMasterCloseFileSelector, 0, 0, kSelect, 0.0f, 0, 1, 0},
        {"chunk file", [](BareEffect& e) { return intptr_t{e.getChunkFile(kText)}; }, vst2::audioMasterGetChunkFile, 0,
         0, kText, 0.0f, 0, 1, 0},
        {"input arrangement", [](BareEffect& e) { return asInt(e.getInputSpeakerArrangement()); },
         vst2::audioMasterGetInputSpeakerArrangement, 0, 0, nullptr, 0.0f, 0, 7, 0},
    };
    for (const auto& c : cases) {
        for (const intptr_t answer : {intptr_t{0}, intptr_t{7}}) {
            BareEffect effect(RecordingHost::callback);
            RecordingHost::reset(answer);
            const intptr_t result = c.call(effect);
            EXPECT_EQ(result, answer == 0 ? c.whenZero : c.whenSeven) << c.name << ", host answers " << answer;
            ASSERT_EQ(RecordingHost::calls.size(), 1u) << c.name;
            const auto& sent = RecordingHost::calls.front();
            EXPECT_EQ(sent.effect, effect.getAeffect()) << c.name;
            EXPECT_EQ(sent.opcode, c.opcode) << c.name;
            EXPECT_EQ(sent.index, c.index) << c.name;
            EXPECT_EQ(sent.value, c.value) << c.name;
            EXPECT_EQ(sent.ptr, c.ptr) << c.name;
            EXPECT_EQ(std::bit_cast<uint32_t>(sent.opt), std::bit_cast<uint32_t>(c.opt)) << c.name;
        }
        BareEffect alone;
        EXPECT_EQ(c.call(alone), c.withoutHost) << c.name << " without a host";
    }
}

TEST(HostWrappers, FileSelectorCallsNeedARecord) {
    BareEffect effect(RecordingHost::callback);
    RecordingHost::reset(1);
    EXPECT_FALSE(effect.openFileSelector(nullptr));
    EXPECT_FALSE(effect.closeFileSelector(nullptr));
    EXPECT_FALSE(effect.getChunkFile(nullptr));
    EXPECT_TRUE(RecordingHost::calls.empty());
}

TEST(HostWrappers, SampleRateAndBlockSizeAdoptOnlyPositiveAnswers) {
    BareEffect effect(RecordingHost::callback);
    for (const intptr_t refused : {intptr_t{0}, intptr_t{-48000}}) {
        RecordingHost::reset(refused);
        EXPECT_EQ(effect.updateSampleRate(), 44100.0);
        EXPECT_EQ(effect.updateBlockSize(), 1024);
    }
    if constexpr (sizeof(intptr_t) > sizeof(int32_t)) {
        RecordingHost::reset(std::numeric_limits<intptr_t>::max());
        EXPECT_EQ(effect.updateBlockSize(), 1024);
    }
    RecordingHost::reset(96000);
    EXPECT_EQ(effect.updateSampleRate(), 96000.0);
    EXPECT_EQ(effect.getSampleRate(), 96000.0f);
    RecordingHost::reset(256);
    EXPECT_EQ(effect.updateBlockSize(), 256);
    EXPECT_EQ(effect.getBlockSize(), 256);
}

TEST(HostWrappers, ResumeAsksForMidiOnlyForASynthOrAMidiReceiver) {
    BareEffect effect(RecordingHost::callback);
    RecordingHost::reset(1);
    effect.dispatcher(vst2::effMainsChanged, 0, 1, nullptr, 0.0f);
    EXPECT_TRUE(RecordingHost::calls.empty()) << "the base claims no MIDI input";
    effect.isSynth(true);
    effect.dispatcher(vst2::effMainsChanged, 0, 1, nullptr, 0.0f);
    ASSERT_EQ(RecordingHost::calls.size(), 1u);
    EXPECT_EQ(RecordingHost::calls.front().opcode, vst2::audioMasterWantMidi);
    EXPECT_EQ(RecordingHost::calls.front().value, 1);
}
