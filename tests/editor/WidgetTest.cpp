// The widgets' numbers: values from pointer positions, the thousandth grid,
// the wheel in single precision, truncated display, the Button's click, and
// the labels' indifference to values and the mouse.
#include "EditorTestSupport.h"

#include "editor/Widgets.h"

using namespace editor_test;
using veltrosa::Button;
using veltrosa::Control;
using veltrosa::Label;
using veltrosa::NameLabel;
using veltrosa::ControlWindow;
using veltrosa::RasterWindowLayer;
using veltrosa::Slider;
using veltrosa::ValueBox;

namespace {

class WidgetTest : public ::testing::Test {
protected:
    template <typename T, typename... Args>
    T& add(int32_t paramIndex, bool automate, Args&&... args) {
        auto& added = gui.addControl(std::make_unique<T>(std::forward<Args>(args)...));
        added.owner = &gui;
        added.paramIndex = paramIndex;
        added.automate = automate;
        return static_cast<T&>(added);
    }

    // Drives the window; every test opens it after adding its widgets.
    RasterWindowLayer& window() {
        if (layer == nullptr)
            layer = openHeadless(gui);
        return *layer;
    }

    RecordingEffect effect;
    ControlWindow gui{&effect, 200, 200};
    RasterWindowLayer* layer = nullptr;
};

TEST_F(WidgetTest, SliderClickOnePixelBelowTheTopAndDragsPastBothEnds) {
    Slider& slider = add<Slider>(3, true, 10, 10, 8, 60);
    window().deliver(down(13, 11));
    EXPECT_EQ(slider.getValue(), 1.0f - 1.0f / 60.0f);
    ASSERT_EQ(effect.sent.size(), 1u);
    EXPECT_EQ(effect.sent[0].index, 3);
    EXPECT_TRUE(effect.sent[0].automated);
    EXPECT_TRUE(slider.pressed);

    window().deliver(move(13, -40));
    EXPECT_EQ(slider.getValue(), 1.0f);
    window().deliver(move(13, 5));  // still above the top: same thousandth, nothing sent
    window().deliver(move(40, 9));
    EXPECT_EQ(effect.sent.size(), 2u);

    window().deliver(move(13, 70));  // the bottom edge itself
    EXPECT_EQ(slider.getValue(), 0.0f);
    window().deliver(move(13, 500));
    EXPECT_EQ(effect.sent.size(), 3u);
    window().deliver(up(13, 500));
    EXPECT_FALSE(slider.pressed);
    EXPECT_EQ(effect.gestures, (std::vector<std::string>{"begin 3", "end 3"}));
}

TEST_F(WidgetTest, SliderDragInsideOneThousandthSendsNothing) {
    Slider& slider = add<Slider>(0, true, 10, 10, 8, 1000);
    window().deliver(down(13, 510));  // exactly 0.5, the value it holds
    const float pressedValue = slider.value;
    effect.sent.clear();
    window().deliver(move(13, 510));
    EXPECT_TRUE(effect.sent.empty());
    EXPECT_EQ(slider.getValue(), pressedValue);
    window().deliver(move(13, 511));
    EXPECT_EQ(effect.sent.size(), 1u);
}

TEST_F(WidgetTest, SliderHandleTopFollowsTheValue) {
    Slider& slider = add<Slider>(0, true, 10, 10, 8, 60);
    const std::pair<float, int32_t> cases[] = {{0.5f, 36}, {1.0f, 10}, {0.0f, 63}, {0.99f, 10}, {0.01f, 62}};
    for (auto [v, top] : cases) {
        slider.setValue(v, false);
        EXPECT_EQ(slider.handleTop(), top) << v;
    }
    EXPECT_TRUE(effect.sent.empty());
}

TEST_F(WidgetTest, ValueBoxShowsTheTruncatedPercentage) {
    ValueBox& box = add<ValueBox>(0, true, 10, 10, 30, 20);
    const std::pair<float, const char*> cases[] = {
        {0.999f, "99"}, {1.0f, "100"}, {0.0f, "0"}, {0.289f, "28"}, {0.5f, "50"}, {7.0f, "100"}, {-3.0f, "0"},
    };
    for (auto [v, text] : cases) {
        box.setValue(v, false);
        EXPECT_EQ(box.text(), text) << v;
    }
}

TEST_F(WidgetTest, ValueBoxDraggedTenPixelsUpShows54) {
    ValueBox& box = add<ValueBox>(34, true, 10, 10, 30, 20);
    box.setValue(0.5f, false);
    window().deliver(down(20, 15));
    EXPECT_EQ(box.getValue(), 0.5f);
    EXPECT_TRUE(effect.sent.empty());
    for (int32_t y = 14; y >= 5; --y)
        window().deliver(move(20, y));
    EXPECT_EQ(effect.sent.size(), 10u);  // one change per pixel
    EXPECT_EQ(box.getValue(), 0.54999995f);
    EXPECT_EQ(box.text(), "54");
    window().deliver(move(20, 5));  // no movement: nothing
    EXPECT_EQ(effect.sent.size(), 10u);
    window().deliver(move(20, -500));
    EXPECT_EQ(box.getValue(), 1.0f);
    window().deliver(move(20, -501));  // clamped at the top: nothing more to send
    EXPECT_EQ(effect.sent.size(), 11u);
    window().deliver(move(20, -400));  // relative: 101 pixels down from where the pointer last was
    EXPECT_EQ(box.text(), "49");
}

TEST_F(WidgetTest, ValueBoxWheelStepsInSinglePrecision) {
    ValueBox& box = add<ValueBox>(40, true, 10, 10, 30, 20);
    box.setValue(0.5f, false);
    std::vector<std::string> shown;
    for (int notch = 0; notch < 5; ++notch) {
        window().deliver(wheel(20, 15, 120));
        shown.push_back(box.text());
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"51", "52", "52", "53", "54"}));
    EXPECT_EQ(effect.sent.size(), 5u);

    box.setValue(1.0f, false);
    effect.sent.clear();
    window().deliver(wheel(20, 15, 120));
    EXPECT_TRUE(effect.sent.empty());
    window().deliver(wheel(20, 15, -120));
    ASSERT_EQ(effect.sent.size(), 1u);
    EXPECT_EQ(effect.sent[0].value, 0.99f);
}

TEST_F(WidgetTest, SettingTheValueAlreadyHeldMarksNothingAndSendsNothing) {
    Slider& slider = add<Slider>(0, true, 10, 10, 8, 60);
    window();
    EXPECT_FALSE(slider.dirty);
    slider.setValue(0.5f, true);
    EXPECT_FALSE(slider.dirty);
    slider.setValue(1.5f, true);  // clamped
    slider.setValue(1.0f, true);
    EXPECT_EQ(effect.sent.size(), 1u);
    EXPECT_EQ(effect.sent[0].value, 1.0f);
    slider.setValue(std::nanf(""), false);  // a host's NaN shows as the bottom
    EXPECT_EQ(slider.getValue(), 0.0f);
}

TEST_F(WidgetTest, ButtonSendsOneOnlyWhenReleasedOverItself) {
    Button& plain = add<Button>(33, false, 10, 10, 60, 20, "Update");
    Button& automated = add<Button>(7, true, 10, 40, 60, 20, "Go");
    window().deliver(down(20, 15));
    window().deliver(up(150, 150));
    EXPECT_TRUE(effect.sent.empty());
    EXPECT_FALSE(plain.pressed);

    window().deliver(move(20, 15));
    click(window(), 20, 15);
    ASSERT_EQ(effect.sent.size(), 1u);
    EXPECT_EQ(effect.sent[0].index, 33);
    EXPECT_EQ(effect.sent[0].value, 1.0f);
    EXPECT_FALSE(effect.sent[0].automated);
    EXPECT_FALSE(plain.hover);  // at rest after a click although the pointer is still on it
    EXPECT_FALSE(plain.pressed);

    click(window(), 20, 45);
    ASSERT_EQ(effect.sent.size(), 2u);
    EXPECT_TRUE(effect.sent[1].automated);

    plain.dirty = false;
    plain.setValue(0.0f, false);
    plain.setValue(0.3f, true);
    EXPECT_EQ(plain.getValue(), 1.0f);
    EXPECT_FALSE(plain.dirty);
    EXPECT_EQ(automated.getValue(), 1.0f);
    EXPECT_EQ(effect.sent.size(), 2u);
}

TEST_F(WidgetTest, LabelsIgnoreValuesButStillTakeTheCapture) {
    Label& label = add<Label>(0, true, 0, 0, 200, 30, "Title");
    NameLabel& name = add<NameLabel>(5, true, 10, 40, 60, 20);
    Slider& slider = add<Slider>(1, true, 100, 40, 8, 60);
    window();
    for (Control* control : std::initializer_list<Control*>{&label, &name}) {
        control->setValue(0.7f, true);
        EXPECT_EQ(control->getValue(), 0.0f);
        EXPECT_FALSE(control->dirty);
    }
    window().deliver(down(20, 50));
    EXPECT_EQ(gui.capturedControl(), &name);
    window().deliver(move(104, 70));
    EXPECT_FALSE(slider.hover);
    window().deliver(up(104, 70));
    EXPECT_TRUE(effect.sent.empty());
    EXPECT_FALSE(name.dirty);
}

TEST_F(WidgetTest, NameLabelAsksTheEffectEveryTimeAndShowsNAWithoutOwner) {
    NameLabel& name = add<NameLabel>(12, true, 10, 40, 60, 20);
    EXPECT_EQ(name.text(), "P12");
    effect.namePrefix = "Q";
    EXPECT_EQ(name.text(), "Q12");
    NameLabel orphan(0, 0, 60, 20);
    EXPECT_EQ(orphan.text(), "N/A");
}

}  // namespace
