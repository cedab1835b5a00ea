#include "platform/ui/screenshot_names.h"

namespace ui {

std::string CaptionSlug(std::string_view caption) {
    std::string slug;
    bool gap = false;
    for (char c : caption) {
        bool letter = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a'), letter = true;
        if (!letter) {
            gap = !slug.empty();
            continue;
        }
        if (gap) slug += '-';
        gap = false;
        slug += c;
    }
    return slug.empty() ? "untitled" : slug;
}

}  // namespace ui
