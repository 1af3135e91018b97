// The editor's window host: one child window inside the host's window, the
// controls it owns, mouse routing and painting. Platform-neutral: the window
// comes from a WindowLayer and all drawing goes through its Surface.
//
// Threads: user-interface thread, except parameterChanged, which runs on
// whatever thread sets a parameter and touches only controls' value and dirty.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "editor/Control.h"
#include "editor/EditorBase.h"
#include "editor/ParameterHost.h"
#include "editor/platform/WindowLayer.h"

namespace veltrosa {

class ControlWindow : public EditorBase, public WindowMessageSink {
public:
    using WindowLayerFactory = std::function<std::unique_ptr<WindowLayer>()>;

    // parameters: not owned; outlives the editor.
    ControlWindow(ParameterHost* parameters, int32_t w, int32_t h);
    // Closes the window if still open, then deletes the controls in list order.
    ~ControlWindow() override;

    // The window's size in pixels: the client size times the scale.
    bool getRect(Rect& out) override;
    // Window pixels per client unit for windows opened from now on (see
    // WindowLayer::setScale); the layout and hit-testing stay in client units.
    void setScale(double factor) { scale_ = factor; }
    // A null parent is refused (answers false, changes nothing); otherwise
    // answers true even when the window layer refuses to create a window.
    bool open(void* parent) override;
    // Ends a capture and a hover still in progress, then destroys the window.
    void close() override;
    void idle() override;

    // Takes ownership; the caller sets owner, paramIndex and automate.
    Control& addControl(std::unique_ptr<Control> control);

    // Any thread: pushes a parameter's value to the controls bound to it.
    void parameterChanged(int32_t index, float v);
    // Gives every control its parameter's current value from the host.
    void refreshControls();

    Control* findControlAt(int32_t px, int32_t py);
    void paintAll();
    void redrawDirty();
    void drawIfDirty(Control& control, Surface& surface, Colour fg, Colour controlBg);

    // The platform-neutral window procedure.
    void handleMessage(const WindowMessage& message) override;

    // Replaces the platform's layer for windows opened from now on (tests run
    // a headless raster window this way).
    void setWindowLayerFactory(WindowLayerFactory factory) { layerFactory_ = std::move(factory); }
    WindowLayer* windowLayer() { return window.get(); }
    const std::vector<std::unique_ptr<Control>>& controlList() const { return controls; }
    ParameterHost* parameterHost() const { return parameters_; }
    Control* hoveredControl() const { return hovered; }
    Control* capturedControl() const { return captured; }

protected:
    Rect clientRect;
    std::unique_ptr<WindowLayer> window;
    Colour foreground{0, 0, 0};
    Colour controlBackground{250, 250, 250};
    Colour background{150, 150, 150};
    int32_t width, height;
    std::vector<std::unique_ptr<Control>> controls;
    Control* hovered = nullptr;   // not owned
    Control* captured = nullptr;  // not owned

private:
    void mouseMove(int32_t px, int32_t py);
    void leftButtonDown(int32_t px, int32_t py);
    void leftButtonUp(int32_t px, int32_t py);
    void mouseWheel(int32_t screenX, int32_t screenY, int32_t delta);

    ParameterHost* parameters_;  // not owned
    WindowLayerFactory layerFactory_ = [] { return createWindowLayer(); };
    double scale_ = 1.0;
    int32_t wheelRemainder_ = 0;      // sub-notch wheel travel not yet turned into a step
    Control* wheelTarget_ = nullptr;  // the control that travel was over
    int32_t lastX_ = 0, lastY_ = 0;   // last pointer position, for ending a capture on close
};

}  // namespace veltrosa
