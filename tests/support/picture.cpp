#include "picture.h"

#include <png.h>

namespace e2e {

Picture ReadPng(const std::filesystem::path& path) {
    Picture picture;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        picture.problem = image.message;
        return picture;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) {
        picture.problem = image.message;
        png_image_free(&image);
        return picture;
    }
    picture.width = int(image.width);
    picture.height = int(image.height);
    picture.pixels.resize(bytes.size() / 3);
    for (size_t i = 0; i < picture.pixels.size(); ++i)
        picture.pixels[i] = {bytes[3 * i], bytes[3 * i + 1], bytes[3 * i + 2]};
    return picture;
}

}  // namespace e2e
