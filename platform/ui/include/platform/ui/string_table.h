// The program's string table: every user-visible text that does not live in a dialog
// template. "\n" in an entry is one line feed.
#pragma once

#include <span>
#include <string_view>

namespace ui {

struct StringEntry {
    int id;
    std::string_view text;
};

// The text of string `id`; empty when the table has no such entry (as LoadString
// copies nothing), so callers that test for an empty string behave alike.
std::string_view LoadString(int id);
bool HasString(int id);
std::span<const StringEntry> AllStrings();

}  // namespace ui
