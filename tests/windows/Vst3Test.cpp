// The 64-bit Windows VST 3 bundle under Wine, loaded as a host loads it
// (the module inside the folder, InitDll, the factory, processor and
// controller): the Linux module's phrase to the bit, and its state chunks.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Snapshot.h"
#include "Vst3Host.h"
#include "WindowsSupport.h"

namespace {

class Vst3Bundle : public testing::Test {
protected:
    void SetUp() override {
        const char* reference = windows_support::referencePath();
        ASSERT_NE(reference, nullptr) << "VELTROSA_REFERENCE names no snapshot of the Linux module";
        ASSERT_TRUE(crossplatform::load(linuxSnapshot, reference)) << reference;
        std::string error;
        bundleModule =
            vst3host::Module::open(vst3host::moduleInBundle(windows_support::besideProgram("Veltrosa.vst3")), error);
        ASSERT_TRUE(bundleModule) << error;
        instance = vst3host::Instance::create(*bundleModule, error);
        ASSERT_TRUE(instance) << error;
    }
    crossplatform::Snapshot linuxSnapshot;
    std::unique_ptr<vst3host::Module> bundleModule;
    std::unique_ptr<vst3host::Instance> instance;  // released before its module
};

}  // namespace

TEST_F(Vst3Bundle, PlaysTheLinuxModulesPhraseBitForBit) {
    using namespace crossplatform;
    ASSERT_TRUE(instance->start(kPhraseRate, kPhraseBlock));
    std::vector<float> left, right;
    vst3host::EventList events;
    for (int32_t at = 0; at < kPhraseFrames; at += kPhraseBlock) {
        const int32_t frames = std::min(kPhraseBlock, kPhraseFrames - at);
        events.clear();
        for (const PhraseNote& n : kPhrase) {
            if (n.frame < at || n.frame >= at + frames)
                continue;
            const auto key = static_cast<int16_t>(n.key);
            if (n.velocity > 0)
                events.noteOn(n.frame - at, key, static_cast<float>(n.velocity) / 127.0f);
            else
                events.noteOff(n.frame - at, key);
        }
        ASSERT_EQ(instance->process(frames, &events), vst3::kOk);
        left.insert(left.end(), instance->left().begin(), instance->left().begin() + frames);
        right.insert(right.end(), instance->right().begin(), instance->right().begin() + frames);
    }
    ASSERT_EQ(left.size(), linuxSnapshot.left.size());
    ASSERT_EQ(right.size(), linuxSnapshot.right.size());
    float peak = 0.0f;
    for (std::size_t i = 0; i < left.size(); ++i) {
        peak = std::max(peak, std::abs(linuxSnapshot.left[i]));
        ASSERT_EQ(std::bit_cast<uint32_t>(left[i]), std::bit_cast<uint32_t>(linuxSnapshot.left[i])) << "frame " << i;
        ASSERT_EQ(std::bit_cast<uint32_t>(right[i]), std::bit_cast<uint32_t>(linuxSnapshot.right[i])) << "frame " << i;
    }
    EXPECT_GT(peak, 0.01f);
}

// The state is the VST 2 chunk, as on Linux: the default one out, an edited
// one in (five bytes a call) and out again, the controller following it;
// then the module unloads for good.
TEST_F(Vst3Bundle, StateIsTheLinuxModulesChunkBothWays) {
    vst3::Component* component = instance->component();
    vst3host::MemoryStream defaults;
    ASSERT_EQ(component->getState(&defaults), vst3::kOk);
    EXPECT_EQ(defaults.bytes(), linuxSnapshot.defaultChunk);
    vst3host::MemoryStream edited(linuxSnapshot.editedChunk, 5);
    ASSERT_EQ(component->setState(&edited), vst3::kOk);
    vst3host::MemoryStream out;
    ASSERT_EQ(component->getState(&out), vst3::kOk);
    EXPECT_EQ(out.bytes(), linuxSnapshot.editedChunk);
    vst3host::MemoryStream forController(linuxSnapshot.editedChunk, 5);
    vst3::EditController* controller = instance->controller();
    ASSERT_EQ(controller->setComponentState(&forController), vst3::kOk);
    ASSERT_EQ(linuxSnapshot.editedChunk.size(), 4u * static_cast<std::size_t>(controller->getParameterCount()));
    for (int32_t i = 0; i < controller->getParameterCount(); ++i) {
        float value = 0.0f;
        std::memcpy(&value, linuxSnapshot.editedChunk.data() + 4 * i, sizeof value);
        EXPECT_EQ(controller->getParamNormalized(static_cast<vst3::ParamId>(i)), static_cast<double>(value)) << i;
    }
    instance.reset();
    bundleModule.reset();
    EXPECT_EQ(GetModuleHandleA("Veltrosa.vst3"), nullptr) << "the module stays loaded after its last FreeLibrary";
}
