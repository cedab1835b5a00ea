// Screenshots: a frame of RGB565 pixels written as an 8-bit RGB PNG.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include "emulator/hw/display.h"

namespace tova::hw {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

void OnPngError(png_structp png, png_const_charp message) {
    auto* reason = static_cast<std::string*>(png_get_error_ptr(png));
    *reason = message;
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

void AppendToBuffer(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void NoFlush(png_structp) {}

// Encodes the rows with libpng into `out`; returns an empty string or the reason for
// failing. Kept free of C++ objects with destructors, since libpng reports errors by longjmp.
std::string EncodeRows(const std::vector<uint8_t>& rgb, std::vector<uint8_t>* out) {
    std::string reason;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &reason, OnPngError, OnPngWarning);
    if (!png) return "cannot start the PNG encoder";
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return "cannot start the PNG encoder";
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return reason.empty() ? "PNG encoding failed" : reason;
    }
    png_set_write_fn(png, out, AppendToBuffer, NoFlush);
    png_set_IHDR(png, info, kScreenWidth, kScreenHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < kScreenHeight; ++y)
        png_write_row(png, rgb.data() + size_t(y) * kScreenWidth * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return {};
}

}  // namespace

std::array<uint8_t, 3> Rgb565ToRgb888(uint16_t pixel) {
    uint8_t r = (pixel >> 11) & 0x1F, g = (pixel >> 5) & 0x3F, b = pixel & 0x1F;
    return {uint8_t(r << 3 | r >> 2), uint8_t(g << 2 | g >> 4), uint8_t(b << 3 | b >> 2)};
}

std::vector<uint8_t> EncodePng(const FrameBuffer& frame) {
    std::vector<uint16_t> pixels = frame.Pixels();
    std::vector<uint8_t> rgb(pixels.size() * 3);
    for (size_t i = 0; i < pixels.size(); ++i) {
        auto c = Rgb565ToRgb888(pixels[i]);
        std::memcpy(&rgb[i * 3], c.data(), 3);
    }
    std::vector<uint8_t> png;
    std::string reason = EncodeRows(rgb, &png);
    if (!reason.empty()) throw PngError("screenshot: " + reason);
    return png;
}

void RenderPng(const FrameBuffer& frame, const std::filesystem::path& path) {
    std::vector<uint8_t> png = EncodePng(frame);
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) throw PngError("screenshot '" + path.string() + "': cannot create: " + std::strerror(errno));
    bool written = std::fwrite(png.data(), 1, png.size(), file.get()) == png.size() &&
                   std::fflush(file.get()) == 0;
    if (!written) {
        std::string reason = std::strerror(errno);
        file.reset();
        std::filesystem::remove(path);
        throw PngError("screenshot '" + path.string() + "': " + reason);
    }
}

}  // namespace tova::hw
