// The drawing seam on a Cairo surface: any Cairo target (an image in memory,
// or a window's surface in a backend that has one). Fills and frames are
// drawn without antialiasing so that every pixel lands where the widgets put
// it; text is DejaVu Sans Bold, found through fontconfig, standing in for the
// platform's system font.
#pragma once

#include <cairo.h>

#include <string>
#include <utility>

#include "editor/platform/Surface.h"

namespace veltrosa {

class CairoSurface final : public Surface {
public:
    // Draws on target for as long as this object lives; target stays the
    // caller's. scale: target pixels per unit of the rectangles drawn.
    explicit CairoSurface(cairo_surface_t* target, double scale = 1.0);
    ~CairoSurface() override;
    CairoSurface(const CairoSurface&) = delete;
    CairoSurface& operator=(const CairoSurface&) = delete;

    void fillRect(const Rect& rect, Colour colour) override;
    void frameRect(const Rect& rect, Colour colour) override;
    void drawText(const Rect& rect, std::string_view text, Colour colour) override;
    // Width and height in pixels that text takes in the editor's font.
    std::pair<double, double> textSize(std::string_view text);

    // Frees what Cairo and fontconfig keep for the whole process. Only for
    // the end of a tool or test, when no Cairo object is alive any more, so
    // that a leak checker sees a clean exit; never from the plug-in.
    static void releaseProcessCaches();

    // The text face and its size in pixels: every text of the editor's
    // layout fits its box at this size.
    static constexpr const char* kFontFamily = "DejaVu Sans";
    static constexpr double kFontSize = 10.5;

private:
    struct TextMetrics {
        double advance;
        double ascent;
        double lineHeight;
    };
    void setColour(Colour colour);
    // Selects the editor's font on the context and measures line in it.
    TextMetrics selectFont(const std::string& line);
    cairo_t* cr_;
};

}  // namespace veltrosa
