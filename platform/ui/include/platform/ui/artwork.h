// The program's pictures, drawn by the program itself: the icon (resource 128) in 16 x 16
// and 32 x 32 and the welcome page's bitmap (resource 131), 222 x 272. Toolkit-neutral
// pixels; a host turns them into whatever its toolkit shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ui {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // 0xAARRGGBB, row by row from the top

    uint32_t At(int x, int y) const { return pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }
};

// nullptr when the program has no bitmap or icon of that number (or that icon size).
const Image* LoadBitmapResource(int bitmapId);
const Image* LoadIconResource(int iconId, int size);

}  // namespace ui
