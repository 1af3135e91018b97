// What the editor looks like: pixels of the headless raster window, the
// font's fit in every box, and the editor picture for documentation.
#include "EditorTestSupport.h"

#include <cairo.h>

#include <cstring>
#include <filesystem>
#include <typeinfo>

#include "ui/Editor.h"
#include "ui/EditorSnapshot.h"
#include "editor/Widgets.h"
#include "vst2/Instrument.h"

using namespace editor_test;
using veltrosa::CairoSurface;
using veltrosa::Editor;
using veltrosa::vst2edge::Instrument;
using veltrosa::RasterWindowLayer;

namespace {

constexpr Colour kBlack{0, 0, 0};
constexpr Colour kLight{250, 250, 250};
constexpr Colour kBackground{130, 180, 170};

class RasterTest : public ::testing::Test {
protected:
    RasterTest() { window = openHeadless(*instrument.instrumentEditor()); }

    Colour at(int32_t x, int32_t y) { return window->pixel(x, y).value_or(Colour{1, 2, 3}); }
    // Every pixel of a row segment [x0, x1).
    bool rowIs(int32_t y, int32_t x0, int32_t x1, Colour colour) {
        for (int32_t x = x0; x < x1; ++x)
            if (at(x, y) != colour)
                return false;
        return true;
    }
    int lightPixels(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        int count = 0;
        for (int32_t y = y0; y < y1; ++y)
            for (int32_t x = x0; x < x1; ++x)
                count += isLight(at(x, y));
        return count;
    }

    Instrument instrument{nullptr};
    RasterWindowLayer* window = nullptr;
};

TEST_F(RasterTest, BackgroundBetweenControls) {
    for (auto [x, y] : {std::pair{18, 40}, {2, 2}, {150, 100}, {150, 150}, {300, 335}})
        EXPECT_EQ(at(x, y), kBackground) << x << "," << y;
}

TEST_F(RasterTest, SliderAtOneHalfHasItsFrameAndHandleRows) {
    instrument.setParameter(0, 0.5f);
    window->deliver(move(2, 2));  // any mouse message draws what changed
    // Bar 0: x 10..17, y 10..69; handle top 10 + 26, seven rows high.
    EXPECT_TRUE(rowIs(10, 10, 18, kBlack));
    EXPECT_TRUE(rowIs(69, 10, 18, kBlack));
    for (int32_t y = 11; y < 69; ++y) {
        EXPECT_EQ(at(10, y), kBlack) << y;
        EXPECT_EQ(at(17, y), kBlack) << y;
        const bool handle = y >= 36 && y <= 42;
        EXPECT_TRUE(rowIs(y, 11, 17, handle ? kBlack : kLight)) << y;
    }
    EXPECT_EQ(at(9, 40), kBackground);
    EXPECT_EQ(at(18, 40), kBackground);
}

TEST_F(RasterTest, SliderHandleBecomesARingUnderThePointer) {
    instrument.setParameter(0, 0.5f);
    window->deliver(move(13, 20));
    // Hole: x 12..15, y 38..40.
    for (int32_t y = 36; y <= 42; ++y) {
        const bool hole = y >= 38 && y <= 40;
        EXPECT_TRUE(rowIs(y, 12, 16, hole ? kLight : kBlack)) << y;
        EXPECT_TRUE(rowIs(y, 10, 12, kBlack)) << y;
        EXPECT_TRUE(rowIs(y, 16, 18, kBlack)) << y;
    }
    window->deliver(move(2, 2));
    EXPECT_TRUE(rowIs(39, 10, 18, kBlack));
}

TEST_F(RasterTest, HeaderBarIsBlackWithFilterAndAmpOverTheirColumns) {
    // Header bar: x 0..304, y 112..131.
    EXPECT_EQ(at(0, 112), kBlack);
    EXPECT_EQ(at(304, 131), kBlack);
    EXPECT_EQ(at(150, 113), kBlack);
    EXPECT_GT(lightPixels(20, 112, 110, 132), 20);   // "Filter" over the filter column
    EXPECT_GT(lightPixels(190, 112, 280, 132), 15);  // "Amp" over the amplifier column
    EXPECT_EQ(lightPixels(120, 112, 185, 132), 0);   // only spaces between
    EXPECT_GT(lightPixels(0, 340, 305, 370), 40);    // the title bar's text
}

TEST_F(RasterTest, ButtonInvertsUnderThePointer) {
    // Update: x 235..294, y 80..99.
    EXPECT_EQ(at(237, 82), kLight);
    EXPECT_EQ(at(235, 90), kBlack);
    const int restingLight = lightPixels(236, 81, 294, 99);
    window->deliver(move(260, 90));
    EXPECT_EQ(at(237, 82), kBlack);
    const int hoveredLight = lightPixels(236, 81, 294, 99);
    EXPECT_GT(hoveredLight, 10);                // the caption in light letters
    EXPECT_LT(hoveredLight, restingLight / 4);  // on a dark box
    window->deliver(move(2, 2));
    EXPECT_EQ(at(237, 82), kLight);
}

// Each kind's box and text colours, read from its pixels: a box in one
// colour with a frame (or fill) in black, and text in the other colour.
TEST_F(RasterTest, EachKindDrawsItsTextInTheColourOppositeItsBox) {
    const struct {
        const char* what;
        int32_t x, y, width, height;
        bool darkBox;
    } boxes[] = {
        {"BandW name", 10, 80, 60, 20, true},      {"filter Attack name", 20, 140, 60, 20, true},
        {"Volume name", 190, 260, 60, 20, true},   {"title bar", 0, 340, 305, 30, true},
        {"BandW value", 70, 80, 30, 20, false},    {"Res value", 80, 280, 30, 20, false},
        {"Volume value", 250, 260, 30, 20, false}, {"Update button at rest", 235, 80, 60, 20, false},
    };
    for (const auto& b : boxes) {
        EXPECT_EQ(at(b.x, b.y), kBlack) << b.what;
        EXPECT_EQ(at(b.x + b.width - 1, b.y + b.height - 1), kBlack) << b.what;
        int box = 0, text = 0;
        for (int32_t y = b.y + 1; y < b.y + b.height - 1; ++y)
            for (int32_t x = b.x + 1; x < b.x + b.width - 1; ++x) {
                const Colour c = at(x, y);
                const bool light = isLight(c);
                const bool dark = c.red < 60 && c.green < 60 && c.blue < 60;
                box += b.darkBox ? c == kBlack : c == kLight;
                text += b.darkBox ? light : dark;
            }
        const int inside = (b.width - 2) * (b.height - 2);
        EXPECT_GT(box, inside / 2) << b.what;
        EXPECT_GE(text, 8) << b.what;
    }
}

TEST(EditorFont, EveryTextOfTheLayoutFitsItsBox) {
    Instrument instrument{nullptr};
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 4, 4);
    {
        CairoSurface surface(image);
        for (auto& control : instrument.instrumentEditor()->controlList()) {
            std::string text;
            if (auto* label = dynamic_cast<veltrosa::Label*>(control.get()))
                text = label->text;
            else if (auto* button = dynamic_cast<veltrosa::Button*>(control.get()))
                text = button->text;
            else if (auto* name = dynamic_cast<veltrosa::NameLabel*>(control.get()))
                text = name->text();
            else if (dynamic_cast<veltrosa::ValueBox*>(control.get()))
                text = "100";
            else
                continue;
            // Inside a one-pixel frame with a pixel to spare on each side.
            const auto [w, h] = surface.textSize(text);
            EXPECT_LE(w, control->width - 4) << "\"" << text << "\"";
            EXPECT_LE(h, control->height - 2) << '"' << text << '"';
        }
    }
    cairo_surface_destroy(image);
}

TEST(EditorSnapshot, WritesTheWholeEditorAsA305By370Png) {
    std::array<float, 48> values{};
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<float>(i % 10) / 10.0f;
    std::span<const unsigned char> chunk(reinterpret_cast<const unsigned char*>(values.data()), sizeof values);
    const auto path = (std::filesystem::temp_directory_path() / "veltrosa-editor-test.png").string();
    std::string error;
    ASSERT_TRUE(veltrosa::writeEditorPng(chunk, path, error)) << error;
    cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(png), 305);
    EXPECT_EQ(cairo_image_surface_get_height(png), 370);
    // Bar 1 at 0.1: its handle near the bottom (top row 10 + trunc(0.9 * 53) = 57).
    const auto* row = cairo_image_surface_get_data(png) + 58 * cairo_image_surface_get_stride(png);
    uint32_t word;
    std::memcpy(&word, row + 4 * 22, sizeof word);
    EXPECT_EQ(word & 0xFFFFFF, 0u);
    cairo_surface_destroy(png);
    std::filesystem::remove(path);

    EXPECT_FALSE(veltrosa::writeEditorPng(chunk.first(100), path, error));
    EXPECT_NE(error.find("192"), std::string::npos);
    EXPECT_FALSE(veltrosa::writeEditorPng(chunk, "/nonexistent-dir/x.png", error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
