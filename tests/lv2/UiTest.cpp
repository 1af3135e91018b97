// The UI library loaded as an LV2 host loads it: found through lilv, embedded
// in the host's X11 window, pumped through its idle interface and driven with
// real pointer input (XTEST).
#include <gtest/gtest.h>
#include <lv2/atom/atom.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>

#include <dlfcn.h>

#include <cmath>
#include <vector>

#include "DrawingCaches.h"
#include "Lv2Support.h"
#include "X11Fixture.h"

using namespace veltrosa;
using x11test::pumpFor;
using x11test::pumpUntil;

namespace {

// Harmonic bar k: x = 10 + 9k, y = 10, 8 x 60 client units, value 1 at the top.
int barX(int k) { return 10 + 9 * k + 4; }
constexpr int kBarTop = 10, kBarHeight = 60;
constexpr int kUpdateX = 265, kUpdateY = 90;

struct Write {
    uint32_t port;
    float value;
};

struct Touch {
    uint32_t port;
    bool grabbed;
};

class Lv2UiTest : public x11test::X11Test {
protected:
    void open(float scale) {
        const LilvPlugin* plugin = lv2test::world().plugin(lv2edge::kPluginUri);
        ASSERT_NE(plugin, nullptr);
        LilvUIs* uis = lilv_plugin_get_uis(plugin);
        LilvNode* uri = lilv_new_uri(lv2test::world().get(), lv2edge::kUiUri);
        const LilvUI* ui = lilv_uis_get_by_uri(uis, uri);
        lilv_node_free(uri);
        ASSERT_NE(ui, nullptr);
        char* path = lilv_file_uri_parse(lilv_node_as_uri(lilv_ui_get_binary_uri(ui)), nullptr);
        library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        lilv_free(path);
        lilv_uis_free(uis);
        ASSERT_NE(library, nullptr) << dlerror();
        auto entry = reinterpret_cast<const LV2UI_Descriptor* (*)(uint32_t)>(dlsym(library, "lv2ui_descriptor"));
        ASSERT_NE(entry, nullptr);
        descriptor = entry(0);
        ASSERT_NE(descriptor, nullptr);

        scaleValue = scale;
        auto& world = lv2test::world();
        options = {{LV2_OPTIONS_INSTANCE, 0, world.map(LV2_UI__scaleFactor), sizeof(float), world.map(LV2_ATOM__Float),
                    &scaleValue},
                   {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
        resize = {this, [](LV2UI_Feature_Handle h, int w, int hgt) {
                      static_cast<Lv2UiTest*>(h)->size = {w, hgt};
                      return 0;
                  }};
        touch = {this, [](LV2UI_Feature_Handle h, uint32_t port, bool grabbed) {
                     static_cast<Lv2UiTest*>(h)->touches.push_back({port, grabbed});
                 }};
        const LV2_Feature parent{LV2_UI__parent, reinterpret_cast<void*>(host->window())};
        const LV2_Feature features[] = {parent,
                                        {LV2_UI__resize, &resize},
                                        {LV2_UI__touch, &touch},
                                        {LV2_URID__map, world.uridMap()},
                                        {LV2_OPTIONS__options, options.data()}};
        const LV2_Feature* list[] = {&features[0], &features[1], &features[2], &features[3], &features[4], nullptr};
        const auto write = [](LV2UI_Controller c, uint32_t port, uint32_t bytes, uint32_t format, const void* data) {
            ASSERT_EQ(bytes, sizeof(float));
            ASSERT_EQ(format, 0u);
            static_cast<Lv2UiTest*>(const_cast<void*>(c))->writes.push_back({port, *static_cast<const float*>(data)});
        };
        host->resize(static_cast<int>(std::ceil(305 * scale)), static_cast<int>(std::ceil(370 * scale)));
        LV2UI_Widget widget = nullptr;
        handle = descriptor->instantiate(descriptor, lv2edge::kPluginUri, "", write, this, &widget, list);
        ASSERT_NE(handle, nullptr);
        EXPECT_NE(widget, nullptr);
        idle = static_cast<const LV2UI_Idle_Interface*>(descriptor->extension_data(LV2_UI__idleInterface));
        ASSERT_NE(idle, nullptr);
        ASSERT_TRUE(pumpUntil(step(), [&] { return host->pixel(2, 2) == 0x82B4AA; }));
    }
    void TearDown() override {
        if (handle != nullptr)
            descriptor->cleanup(handle);
        if (library != nullptr)
            dlclose(library);
    }
    std::function<void()> step() {
        return [this] { EXPECT_EQ(idle->idle(handle), 0); };
    }
    void portEvent(uint32_t port, float value) { descriptor->port_event(handle, port, sizeof value, 0, &value); }

    void* library = nullptr;
    const LV2UI_Descriptor* descriptor = nullptr;
    LV2UI_Handle handle = nullptr;
    const LV2UI_Idle_Interface* idle = nullptr;
    float scaleValue = 1.0f;
    std::vector<LV2_Options_Option> options;
    LV2UI_Resize resize{};
    LV2UI_Touch touch{};
    std::pair<int, int> size{0, 0};
    std::vector<Write> writes;
    std::vector<Touch> touches;
};

}  // namespace

// At twice the size: the window is announced that large, and a drag lands on
// the control drawn under the pointer, its values inside one gesture.
TEST_F(Lv2UiTest, ADragAtTwiceTheScaleWritesItsControlInsideATouchGesture) {
    open(2.0f);
    if (IsSkipped() || HasFatalFailure())
        return;
    EXPECT_EQ(size, (std::pair{610, 740}));
    const int k = 5;
    // From a quarter down the bar (0.75) to three quarters down (0.25).
    pointer->drag(2 * barX(k), 2 * (kBarTop + 15), 2 * barX(k), 2 * (kBarTop + 45));
    ASSERT_TRUE(pumpUntil(step(), [&] { return touches.size() == 2; }));
    EXPECT_TRUE(touches[0].port == uint32_t(k) && touches[0].grabbed);
    EXPECT_TRUE(touches[1].port == uint32_t(k) && !touches[1].grabbed);
    ASSERT_GE(writes.size(), 2u);
    for (const Write& w : writes)
        EXPECT_EQ(w.port, uint32_t(k));
    EXPECT_NEAR(writes.front().value, 0.75f, 1.0f / kBarHeight);
    EXPECT_NEAR(writes.back().value, 0.25f, 1.0f / kBarHeight);
}

// A value from the host moves the control on screen and is not sent back.
TEST_F(Lv2UiTest, AHostValueRedrawsWithoutEcho) {
    open(1.0f);
    if (IsSkipped() || HasFatalFailure())
        return;
    const int k = 5;  // harmonic 6: 0 by default, its handle at the bottom
    const uint32_t before = host->pixel(barX(k), kBarTop + 3);
    portEvent(k, 1.0f);
    ASSERT_TRUE(pumpUntil(step(), [&] { return host->pixel(barX(k), kBarTop + 3) != before; }));
    pumpFor(step());
    EXPECT_TRUE(writes.empty());
    EXPECT_TRUE(touches.empty());
}

// Update is pressed, then let go, so that the next press rises again.
TEST_F(Lv2UiTest, UpdateIsWrittenAsAPressAndARelease) {
    open(1.0f);
    if (IsSkipped() || HasFatalFailure())
        return;
    pointer->click(kUpdateX, kUpdateY);
    ASSERT_TRUE(pumpUntil(step(), [&] { return writes.size() == 2; }));
    EXPECT_EQ(writes[0].port, uint32_t(kParamUpdate));
    EXPECT_EQ(writes[0].value, 1.0f);
    EXPECT_EQ(writes[1].port, uint32_t(kParamUpdate));
    EXPECT_EQ(writes[1].value, 0.0f);
}
