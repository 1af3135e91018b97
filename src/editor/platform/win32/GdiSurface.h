// Drawing on a Windows device context with GDI: solid fills, one-pixel
// frames and centred single-line text in the stock system font.
//
// Threads: user-interface thread; one surface per paint or immediate redraw.
#pragma once

#include <windows.h>

#include "editor/platform/Surface.h"

namespace veltrosa {

class GdiSurface final : public Surface {
public:
    explicit GdiSurface(HDC dc) : dc_(dc) {}

    // Each call creates the brush it needs and deletes it before returning:
    // no drawing object outlives one call.
    void fillRect(const Rect& rect, Colour colour) override;
    void frameRect(const Rect& rect, Colour colour) override;
    // Transparent background, SYSTEM_FONT; the device context's previous text
    // colour, background mode and font are restored afterwards.
    void drawText(const Rect& rect, std::string_view text, Colour colour) override;

private:
    HDC dc_;
};

}  // namespace veltrosa
