// The window layer for Linux hosts: the editor lives in a child of the X11
// window whose id the host passes to effEditOpen, on a Display connection of
// its own. The widgets draw with the same CairoSurface the headless raster
// layer uses, into a Cairo image of the window, and every paint and every
// redraw sends what changed to the window at once (XPutImage on 24-bit true
// colour, Cairo's Xlib surface on any other visual). Drawing text straight
// onto an Xlib surface would leave glyph caches tied to each closed
// connection behind in Cairo (some kilobytes per open), and would take the X
// server's font settings instead of the raster image's.
//
// The instrument creates no threads, so the window's events are read in
// processPendingMessages (effEditIdle) and handed to the toolkit there. The
// implicit pointer grab X gives a pressed button serves as the capture.
//
// Threads: user-interface thread only (the editor opcodes).
#pragma once

#include <cairo.h>

#include <memory>
#include <optional>
#include <vector>

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
    void show() override { window_.show(); }
    void destroy() override;
    // Nothing to do: X grabs the pointer for the window while a button is down.
    void setCapture() override {}
    void releaseCapture() override {}
    void setFocus() override { window_.focus(); }
    void screenToClient(int32_t& x, int32_t& y) override;
    Surface* beginPaint() override;
    void endPaint() override;
    Surface* getSurface() override;
    void releaseSurface() override;
    void processPendingMessages() override;
    uintptr_t nativeWindow() const override { return window_.window(); }
    int eventFd() const override { return window_.display() != nullptr ? ConnectionNumber(window_.display()) : -1; }

private:
    void pointer(const x11::PointerEvent& event) override;
    void exposed() override;
    Surface* startDrawing();
    // Ends drawing and shows the part of the image in [left, right) x [top, bottom).
    void finishDrawing(int left, int top, int right, int bottom);

    x11::X11Window window_;
    WindowMessageSink* sink_ = nullptr;
    std::optional<x11::ErrorTrap> paintTrap_;  // our requests while drawing outside processPendingMessages
    std::unique_ptr<CairoSurface> painting_;
    cairo_surface_t* canvas_ = nullptr;  // the window's pixels, drawn here first
    std::vector<uint32_t> before_;       // the image before an immediate redraw
    bool dispatching_ = false;
    // Client origin on the screen, from the latest pointer event.
    int32_t originX_ = 0, originY_ = 0;
};

}  // namespace veltrosa
