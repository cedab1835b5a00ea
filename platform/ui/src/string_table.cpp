#include "platform/ui/string_table.h"

#include <algorithm>
#include <array>

namespace ui {
namespace {

constexpr std::array kStrings = {
    StringEntry{101, "&About Oberix..."},
    StringEntry{102, "System Information"},
    StringEntry{103, "Model : Vorn Tova Q7 "},
    StringEntry{104, "ROM Version : "},
    StringEntry{105, "Language : "},
    StringEntry{109, "Copy Complete.\n"},
    StringEntry{110, "The device is upgrading now and will take about 5 minutes to complete.\n "},
    StringEntry{112, "Tap Start->Settings->System Information in your Pocket PC to check your "
                     "operating system version."},
    StringEntry{114, "\n     *The AC adapter is not connected."},
    StringEntry{115, "\n     *Battery power is too low to begin the update."},
    StringEntry{116, "\n     *The update does not support this language version."},
    StringEntry{118, "\n     *The update is the same as your current ROM image. \n"
                     "      You do not need to update your Pocket PC."},
    StringEntry{119, "Advanced"},
    StringEntry{120, "Basic"},
    StringEntry{121, "English"},
    StringEntry{122, "French"},
    StringEntry{123, "German"},
    StringEntry{124, "Spanish"},
    StringEntry{125, "Italian"},
    StringEntry{126, "Caution"},
    StringEntry{127, "Update complete!"},
    StringEntry{128, "Connect your device to a computer using a sync cable or cradle before "
                     "running the Velkor. Ensure that ActiveSync is installed on the computer "
                     "and that the ActiveSync connection is successful."},
    StringEntry{130, "Copy incomplete! The Velkor  procedure CANNOT proceed."},
    StringEntry{132, "Copy File..."},
    StringEntry{133, "The integrity check on the Velkor file failed.\nReinstall the Velkor "
                     "program."},
    // The check of the handheld that came back after the flashing. 140 takes the build
    // it runs and the package's build, each as its eight digits.
    StringEntry{140, "The device came back with ROM build %s instead of %s.\nThe update did "
                     "not take effect. Run the Velkor program again to update the device."},
    StringEntry{141, "The device came back, but its ROM build could not be read, so the update "
                     "could not be confirmed.\nTap Start->Settings->System Information in your "
                     "Pocket PC to check the operating system version. If it is not the new "
                     "one, run the Velkor program again."},
    StringEntry{142, "The device has not come back after the update. The update may have been "
                     "interrupted, for example by a loss of power, and the device may not "
                     "start.\nConnect the AC adapter and reset the device. If it does not start "
                     "and connect, it needs service."},
};

static_assert(std::is_sorted(kStrings.begin(), kStrings.end(),
                             [](const StringEntry& a, const StringEntry& b) { return a.id < b.id; }),
              "string table must stay sorted by id");

const StringEntry* Lookup(int id) {
    auto it = std::lower_bound(kStrings.begin(), kStrings.end(), id,
                               [](const StringEntry& e, int value) { return e.id < value; });
    return it != kStrings.end() && it->id == id ? &*it : nullptr;
}

}  // namespace

std::string_view LoadString(int id) {
    const StringEntry* entry = Lookup(id);
    return entry ? entry->text : std::string_view{};
}

bool HasString(int id) { return Lookup(id) != nullptr; }

std::span<const StringEntry> AllStrings() { return kStrings; }

}  // namespace ui
