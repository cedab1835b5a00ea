#include "win32_screenshots.h"

#include <cstdio>
#include <vector>

#include "platform/ui/screenshot_names.h"
#include "win32_api.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace ui::win32 {
namespace {

// The window, frame and all, as it draws itself into a 32-bit top-down bitmap; RGBA rows.
bool Capture(HWND window, int& width, int& height, std::vector<uint8_t>& rgba) {
    RECT frame;
    if (!::GetWindowRect(window, &frame)) return false;
    width = frame.right - frame.left;
    height = frame.bottom - frame.top;
    if (width <= 0 || height <= 0) return false;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = bitmap != nullptr;
    if (ok) {
        HGDIOBJ old = ::SelectObject(memory, bitmap);
        // What the screen shows of the window: Wine's PrintWindow leaves out the children.
        ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        HDC source = ::GetWindowDC(window);
        ok = ::BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY) != 0;
        ::ReleaseDC(window, source);
        ::GdiFlush();
        if (ok) {
            const auto* bgra = static_cast<const uint8_t*>(bits);
            rgba.resize(size_t(width) * size_t(height) * 4);
            for (size_t i = 0; i < rgba.size(); i += 4) {
                rgba[i] = bgra[i + 2];
                rgba[i + 1] = bgra[i + 1];
                rgba[i + 2] = bgra[i];
                rgba[i + 3] = 0xFF;
            }
        }
        ::SelectObject(memory, old);
        ::DeleteObject(bitmap);
    }
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return ok;
}

}  // namespace

void Screenshots::PageShown(void* window, int templateId) {
    Save(window, "page-" + std::to_string(templateId) + "-shown");
}

void Screenshots::PageClosing(void* window, int templateId) {
    Save(window, "page-" + std::to_string(templateId) + "-closing");
}

void Screenshots::MessageBoxOpened(void* window, int ownerTemplateId, std::string_view caption) {
    std::string owner = ownerTemplateId ? std::to_string(ownerTemplateId) + "-" : std::string();
    Save(window, "box-" + owner + CaptionSlug(caption));
}

void Screenshots::Save(void* window, const std::string& what) {
    char number[8];
    std::snprintf(number, sizeof number, "%03d", ++taken_);
    std::string file = folder_ + "/" + number + "-" + what + ".png";
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    if (!Capture(static_cast<HWND>(window), width, height, rgba) ||
        !stbi_write_png(file.c_str(), width, height, 4, rgba.data(), width * 4))
        std::fprintf(stderr, "ui: cannot save the screenshot %s\n", file.c_str());
}

}  // namespace ui::win32
