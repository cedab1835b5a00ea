// The link monitor under a test's control: its link system replaced (desktop/device/link_system.h)
// by one that counts and can hold up its threads, and the monitor put back as a fresh
// program has it. Linked into every test that runs the monitor.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/rapi/rapi.h"

namespace link_testing {

// Replaces CeRapiInit in the connection-start thread; an empty function restores it.
void SetRapiInitHook(std::function<HRESULT()> hook);
// Makes StartLink's thread creation fail, as when the system has no threads left.
void SetThreadCreationFails(bool fails);
// Connection-start threads created since the last Reset.
uint32_t LinkStartThreadsCreated();
// Waits until every connection-start thread, abandoned ones too, has ended.
void WaitForStartThreads();
// Makes a running LinkWatchdogThread return at its next step; join it afterwards.
void StopWatchdog();
// Back to the state at program start, so that another test can run the monitor: cancels
// waiting CeRapiInit calls, waits for every connection-start thread (abandoned ones too) to
// end, clears the flag, the quiesce and the stop request, and removes the seams.
// Call it after the watchdog thread has returned.
void Reset();

}  // namespace link_testing
