// The built plug-in's editor inside a host's X11 window, driven with real
// pointer input through the X server as a user would drive it.
#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "X11Fixture.h"
#include "ui/EditorSnapshot.h"

namespace {

using testing_support::startedPlugin;
using x11test::pumpFor;
using x11test::pumpUntil;

constexpr uint32_t kDark = 0x000000;
constexpr uint32_t kLight = 0xFAFAFA;

// Centre of harmonic bar k, of the number box at (x, y), and of "Update".
int barX(int k) { return 10 + 9 * k + 4; }
constexpr int kUpdateX = 265, kUpdateY = 90;  // parameter 33

int countAutomations(const vsthost::Plugin& plugin, int32_t index) {
    int n = 0;
    for (const auto& call : plugin.callsWithOpcode(vst2::audioMasterAutomate))
        n += call.index == index ? 1 : 0;
    return n;
}

class EditorInputTest : public x11test::X11Test {
protected:
    void SetUp() override {
        X11Test::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        placeAwayFromCorner();
        plugin = startedPlugin();
        ASSERT_TRUE(plugin);
        editor = std::make_unique<x11host::EditorSession>(*plugin, *host);
        ASSERT_EQ(editor->open(), 1);
        ASSERT_TRUE(pumpUntil(step(), [&] { return host->pixel(2, 2) == kBackground; }));
        plugin->clearCalls();
    }
    void TearDown() override {
        editor.reset();
        plugin.reset();
    }
    std::function<void()> step() {
        return [this] { editor->idle(); };
    }
    // The editor's own window: the host window's only child.
    Window editorWindow() {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        XQueryTree(host->display(), host->window(), &root, &parent, &children, &count);
        const Window child = count == 1 ? children[0] : 0;
        XFree(children);
        return child;
    }

    std::unique_ptr<vsthost::Plugin> plugin;
    std::unique_ptr<x11host::EditorSession> editor;
};

TEST_F(EditorInputTest, ClickingAHarmonicBarMovesItsParameterAndTellsTheHost) {
    const int k = 5;
    // One quarter down the 60-pixel bar: 1 - 15/60.
    pointer->click(barX(k), 10 + 15);
    ASSERT_TRUE(pumpUntil(step(), [&] { return countAutomations(*plugin, k) > 0; }));
    EXPECT_FLOAT_EQ(plugin->getParameter(k), 0.75f);
    const auto calls = plugin->callsWithOpcode(vst2::audioMasterAutomate);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].index, k);
    EXPECT_FLOAT_EQ(calls[0].opt, 0.75f);
    // The press took the keyboard focus for the editor's window.
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(host->display(), &focus, &revert);
    EXPECT_EQ(focus, editorWindow());
}

TEST_F(EditorInputTest, DraggingAValueBoxUpTenPixelsAddsAHalfStepPerPixel) {
    plugin->setParameter(40, 0.5f);
    pointer->drag(kResBoxX, kResBoxY, kResBoxX, kResBoxY - 10);
    ASSERT_TRUE(pumpUntil(step(), [&] { return countAutomations(*plugin, 40) == 10; }));
    // Ten single-precision steps of 0.005 land one float step below 0.55.
    EXPECT_NEAR(plugin->getParameter(40), 0.55f, 1e-6f);
    for (const auto& call : plugin->callsWithOpcode(vst2::audioMasterAutomate))
        EXPECT_EQ(call.index, 40);
}

TEST_F(EditorInputTest, ADragBeyondTheEditorsTopLeftKeepsGoingAndEndsThere) {
    // The bandwidth box counts every pixel of the way, including the 30
    // above the window, where the pointer's coordinates are negative.
    plugin->setParameter(32, 0.1f);
    pointer->drag(85, 90, 85, -30, true);
    pointer->stepTo(-20, -30);
    pointer->release(Button1);
    float expected = 0.1f;
    for (int i = 0; i < 120; ++i)
        expected = expected - -1.0f * 0.005f;
    ASSERT_TRUE(pumpUntil(step(), [&] { return countAutomations(*plugin, 32) == 120; }));
    pumpFor(step());
    EXPECT_NEAR(plugin->getParameter(32), expected, 1e-6f);
    EXPECT_NEAR(plugin->getParameter(32), 0.7f, 1e-5f);
    plugin->clearCalls();
    // The drag is over: moving back over the box changes nothing.
    pointer->moveTo(85, 95);
    pumpFor(step());
    EXPECT_TRUE(plugin->callsWithOpcode(vst2::audioMasterAutomate).empty());
}

TEST_F(EditorInputTest, ClickingUpdateRegeneratesWithoutTellingTheHost) {
    // Over the button it turns dark; the click's release draws it at rest,
    // which is how we know the click went through.
    pointer->moveTo(kUpdateX, kUpdateY);
    ASSERT_TRUE(pumpUntil(step(), [&] { return host->pixel(240, 83) == kDark; }));
    pointer->press(Button1);
    pointer->release(Button1);
    ASSERT_TRUE(pumpUntil(step(), [&] { return host->pixel(240, 83) == kLight; }));
    EXPECT_EQ(plugin->getParameter(33), 0.0f);
    EXPECT_TRUE(plugin->callsWithOpcode(vst2::audioMasterAutomate).empty());
}

TEST_F(EditorInputTest, TheWheelOverABoxStepsByAHundredthAndSidewaysDoesNothing) {
    plugin->setParameter(40, 0.5f);
    pointer->scroll(kResBoxX, kResBoxY, 3);
    for (unsigned sideways : {6u, 7u}) {
        pointer->press(sideways);
        pointer->release(sideways);
    }
    pointer->scroll(kResBoxX, kResBoxY, -1);
    ASSERT_TRUE(pumpUntil(step(), [&] { return countAutomations(*plugin, 40) == 4; }));
    pumpFor(step());
    float expected = 0.5f;
    std::vector<float> sent, wanted;
    for (int d : {+1, +1, +1, -1}) {
        expected += static_cast<float>(d) * 0.01f;
        wanted.push_back(expected);
    }
    for (const auto& call : plugin->callsWithOpcode(vst2::audioMasterAutomate))
        sent.push_back(call.opt);
    EXPECT_EQ(sent, wanted);
    EXPECT_EQ(plugin->getParameter(40), expected);
}

TEST_F(EditorInputTest, ClosingInTheMiddleOfADragEndsItQuietly) {
    plugin->setParameter(2, 0.5f);
    pointer->drag(barX(2), 40, barX(2), 20, true);
    ASSERT_TRUE(pumpUntil(step(), [&] { return countAutomations(*plugin, 2) > 0; }));
    editor->close();
    pointer->stepTo(barX(2), 60);
    pointer->release(Button1);
    const float left = plugin->getParameter(2);
    ASSERT_EQ(editor->open(), 1);
    plugin->clearCalls();
    pointer->moveTo(barX(2), 65);
    pumpFor(step());
    EXPECT_EQ(plugin->getParameter(2), left);
    EXPECT_TRUE(plugin->callsWithOpcode(vst2::audioMasterAutomate).empty());
    // And the reopened editor takes clicks as before.
    pointer->click(barX(2), 25);
    EXPECT_TRUE(pumpUntil(step(), [&] { return plugin->getParameter(2) == 0.75f; }));
}

// Our window against the headless raster image of the same state: the same
// drawing code on two Cairo backends.
class EditorPixelsTest : public EditorInputTest {
protected:
    // Differences between the two images; the raster one comes from the
    // plug-in's current state.
    int differingPixels(std::string& report) {
        const std::string path = ::testing::TempDir() + "veltrosa-x11-raster-" + std::to_string(getpid()) + ".png";
        std::string error;
        const auto chunk = plugin->getChunk();
        if (!veltrosa::writeEditorPng(chunk, path, error)) {
            report = error;
            return -1;
        }
        const auto raster = x11host::Image::readPng(path);
        std::remove(path.c_str());
        const auto shown = host->capture();
        if (!raster || !shown || raster->width != shown->width || raster->height != shown->height) {
            report = "images of different sizes";
            return -1;
        }
        int differing = 0;
        for (int y = 0; y < shown->height; ++y)
            for (int x = 0; x < shown->width; ++x)
                if (shown->at(x, y) != raster->at(x, y)) {
                    if (differing++ < 5) {
                        char line[96];
                        std::snprintf(line, sizeof line, "(%d, %d): window %06X, raster %06X\n", x, y, shown->at(x, y),
                                      raster->at(x, y));
                        report += line;
                    }
                }
        return differing;
    }
};

TEST_F(EditorPixelsTest, AFreshlyOpenedEditorMatchesTheRasterImagePixelForPixel) {
    std::string report;
    EXPECT_EQ(differingPixels(report), 0) << report;
}

TEST_F(EditorPixelsTest, AfterRealInputTheWindowStillMatchesTheRasterImage) {
    // Redrawn control by control as the input arrives, then left by the
    // pointer so that nothing shows hovered.
    pointer->click(barX(3), 20);
    pointer->click(barX(20), 60);
    pointer->drag(kResBoxX, kResBoxY, kResBoxX, kResBoxY - 7);
    pointer->scroll(265, 150, 2);  // amplifier Attack
    pointer->click(kUpdateX, kUpdateY);
    pointer->moveTo(400, 400);
    ASSERT_TRUE(pumpUntil(step(), [&] { return countAutomations(*plugin, 42) == 2; }));
    pumpFor(step());
    std::string report;
    EXPECT_EQ(differingPixels(report), 0) << report;
}

TEST_F(EditorPixelsTest, HostChangesShowAtTheNextMouseMessageOverTheWindow) {
    // From a thread of the host's own: the editor only takes note of it.
    std::thread([&] { plugin->setParameter(40, 0.25f); }).join();
    pumpFor(step());
    std::string report;
    EXPECT_GT(differingPixels(report), 0);  // not drawn yet
    pointer->moveTo(150, 75);               // over the window, on no control
    pointer->moveTo(400, 400);
    pumpFor(step(), 150);
    EXPECT_EQ(differingPixels(report), 0) << report;
}

}  // namespace
