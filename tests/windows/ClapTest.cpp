// The 64-bit Windows Veltrosa.clap under Wine: loaded as a host loads it,
// its descriptor and parameters, and the VST 2 DLL's samples bit for bit.
#include <windows.h>

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "WindowsSupport.h"
#include "abi/clap.h"

namespace {

std::string clapPath() {
    const std::string dll = windows_support::pluginPath();
    return dll.substr(0, dll.size() - 3) + "clap";
}

const void* CLAPCALL noExtension(const clap::Host*, const char*) { return nullptr; }
void CLAPCALL noRequest(const clap::Host*) {}

struct EventList {
    std::vector<clap::EventNote> notes;
    static uint32_t CLAPCALL size(const clap::InputEvents* list) {
        return static_cast<uint32_t>(static_cast<EventList*>(list->ctx)->notes.size());
    }
    static const clap::EventHeader* CLAPCALL get(const clap::InputEvents* list, uint32_t i) {
        return &static_cast<EventList*>(list->ctx)->notes[i].header;
    }
};

bool CLAPCALL ignoreEvent(const clap::OutputEvents*, const clap::EventHeader*) { return true; }

}  // namespace

TEST(ClapDll, PlaysTheVst2DllsSamplesBitForBit) {
    HMODULE module = LoadLibraryA(clapPath().c_str());
    ASSERT_NE(module, nullptr) << clapPath();
    const auto* entry = reinterpret_cast<const clap::PluginEntry*>(GetProcAddress(module, "clap_entry"));
    ASSERT_NE(entry, nullptr);
    ASSERT_TRUE(entry->init(clapPath().c_str()));
    const auto* factory = static_cast<const clap::PluginFactory*>(entry->getFactory(clap::kPluginFactoryId));
    ASSERT_NE(factory, nullptr);
    ASSERT_EQ(factory->getPluginCount(factory), 1u);
    const clap::PluginDescriptor* descriptor = factory->getPluginDescriptor(factory, 0);
    EXPECT_STREQ(descriptor->id, "com.bramblers.veltrosa");
    EXPECT_STREQ(descriptor->name, "Veltrosa");
    const clap::Host host{clap::kVersion, nullptr, "wine test", "", "", "1", noExtension, noRequest, noRequest,
                          noRequest};
    const clap::Plugin* plugin = factory->createPlugin(factory, &host, descriptor->id);
    ASSERT_NE(plugin, nullptr);
    ASSERT_TRUE(plugin->init(plugin));
    const auto* params = static_cast<const clap::PluginParams*>(plugin->getExtension(plugin, clap::kExtParams));
    ASSERT_NE(params, nullptr);
    EXPECT_EQ(params->count(plugin), 48u);
    ASSERT_TRUE(plugin->activate(plugin, 44100.0, 1, 512));

    auto vst2 = windows_support::loadPlugin();
    ASSERT_TRUE(vst2);
    vst2->start(44100.0f, 512);
    const int keys[] = {60, 64, 67, 72, 48};
    std::vector<float> a, b;
    float* channels[2] = {nullptr, nullptr};
    std::vector<float> left(512), right(512);
    channels[0] = left.data();
    channels[1] = right.data();
    clap::AudioBuffer output{channels, nullptr, 2, 0, 0};
    for (int block = 0; block < 60; ++block) {
        EventList events;
        std::vector<vsthost::MidiMessage> messages;
        if (block < 5) {
            clap::EventNote on{};
            on.header = {sizeof on, static_cast<uint32_t>(block * 50), clap::kCoreEventSpace, clap::kEventNoteOn, 0};
            on.noteId = -1;
            on.key = static_cast<int16_t>(keys[block]);
            on.velocity = 100 / 127.0;
            events.notes.push_back(on);
            messages.push_back(vsthost::noteOn(block * 50, keys[block], 100));
        }
        const clap::InputEvents in{&events, EventList::size, EventList::get};
        const clap::OutputEvents out{nullptr, ignoreEvent};
        const clap::Process process{-1, 512, nullptr, nullptr, &output, 0, 1, &in, &out};
        ASSERT_EQ(plugin->process(plugin, &process), clap::kProcessContinue);
        a.insert(a.end(), left.begin(), left.end());
        if (!messages.empty())
            vst2->sendEvents(messages);
        vst2->process(512);
        const auto l = vst2->output(0);
        b.insert(b.end(), l.begin(), l.begin() + 512);
    }
    ASSERT_EQ(a.size(), b.size());
    float peak = 0.0f;
    for (std::size_t i = 0; i < a.size(); ++i) {
        peak = std::max(peak, std::abs(a[i]));
        ASSERT_EQ(std::bit_cast<uint32_t>(a[i]), std::bit_cast<uint32_t>(b[i])) << "frame " << i;
    }
    EXPECT_GT(peak, 0.01f);
    plugin->deactivate(plugin);
    plugin->destroy(plugin);
    entry->deinit();
    FreeLibrary(module);
}
