#include "editor/platform/web/CanvasWindowLayer.h"

namespace veltrosa {

bool CanvasWindowLayer::create(void*, int32_t, int32_t, WindowMessageSink& sink) {
    sink_ = &sink;
    commands_.clear();
    return true;
}

void CanvasWindowLayer::destroy() {
    surface_.reset();
    sink_ = nullptr;
}

Surface* CanvasWindowLayer::beginPaint() {
    if (sink_ == nullptr)
        return nullptr;
    surface_.emplace(commands_);
    return &*surface_;
}

void CanvasWindowLayer::deliver(const WindowMessage& message) {
    if (sink_ != nullptr)
        sink_->handleMessage(message);
}

std::unique_ptr<WindowLayer> createWindowLayer(WindowClassScope) { return std::make_unique<CanvasWindowLayer>(); }

double desktopScale() { return 1.0; }

}  // namespace veltrosa
