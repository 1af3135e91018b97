#include "editor/ControlWindow.h"

#include <algorithm>
#include <cmath>

namespace veltrosa {

namespace {

constexpr int32_t kWheelNotch = 120;
// Host values closer than this to what a control shows leave it untouched.
constexpr float kChangeTolerance = 0.0001f;

}  // namespace

ParameterHost* Control::host() const { return owner != nullptr ? owner->parameterHost() : nullptr; }

void Control::sendToHost(float v) {
    if (ParameterHost* parameters = host())
        parameters->setParameterFromUi(paramIndex, v, automate);
}

ControlWindow::ControlWindow(ParameterHost* parameterHost, int32_t w, int32_t h)
    : clientRect{0, 0, w, h}, width(w), height(h), parameters_(parameterHost) {}

ControlWindow::~ControlWindow() {
    // The window goes first so that a capture in progress ends on a live control.
    if (isOpen())
        close();
    for (auto& control : controls)
        control.reset();
}

bool ControlWindow::getRect(Rect& out) {
    const double factor = usableScale(scale_);
    out = {0, 0, unitsToPixels(width, factor), unitsToPixels(height, factor)};
    return true;
}

bool ControlWindow::open(void* parent) {
    if (parent == nullptr)
        return false;
    if (isOpen())
        close();
    parentWindow = parent;
    window = layerFactory_ ? layerFactory_() : nullptr;
    if (window)
        window->setScale(scale_);
    if (window && !window->create(parent, width, height, *this))
        window.reset();
    if (window)
        window->show();
    paintAll();
    return true;
}

void ControlWindow::close() {
    if (window) {
        if (captured != nullptr) {
            captured->onCaptureEnd(lastX_, lastY_);
            captured = nullptr;
            window->releaseCapture();
        }
        if (hovered != nullptr) {
            hovered->onMouseLeave(lastX_, lastY_);
            hovered = nullptr;
        }
        window->destroy();
        window.reset();
    }
    wheelRemainder_ = 0;
    wheelTarget_ = nullptr;
    parentWindow = nullptr;
}

void ControlWindow::idle() {
    if (window)
        window->processPendingMessages();
}

Control& ControlWindow::addControl(std::unique_ptr<Control> control) {
    controls.push_back(std::move(control));
    return *controls.back();
}

void ControlWindow::parameterChanged(int32_t index, float v) {
    for (auto& control : controls)
        if (control->paramIndex == index && std::fabs(control->getValue() - v) > kChangeTolerance)
            control->setValue(v, false);
}

void ControlWindow::refreshControls() {
    if (parameters_ == nullptr)
        return;
    for (auto& control : controls)
        control->setValue(parameters_->parameterValue(control->paramIndex), false);
}

Control* ControlWindow::findControlAt(int32_t px, int32_t py) {
    for (auto& control : controls) {
        const Control& c = *control;
        if (c.x < px && px < c.x + c.width && c.y < py && py < c.y + c.height)
            return control.get();
    }
    return nullptr;
}

void ControlWindow::paintAll() {
    Surface* surface = window ? window->beginPaint() : nullptr;
    if (surface == nullptr)
        return;
    surface->fillRect(clientRect, background);
    for (auto& control : controls) {
        control->dirty = true;
        drawIfDirty(*control, *surface, foreground, controlBackground);
    }
    window->endPaint();
}

void ControlWindow::redrawDirty() {
    Surface* surface = window ? window->getSurface() : nullptr;
    if (surface == nullptr)
        return;
    for (auto& control : controls)
        drawIfDirty(*control, *surface, foreground, controlBackground);
    window->releaseSurface();
}

void ControlWindow::drawIfDirty(Control& control, Surface& surface, Colour fg, Colour controlBg) {
    // Cleared before drawing: a value the parameter thread stores meanwhile
    // marks the control again and is drawn next time rather than lost.
    if (!control.dirty.exchange(false))
        return;
    surface.fillRect(control.rect(), controlBg);
    control.draw(surface, fg, controlBg);
}

void ControlWindow::handleMessage(const WindowMessage& message) {
    switch (message.type) {
    case WindowMessageType::Paint:
        paintAll();
        return;
    case WindowMessageType::Activate:
        if (window)
            window->setFocus();
        return;
    case WindowMessageType::MouseMove:
        mouseMove(message.x, message.y);
        break;
    case WindowMessageType::LeftButtonDown:
        leftButtonDown(message.x, message.y);
        break;
    case WindowMessageType::LeftButtonUp:
        leftButtonUp(message.x, message.y);
        break;
    case WindowMessageType::Wheel:
        mouseWheel(message.x, message.y, message.wheelDelta);
        break;
    }
    redrawDirty();
}

void ControlWindow::mouseMove(int32_t px, int32_t py) {
    lastX_ = px;
    lastY_ = py;
    Control* target = findControlAt(px, py);
    if (captured != nullptr)
        captured->onMouseDrag(px, py);
    if (hovered != nullptr && target != hovered) {
        // Leave only: the new control is entered on a later move.
        hovered->onMouseLeave(px, py);
        hovered = nullptr;
    } else if (target != nullptr && target != hovered && (captured == nullptr || captured == target)) {
        target->onMouseEnter(px, py);
        hovered = target;
    }
}

void ControlWindow::leftButtonDown(int32_t px, int32_t py) {
    lastX_ = px;
    lastY_ = py;
    Control* target = findControlAt(px, py);
    if (target == nullptr)
        return;
    target->onMouseDown(0, px, py);
    captured = target;
    if (window)
        window->setCapture();
}

void ControlWindow::leftButtonUp(int32_t px, int32_t py) {
    lastX_ = px;
    lastY_ = py;
    Control* target = findControlAt(px, py);
    if (target != nullptr && (captured == nullptr || captured == target))
        target->onMouseUp(0, px, py);
    if (captured != nullptr) {
        Control* ending = captured;
        captured = nullptr;
        ending->onCaptureEnd(px, py);
        if (window)
            window->releaseCapture();
    }
}

void ControlWindow::mouseWheel(int32_t screenX, int32_t screenY, int32_t delta) {
    int32_t px = screenX, py = screenY;
    if (window)
        window->screenToClient(px, py);
    Control* target = findControlAt(px, py);
    if (target == nullptr || delta == 0) {
        wheelRemainder_ = 0;
        return;
    }
    // Every platform carries the delta in 16 bits; a layer passing more is
    // clipped rather than turned into millions of steps.
    delta = std::clamp(delta, int32_t{-32768}, int32_t{32767});
    // A full notch is one step; several notches in one message are as many
    // steps; finer wheels add up until they make a notch over one control.
    // Turning back starts afresh so that the first notch the other way
    // always counts.
    if (target != wheelTarget_ || (delta > 0) != (wheelRemainder_ > 0))
        wheelRemainder_ = 0;
    wheelTarget_ = target;
    wheelRemainder_ += delta;
    const int32_t steps = wheelRemainder_ / kWheelNotch;
    wheelRemainder_ -= steps * kWheelNotch;
    const int32_t direction = steps > 0 ? 1 : -1;
    for (int32_t i = 0; i < steps * direction; ++i)
        target->onWheel(direction);
}

}  // namespace veltrosa
