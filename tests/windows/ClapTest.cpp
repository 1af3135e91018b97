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

std::string clapPath() { return windows_support::besideProgram("Veltrosa.clap"); }

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

namespace {

struct EditorHost {
    int flushRequests = 0;
    std::vector<clap::EventParamValue> sent;
};

EditorHost editorHost;

void CLAPCALL countFlush(const clap::Host*) { ++editorHost.flushRequests; }
void CLAPCALL ignoreRescan(const clap::Host*, uint32_t) {}
void CLAPCALL ignoreClear(const clap::Host*, clap::Id, uint32_t) {}

const void* CLAPCALL paramsExtension(const clap::Host*, const char* id) {
    static const clap::HostParams params{ignoreRescan, ignoreClear, countFlush};
    return std::strcmp(id, clap::kExtParams) == 0 ? &params : nullptr;
}

bool CLAPCALL keepValue(const clap::OutputEvents*, const clap::EventHeader* event) {
    if (event->type == clap::kEventParamValue)
        editorHost.sent.push_back(*reinterpret_cast<const clap::EventParamValue*>(event));
    return true;
}

LPARAM at(int x, int y) { return static_cast<LPARAM>(x) | (static_cast<LPARAM>(y) << 16); }

}  // namespace

// The editor embedded in a host's Win32 window: its size, and a click that
// reaches the host at the next flush, never from the window's thread.
TEST(ClapDll, TheEditorOpensInTheHostsWindowAndAClickReachesTheHostAtItsFlush) {
    HMODULE module = LoadLibraryA(clapPath().c_str());
    ASSERT_NE(module, nullptr);
    const auto* entry = reinterpret_cast<const clap::PluginEntry*>(GetProcAddress(module, "clap_entry"));
    ASSERT_TRUE(entry != nullptr && entry->init(clapPath().c_str()));
    const auto* factory = static_cast<const clap::PluginFactory*>(entry->getFactory(clap::kPluginFactoryId));
    const clap::Host host{clap::kVersion, nullptr, "wine test", "", "", "1", paramsExtension, noRequest, noRequest,
                          noRequest};
    const clap::Plugin* plugin = factory->createPlugin(factory, &host, factory->getPluginDescriptor(factory, 0)->id);
    ASSERT_TRUE(plugin != nullptr && plugin->init(plugin));
    const auto* gui = static_cast<const clap::PluginGui*>(plugin->getExtension(plugin, clap::kExtGui));
    const auto* params = static_cast<const clap::PluginParams*>(plugin->getExtension(plugin, clap::kExtParams));
    ASSERT_NE(gui, nullptr);
    EXPECT_TRUE(gui->isApiSupported(plugin, clap::kWindowApiWin32, false));
    EXPECT_FALSE(gui->isApiSupported(plugin, clap::kWindowApiX11, false));
    ASSERT_TRUE(gui->create(plugin, clap::kWindowApiWin32, false));
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "VeltrosaClapTestHost";
    RegisterClassA(&wc);
    HWND parent = CreateWindowExA(0, "VeltrosaClapTestHost", "host", WS_POPUP | WS_VISIBLE, 40, 30, 305, 370, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(parent, nullptr);
    clap::Window window{};
    window.api = clap::kWindowApiWin32;
    window.win32 = parent;
    ASSERT_TRUE(gui->setParent(plugin, &window));
    ASSERT_TRUE(gui->show(plugin));
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(gui->getSize(plugin, &w, &h));
    EXPECT_EQ(w, 305u);
    EXPECT_EQ(h, 370u);
    HWND editor = GetWindow(parent, GW_CHILD);
    ASSERT_NE(editor, nullptr);
    RECT client{};
    GetClientRect(editor, &client);
    EXPECT_EQ(client.right, 305);
    EXPECT_EQ(client.bottom, 370);
    // Harmonic 6's bar, a quarter of the way down: 0.75.
    SendMessageA(editor, WM_LBUTTONDOWN, MK_LBUTTON, at(10 + 9 * 5 + 4, 25));
    SendMessageA(editor, WM_LBUTTONUP, 0, at(10 + 9 * 5 + 4, 25));
    EXPECT_GE(editorHost.flushRequests, 1);
    EXPECT_TRUE(editorHost.sent.empty());
    const clap::OutputEvents out{nullptr, keepValue};
    const clap::InputEvents none{nullptr, [](const clap::InputEvents*) { return 0u; },
                                 [](const clap::InputEvents*, uint32_t) -> const clap::EventHeader* { return nullptr; }};
    params->flush(plugin, &none, &out);
    ASSERT_EQ(editorHost.sent.size(), 1u);
    EXPECT_EQ(editorHost.sent[0].paramId, 5u);
    EXPECT_EQ(editorHost.sent[0].value, 0.75);
    double value = 0.0;
    ASSERT_TRUE(params->getValue(plugin, 5, &value));
    EXPECT_EQ(value, 0.75);
    gui->destroy(plugin);
    plugin->destroy(plugin);
    entry->deinit();
    FreeLibrary(module);
}
