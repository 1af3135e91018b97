// The window host: hit tests, mouse routing with capture and hover, the wheel,
// parameter pushes and painting, driven through a headless window.
#include "EditorTestSupport.h"

using namespace editor_test;
using veltrosa::ControlWindow;
using veltrosa::RasterWindowLayer;

namespace {

class ControlWindowTest : public ::testing::Test {
protected:
    // Two adjacent probes sharing the edge x = 40, and one further right.
    ControlWindowTest() {
        a = add("a", 10, 20, 30, 40);
        b = add("b", 40, 20, 30, 40);
        c = add("c", 100, 20, 30, 40);
    }

    Probe* add(const char* name, int32_t x, int32_t y, int32_t w, int32_t h, Colour colour = {255, 0, 0}) {
        auto& added = gui.addControl(std::make_unique<Probe>(name, x, y, w, h, log, colour));
        added.owner = &gui;
        added.paramIndex = static_cast<int32_t>(gui.controlList().size()) - 1;
        return static_cast<Probe*>(&added);
    }

    RasterWindowLayer& open() {
        layer = openHeadless(gui);
        log.clear();
        return *layer;
    }

    std::vector<std::string> log;  // outlives gui, whose closing may still log
    RecordingEffect effect;
    ControlWindow gui{&effect, 200, 100};
    Probe* a;
    Probe* b;
    Probe* c;
    RasterWindowLayer* layer = nullptr;
};

using Log = std::vector<std::string>;

TEST_F(ControlWindowTest, HitTestExcludesTheLeftColumnTopRowAndTheFarEdges) {
    struct Case {
        int32_t x, y;
        Probe* expected;
    };
    const Case cases[] = {
        {10, 21, nullptr}, {11, 20, nullptr}, {11, 21, a},  // left column and top row are outside
        {39, 59, a},       {40, 30, nullptr},               // the shared edge belongs to neither
        {41, 30, b},       {69, 59, b},       {70, 30, nullptr},
        {50, 60, nullptr}, {-5, -5, nullptr}, {85, 30, nullptr},
    };
    for (const Case& hit : cases)
        EXPECT_EQ(gui.findControlAt(hit.x, hit.y), hit.expected) << hit.x << "," << hit.y;
}

TEST_F(ControlWindowTest, OverlappingControlsFirstAddedTakesTheMouseLastAddedIsOnTop) {
    Probe* under = add("under", 150, 50, 40, 40, {255, 0, 0});
    Probe* over = add("over", 160, 60, 40, 40, {0, 0, 255});
    EXPECT_EQ(gui.findControlAt(170, 70), under);
    EXPECT_EQ(gui.findControlAt(195, 95), over);
    RasterWindowLayer& window = open();
    EXPECT_EQ(window.pixel(170, 70), (Colour{0, 0, 255}));
    EXPECT_EQ(window.pixel(155, 55), (Colour{255, 0, 0}));
}

TEST_F(ControlWindowTest, DragOutsideTheWindowDeliversDragsThenOnlyTheCaptureEnd) {
    RasterWindowLayer& window = open();
    window.deliver(down(20, 30));
    EXPECT_TRUE(window.hasCapture());
    EXPECT_EQ(gui.capturedControl(), a);
    window.deliver(move(5, 10));
    window.deliver(move(-30, -7));
    window.deliver(up(-30, -7));
    EXPECT_EQ(log, (Log{"a down 0 20 30", "a drag 5 10", "a drag -30 -7", "a end -30 -7"}));
    EXPECT_FALSE(window.hasCapture());
    EXPECT_EQ(gui.capturedControl(), nullptr);
}

TEST_F(ControlWindowTest, ReleaseOverAnotherControlGivesItNothing) {
    RasterWindowLayer& window = open();
    window.deliver(down(20, 30));
    window.deliver(up(110, 30));
    EXPECT_EQ(log, (Log{"a down 0 20 30", "a end 110 30"}));
}

TEST_F(ControlWindowTest, PressOnBackgroundThenReleaseOverAControlGivesItTheUp) {
    RasterWindowLayer& window = open();
    window.deliver(down(90, 90));
    EXPECT_FALSE(window.hasCapture());
    window.deliver(up(110, 30));
    EXPECT_EQ(log, (Log{"c up 0 110 30"}));
}

TEST_F(ControlWindowTest, MovingOntoAnAdjacentControlLeavesFirstAndEntersOnTheNextMove) {
    RasterWindowLayer& window = open();
    window.deliver(move(30, 30));
    window.deliver(move(31, 30));  // still over a: nothing new
    window.deliver(move(45, 30));
    EXPECT_EQ(gui.hoveredControl(), nullptr);
    window.deliver(move(46, 30));
    EXPECT_EQ(log, (Log{"a enter 30 30", "a leave 45 30", "b enter 46 30"}));
    EXPECT_EQ(gui.hoveredControl(), b);
}

TEST_F(ControlWindowTest, WhileOneControlHoldsTheCaptureNoOtherIsEnteredOrLeft) {
    RasterWindowLayer& window = open();
    window.deliver(down(20, 30));  // pressed without a move first: not hovered
    window.deliver(move(110, 30));
    window.deliver(move(111, 30));
    window.deliver(move(20, 30));  // back over the captured one: entered
    window.deliver(up(20, 30));
    window.deliver(move(110, 30));
    window.deliver(move(111, 30));
    EXPECT_EQ(log, (Log{"a down 0 20 30", "a drag 110 30", "a drag 111 30", "a drag 20 30", "a enter 20 30",
                        "a up 0 20 30", "a end 20 30", "a leave 110 30", "c enter 111 30"}));
}

TEST_F(ControlWindowTest, WheelDeltasBecomeOneStepPerNotch) {
    struct Case {
        std::vector<int32_t> deltas;
        Log expected;
    };
    const Case cases[] = {
        {{120}, {"a wheel 1"}},
        {{-120}, {"a wheel -1"}},
        {{360}, {"a wheel 1", "a wheel 1", "a wheel 1"}},  // three notches in one message
        {{40, 40, 39, 1}, {"a wheel 1"}},                  // a fine wheel adds up to one notch
        {{60, -120}, {"a wheel -1"}},                      // turning back counts at once
        {{-200, -40}, {"a wheel -1", "a wheel -1"}},
        {{0}, {}},
    };
    for (const Case& test : cases) {
        RasterWindowLayer& window = open();
        window.setScreenOrigin(1000, 500);
        for (int32_t delta : test.deltas)
            window.deliver(wheel(1020, 530, delta));
        EXPECT_EQ(log, test.expected) << ::testing::PrintToString(test.deltas);
        gui.close();
    }
}

TEST_F(ControlWindowTest, WheelGoesToTheControlUnderThePointerEvenDuringACapture) {
    RasterWindowLayer& window = open();
    window.setScreenOrigin(-50, 20);
    window.deliver(down(20, 30));
    window.deliver(wheel(60, 50, 120));  // client (110, 30): c
    EXPECT_EQ(log, (Log{"a down 0 20 30", "c wheel 1"}));
    // Part of a notch over one control does not carry over to the next.
    window.deliver(wheel(-30, 50, 60));  // client (20, 30): a
    window.deliver(wheel(60, 50, 60));
    window.deliver(wheel(60, 50, 60));
    EXPECT_EQ(log, (Log{"a down 0 20 30", "c wheel 1", "c wheel 1"}));
}

TEST_F(ControlWindowTest, WheelOverBackgroundOnlyRedrawsDirtyControls) {
    RasterWindowLayer& window = open();
    const int drawsBefore = c->draws;
    gui.parameterChanged(c->paramIndex, 0.7f);
    EXPECT_TRUE(c->dirty);
    EXPECT_EQ(c->draws, drawsBefore);  // nothing drawn by the change itself
    window.deliver(wheel(90, 90, 120));
    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(c->dirty);
    EXPECT_EQ(c->draws, drawsBefore + 1);
    EXPECT_EQ(a->draws, 1);  // clean controls are not drawn again
}

TEST_F(ControlWindowTest, ParameterChangesWithinTheToleranceLeaveAControlClean) {
    a->value = 0.5f;
    a->dirty = false;
    gui.parameterChanged(a->paramIndex, 0.50009f);
    EXPECT_EQ(a->setValues, 0);
    EXPECT_FALSE(a->dirty);
    gui.parameterChanged(a->paramIndex, 0.5002f);
    EXPECT_EQ(a->setValues, 1);
    EXPECT_TRUE(a->dirty);
    EXPECT_FLOAT_EQ(a->getValue(), 0.5002f);
    gui.parameterChanged(99, 0.9f);  // no control bound
    EXPECT_EQ(a->setValues + b->setValues + c->setValues, 1);
    EXPECT_TRUE(effect.sent.empty());
}

TEST_F(ControlWindowTest, RefreshGivesEveryControlItsParameterWithoutSendingAnything) {
    effect.params = {0.25f, 0.5f, 0.75f};
    a->value = 0.25f;
    gui.refreshControls();
    EXPECT_EQ(a->setValues, 1);  // no tolerance test here
    EXPECT_FLOAT_EQ(b->getValue(), 0.5f);
    EXPECT_FLOAT_EQ(c->getValue(), 0.75f);
    EXPECT_TRUE(effect.sent.empty());
}

TEST_F(ControlWindowTest, OpenPaintsBackgroundAndEveryControl) {
    RasterWindowLayer& window = open();
    EXPECT_TRUE(window.isShown());
    EXPECT_TRUE(gui.isOpen());
    EXPECT_EQ(window.pixel(90, 90), (Colour{150, 150, 150}));
    EXPECT_EQ(window.pixel(20, 30), (Colour{255, 0, 0}));
    EXPECT_EQ(a->draws, 1);
    EXPECT_EQ(window.paintCount(), 1);
    window.deliver({WindowMessageType::Paint});
    EXPECT_EQ(a->draws, 2);
    window.deliver({WindowMessageType::Activate});
    EXPECT_TRUE(window.hasFocus());
    EXPECT_EQ(a->draws, 2);  // activation redraws nothing
}

// On a dense screen the window and every control are twice as large, and a
// press on window pixels lands on the control drawn there.
TEST_F(ControlWindowTest, ScaledWindowDrawsLargerAndHitTestsInClientUnits) {
    gui.setScale(2.0);
    veltrosa::Rect rect;
    ASSERT_TRUE(gui.getRect(rect));
    EXPECT_EQ(rect.right, 400);
    EXPECT_EQ(rect.bottom, 200);
    RasterWindowLayer& window = open();
    EXPECT_FALSE(window.pixel(399, 199) == std::nullopt);
    EXPECT_EQ(window.pixel(2 * 100 + 5, 2 * 20 + 5), (Colour{255, 0, 0}));  // inside c
    EXPECT_EQ(window.pixel(2 * 100 - 3, 2 * 20 + 5), window.pixel(0, 0));   // left of c: background
    click(window, 2 * 100 + 10, 2 * 20 + 10);
    EXPECT_EQ(log, (Log{"c down 0 105 25", "c up 0 105 25", "c end 105 25"}));
}

TEST_F(ControlWindowTest, RectIsKnownBeforeOpen) {
    veltrosa::Rect rect;
    ASSERT_TRUE(gui.getRect(rect));
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.right, 200);
    EXPECT_EQ(rect.bottom, 100);
}

TEST_F(ControlWindowTest, NullParentIsRefusedAndChangesNothing) {
    bool layerMade = false;
    gui.setWindowLayerFactory([&layerMade] {
        layerMade = true;
        return std::make_unique<RasterWindowLayer>();
    });
    EXPECT_FALSE(gui.open(nullptr));
    EXPECT_FALSE(layerMade);
    EXPECT_FALSE(gui.isOpen());
    EXPECT_EQ(gui.windowLayer(), nullptr);
}

TEST_F(ControlWindowTest, ClosingMidDragEndsTheCaptureAndTheHover) {
    RasterWindowLayer& window = open();
    window.deliver(move(20, 30));
    window.deliver(down(20, 30));
    window.deliver(move(-4, 8));   // leaves a, still captured
    window.deliver(move(21, 31));  // back over a: entered again
    gui.close();
    EXPECT_EQ(log, (Log{"a enter 20 30", "a down 0 20 30", "a drag -4 8", "a leave -4 8", "a drag 21 31",
                        "a enter 21 31", "a end 21 31", "a leave 21 31"}));
    EXPECT_EQ(gui.capturedControl(), nullptr);
    EXPECT_EQ(gui.hoveredControl(), nullptr);
    EXPECT_FALSE(gui.isOpen());
    EXPECT_EQ(gui.windowLayer(), nullptr);

    // Opened again: a fresh window, painted whole, with no stale capture.
    RasterWindowLayer& again = open();
    EXPECT_EQ(again.paintCount(), 1);
    again.deliver(up(110, 30));
    EXPECT_EQ(log, (Log{"c up 0 110 30"}));
}

TEST_F(ControlWindowTest, AWindowTheLayerRefusesLeavesAnOpenEditorThatShowsNothing) {
    struct RefusingLayer : RasterWindowLayer {
        bool create(void*, int32_t, int32_t, veltrosa::WindowMessageSink&) override { return false; }
    };
    gui.setWindowLayerFactory([] { return std::make_unique<RefusingLayer>(); });
    int parent = 0;
    EXPECT_TRUE(gui.open(&parent));
    EXPECT_EQ(a->draws, 0);
    gui.close();
    EXPECT_FALSE(gui.isOpen());
}

TEST_F(ControlWindowTest, ReopeningWithoutCloseReplacesTheWindow) {
    RasterWindowLayer& first = open();
    first.deliver(down(20, 30));
    int parent = 0;
    EXPECT_TRUE(gui.open(&parent));
    EXPECT_EQ(log, (Log{"a down 0 20 30", "a end 20 30"}));
    EXPECT_EQ(gui.capturedControl(), nullptr);
    auto* second = dynamic_cast<RasterWindowLayer*>(gui.windowLayer());
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(second->hasCapture());
    EXPECT_EQ(second->paintCount(), 1);
}

}  // namespace
