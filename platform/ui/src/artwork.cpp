// A handheld with a flash chip on its screen and an arrow writing into it: drawn with a
// handful of flat colours so that the icon keeps to a 256-colour palette and the bitmap
// stays plain 24-bit colour (every pixel opaque).
#include "platform/ui/artwork.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/resources.h"

namespace ui {
namespace {

constexpr uint32_t kTransparent = 0x00000000;
constexpr uint32_t kCase = 0xFF3A4150;
constexpr uint32_t kCaseEdge = 0xFF1E222B;
constexpr uint32_t kScreen = 0xFF9FD3E8;
constexpr uint32_t kChip = 0xFF202020;
constexpr uint32_t kPin = 0xFFC8C8C8;
constexpr uint32_t kArrow = 0xFFE8541E;
constexpr uint32_t kButton = 0xFF6C7688;
constexpr uint32_t kBar = 0xFF2E8B57;

class Canvas {
public:
    Canvas(int width, int height, uint32_t fill) {
        image_.width = width;
        image_.height = height;
        image_.pixels.assign(size_t(width) * size_t(height), fill);
    }
    void Set(int x, int y, uint32_t colour) {
        if (x >= 0 && y >= 0 && x < image_.width && y < image_.height)
            image_.pixels[size_t(y) * size_t(image_.width) + size_t(x)] = colour;
    }
    void FillRect(int x, int y, int w, int h, uint32_t colour) {
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i) Set(i, j, colour);
    }
    void FillRoundRect(int x, int y, int w, int h, int r, uint32_t colour) {
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i) {
                int dx = std::max({x + r - i, i - (x + w - 1 - r), 0});
                int dy = std::max({y + r - j, j - (y + h - 1 - r), 0});
                if (dx * dx + dy * dy <= r * r) Set(i, j, colour);
            }
    }
    void FillCircle(int cx, int cy, int r, uint32_t colour) {
        for (int j = cy - r; j <= cy + r; ++j)
            for (int i = cx - r; i <= cx + r; ++i)
                if ((i - cx) * (i - cx) + (j - cy) * (j - cy) <= r * r) Set(i, j, colour);
    }
    // A downward arrow: a shaft and a head whose point is at (cx, bottom).
    void DownArrow(int cx, int top, int bottom, int halfWidth, uint32_t colour) {
        int headHeight = halfWidth * 2;
        int shaftHalf = std::max(1, halfWidth / 2);
        FillRect(cx - shaftHalf, top, shaftHalf * 2, bottom - headHeight - top + 1, colour);
        for (int k = 0; k < headHeight; ++k) {
            int y = bottom - headHeight + 1 + k;
            int half = halfWidth * (headHeight - k) / headHeight;
            FillRect(cx - half, y, half * 2, 1, colour);
        }
    }
    Image Take() { return std::move(image_); }

private:
    Image image_;
};

// The handheld seen from the front, scaled to a box of `w` x `h` at (x, y).
void DrawHandheld(Canvas& c, int x, int y, int w, int h) {
    int radius = std::max(1, w / 8);
    c.FillRoundRect(x, y, w, h, radius, kCaseEdge);
    c.FillRoundRect(x + std::max(1, w / 32), y + std::max(1, w / 32), w - 2 * std::max(1, w / 32),
                    h - 2 * std::max(1, w / 32), radius, kCase);
    int sx = x + w / 8, sy = y + h / 10, sw = w - w / 4, sh = h * 6 / 10;
    c.FillRect(sx, sy, sw, sh, kScreen);
    // The flash chip in the lower half of the screen, pins left and right.
    int chipW = sw / 2, chipH = sh / 3;
    int chipX = sx + (sw - chipW) / 2, chipY = sy + sh - chipH - sh / 10;
    int pins = std::max(2, chipH / 3);
    for (int p = 0; p < pins; ++p) {
        int py = chipY + (p * 2 + 1) * chipH / (pins * 2);
        int pinLength = std::max(1, chipW / 6);
        c.FillRect(chipX - pinLength, py, pinLength, std::max(1, chipH / 12), kPin);
        c.FillRect(chipX + chipW, py, pinLength, std::max(1, chipH / 12), kPin);
    }
    c.FillRect(chipX, chipY, chipW, chipH, kChip);
    // The arrow writing into it.
    c.DownArrow(sx + sw / 2, sy + sh / 12, chipY - 1, std::max(2, sw / 7), kArrow);
    // Hardware buttons under the screen.
    int by = sy + sh + (y + h - sy - sh) / 2;
    int br = std::max(1, w / 14);
    for (int b = 0; b < 4; ++b) c.FillCircle(x + w * (2 * b + 1) / 8, by, br, kButton);
}

Image DrawIcon(int size) {
    Canvas c(size, size, kTransparent);
    int w = size * 5 / 8, h = size - 2;
    DrawHandheld(c, (size - w) / 2, 1, w, h);
    return c.Take();
}

Image DrawWelcome() {
    constexpr int kWidth = 222, kHeight = 272;
    Canvas c(kWidth, kHeight, 0xFFFFFFFF);
    // A soft gradient behind the handheld: dark blue at the top left to near white at
    // the bottom right.
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            uint32_t down = uint32_t(y * 255 / (kHeight - 1));
            uint32_t across = uint32_t(x * 255 / (kWidth - 1));
            uint32_t r = 0x1F + (0xE6 - 0x1F) * down / 255;
            uint32_t g = 0x4E + (0xF0 - 0x4E) * (down * 3 + across) / 1020;
            uint32_t b = 0x8C + (0xFA - 0x8C) * across / 255;
            c.Set(x, y, 0xFF000000 | (r << 16) | (g << 8) | b);
        }
    DrawHandheld(c, 51, 24, 120, 200);
    // Copy progress under the handheld: three bars, the last one part way.
    for (int i = 0; i < 3; ++i) {
        int y = 236 + i * 10;
        c.FillRect(40, y, 142, 6, 0xFFFFFFFF);
        c.FillRect(40, y, i < 2 ? 142 : 80, 6, kBar);
    }
    return c.Take();
}

}  // namespace

const Image* LoadBitmapResource(int bitmapId) {
    static const Image welcome = DrawWelcome();
    return bitmapId == IDB_WELCOME ? &welcome : nullptr;
}

const Image* LoadIconResource(int iconId, int size) {
    static const Image small = DrawIcon(16);
    static const Image large = DrawIcon(32);
    if (iconId != IDR_MAINFRAME) return nullptr;
    if (size == 16) return &small;
    if (size == 32) return &large;
    return nullptr;
}

}  // namespace ui
