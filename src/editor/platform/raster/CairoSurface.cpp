#include "editor/platform/raster/CairoSurface.h"

#include <fontconfig/fontconfig.h>

#include <cmath>
#include <string>

namespace veltrosa {

CairoSurface::CairoSurface(cairo_surface_t* target, double scale) : cr_(cairo_create(target)) {
    cairo_set_antialias(cr_, CAIRO_ANTIALIAS_NONE);
    if (scale != 1.0)
        cairo_scale(cr_, scale, scale);
}

CairoSurface::~CairoSurface() {
    cairo_surface_flush(cairo_get_target(cr_));
    cairo_destroy(cr_);
}

void CairoSurface::releaseProcessCaches() {
    cairo_debug_reset_static_data();
    FcFini();
}

void CairoSurface::setColour(Colour colour) {
    cairo_set_source_rgb(cr_, colour.red / 255.0, colour.green / 255.0, colour.blue / 255.0);
}

void CairoSurface::fillRect(const Rect& rect, Colour colour) {
    if (rect.width() <= 0 || rect.height() <= 0)
        return;
    setColour(colour);
    cairo_rectangle(cr_, rect.left, rect.top, rect.width(), rect.height());
    cairo_fill(cr_);
}

void CairoSurface::frameRect(const Rect& rect, Colour colour) {
    if (rect.width() <= 0 || rect.height() <= 0)
        return;
    // Four one-pixel strips on the inside edges: whole pixels, no half-pixel
    // stroke to smear across two rows.
    fillRect({rect.left, rect.top, rect.right, rect.top + 1}, colour);
    fillRect({rect.left, rect.bottom - 1, rect.right, rect.bottom}, colour);
    fillRect({rect.left, rect.top, rect.left + 1, rect.bottom}, colour);
    fillRect({rect.right - 1, rect.top, rect.right, rect.bottom}, colour);
}

CairoSurface::TextMetrics CairoSurface::selectFont(const std::string& line) {
    cairo_select_font_face(cr_, kFontFamily, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr_, kFontSize);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    cairo_set_font_options(cr_, options);
    cairo_font_options_destroy(options);
    cairo_font_extents_t font;
    cairo_font_extents(cr_, &font);
    cairo_text_extents_t extents;
    cairo_text_extents(cr_, line.c_str(), &extents);
    return {extents.x_advance, font.ascent, font.ascent + font.descent};
}

std::pair<double, double> CairoSurface::textSize(std::string_view text) {
    cairo_save(cr_);
    const TextMetrics metrics = selectFont(std::string(text));
    cairo_restore(cr_);
    return {metrics.advance, metrics.lineHeight};
}

void CairoSurface::drawText(const Rect& rect, std::string_view text, Colour colour) {
    if (rect.width() <= 0 || rect.height() <= 0 || text.empty())
        return;
    const std::string line(text);  // Cairo wants a terminated string
    cairo_save(cr_);
    cairo_rectangle(cr_, rect.left, rect.top, rect.width(), rect.height());
    cairo_clip(cr_);
    const TextMetrics metrics = selectFont(line);
    // Centred by advance and by the font's line height, on whole pixels so
    // that the same text looks the same wherever it is drawn.
    const double left = std::floor(rect.left + (rect.width() - metrics.advance) / 2.0);
    const double baseline = std::floor(rect.top + (rect.height() - metrics.lineHeight) / 2.0 + metrics.ascent);
    setColour(colour);
    cairo_move_to(cr_, left, baseline);
    cairo_show_text(cr_, line.c_str());
    cairo_restore(cr_);
}

}  // namespace veltrosa
