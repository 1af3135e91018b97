// Loading, instantiating and closing the way hosts and their scanners do.
#include "TestSupport.h"
#include "vst2/Instrument.h"

using namespace testing_support;

namespace {

intptr_t VSTCALL silentHost(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == vst2::audioMasterVersion ? 2400 : 0;
}

}  // namespace

TEST(Lifecycle, CloseThroughTheRecordAnswersOneAndReleasesTheObject) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    // The leak checker of the sanitizer build fails the run if this leaks.
    EXPECT_EQ(plugin->close(), 1);
    EXPECT_FALSE(plugin->isOpen());
}

TEST(Lifecycle, ObjectDispatcherWithCloseDoesNotRelease) {
    auto* instrument = new veltrosa::vst2edge::Instrument(silentHost);
    EXPECT_EQ(instrument->dispatcher(vst2::effClose, 0, 0, nullptr, 0.0f), 0);
    // Still alive: it answers, and deleting it once is the only release.
    EXPECT_EQ(instrument->dispatcher(vst2::effIdentify, 0, 0, nullptr, 0.0f), 0x4E764566);
    delete instrument;
}

TEST(Lifecycle, TwoInstancesLiveIndependently) {
    auto first = startedPlugin();
    auto second = startedPlugin();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->effect(), second->effect());
    first->setParameter(5, 0.25f);
    EXPECT_EQ(first->getParameter(5), 0.25f);
    EXPECT_EQ(second->getParameter(5), 0.0f);
    first->close();
    EXPECT_EQ(second->dispatch(vst2::effIdentify), 0x4E764566);
}

TEST(Lifecycle, LoadUnloadAndLoadAgainInOneProcess) {
    for (int round = 0; round < 3; ++round) {
        auto plugin = startedPlugin();
        ASSERT_TRUE(plugin) << "round " << round;
        plugin->setParameter(0, 0.5f);
        EXPECT_EQ(plugin->getParameter(0), 0.5f);
        auto [left, right] = plugin->render(1024, 512);
        EXPECT_EQ(left.size(), 1024u);
    }
}

TEST(Lifecycle, ScannerSequence) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    EXPECT_EQ(plugin->dispatch(vst2::effIdentify), 0x4E764566);
    EXPECT_EQ(plugin->dispatch(vst2::effSetBlockSizeAndSampleRate, 0, 512, nullptr, 48000.0f), 0);
    plugin->setSampleRate(48000.0f);
    plugin->setBlockSize(512);
    EXPECT_EQ(plugin->dispatch(vst2::effSetProcessPrecision, 0, 0), 0);
    EXPECT_EQ(plugin->dispatch(vst2::effOpen), 0);
    EXPECT_EQ(plugin->dispatch(vst2::effSetProgram, 0, 0), 0);
    EXPECT_EQ(plugin->dispatch(vst2::effGetPlugCategory), 2);
    EXPECT_EQ(plugin->effectName(), "Veltrosa");
    EXPECT_EQ(plugin->vendorString(), "Bramblers Global Entertainment");
    EXPECT_EQ(plugin->productString(), "Veltrosa");
    EXPECT_EQ(plugin->dispatch(vst2::effCanDo, 0, 0, const_cast<char*>("receiveVstMidiEvent")), 1);
    EXPECT_EQ(plugin->dispatch(vst2::effCanDo, 0, 0, const_cast<char*>("bypass")), -1);
    plugin->resume();
    EXPECT_EQ(plugin->dispatch(vst2::effStartProcess), 0);
    const vsthost::MidiMessage notes[] = {vsthost::noteOn(0, 60, 100), vsthost::noteOff(256, 60)};
    auto [left, right] = plugin->render(512, 512, notes);
    EXPECT_EQ(left.size(), 512u);
    EXPECT_EQ(plugin->dispatch(vst2::effStopProcess), 0);
    plugin->suspend();
    EXPECT_EQ(plugin->close(), 1);
}

TEST(Lifecycle, ClosedWithoutEverBeingResumed) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    EXPECT_TRUE(plugin->callsWithOpcode(vst2::audioMasterWantMidi).empty());
    EXPECT_EQ(plugin->close(), 1);
}

TEST(Lifecycle, RecordCallbacksRejectForeignRecords) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    vst2::AEffect* effect = plugin->effect();
    vst2::AEffect forged{};
    EXPECT_EQ(effect->dispatcher(&forged, vst2::effIdentify, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(effect->dispatcher(nullptr, vst2::effClose, 0, 0, nullptr, 0.0f), 0);
    effect->setParameter(nullptr, 0, 0.5f);
    EXPECT_EQ(effect->getParameter(nullptr, 0), 0.0f);
    effect->processReplacing(nullptr, nullptr, nullptr, 64);
    EXPECT_EQ(plugin->dispatch(vst2::effIdentify), 0x4E764566);
}
