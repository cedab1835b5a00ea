#include <stdexcept>
#include <string>

#include "emulator/hw/display.h"

namespace tova::hw {
namespace {

void CheckPixel(uint32_t x, uint32_t y) {
    if (x >= kScreenWidth || y >= kScreenHeight)
        throw std::out_of_range("pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is off the screen");
}

}  // namespace

FrameBuffer::FrameBuffer() : pixels_(kScreenWidth * kScreenHeight, 0) {}

uint32_t FrameBuffer::Read(uint32_t offset, unsigned width) {
    std::lock_guard lock(mutex_);
    uint32_t pixel = offset / 2;
    if (width == 4) return pixels_[pixel] | (uint32_t(pixels_[pixel + 1]) << 16);
    if (width == 2) return pixels_[pixel];
    return (pixels_[pixel] >> ((offset & 1) * 8)) & 0xFF;
}

void FrameBuffer::Write(uint32_t offset, uint32_t value, unsigned width) {
    std::lock_guard lock(mutex_);
    uint32_t pixel = offset / 2;
    if (width == 4) {
        pixels_[pixel] = uint16_t(value);
        pixels_[pixel + 1] = uint16_t(value >> 16);
    } else if (width == 2) {
        pixels_[pixel] = uint16_t(value);
    } else {
        unsigned shift = (offset & 1) * 8;
        pixels_[pixel] = uint16_t((pixels_[pixel] & ~(0xFF << shift)) | ((value & 0xFF) << shift));
    }
}

uint16_t FrameBuffer::Pixel(uint32_t x, uint32_t y) const {
    CheckPixel(x, y);
    std::lock_guard lock(mutex_);
    return pixels_[y * kScreenWidth + x];
}

void FrameBuffer::SetPixel(uint32_t x, uint32_t y, uint16_t rgb565) {
    CheckPixel(x, y);
    std::lock_guard lock(mutex_);
    pixels_[y * kScreenWidth + x] = rgb565;
}

void FrameBuffer::Fill(uint16_t rgb565) {
    std::lock_guard lock(mutex_);
    std::fill(pixels_.begin(), pixels_.end(), rgb565);
}

std::vector<uint16_t> FrameBuffer::Pixels() const {
    std::lock_guard lock(mutex_);
    return pixels_;
}

}  // namespace tova::hw
