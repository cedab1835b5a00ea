// The windowed dialog host for runs that are watched or recorded: a driver may play the
// user, a transcript may record what happened (in the headless host's format), and each
// page and message box may be pictured. Only present in builds with Qt (TOVA_WITH_QT);
// callers need not include the toolkit.
#pragma once

#include <memory>
#include <string>

#include "platform/ui/ui_host.h"

namespace ui {

class Driver;
class Transcript;

struct QtHostOptions {
    Driver* driver = nullptr;          // nullptr: the person at the screen plays the user
    Transcript* transcript = nullptr;  // nullptr: nothing recorded
    std::string screenshotFolder;      // an existing folder for PNGs; empty: none taken
};

// As CreateQtUiHost(argc, argv), with these options. The driver and transcript must
// outlive the host.
std::unique_ptr<UiHost> CreateQtUiHost(int& argc, char** argv, const QtHostOptions& options);

}  // namespace ui
