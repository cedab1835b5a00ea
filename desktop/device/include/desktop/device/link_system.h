// What the link monitor asks of the system: the connection call, a thread for each
// connection start, and the watchdog's pause between probes. The program uses the real
// ones; a test puts its own in their place to make a start return what it needs, when it
// needs, or to stop the watchdog.
#pragma once

#include <chrono>
#include <functional>

#include "platform/rapi/rapi.h"

struct LinkSystem {
    // CeRapiInit.
    std::function<HRESULT()> connect;
    // Runs `body` on a new detached thread; false when no thread can be created.
    std::function<bool(std::function<void()> body)> startThread;
    // Sleeps `pause` (zero: only asks); false when the watchdog must return.
    std::function<bool(std::chrono::nanoseconds pause)> watchdogPause;
};

// CeRapiInit, a detached std::thread and a plain sleep that never stops the watchdog.
LinkSystem RealLinkSystem();

// What the monitor uses from now on; the real system until a test says otherwise.
void UseLinkSystem(LinkSystem system);
LinkSystem CurrentLinkSystem();
