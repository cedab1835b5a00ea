// An X display of a test's own: Xvfb on the first free display number, stopped with the
// object. Windowed programs started with DISPLAY=Name() draw there as on a screen, with no
// window manager.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "child_process.h"

namespace e2e {

class VirtualDisplay {
public:
    // Starts Xvfb (1024 x 768, 24 bits) with its output in `logFolder`; Name() is empty and
    // Problem() says why when no display could be started.
    explicit VirtualDisplay(const std::filesystem::path& logFolder);
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // ":N", as DISPLAY wants it.
    const std::string& Name() const { return name_; }
    const std::string& Problem() const { return problem_; }

private:
    std::unique_ptr<child::ChildProcess> server_;
    std::string name_;
    std::string problem_;
};

}  // namespace e2e
