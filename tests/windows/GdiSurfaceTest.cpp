// The GDI surface on a memory device context: exact pixels for fills and
// frames, and a device context left as it was found.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "WindowsSupport.h"
#include "editor/platform/win32/GdiSurface.h"

using veltrosa::Colour;
using veltrosa::GdiSurface;
using veltrosa::Rect;

namespace {

class MemoryDc : public testing::Test {
protected:
    static constexpr int kSize = 40;
    void SetUp() override {
        const BITMAPINFO info = windows_support::topDownBitmap(kSize, kSize);
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
        ASSERT_NE(bitmap, nullptr);
        previous = SelectObject(dc, bitmap);
    }
    void TearDown() override {
        SelectObject(dc, previous);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    uint32_t at(int x, int y) {
        GdiFlush();
        return bits[y * kSize + x] & 0xFFFFFF;
    }
    int count(uint32_t rgb) {
        GdiFlush();
        int n = 0;
        for (int i = 0; i < kSize * kSize; ++i)
            n += (bits[i] & 0xFFFFFF) == rgb ? 1 : 0;
        return n;
    }

    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    uint32_t* bits = nullptr;
};

}  // namespace

TEST_F(MemoryDc, FillCoversExactlyTheRectangle) {
    GdiSurface surface(dc);
    surface.fillRect({5, 6, 15, 10}, Colour{10, 20, 30});
    EXPECT_EQ(count(0x0A141E), 10 * 4);
    EXPECT_EQ(at(5, 6), 0x0A141Eu);
    EXPECT_EQ(at(14, 9), 0x0A141Eu);
    EXPECT_EQ(at(15, 9), 0u) << "right is exclusive";
    EXPECT_EQ(at(14, 10), 0u) << "bottom is exclusive";
    surface.fillRect({20, 20, 20, 30}, Colour{255, 255, 255});
    EXPECT_EQ(count(0xFFFFFF), 0) << "an empty rectangle draws nothing";
}

TEST_F(MemoryDc, FrameIsOnePixelInside) {
    GdiSurface surface(dc);
    surface.frameRect({2, 3, 12, 9}, Colour{255, 0, 0});
    EXPECT_EQ(count(0xFF0000), 2 * 10 + 2 * 4);
    EXPECT_EQ(at(2, 3), 0xFF0000u);
    EXPECT_EQ(at(11, 8), 0xFF0000u);
    EXPECT_EQ(at(3, 4), 0u);
    EXPECT_EQ(at(12, 8), 0u);
}

TEST_F(MemoryDc, TextIsCentredTransparentAndLeavesTheContextAsItWas) {
    GdiSurface surface(dc);
    surface.fillRect({0, 0, kSize, kSize}, Colour{0, 0, 255});
    HFONT font = CreateFontA(8, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Courier");
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetTextColor(dc, RGB(1, 2, 3));
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, RGB(9, 9, 9));

    surface.drawText({0, 0, kSize, kSize}, "W", Colour{255, 255, 0});
    EXPECT_EQ(GetTextColor(dc), RGB(1, 2, 3));
    EXPECT_EQ(GetBkMode(dc), OPAQUE);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), font);
    EXPECT_GT(count(0x00FFFF00), 0) << "glyph pixels in the text colour";
    EXPECT_EQ(count(0x090909), 0) << "no opaque background behind the glyphs";
    EXPECT_EQ(at(0, 0), 0x0000FFu);
    EXPECT_EQ(at(kSize - 1, kSize - 1), 0x0000FFu);
    // Centred: ink on both halves of the box, none along its edges.
    int left = 0, right = 0, edge = 0;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            if (at(x, y) == 0xFFFF00u) {
                (x < kSize / 2 ? left : right) += 1;
                edge += (x == 0 || y == 0 || x == kSize - 1 || y == kSize - 1) ? 1 : 0;
            }
    EXPECT_GT(left, 0);
    EXPECT_GT(right, 0);
    EXPECT_EQ(edge, 0);

    SelectObject(dc, oldFont);
    DeleteObject(font);
}

TEST_F(MemoryDc, TextIsClippedToItsRectangle) {
    GdiSurface surface(dc);
    surface.drawText({10, 10, 14, 14}, "WWWWWWWW", Colour{255, 255, 255});
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            if (x < 10 || x >= 14 || y < 10 || y >= 14) {
                ASSERT_EQ(at(x, y), 0u) << x << ", " << y;
            }
}
