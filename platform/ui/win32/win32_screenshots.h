// Pictures of a windowed run, as the Qt host takes them: a PNG of a page each time it is
// shown and when it is about to close, and of each message box when it opens, numbered in
// the order they were taken (001-page-102-shown.png, ..., 011-box-129-update-complete.png).
#pragma once

#include <string>
#include <string_view>

namespace ui::win32 {

class Screenshots {
public:
    // `folder` must exist; pictures that cannot be saved are reported on standard error
    // and the run goes on.
    explicit Screenshots(std::string folder) : folder_(std::move(folder)) {}

    // `window` is an HWND, drawn as it stands, frame and all.
    void PageShown(void* window, int templateId);
    void PageClosing(void* window, int templateId);
    void MessageBoxOpened(void* window, int ownerTemplateId, std::string_view caption);

private:
    void Save(void* window, const std::string& what);

    std::string folder_;
    int taken_ = 0;
};

}  // namespace ui::win32
