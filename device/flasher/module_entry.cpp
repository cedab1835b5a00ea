// Velkor.exe is velkor_core linked whole; its one visible symbol is FlasherMain. The
// module also carries the program's one resource, icon group 105, in the .tova_icon
// section (readelf -x .tova_icon Velkor.exe): a 16 x 16 monochrome flash chip with an arrow
// into it, one 16-bit row per line, bit 15 leftmost.
#include <cstdint>

#include "device/flasher/flasher_main.h"

namespace {

struct IconGroup {
    char tag[8];
    uint16_t id;
    uint16_t width;
    uint16_t height;
    uint16_t bitsPerPixel;
    uint16_t rows[16];
};

__attribute__((section(".tova_icon"), used)) const IconGroup kIcon = {
    {'I', 'C', 'O', 'N', 'G', 'R', 'P', '\0'}, 105, 16, 16, 1,
    {
        0x0180,  // .......##.......
        0x0180,  // .......##.......
        0x07E0,  // .....######.....
        0x03C0,  // ......####......
        0x0180,  // .......##.......
        0x5FFA,  // .#.##########.#.
        0x3FFC,  // ..############..
        0x700E,  // .###........###.
        0x3184,  // ..##...##....#..
        0x73CE,  // .###..####..###.
        0x3184,  // ..##...##....#..
        0x700E,  // .###........###.
        0x3FFC,  // ..############..
        0x5FFA,  // .#.##########.#.
        0x0000,
        0x0000,
    },
};

}  // namespace
