#include "editor/platform/x11/X11WindowLayer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace veltrosa {

std::unique_ptr<WindowLayer> createWindowLayer(WindowClassScope) { return std::make_unique<X11WindowLayer>(); }

double desktopScale() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return 1.0;
    const double scale = x11::displayScale(display);
    XCloseDisplay(display);
    return scale;
}

bool X11WindowLayer::create(void* parent, int32_t width, int32_t height, WindowMessageSink& target) {
    destroy();
    const int32_t w = toPixels(width), h = toPixels(height);
    if (!window_.create(static_cast<unsigned long>(reinterpret_cast<uintptr_t>(parent)), w, h))
        return false;
    canvas_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    if (cairo_surface_status(canvas_) != CAIRO_STATUS_SUCCESS) {
        destroy();
        return false;
    }
    sink_ = &target;
    return true;
}

void X11WindowLayer::destroy() {
    painting_.reset();
    paintTrap_.reset();
    sink_ = nullptr;
    window_.destroy();
    if (canvas_ != nullptr)
        cairo_surface_destroy(canvas_);
    canvas_ = nullptr;
    before_.clear();
    before_.shrink_to_fit();
}

void X11WindowLayer::screenToClient(int32_t& x, int32_t& y) {
    // The wheel message that asks was made from an event carrying both
    // points, so no round trip to the server is needed.
    x = toUnits(x - originX_);
    y = toUnits(y - originY_);
}

Surface* X11WindowLayer::startDrawing() {
    if (canvas_ == nullptr || !window_.drawable())
        return nullptr;
    // processPendingMessages already keeps errors away from the host; the
    // painting at the end of open needs its own trap.
    if (!dispatching_)
        paintTrap_.emplace(window_.display());
    painting_ = std::make_unique<CairoSurface>(canvas_, scaleFactor());
    return painting_.get();
}

Surface* X11WindowLayer::beginPaint() { return startDrawing(); }

void X11WindowLayer::endPaint() {
    finishDrawing(0, 0, cairo_image_surface_get_width(canvas_), cairo_image_surface_get_height(canvas_));
}

Surface* X11WindowLayer::getSurface() {
    if (canvas_ == nullptr)
        return nullptr;
    cairo_surface_flush(canvas_);
    const auto* pixels = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(canvas_));
    before_.assign(pixels,
                   pixels + cairo_image_surface_get_stride(canvas_) / 4 * cairo_image_surface_get_height(canvas_));
    return startDrawing();
}

void X11WindowLayer::releaseSurface() {
    if (painting_ == nullptr)
        return;
    painting_.reset();  // flushes into the image
    // Only the changed rectangle goes to the server: usually one control.
    const int pitch = cairo_image_surface_get_stride(canvas_) / 4;
    const int w = cairo_image_surface_get_width(canvas_), h = cairo_image_surface_get_height(canvas_);
    const auto* now = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(canvas_));
    int left = w, top = h, right = 0, bottom = 0;
    for (int y = 0; y < h; ++y) {
        const uint32_t* a = now + static_cast<std::ptrdiff_t>(y) * pitch;
        const uint32_t* b = before_.data() + static_cast<std::ptrdiff_t>(y) * pitch;
        if (std::memcmp(a, b, static_cast<std::size_t>(w) * 4) == 0)
            continue;
        top = std::min(top, y);
        bottom = y + 1;
        for (int x = 0; x < w; ++x)
            if (a[x] != b[x]) {
                left = std::min(left, x);
                break;
            }
        for (int x = w - 1; x >= 0; --x)
            if (a[x] != b[x]) {
                right = std::max(right, x + 1);
                break;
            }
    }
    finishDrawing(left, top, right, bottom);
}

void X11WindowLayer::finishDrawing(int left, int top, int right, int bottom) {
    painting_.reset();
    window_.show(canvas_, left, top, right, bottom);
    window_.flush();
    paintTrap_.reset();
}

void X11WindowLayer::processPendingMessages() {
    if (sink_ == nullptr)
        return;
    dispatching_ = true;
    window_.dispatchEvents(*this);
    dispatching_ = false;
}

void X11WindowLayer::pointer(const x11::PointerEvent& event) {
    originX_ = event.rootX - event.x;
    originY_ = event.rootY - event.y;
    WindowMessage message;
    message.x = toUnits(event.x);
    message.y = toUnits(event.y);
    switch (event.kind) {
    case x11::PointerEvent::Kind::Move:
        message.type = WindowMessageType::MouseMove;
        break;
    case x11::PointerEvent::Kind::Activate:
        message.type = WindowMessageType::Activate;
        break;
    case x11::PointerEvent::Kind::LeftDown:
        message.type = WindowMessageType::LeftButtonDown;
        break;
    case x11::PointerEvent::Kind::LeftUp:
        message.type = WindowMessageType::LeftButtonUp;
        break;
    case x11::PointerEvent::Kind::Wheel:
        message.type = WindowMessageType::Wheel;
        message.x = event.rootX;
        message.y = event.rootY;
        message.wheelDelta = 120 * event.direction;
        break;
    }
    if (sink_ != nullptr)
        sink_->handleMessage(message);
}

void X11WindowLayer::exposed() {
    if (sink_ != nullptr)
        sink_->handleMessage({WindowMessageType::Paint, 0, 0, 0});
}

}  // namespace veltrosa
