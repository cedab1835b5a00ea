// A PNG read back into pixels, for tests that look at what a program drew.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace e2e {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;  // rows top to bottom
    std::string problem;      // why the file could not be read; empty when it was

    Rgb At(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

// The file decoded to 8-bit RGB, whatever its PNG colour type.
Picture ReadPng(const std::filesystem::path& path);

}  // namespace e2e
