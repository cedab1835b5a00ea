// The application's view of the dialog toolkit: run a page modally, show a message box
// without an owner. One UiHost serves the user-interface thread for the whole program.
#pragma once

#include <string_view>

namespace ui {

class Page;

class UiHost {
public:
    virtual ~UiHost() = default;
    // Creates the page's window from its template, runs it modally on the calling thread
    // and returns the result it ended with; -1 when the window could not be created (no
    // such template).
    virtual int RunPage(Page& page) = 0;
    // OK button only; blocks until dismissed.
    virtual void MessageBox(std::string_view text, std::string_view caption) = 0;
};

}  // namespace ui
