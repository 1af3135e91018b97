// The drawing seam: everything the toolkit draws goes through a Surface.
// A platform backend supplies one for painting a window (see WindowLayer.h);
// the toolkit and the widgets never call a drawing library themselves.
//
// Threads: user-interface thread only. A Surface lives for one paint or one
// immediate redraw; nothing drawn through it keeps state between calls.
#pragma once

#include <cstdint>
#include <string_view>

namespace veltrosa {

// A 24-bit RGB colour.
struct Colour {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    friend bool operator==(const Colour&, const Colour&) = default;
};

// Client pixels; right and bottom exclusive.
struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
};

class Surface {
public:
    virtual ~Surface() = default;

    // Every pixel of rect in colour, no antialiasing. An empty rect draws nothing.
    virtual void fillRect(const Rect& rect, Colour colour) = 0;
    // A one-pixel outline along the inside edges of rect.
    virtual void frameRect(const Rect& rect, Colour colour) = 0;
    // One line of text in the stand-in for the system font, centred both
    // ways in rect and clipped to it; only the glyphs are painted.
    virtual void drawText(const Rect& rect, std::string_view text, Colour colour) = 0;
};

}  // namespace veltrosa
