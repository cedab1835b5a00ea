// The ROM a handheld leaves the factory with, and ROM packages given with --rom.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "emulator/machine.h"

namespace tova::emu {

// The build of the factory ROM when none is asked for: older than every package.
inline constexpr char kDefaultFactoryBuild[] = "05010100";

// The flash image from 0xA0040000 of a factory ROM for the model, with its eight build
// digits and language. Throws CommandError for digits or a language it cannot build.
std::vector<uint8_t> FactoryFlashImage(Model model, const std::string& buildDigits,
                                       uint16_t languageId);

// The flash image carried by a ROM package file (everything after its 512-byte head).
// Throws CommandError for a missing or short file.
std::vector<uint8_t> PackageFlashImage(const std::filesystem::path& package);

// What a flash image's ROM identity says, for warnings at creation: empty when it fits
// the model, else why the handheld would not start with it.
std::string DescribeImageProblem(const std::vector<uint8_t>& image, Model model);

}  // namespace tova::emu
