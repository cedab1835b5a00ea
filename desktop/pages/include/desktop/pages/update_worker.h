// The update worker: the thread that waits for the handheld after its cold restart, copies
// the service library, the 12 segments and the flasher, has the segments verified and asks
// for the warm restart that starts the flasher. It runs on an UpdateWorkerThread and talks
// to the page only through its UpdateWorkerContext (desktop/pages/worker_thread.h).
#pragma once

#include <memory>

#include "desktop/pages/worker_thread.h"
#include "platform/ui/resources.h"

// The bars and the progress text: the worker shows them when it begins copying, the page
// hides them once the copy is done.
inline constexpr int kProgressItems[] = {ui::IDC_OVERALL_PROGRESS, ui::IDC_FILE_PROGRESS,
                                         ui::IDC_PROGRESS_TEXT};

// The thread procedure. 0 after a completed run, a failed verification or a page closed
// during the verification, -1 after a copy failure, -2 when abandoned before it ended
// (nobody reads the value).
int UpdateWorker(std::shared_ptr<UpdateWorkerContext> page);

// The one worker of the program, or null. Used on the page's thread only.
extern std::shared_ptr<UpdateWorkerThread> g_hUpdateWorker;
