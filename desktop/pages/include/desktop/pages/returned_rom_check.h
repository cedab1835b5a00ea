// The check of a handheld that came back after the flashing: does it run the package's
// build? The link coming back alone says nothing: a handheld whose power failed early in
// the flashing boots its old kernel over partly new segments and links up all the same.
#pragma once

#include <cstdint>
#include <memory>

#include "desktop/pages/worker_thread.h"

// What the check found; the wParam of WM_UPD_RETURN_CHECKED.
enum class ReturnedRom : int {
    kPackageBuild = 0,  // the update took effect
    kOtherBuild = 1,    // lParam: the build it runs
    kUnreadable = 2,    // the library copy or the invocation failed
};

// Thread procedure, off the page's thread since both calls block on the link: copies the
// service library again (a cold boot empties \Windows), reads DeviceInfo and compares its
// ROM build with `packageBuild`. Posts one WM_UPD_RETURN_CHECKED to the page; returns 0.
int CheckReturnedRom(std::shared_ptr<UpdateWorkerContext> page, int32_t packageBuild);
