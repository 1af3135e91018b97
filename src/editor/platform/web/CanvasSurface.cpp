#include "editor/platform/web/CanvasSurface.h"

namespace veltrosa {

void CanvasSurface::record(CanvasCommands::Op op, const Rect& rect, Colour colour, std::string_view text) {
    // Empty rectangles draw nothing on any surface; the page never sees them.
    if (rect.width() <= 0 || rect.height() <= 0)
        return;
    const int32_t rgb = colour.red << 16 | colour.green << 8 | colour.blue;
    const auto start = static_cast<int32_t>(out_.text.size());
    out_.text.append(text);
    out_.words.insert(out_.words.end(), {op, rect.left, rect.top, rect.right, rect.bottom, rgb, start,
                                         static_cast<int32_t>(text.size())});
}

void CanvasSurface::fillRect(const Rect& rect, Colour colour) { record(CanvasCommands::Fill, rect, colour, {}); }

void CanvasSurface::frameRect(const Rect& rect, Colour colour) { record(CanvasCommands::Frame, rect, colour, {}); }

void CanvasSurface::drawText(const Rect& rect, std::string_view text, Colour colour) {
    if (!text.empty())
        record(CanvasCommands::Text, rect, colour, text);
}

}  // namespace veltrosa
