// The windowed dialog host, for callers that do not include the toolkit themselves.
// Only present when the program is built with Qt (TOVA_WITH_QT).
#pragma once

#include <memory>

#include "platform/ui/ui_host.h"

namespace ui {

// Whether a windowing system is there to show pages on (a display, or a platform named
// in QT_QPA_PLATFORM). Creating the windowed host without one would abort the program.
bool QtDisplayAvailable();

// The windowed host. Creates the application object from `argc` and `argv` (which must
// outlive the host) unless one already exists.
std::unique_ptr<UiHost> CreateQtUiHost(int& argc, char** argv);

}  // namespace ui
