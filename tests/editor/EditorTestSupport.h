// Shared pieces for the editor tests: a parameter host that records what
// controls send it, a control that records what the window host routes to it, and a
// headless window opened on an editor so tests can send it messages.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "DrawingCaches.h"
#include "editor/ControlWindow.h"
#include "editor/ParameterHost.h"
#include "editor/platform/raster/RasterWindowLayer.h"

namespace editor_test {

using veltrosa::Colour;
using veltrosa::WindowMessage;
using veltrosa::WindowMessageType;

// A parameter host with 48 plain parameters that logs every value and
// gesture sent to it.
class RecordingEffect : public veltrosa::ParameterHost {
public:
    struct Sent {
        int32_t index;
        float value;
        bool automated;
    };

    float parameterValue(int32_t index) override {
        return index >= 0 && index < 48 ? params[static_cast<std::size_t>(index)] : 0.0f;
    }
    void setParameterFromUi(int32_t index, float v, bool record) override {
        sent.push_back({index, v, record});
        if (index >= 0 && index < 48)
            params[static_cast<std::size_t>(index)] = v;
    }
    std::string parameterName(int32_t index) override { return namePrefix + std::to_string(index); }
    void beginGesture(int32_t index) override { gestures.push_back("begin " + std::to_string(index)); }
    void endGesture(int32_t index) override { gestures.push_back("end " + std::to_string(index)); }

    std::vector<Sent> sent;
    std::vector<std::string> gestures;
    std::array<float, 48> params{};
    std::string namePrefix = "P";
};

// Logs every operation the window host calls, as "down 11 21" and so on.
class Probe : public veltrosa::Control {
public:
    Probe(std::string probeName, int32_t left, int32_t top, int32_t w, int32_t h, std::vector<std::string>& sharedLog,
          Colour paint = {255, 0, 0})
        : Control(left, top, w, h), name(std::move(probeName)), log_(sharedLog), colour_(paint) {}
    void onMouseDown(int32_t b, int32_t px, int32_t py) override { note("down", b, px, py); }
    void onMouseUp(int32_t b, int32_t px, int32_t py) override { note("up", b, px, py); }
    void onMouseEnter(int32_t px, int32_t py) override { note("enter", px, py); }
    void onMouseLeave(int32_t px, int32_t py) override { note("leave", px, py); }
    void onCaptureEnd(int32_t px, int32_t py) override { note("end", px, py); }
    void onMouseDrag(int32_t px, int32_t py) override { note("drag", px, py); }
    void onWheel(int32_t direction) override { note("wheel", direction); }
    void draw(veltrosa::Surface& surface, Colour, Colour) override {
        ++draws;
        surface.fillRect(rect(), colour_);
    }
    void setValue(float v, bool) override {
        ++setValues;
        value = v;
        dirty = true;
    }
    float getValue() override { return value; }

    std::string name;
    int draws = 0;
    int setValues = 0;

private:
    template <typename... Args>
    void note(const char* what, Args... args) {
        std::string entry = name + " " + what;
        ((entry += " " + std::to_string(args)), ...);
        log_.push_back(entry);
    }
    std::vector<std::string>& log_;
    Colour colour_;
};

// Makes gui open (now and later) into a raster layer the test can reach;
// answers the layer after opening with a dummy parent window.
inline veltrosa::RasterWindowLayer* openHeadless(veltrosa::ControlWindow& gui) {
    gui.setWindowLayerFactory([] { return std::make_unique<veltrosa::RasterWindowLayer>(); });
    static int parentWindow = 0;
    EXPECT_TRUE(gui.open(&parentWindow));
    return dynamic_cast<veltrosa::RasterWindowLayer*>(gui.windowLayer());
}

inline WindowMessage move(int32_t x, int32_t y) { return {WindowMessageType::MouseMove, x, y, 0}; }
inline WindowMessage down(int32_t x, int32_t y) { return {WindowMessageType::LeftButtonDown, x, y, 0}; }
inline WindowMessage up(int32_t x, int32_t y) { return {WindowMessageType::LeftButtonUp, x, y, 0}; }
inline WindowMessage wheel(int32_t screenX, int32_t screenY, int32_t delta) {
    return {WindowMessageType::Wheel, screenX, screenY, delta};
}

// A press at (x, y) and a release at the same place.
inline void click(veltrosa::RasterWindowLayer& layer, int32_t x, int32_t y) {
    layer.deliver(down(x, y));
    layer.deliver(up(x, y));
}

inline bool isLight(Colour c) { return c.red > 200 && c.green > 200 && c.blue > 200; }

}  // namespace editor_test
