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
    void show() override { shown_ = true; }
    void destroy() override;
    void setCapture() override { capture_ = true; }
    void releaseCapture() override { capture_ = false; }
    void setFocus() override { focus_ = true; }
    void screenToClient(int32_t& x, int32_t& y) override;
    Surface* beginPaint() override;
    void endPaint() override;
    Surface* getSurface() override { return beginPaint(); }
    void releaseSurface() override { endPaint(); }

    // What a window system would send (positions in window pixels): handed to
    // the sink while the window exists.
    void deliver(const WindowMessage& message);
    void setScreenOrigin(int32_t x, int32_t y) {
        screenX_ = x;
        screenY_ = y;
    }

    bool exists() const { return image_ != nullptr; }
    bool isShown() const { return shown_; }
    bool hasCapture() const { return capture_; }
    bool hasFocus() const { return focus_; }
    void* parentWindow() const { return parent_; }
    int paintCount() const { return paints_; }

    // The pixel at (x, y), or nothing outside the image or without a window.
    std::optional<Colour> pixel(int32_t x, int32_t y) const;
    // PNG of the image; false with the reason in error.
    bool writePng(const std::string& path, std::string& error) const;

private:
    cairo_surface_t* image_ = nullptr;
    std::unique_ptr<CairoSurface> painting_;
    WindowMessageSink* sink_ = nullptr;
    void* parent_ = nullptr;
    int32_t screenX_ = 0, screenY_ = 0;  // where the client area's origin sits on the "screen"
    bool shown_ = false, capture_ = false, focus_ = false;
    int paints_ = 0;
};

}  // namespace veltrosa
