#include "editor/platform/raster/RasterWindowLayer.h"

namespace veltrosa {

RasterWindowLayer::~RasterWindowLayer() { destroy(); }

bool RasterWindowLayer::create(void* parentWindow, int32_t width, int32_t height, WindowMessageSink& target) {
    destroy();
    cairo_surface_t* created = cairo_image_surface_create(CAIRO_FORMAT_RGB24, toPixels(width), toPixels(height));
    if (cairo_surface_status(created) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(created);
        return false;
    }
    image_ = created;
    parent_ = parentWindow;
    sink_ = &target;
    return true;
}

void RasterWindowLayer::destroy() {
    painting_.reset();
    if (image_ != nullptr)
        cairo_surface_destroy(image_);
    image_ = nullptr;
    sink_ = nullptr;
    shown_ = capture_ = focus_ = false;
}

void RasterWindowLayer::screenToClient(int32_t& x, int32_t& y) {
    x = toUnits(x - screenX_);
    y = toUnits(y - screenY_);
}

Surface* RasterWindowLayer::beginPaint() {
    if (image_ == nullptr)
        return nullptr;
    painting_ = std::make_unique<CairoSurface>(image_, scaleFactor());
    ++paints_;
    return painting_.get();
}

void RasterWindowLayer::endPaint() { painting_.reset(); }

void RasterWindowLayer::deliver(const WindowMessage& message) {
    if (sink_ == nullptr)
        return;
    WindowMessage inUnits = message;
    if (message.type != WindowMessageType::Wheel) {  // a wheel's are screen positions
        inUnits.x = toUnits(message.x);
        inUnits.y = toUnits(message.y);
    }
    sink_->handleMessage(inUnits);
}

std::optional<Colour> RasterWindowLayer::pixel(int32_t x, int32_t y) const {
    if (image_ == nullptr || x < 0 || y < 0 || x >= cairo_image_surface_get_width(image_) ||
        y >= cairo_image_surface_get_height(image_))
        return std::nullopt;
    cairo_surface_flush(image_);
    const unsigned char* row = cairo_image_surface_get_data(image_) + y * cairo_image_surface_get_stride(image_);
    uint32_t word;
    __builtin_memcpy(&word, row + 4 * x, sizeof word);  // native-endian 0x00RRGGBB
    return Colour{static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)};
}

bool RasterWindowLayer::writePng(const std::string& path, std::string& error) const {
    if (image_ == nullptr) {
        error = "no editor window to take a picture of";
        return false;
    }
    const cairo_status_t status = cairo_surface_write_to_png(image_, path.c_str());
    if (status != CAIRO_STATUS_SUCCESS) {
        error = path + ": " + cairo_status_to_string(status);
        return false;
    }
    return true;
}

}  // namespace veltrosa
