// The headless window layer: the editor's "window" is a Cairo image in
// memory, whatever parent the host passes. Used where no platform layer is
// built in, by tests (which deliver messages to it as a window system would
// and read its pixels) and for screenshots.
#pragma once

#include <cairo.h>

#include <memory>
#include <optional>
#include <string>

#include "editor/platform/WindowLayer.h"
#include "editor/platform/raster/CairoSurface.h"

namespace veltrosa {

class RasterWindowLayer : public WindowLayer {
public:
    RasterWindowLayer() = default;
    ~RasterWindowLayer() override;

    bool create(void* parent, int32_t width, int32_t height, WindowMessageSink& sink) override;
    void show() override { shown = true; }
    void destroy() override;
    void setCapture() override { capture = true; }
    void releaseCapture() override { capture = false; }
    void setFocus() override { focus = true; }
    void screenToClient(int32_t& x, int32_t& y) override;
    Surface* beginPaint() override;
    void endPaint() override;
    Surface* getSurface() override { return beginPaint(); }
    void releaseSurface() override { endPaint(); }

    // What a window system would send (positions in window pixels): handed to
    // the sink while the window exists.
    void deliver(const WindowMessage& message);
    void setScreenOrigin(int32_t x, int32_t y) {
        screenX = x;
        screenY = y;
    }

    bool exists() const { return image != nullptr; }
    bool isShown() const { return shown; }
    bool hasCapture() const { return capture; }
    bool hasFocus() const { return focus; }
    void* parentWindow() const { return parent; }
    int paintCount() const { return paints; }

    // The pixel at (x, y), or nothing outside the image or without a window.
    std::optional<Colour> pixel(int32_t x, int32_t y) const;
    // PNG of the image; false with the reason in error.
    bool writePng(const std::string& path, std::string& error) const;

private:
    cairo_surface_t* image = nullptr;
    std::unique_ptr<CairoSurface> painting;
    WindowMessageSink* sink = nullptr;
    void* parent = nullptr;
    int32_t screenX = 0, screenY = 0;  // where the client area's origin sits on the "screen"
    bool shown = false, capture = false, focus = false;
    int paints = 0;
};

}  // namespace veltrosa
