// The update worker: the thread that waits for the handheld after its cold restart, copies
// the service library, the 12 segments and the flasher, has the segments verified and asks
// for the warm restart that starts the flasher. It runs on an UpdateWorkerThread and talks
// to the page only through its UpdateWorkerContext (pages/worker_thread.h).
#pragma once

#include <memory>

#include "pages/worker_thread.h"

// The thread procedure. 0 after a completed run, a failed verification or a page closed
// during the verification, -1 after a copy failure, -2 when abandoned before it ended
// (nobody reads the value).
int UpdateWorker(std::shared_ptr<UpdateWorkerContext> page);

// The one worker of the program, or null. Used on the page's thread only.
extern std::shared_ptr<UpdateWorkerThread> g_hUpdateWorker;
