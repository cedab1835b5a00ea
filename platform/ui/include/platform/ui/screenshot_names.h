// How the windowed hosts name their pictures of a run.
#pragma once

#include <string>
#include <string_view>

namespace ui {

// The file name part a caption becomes: lower-case letters and digits, every other run of
// characters one hyphen ("Update complete!" -> "update-complete"); "untitled" when nothing
// is left.
std::string CaptionSlug(std::string_view caption);

}  // namespace ui
