#include "Partials.h"

#include <kissfft/kiss_fftr.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include <cairo.h>

#include "core/State.h"
#include "engine/Wavetable.h"

namespace render {

namespace {

using veltrosa::Wavetable;

// Where the generator puts harmonic h in the table's spectrum: bin 1 + h x
// 255.6053 (its 344 Hz at 44100 Hz base, one bin up).
constexpr double kBinsPerHarmonic = 255.6053;
constexpr double kLowestHarmonic = 0.5, kHighestHarmonic = 48.0;
constexpr double kFloorDb = -100.0;

constexpr int kWidth = 640, kHeight = 320;
constexpr double kLeft = 62, kRight = 16, kTop = 30, kBottom = 46;

// Magnitude of every bin of the table, in dB relative to the largest.
std::vector<double> tableSpectrum(const float* table) {
    const int n = Wavetable::kLength;
    kiss_fftr_cfg cfg = kiss_fftr_alloc(n, 0, nullptr, nullptr);
    if (cfg == nullptr)
        return {};
    std::vector<kiss_fft_cpx> bins(static_cast<std::size_t>(n / 2 + 1));
    kiss_fftr(cfg, table, bins.data());
    kiss_fftr_free(cfg);
    std::vector<double> db(bins.size());
    for (std::size_t k = 0; k < bins.size(); ++k)
        db[k] = std::hypot(static_cast<double>(bins[k].r), static_cast<double>(bins[k].i));
    const double top = std::max(*std::max_element(db.begin(), db.end()), 1e-30);
    for (double& v : db)
        v = std::max(20.0 * std::log10(std::max(v / top, 1e-30)), kFloorDb);
    return db;
}

double xOf(double harmonic) {
    const double t = std::log(harmonic / kLowestHarmonic) / std::log(kHighestHarmonic / kLowestHarmonic);
    return kLeft + t * (kWidth - kLeft - kRight);
}
double harmonicAt(double x) {
    const double t = (x - kLeft) / (kWidth - kLeft - kRight);
    return kLowestHarmonic * std::pow(kHighestHarmonic / kLowestHarmonic, t);
}
double yOf(double db) { return kTop + (db / kFloorDb) * (kHeight - kTop - kBottom); }

void text(cairo_t* cr, double x, double y, const char* s, double alignX) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, s, &e);
    cairo_move_to(cr, x - alignX * e.width - e.x_bearing, y);
    cairo_show_text(cr, s);
}

void draw(cairo_t* cr, const std::vector<double>& db) {
    cairo_set_source_rgb(cr, 0.11, 0.12, 0.14);
    cairo_paint(cr);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 11.0);
    const double right = kWidth - kRight, bottom = kHeight - kBottom;

    // Level grid every 20 dB.
    cairo_set_line_width(cr, 1.0);
    for (int level = 0; level >= kFloorDb; level -= 20) {
        const double y = std::round(yOf(level)) + 0.5;
        cairo_set_source_rgb(cr, 0.22, 0.24, 0.27);
        cairo_move_to(cr, kLeft, y);
        cairo_line_to(cr, right, y);
        cairo_stroke(cr);
        cairo_set_source_rgb(cr, 0.75, 0.77, 0.8);
        text(cr, kLeft - 6, y + 4, std::to_string(level).c_str(), 1.0);
    }
    // The 32 harmonic centres, numbered at the octaves.
    for (int h = 1; h <= veltrosa::kNumHarmonics; ++h) {
        const double x = std::round(xOf(h)) + 0.5;
        cairo_set_source_rgba(cr, 0.95, 0.75, 0.3, (h & (h - 1)) == 0 ? 0.55 : 0.25);
        cairo_move_to(cr, x, kTop);
        cairo_line_to(cr, x, bottom + 4);
        cairo_stroke(cr);
        if ((h & (h - 1)) == 0) {
            cairo_set_source_rgb(cr, 0.75, 0.77, 0.8);
            text(cr, x, bottom + 16, std::to_string(h).c_str(), 0.5);
        }
    }

    // Per pixel column the loudest bin it covers, so narrow bands still show.
    cairo_new_path(cr);
    const int first = static_cast<int>(kLeft), last = static_cast<int>(right);
    for (int px = first; px < last; ++px) {
        const double lo = 1.0 + harmonicAt(px) * kBinsPerHarmonic;
        const double hi = 1.0 + harmonicAt(px + 1) * kBinsPerHarmonic;
        auto k0 = static_cast<std::size_t>(std::floor(lo));
        auto k1 = std::max(k0 + 1, static_cast<std::size_t>(std::ceil(hi)));
        k1 = std::min(k1, db.size());
        double level = kFloorDb;
        for (std::size_t k = k0; k < k1; ++k)
            level = std::max(level, db[k]);
        if (px == first)
            cairo_move_to(cr, px, yOf(level));
        else
            cairo_line_to(cr, px + 0.5, yOf(level));
    }
    cairo_line_to(cr, right, bottom);
    cairo_line_to(cr, kLeft, bottom);
    cairo_close_path(cr);
    cairo_set_source_rgba(cr, 0.35, 0.7, 0.95, 0.35);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.45, 0.8, 1.0);
    cairo_set_line_width(cr, 1.2);
    cairo_stroke(cr);

    cairo_set_source_rgb(cr, 0.5, 0.52, 0.56);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, kLeft + 0.5, kTop + 0.5, right - kLeft - 1, bottom - kTop - 1);
    cairo_stroke(cr);

    cairo_set_source_rgb(cr, 0.9, 0.91, 0.93);
    text(cr, (kLeft + right) / 2, kHeight - 10, "harmonic number", 0.5);
    text(cr, kLeft, 19, "Wavetable spectrum", 0.0);
    cairo_save(cr);
    cairo_translate(cr, 16, (kTop + bottom) / 2);
    cairo_rotate(cr, -M_PI / 2);
    text(cr, 0, 0, "level (dB)", 0.5);
    cairo_restore(cr);
}

}  // namespace

bool writeSpectrumPng(std::span<const unsigned char> chunk, const std::string& path, std::string& error) {
    auto params = veltrosa::decodeState(chunk);
    if (!params) {
        error = "the state chunk must hold " + std::to_string(veltrosa::kStateBytes) + " bytes, not " +
                std::to_string(chunk.size());
        return false;
    }
    Wavetable wavetable(params->data());
    if (!wavetable.generate() || !wavetable.adopt()) {
        error = "no memory for the wavetable";
        return false;
    }
    const auto db = tableSpectrum(wavetable.current());
    if (db.empty()) {
        error = "no memory for the transform";
        return false;
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
    cairo_t* cr = cairo_create(surface);
    draw(cr, db);
    const cairo_status_t drawn = cairo_status(cr);
    cairo_destroy(cr);
    const cairo_status_t written =
        drawn == CAIRO_STATUS_SUCCESS ? cairo_surface_write_to_png(surface, path.c_str()) : drawn;
    cairo_surface_destroy(surface);
    if (written != CAIRO_STATUS_SUCCESS) {
        error = cairo_status_to_string(written);
        return false;
    }
    return true;
}

}  // namespace render
