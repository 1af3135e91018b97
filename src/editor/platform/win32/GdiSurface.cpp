#include "editor/platform/win32/GdiSurface.h"

#include <climits>

namespace veltrosa {

namespace {

COLORREF colorRef(Colour c) { return RGB(c.red, c.green, c.blue); }

RECT winRect(const Rect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

// FillRect or FrameRect with a brush that lives for this one call.
void withBrush(HDC dc, const Rect& rect, Colour colour, int(WINAPI* paint)(HDC, const RECT*, HBRUSH)) {
    HBRUSH brush = CreateSolidBrush(colorRef(colour));
    if (brush == nullptr)
        return;
    const RECT r = winRect(rect);
    paint(dc, &r, brush);
    DeleteObject(brush);
}

}  // namespace

void GdiSurface::fillRect(const Rect& rect, Colour colour) { withBrush(dc_, rect, colour, FillRect); }

void GdiSurface::frameRect(const Rect& rect, Colour colour) { withBrush(dc_, rect, colour, FrameRect); }

void GdiSurface::drawText(const Rect& rect, std::string_view text, Colour colour) {
    const COLORREF previousColour = SetTextColor(dc_, colorRef(colour));
    const int previousMode = SetBkMode(dc_, TRANSPARENT);
    const HGDIOBJ previousFont = SelectObject(dc_, GetStockObject(SYSTEM_FONT));
    RECT r = winRect(rect);
    const int length = text.size() > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(text.size());
    DrawTextA(dc_, text.data(), length, &r, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    SetTextColor(dc_, previousColour);
    SetBkMode(dc_, previousMode);
    SelectObject(dc_, previousFont);
}

}  // namespace veltrosa
