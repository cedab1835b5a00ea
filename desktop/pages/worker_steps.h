// How the page's threads begin each named step: the test seam of
// desktop/pages/update_worker_testing.h runs here.
#pragma once

#include "desktop/pages/update_worker_testing.h"
#include "desktop/pages/worker_thread.h"

// Runs the step hook; false when the thread must do nothing more (abandoned).
bool BeginStep(UpdateWorkerContext& page, update_worker_testing::Step step);
