// The window seam in a browser: the editor's window is a canvas on the page.
// The page's script hands pointer events in (deliver) and replays what was
// drawn (commands). Positions are client units: the page scales the canvas
// to the device's pixel ratio itself, so this layer stays at scale 1.
#pragma once

#include <optional>

#include "editor/platform/WindowLayer.h"
#include "editor/platform/web/CanvasSurface.h"

namespace veltrosa {

class CanvasWindowLayer final : public WindowLayer {
public:
    bool create(void* parent, int32_t width, int32_t height, WindowMessageSink& sink) override;
    void show() override {}
    void destroy() override;
    // The page captures the pointer on the canvas for every press.
    void setCapture() override {}
    void releaseCapture() override {}
    void setFocus() override {}
    // The page sends wheel positions in client units already.
    void screenToClient(int32_t&, int32_t&) override {}
    Surface* beginPaint() override;
    void endPaint() override { surface_.reset(); }
    Surface* getSurface() override { return beginPaint(); }
    void releaseSurface() override { endPaint(); }

    void deliver(const WindowMessage& message);
    // Drawn since the page last cleared it.
    CanvasCommands& commands() { return commands_; }

private:
    WindowMessageSink* sink_ = nullptr;
    CanvasCommands commands_;
    std::optional<CanvasSurface> surface_;
};

}  // namespace veltrosa
