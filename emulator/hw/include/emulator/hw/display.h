// The handheld's display memory: 240 x 320 pixels of 16 bits (RGB565), rows of 480 bytes
// from the top-left pixel. There are two frames, at 0xBE000000 (frame 0) and 0xBE042000
// (frame 1); the screen shows frame 1.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "emulator/hw/bus.h"

namespace tova::hw {

inline constexpr uint32_t kScreenWidth = 240;
inline constexpr uint32_t kScreenHeight = 320;
inline constexpr uint32_t kFrameBytes = kScreenWidth * kScreenHeight * 2;  // 153,600
inline constexpr unsigned kShownFrame = 1;

class FrameBuffer : public BusDevice {
public:
    FrameBuffer();

    uint32_t Read(uint32_t offset, unsigned width) override;
    void Write(uint32_t offset, uint32_t value, unsigned width) override;

    // Throws std::out_of_range outside the 240 x 320 frame.
    uint16_t Pixel(uint32_t x, uint32_t y) const;
    void SetPixel(uint32_t x, uint32_t y, uint16_t rgb565);
    void Fill(uint16_t rgb565);
    std::vector<uint16_t> Pixels() const;  // row by row

private:
    mutable std::mutex mutex_;
    std::vector<uint16_t> pixels_;
};

class PngError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The frame as an 8-bit RGB PNG (each RGB565 channel widened to 8 bits with its top bits
// repeated, so 0xFFFF is pure white). Throws PngError with the reason.
std::vector<uint8_t> EncodePng(const FrameBuffer& frame);
// The same PNG written to a file. Throws PngError with the path and the reason.
void RenderPng(const FrameBuffer& frame, const std::filesystem::path& path);

// RGB888 value of an RGB565 pixel as RenderPng writes it.
std::array<uint8_t, 3> Rgb565ToRgb888(uint16_t pixel);

class Display {
public:
    FrameBuffer& Frame(unsigned index) { return frames_.at(index); }
    const FrameBuffer& Frame(unsigned index) const { return frames_.at(index); }
    // The frame the screen shows.
    FrameBuffer& Screen() { return frames_[kShownFrame]; }
    const FrameBuffer& Screen() const { return frames_[kShownFrame]; }
    uint16_t Pixel(uint32_t x, uint32_t y) const { return Screen().Pixel(x, y); }
    // A screenshot of what the screen shows.
    std::vector<uint8_t> EncodePng() const { return hw::EncodePng(Screen()); }
    void RenderPng(const std::filesystem::path& path) const { hw::RenderPng(Screen(), path); }

private:
    std::array<FrameBuffer, 2> frames_;
};

}  // namespace tova::hw
