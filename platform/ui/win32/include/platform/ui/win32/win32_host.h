// The Win32 dialog host, for callers that do not include <windows.h> themselves. Only
// present in the Windows build.
#pragma once

#include <memory>
#include <string>

#include "platform/ui/ui_host.h"

namespace ui {

class Driver;
class Transcript;

struct Win32HostOptions {
    Driver* driver = nullptr;          // nullptr: the person at the screen plays the user
    Transcript* transcript = nullptr;  // nullptr: nothing recorded
    std::string screenshotFolder;      // an existing folder for PNGs; empty: none taken
};

// Each page a real modal dialog built from its template. The driver and transcript must
// outlive the host.
std::unique_ptr<UiHost> CreateWin32UiHost(const Win32HostOptions& options);

}  // namespace ui
