// The window layer for Linux hosts: the editor lives in a child of the X11
// window whose id the host passes to effEditOpen, on a Display connection of
// its own, and draws through Cairo's Xlib surface with the same CairoSurface
// the headless raster layer uses, so both show the same pixels.
//
// The instrument creates no threads, so the window's events are read in
// processPendingMessages (effEditIdle) and handed to the toolkit there. The
// implicit pointer grab X gives a pressed button serves as the capture.
//
// Threads: user-interface thread only (the editor opcodes).
#pragma once

#include <memory>
#include <optional>

#include "editor/platform/WindowLayer.h"
#include "editor/platform/raster/CairoSurface.h"
#include "editor/platform/x11/X11Window.h"

namespace veltrosa {

class X11WindowLayer final : public WindowLayer, private x11::WindowListener {
public:
    X11WindowLayer() = default;
    ~X11WindowLayer() override { destroy(); }

    // parent is the host's X11 Window id, passed as a pointer-sized value.
    bool create(void* parent, int32_t width, int32_t height, WindowMessageSink& sink) override;
    void show() override { window.show(); }
    void destroy() override;
    // Nothing to do: X grabs the pointer for the window while a button is down.
    void setCapture() override {}
    void releaseCapture() override {}
    void setFocus() override { window.focus(); }
    void screenToClient(int32_t& x, int32_t& y) override;
    Surface* beginPaint() override;
    void endPaint() override;
    Surface* getSurface() override { return beginPaint(); }
    void releaseSurface() override { endPaint(); }
    void processPendingMessages() override;

    const x11::X11Window& x11Window() const { return window; }

private:
    void pointer(const x11::PointerEvent& event) override;
    void exposed() override;

    x11::X11Window window;
    WindowMessageSink* sink = nullptr;
    std::optional<x11::ErrorTrap> paintTrap;  // our requests while drawing outside processPendingMessages
    std::unique_ptr<CairoSurface> painting;
    bool dispatching = false;
    // Client origin on the screen, from the latest pointer event.
    int32_t originX = 0, originY = 0;
};

}  // namespace veltrosa
