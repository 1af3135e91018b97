// The 64-bit Windows VST 3 bundle under Wine, loaded as a host loads it
// (the module inside the folder, InitDll, the factory, processor and
// controller): the Linux module's phrase to the bit, its state chunks, and
// its editor in a host's window.
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
    vst3host::ComponentHandler handler;            // outlives the controller holding it
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
    // The instrument's values, then the program the controller adds.
    ASSERT_EQ(linuxSnapshot.editedChunk.size(), 4u * static_cast<std::size_t>(controller->getParameterCount() - 1));
    for (int32_t i = 0; i + 1 < controller->getParameterCount(); ++i) {
        float value = 0.0f;
        std::memcpy(&value, linuxSnapshot.editedChunk.data() + 4 * i, sizeof value);
        EXPECT_EQ(controller->getParamNormalized(static_cast<vst3::ParamId>(i)), static_cast<double>(value)) << i;
    }
    instance.reset();
    bundleModule.reset();
    EXPECT_EQ(GetModuleHandleA("Veltrosa.vst3"), nullptr) << "the module stays loaded after its last FreeLibrary";
}

namespace {

std::vector<HWND> children(HWND parent) {
    std::vector<HWND> found;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        found.push_back(child);
    return found;
}

COLORREF pixel(HWND window, int x, int y) {
    HDC dc = GetDC(window);
    const COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return colour;
}

// The host's message loop, for up to two seconds or until `done`.
template <typename Done>
bool pumpUntil(Done done) {
    for (int turn = 0; turn < 200; ++turn) {
        windows_support::pumpMessages();
        if (done())
            return true;
        Sleep(10);
    }
    return false;
}

}  // namespace

// The view as a Windows host drives it, with no frame: its window alone
// polls the controller (no run loop on Windows).
TEST_F(Vst3Bundle, TheEditorLivesInAChildOfTheHostsWindowAndPollsWithItsTimer) {
    using Step = vst3host::ComponentHandler::Step;
    vst3::EditController* controller = instance->controller();
    ASSERT_EQ(controller->setComponentHandler(&handler), vst3::kOk);
    // Removed and released as hosts do, before the module goes, even when a check fails.
    const auto closeView = [](vst3::PlugView* v) {
        v->removed();
        v->release();
    };
    const std::unique_ptr<vst3::PlugView, decltype(closeView)> view(controller->createView("editor"), closeView);
    ASSERT_NE(view, nullptr);
    const HWND host = windows_support::hostWindow(0);
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(view->isPlatformTypeSupported("HWND"), vst3::kOk);
    EXPECT_NE(view->isPlatformTypeSupported("X11EmbedWindowID"), vst3::kOk);
    EXPECT_NE(view->attached(host, "X11EmbedWindowID"), vst3::kOk);
    EXPECT_TRUE(children(host).empty());

    ASSERT_EQ(view->attached(host, "HWND"), vst3::kOk);
    const std::vector<HWND> windows = children(host);
    ASSERT_EQ(windows.size(), 1u);
    const HWND editor = windows[0];
    RECT client{};
    GetClientRect(editor, &client);
    EXPECT_EQ(client.right, 305);
    EXPECT_EQ(client.bottom, 370);
    vst3::ViewRect size{};
    ASSERT_EQ(view->getSize(&size), vst3::kOk);
    EXPECT_EQ(size.right - size.left, 305);
    EXPECT_EQ(size.bottom - size.top, 370);

    // Resonance's number box (parameter 40, 0 by default) dragged ten pixels
    // up: one edit, ten half-hundredth steps.
    SendMessageA(editor, WM_LBUTTONDOWN, MK_LBUTTON, windows_support::point(95, 290));
    for (int y = 289; y >= 280; --y)
        SendMessageA(editor, WM_MOUSEMOVE, MK_LBUTTON, windows_support::point(95, y));
    SendMessageA(editor, WM_LBUTTONUP, 0, windows_support::point(95, 280));
    const auto& edits = handler.edits();
    ASSERT_GE(edits.size(), 3u);
    EXPECT_EQ(edits.front().step, Step::Begin);
    EXPECT_EQ(edits.back().step, Step::End);
    for (const auto& e : edits)
        EXPECT_EQ(e.id, 40u);
    const auto& last = edits[edits.size() - 2];
    EXPECT_EQ(last.step, Step::Perform);
    EXPECT_NEAR(last.value, 0.05, 1e-6);
    EXPECT_EQ(controller->getParamNormalized(40), last.value);

    // Harmonic 3's bar, 0 by default, moved to the top by the host: only the
    // timer can show it.
    handler.clear();
    constexpr COLORREF kLight = RGB(250, 250, 250), kBlack = RGB(0, 0, 0);
    EXPECT_TRUE(pumpUntil([&] { return pixel(editor, 31, 12) == kLight && pixel(editor, 31, 66) == kBlack; }));
    ASSERT_EQ(controller->setParamNormalized(2, 1.0), vst3::kOk);
    EXPECT_TRUE(pumpUntil([&] { return pixel(editor, 31, 12) == kBlack && pixel(editor, 31, 66) == kLight; }));
    EXPECT_TRUE(handler.edits().empty());

    EXPECT_EQ(view->removed(), vst3::kOk);
    EXPECT_FALSE(IsWindow(editor));
    EXPECT_TRUE(children(host).empty());
}

// A project holding both editions with both editors open: each window is of
// its own module's class, so the VST 2 DLL unloading first leaves the VST 3
// editor's window procedure in code that is still loaded.
TEST(Vst3BesideVst2, EachEditorsWindowBelongsToItsOwnModule) {
    auto vst2 = windows_support::loadPlugin();
    ASSERT_TRUE(vst2);
    ASSERT_EQ(vst2->dispatch(vst2::effEditOpen, 0, 0, windows_support::hostWindow(1)), 1);
    std::string error;
    auto module = vst3host::Module::open(vst3host::moduleInBundle(windows_support::besideProgram("Veltrosa.vst3")), error);
    ASSERT_TRUE(module) << error;
    auto instance = vst3host::Instance::create(*module, error);
    ASSERT_TRUE(instance) << error;
    vst3::PlugView* view = instance->controller()->createView("editor");
    ASSERT_NE(view, nullptr);
    const HWND host = windows_support::hostWindow(0);
    ASSERT_EQ(view->attached(host, "HWND"), vst3::kOk);
    const HWND editor = GetWindow(host, GW_CHILD);
    char name[32] = {};
    GetClassNameA(editor, name, sizeof name);
    EXPECT_STREQ(name, "VeltrosaEditor");
    const auto owner = reinterpret_cast<HMODULE>(GetClassLongPtrA(editor, GCLP_HMODULE));
    EXPECT_NE(owner, GetModuleHandleA("Veltrosa.dll"));
    ASSERT_EQ(owner, GetModuleHandleA("Veltrosa.vst3"));

    vst2->dispatch(vst2::effEditClose);
    vst2.reset();
    EXPECT_EQ(GetModuleHandleA("Veltrosa.dll"), nullptr);
    RedrawWindow(editor, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    windows_support::pumpMessages();
    EXPECT_TRUE(IsWindow(editor));
    EXPECT_EQ(view->removed(), vst3::kOk);
    view->release();
}
