// The VST 3 edition's editor in a real X server: a view attached to a host
// window, pumped only through the descriptor and timer it registered with
// the frame's run loop (the test turns the loop), and driven by real XTEST
// input; its edits reach the host through the component handler.
#include <gtest/gtest.h>

#include "DrawingCaches.h"
#include "Vst3Host.h"
#include "X11Fixture.h"
#include "core/Parameters.h"

namespace {

using Step = vst3host::ComponentHandler::Step;

constexpr int kUpdateX = 265, kUpdateY = 90;  // the Update button

class Vst3EditorTest : public x11test::X11Test {
protected:
    void SetUp() override {
        X11Test::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        placeAwayFromCorner();
        std::string error;
        module = vst3host::Module::open(vst3host::moduleInBundle(VELTROSA_VST3_BUNDLE), error);
        ASSERT_TRUE(module) << error;
        instance = vst3host::Instance::create(*module, error);
        ASSERT_TRUE(instance) << error;
        controller()->setComponentHandler(&handler);
        view = controller()->createView("editor");
        ASSERT_NE(view, nullptr);
    }
    // As hosts do: removed before the last release, the run loop holding the
    // view until then.
    void TearDown() override {
        if (view != nullptr) {
            view->removed();
            view->release();
        }
        instance.reset();
        module.reset();
    }
    vst3::EditController* controller() const { return instance->controller(); }
    // The host's main loop.
    void step() {
        frame.pump();
        host->processEvents();
    }
    bool attach() {
        view->setFrame(&frame);
        return view->attached(reinterpret_cast<void*>(host->window()), "X11EmbedWindowID") == vst3::kOk &&
               x11test::pumpUntil([&] { step(); }, [&] { return host->pixel(2, 2) == kBackground; });
    }

    std::unique_ptr<vst3host::Module> module;
    std::unique_ptr<vst3host::Instance> instance;
    vst3host::ComponentHandler handler;
    vst3host::Frame frame;
    vst3::PlugView* view = nullptr;
};

}  // namespace

TEST_F(Vst3EditorTest, RegistersWithTheRunLoopWhileAttachedAndAsksToBeResizedForANewScale) {
    EXPECT_EQ(controller()->createView("other"), nullptr);
    controller()->createView("editor")->release();  // never attached
    void* object = nullptr;
    ASSERT_EQ(view->queryInterface(vst3::kIidContentScaleSupport.bytes, &object), vst3::kOk);
    auto* scaling = static_cast<vst3::ContentScaleSupport*>(object);
    EXPECT_EQ(scaling->setContentScaleFactor(1.0f), vst3::kOk);
    ASSERT_TRUE(attach());
    EXPECT_EQ(frame.eventHandlers(), 1u);
    EXPECT_EQ(frame.timers(), 1u);
    // The child announces itself as an XEmbed client: version 0, mapped.
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    ASSERT_NE(XQueryTree(host->display(), host->window(), &root, &parent, &children, &count), 0);
    ASSERT_EQ(count, 1u);
    const Atom embedInfo = XInternAtom(host->display(), "_XEMBED_INFO", False);
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    ASSERT_EQ(XGetWindowProperty(host->display(), children[0], embedInfo, 0, 2, False, embedInfo, &type, &format,
                                 &items, &after, &data), Success);
    XFree(children);
    ASSERT_EQ(items, 2u);
    EXPECT_EQ(reinterpret_cast<long*>(data)[0], 0);
    EXPECT_EQ(reinterpret_cast<long*>(data)[1], 1);
    XFree(data);

    EXPECT_EQ(scaling->setContentScaleFactor(2.0f), vst3::kOk);
    ASSERT_EQ(frame.resizes().size(), 1u);
    const vst3::ViewRect asked = frame.resizes().back();
    EXPECT_EQ(asked.right - asked.left, 610);
    EXPECT_EQ(asked.bottom - asked.top, 740);
    // The new window is pumped as the old one was; it shows, doubled, the
    // gap above the bars where harmonic 2's bar began at 1.
    EXPECT_EQ(frame.eventHandlers(), 1u);
    EXPECT_EQ(frame.timers(), 1u);
    EXPECT_TRUE(x11test::pumpUntil([&] { step(); }, [&] { return host->pixel(20, 10) == kBackground; }));
    scaling->release();

    EXPECT_EQ(view->removed(), vst3::kOk);
    EXPECT_EQ(frame.eventHandlers(), 0u);
    EXPECT_EQ(frame.timers(), 0u);
}

TEST_F(Vst3EditorTest, ADragAndAClickReachTheHostThroughTheComponentHandler) {
    ASSERT_TRUE(attach());
    pointer->drag(kResBoxX, kResBoxY, kResBoxX, kResBoxY - 10);
    ASSERT_TRUE(x11test::pumpUntil([&] { step(); },
                                   [&] { return !handler.edits().empty() && handler.edits().back().step == Step::End; }));
    const auto& edits = handler.edits();
    EXPECT_EQ(edits.front().step, Step::Begin);
    for (const auto& e : edits)
        EXPECT_EQ(e.id, static_cast<vst3::ParamId>(veltrosa::kParamResonance));
    ASSERT_GE(edits.size(), 3u);
    const auto& last = edits[edits.size() - 2];
    EXPECT_EQ(last.step, Step::Perform);
    EXPECT_NEAR(last.value, 0.05, 1e-6);  // ten half-hundredth steps up from 0
    EXPECT_EQ(controller()->getParamNormalized(veltrosa::kParamResonance), last.value);

    // Update is pressed and let go within one edit, as its button springs back.
    handler.clear();
    pointer->click(kUpdateX, kUpdateY);
    ASSERT_TRUE(x11test::pumpUntil([&] { step(); }, [&] { return handler.edits().size() >= 4; }));
    const Step steps[] = {Step::Begin, Step::Perform, Step::Perform, Step::End};
    const double values[] = {0.0, 1.0, 0.0, 0.0};
    ASSERT_EQ(handler.edits().size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(handler.edits()[i].step, steps[i]) << i;
        EXPECT_EQ(handler.edits()[i].id, static_cast<vst3::ParamId>(veltrosa::kParamUpdate)) << i;
        EXPECT_EQ(handler.edits()[i].value, values[i]) << i;
    }
}

TEST_F(Vst3EditorTest, AValueTheHostSetsOnTheControllerShowsInTheOpenEditor) {
    ASSERT_TRUE(attach());
    // Harmonic 3's bar, 0 by default: its handle at the bottom, the top empty.
    constexpr int kBarX = 10 + 9 * 2 + 4, kBarTopY = 13;
    EXPECT_EQ(host->pixel(kBarX, kBarTopY), 0xFAFAFAu);
    ASSERT_EQ(controller()->setParamNormalized(2, 1.0), vst3::kOk);
    EXPECT_TRUE(x11test::pumpUntil([&] { step(); }, [&] { return host->pixel(kBarX, kBarTopY) == 0x000000u; }));
    EXPECT_TRUE(handler.edits().empty());
}
