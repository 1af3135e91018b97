// The toolkit's widgets. Mouse handling turns pointer positions into values;
// draw only reads state. All on the user-interface thread except setValue
// with notify clear (see Control.h).
#pragma once

#include <string>
#include <string_view>

#include "editor/Control.h"

namespace veltrosa {

// The one routine through which widgets draw text: one line, centred both
// ways in the rectangle, clipped to it, transparent background.
void drawText(Surface& surface, int32_t x, int32_t y, int32_t w, int32_t h, std::string_view text, Colour colour);

// Slider, ValueBox and Button light up under the pointer and while pressed.
class PointerControl : public Control {
public:
    using Control::Control;
    void onMouseEnter(int32_t px, int32_t py) override;
    void onMouseLeave(int32_t px, int32_t py) override;
    void onCaptureEnd(int32_t px, int32_t py) override;
};

// Slider and ValueBox: clamp, store, then tell the host when notify is set.
// A press starts a gesture that the end of the capture ends.
class ValueControl : public PointerControl {
public:
    using PointerControl::PointerControl;
    void setValue(float v, bool notify) override;
    float getValue() override { return value; }
    void onCaptureEnd(int32_t px, int32_t py) override;

protected:
    void beginGesture();
    // Sends n when it lands in another thousandth than the current value, so
    // small pointer movements do not flood the host.
    void dragTo(float n);
};

// A vertical bar whose handle follows the pointer's height: 1.0 at the top.
class Slider : public ValueControl {
public:
    Slider(int32_t left, int32_t top, int32_t w, int32_t h);
    void onMouseDown(int32_t button, int32_t px, int32_t py) override;
    void onMouseDrag(int32_t px, int32_t py) override;
    void draw(Surface& surface, Colour fg, Colour controlBg) override;
    // Top row of the handle for the current value.
    int32_t handleTop();
};

// A framed number 0..100, dragged up and down or turned with the wheel.
class ValueBox : public ValueControl {
public:
    using ValueControl::ValueControl;
    void onMouseDown(int32_t button, int32_t px, int32_t py) override;
    void onMouseDrag(int32_t px, int32_t py) override;
    void onWheel(int32_t direction) override;
    void draw(Surface& surface, Colour fg, Colour controlBg) override;
    std::string text();

    int32_t lastY = 0;  // pointer height at the previous drag step
};

// Sends 1.0 for its parameter when clicked; holds no value.
class Button : public PointerControl {
public:
    Button(int32_t left, int32_t top, int32_t w, int32_t h, std::string_view caption);
    void onMouseDown(int32_t button, int32_t px, int32_t py) override;
    void onMouseUp(int32_t button, int32_t px, int32_t py) override;
    void draw(Surface& surface, Colour fg, Colour controlBg) override;
    void setValue(float, bool) override {}
    float getValue() override { return 1.0f; }

    std::string text;
};

// Static light text on a dark bar.
class Label : public Control {
public:
    Label(int32_t left, int32_t top, int32_t w, int32_t h, std::string_view caption);
    void draw(Surface& surface, Colour fg, Colour controlBg) override;
    void setValue(float, bool) override {}
    float getValue() override { return 0.0f; }

    std::string text;
};

// A dark box showing its parameter's name, asked of the host at every draw.
class NameLabel : public Control {
public:
    using Control::Control;
    void draw(Surface& surface, Colour fg, Colour controlBg) override;
    void setValue(float, bool) override {}
    float getValue() override { return 0.0f; }
    std::string text();
};

}  // namespace veltrosa
