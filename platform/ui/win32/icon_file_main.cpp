// Writes the program icon (resource 128, drawn by the program's artwork) as an .ico file
// that the Windows build's resource compiler embeds. Runs on the build machine.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/ui/artwork.h"
#include "platform/ui/resources.h"

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// One icon image: a BITMAPINFOHEADER of twice the height, the 32-bit pixels bottom-up,
// then the 1-bit mask (set where the pixel is transparent), rows padded to 32 bits.
std::vector<uint8_t> IconImage(const ui::Image& image) {
    std::vector<uint8_t> out;
    const int w = image.width, h = image.height;
    const int maskRow = ((w + 31) / 32) * 4;
    Put32(out, 40);
    Put32(out, uint32_t(w));
    Put32(out, uint32_t(h * 2));
    Put16(out, 1);
    Put16(out, 32);
    Put32(out, 0);
    Put32(out, uint32_t(w * h * 4 + maskRow * h));
    for (int i = 0; i < 4; ++i) Put32(out, 0);
    for (int y = h - 1; y >= 0; --y)
        for (int x = 0; x < w; ++x) Put32(out, image.At(x, y));
    for (int y = h - 1; y >= 0; --y) {
        std::vector<uint8_t> row(size_t(maskRow), 0);
        for (int x = 0; x < w; ++x)
            if ((image.At(x, y) >> 24) == 0) row[size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.ico\n", argv[0]);
        return 2;
    }
    std::vector<std::vector<uint8_t>> images;
    std::vector<int> sizes;
    for (int size : {16, 32}) {
        const ui::Image* image = ui::LoadIconResource(ui::IDR_MAINFRAME, size);
        if (!image) continue;
        images.push_back(IconImage(*image));
        sizes.push_back(size);
    }
    std::vector<uint8_t> file;
    Put16(file, 0);
    Put16(file, 1);
    Put16(file, uint32_t(images.size()));
    uint32_t offset = uint32_t(6 + 16 * images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        file.push_back(uint8_t(sizes[i]));
        file.push_back(uint8_t(sizes[i]));
        file.push_back(0);
        file.push_back(0);
        Put16(file, 1);
        Put16(file, 32);
        Put32(file, uint32_t(images[i].size()));
        Put32(file, offset);
        offset += uint32_t(images[i].size());
    }
    for (const auto& image : images) file.insert(file.end(), image.begin(), image.end());
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
