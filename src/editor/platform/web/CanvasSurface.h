// The drawing seam in a browser: the surface writes each drawing call into a
// list the page's script reads and replays on a 2D canvas, so the editor's
// pictures come from the toolkit's own code, not from a copy in script.
// Text is drawn there in DejaVu Sans Bold at the raster surface's size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "editor/platform/Surface.h"

namespace veltrosa {

// What the page replays: records of kWords words, then the text they point at.
struct CanvasCommands {
    enum Op : int32_t { Fill = 0, Frame = 1, Text = 2 };
    // op, left, top, right, bottom, 0xRRGGBB, text start, text length
    static constexpr int32_t kWords = 8;
    std::vector<int32_t> words;
    std::string text;

    int32_t count() const { return static_cast<int32_t>(words.size()) / kWords; }
    void clear() {
        words.clear();
        text.clear();
    }
};

class CanvasSurface final : public Surface {
public:
    explicit CanvasSurface(CanvasCommands& out) : out_(out) {}

    void fillRect(const Rect& rect, Colour colour) override;
    void frameRect(const Rect& rect, Colour colour) override;
    void drawText(const Rect& rect, std::string_view text, Colour colour) override;

private:
    void record(CanvasCommands::Op op, const Rect& rect, Colour colour, std::string_view text);
    CanvasCommands& out_;
};

}  // namespace veltrosa
