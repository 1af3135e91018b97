#include "editor/Widgets.h"

#include <algorithm>

#include "core/ValueText.h"
#include "editor/ControlWindow.h"

namespace veltrosa {

namespace {

float clampUnit(float v) { return std::clamp(v, 0.0f, 1.0f); }

// The thousandth a value lies in; drags send only when it changes.
int32_t thousandth(float v) { return static_cast<int32_t>(v * 1000.0f); }

}  // namespace

void drawText(Surface& surface, int32_t x, int32_t y, int32_t w, int32_t h, std::string_view text, Colour colour) {
    surface.drawText({x, y, x + w, y + h}, text, colour);
}

// ---- PointerControl

void PointerControl::onMouseEnter(int32_t, int32_t) {
    hover = true;
    dirty = true;
}

void PointerControl::onMouseLeave(int32_t, int32_t) {
    hover = false;
    dirty = true;
}

void PointerControl::onCaptureEnd(int32_t, int32_t) {
    pressed = false;
    dirty = true;
}

// ---- ValueControl

void ValueControl::setValue(float v, bool notify) {
    // NaN from a host fails both comparisons of a clamp; treat it as the bottom.
    v = v > 1.0f ? 1.0f : (v >= 0.0f ? v : 0.0f);
    if (v == value)
        return;
    value = v;
    if (notify)
        sendToHost(v);
    dirty = true;
}

void ValueControl::beginGesture() {
    if (ParameterHost* parameters = host())
        parameters->beginGesture(paramIndex);
}

void ValueControl::onCaptureEnd(int32_t px, int32_t py) {
    PointerControl::onCaptureEnd(px, py);
    if (ParameterHost* parameters = host())
        parameters->endGesture(paramIndex);
}

void ValueControl::dragTo(float n) {
    if (thousandth(n) != thousandth(value))
        setValue(n, true);
}

// ---- Slider

Slider::Slider(int32_t left, int32_t top, int32_t w, int32_t h) : ValueControl(left, top, w, h) { value = 0.5f; }

void Slider::onMouseDown(int32_t, int32_t, int32_t py) {
    beginGesture();
    pressed = true;
    dirty = true;
    setValue(1.0f - static_cast<float>(py - y) / static_cast<float>(height), true);
}

void Slider::onMouseDrag(int32_t, int32_t py) {
    const float f = clampUnit(static_cast<float>(py - y) / static_cast<float>(height));
    dragTo(1.0f - f);
}

int32_t Slider::handleTop() {
    return y + static_cast<int32_t>((1.0f - value) * static_cast<float>(height - width + 1));
}

void Slider::draw(Surface& surface, Colour fg, Colour controlBg) {
    surface.fillRect(rect(), controlBg);
    surface.frameRect(rect(), fg);
    const int32_t t = handleTop();
    surface.fillRect({x, t, x + width, t + width - 1}, fg);
    if (hover || pressed)
        surface.fillRect({x + 2, t + 2, x + width - 2, t + width - 3}, controlBg);
}

// ---- ValueBox

void ValueBox::onMouseDown(int32_t, int32_t, int32_t py) {
    beginGesture();
    pressed = true;
    lastY = py;
}

void ValueBox::onMouseDrag(int32_t, int32_t py) {
    // Relative: one pixel up raises the value by 0.005, 200 pixels span it all.
    const float n = clampUnit(value - static_cast<float>(py - lastY) * 0.005f);
    lastY = py;
    dragTo(n);
}

void ValueBox::onWheel(int32_t direction) {
    beginGesture();
    setValue(clampUnit(value + static_cast<float>(direction) * 0.01f), true);
    if (ParameterHost* parameters = host())
        parameters->endGesture(paramIndex);
}

std::string ValueBox::text() { return std::to_string(shownNumber(value)); }

void ValueBox::draw(Surface& surface, Colour fg, Colour) {
    surface.frameRect(rect(), fg);
    drawText(surface, x, y, width, height, text(), fg);
}

// ---- Button

Button::Button(int32_t left, int32_t top, int32_t w, int32_t h, std::string_view caption)
    : PointerControl(left, top, w, h), text(caption) {}

void Button::onMouseDown(int32_t, int32_t, int32_t) {
    pressed = true;
    dirty = true;
}

void Button::onMouseUp(int32_t, int32_t, int32_t) {
    sendToHost(1.0f);
    pressed = false;
    hover = false;
    dirty = true;
}

void Button::draw(Surface& surface, Colour fg, Colour controlBg) {
    const bool lit = hover || pressed;
    if (lit)
        surface.fillRect(rect(), fg);
    surface.frameRect(rect(), fg);
    drawText(surface, x, y, width, height, text, lit ? controlBg : fg);
}

// ---- Label

Label::Label(int32_t left, int32_t top, int32_t w, int32_t h, std::string_view caption)
    : Control(left, top, w, h), text(caption) {}

void Label::draw(Surface& surface, Colour fg, Colour controlBg) {
    surface.fillRect(rect(), fg);
    drawText(surface, x, y, width, height, text, controlBg);
}

// ---- NameLabel

std::string NameLabel::text() {
    ParameterHost* parameters = host();
    return parameters != nullptr ? parameters->parameterName(paramIndex) : "N/A";
}

void NameLabel::draw(Surface& surface, Colour fg, Colour controlBg) {
    surface.fillRect(rect(), fg);
    drawText(surface, x, y, width, height, text(), controlBg);
}

}  // namespace veltrosa
