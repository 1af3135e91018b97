// The base of every editor widget: its rectangle, value, bound parameter and
// drawing state, and the operations through which the window host (ControlWindow)
// routes mouse input and drawing to it.
//
// Threads: everything on the user-interface thread except setValue with
// notify clear, which the parameter thread may call; it writes only `value`
// and `dirty`, hence the atomics.
#pragma once

#include <atomic>
#include <cstdint>

#include "editor/platform/Surface.h"

namespace veltrosa {

class ControlWindow;
class ParameterHost;

class Control {
public:
    Control(int32_t left, int32_t top, int32_t w, int32_t h) : x(left), y(top), width(w), height(h) {}
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    // Mouse operations take client coordinates; during a capture they may lie
    // outside the window and be negative. button is always 0 (the left one).
    virtual void onMouseDown(int32_t /*button*/, int32_t /*px*/, int32_t /*py*/) {}
    virtual void onMouseUp(int32_t /*button*/, int32_t /*px*/, int32_t /*py*/) {}
    virtual void onMouseEnter(int32_t /*px*/, int32_t /*py*/) {}
    virtual void onMouseLeave(int32_t /*px*/, int32_t /*py*/) {}
    virtual void onCaptureEnd(int32_t /*px*/, int32_t /*py*/) {}
    virtual void onMouseDrag(int32_t /*px*/, int32_t /*py*/) {}
    virtual void onWheel(int32_t /*direction*/) {}
    // The window host has erased the rectangle with controlBackground.
    virtual void draw(Surface& /*surface*/, Colour /*foreground*/, Colour /*controlBackground*/) {}
    virtual void setValue(float v, bool notify) = 0;
    virtual float getValue() = 0;

    Rect rect() const { return {x, y, x + width, y + height}; }

    int32_t x, y;
    int32_t width, height;
    std::atomic<float> value{0.0f};
    int32_t paramIndex = 0;
    ControlWindow* owner = nullptr;  // not owned; set when added
    bool automate = false;
    std::atomic<bool> dirty{true};
    bool hover = false;
    bool pressed = false;

protected:
    // The owner's parameter host, or null.
    ParameterHost* host() const;
    // Hands a value the user chose to the parameter host, recorded as
    // automation or not by `automate`.
    void sendToHost(float v);
};

}  // namespace veltrosa
