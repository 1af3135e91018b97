#include "editor/platform/x11/X11WindowLayer.h"

#include <cstdint>

namespace veltrosa {

std::unique_ptr<WindowLayer> createWindowLayer() { return std::make_unique<X11WindowLayer>(); }

bool X11WindowLayer::create(void* parent, int32_t width, int32_t height, WindowMessageSink& target) {
    destroy();
    if (!window.create(static_cast<unsigned long>(reinterpret_cast<uintptr_t>(parent)), width, height))
        return false;
    sink = &target;
    return true;
}

void X11WindowLayer::destroy() {
    painting.reset();
    paintTrap.reset();
    sink = nullptr;
    window.destroy();
}

void X11WindowLayer::screenToClient(int32_t& x, int32_t& y) {
    // The wheel message that asks was made from an event carrying both
    // points, so no round trip to the server is needed.
    x -= originX;
    y -= originY;
}

Surface* X11WindowLayer::beginPaint() {
    cairo_surface_t* target = window.surface();
    if (target == nullptr)
        return nullptr;
    // processPendingMessages already keeps errors away from the host; the
    // painting at the end of open needs its own trap.
    if (!dispatching)
        paintTrap.emplace(window.display());
    painting = std::make_unique<CairoSurface>(target);
    return painting.get();
}

void X11WindowLayer::endPaint() {
    painting.reset();  // flushes Cairo's drawing into Xlib's queue
    window.flush();
    paintTrap.reset();
}

void X11WindowLayer::processPendingMessages() {
    if (sink == nullptr)
        return;
    dispatching = true;
    window.dispatchEvents(*this);
    dispatching = false;
}

void X11WindowLayer::pointer(const x11::PointerEvent& event) {
    originX = event.rootX - event.x;
    originY = event.rootY - event.y;
    WindowMessage message;
    message.x = event.x;
    message.y = event.y;
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
    if (sink != nullptr)
        sink->handleMessage(message);
}

void X11WindowLayer::exposed() {
    if (sink != nullptr)
        sink->handleMessage({WindowMessageType::Paint, 0, 0, 0});
}

}  // namespace veltrosa
