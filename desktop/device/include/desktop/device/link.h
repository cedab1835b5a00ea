// The link monitor: brings the remote API connection up on a thread of its own, keeps the
// process-wide link flag, and probes the link every 2000 ms, restarting it when a probe
// fails. Every remote file call is serialised through g_csRapi (desktop/device/rapi_calls.h).
//
// Calling order of the start-up:
//   win32::InitializeCriticalSection(&g_csRapi);
//   StartLink();  std::thread(LinkWatchdogThread).detach();  ... wizard ...
//   QuiesceLinkWatchdog();  StopLink();  win32::DeleteCriticalSection(&g_csRapi);
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "desktop/device/critical_section.h"
#include "platform/rapi/rapi.h"

// 1 = link usable; anything else = down or not yet up. Readers test for equality with 1.
extern std::atomic<int32_t> g_bConnected;
// The one test of the flag, for every reader.
inline bool LinkIsUp() { return g_bConnected.load() == 1; }
// Held for exactly one remote file call or probe at a time.
extern win32::CRITICAL_SECTION g_csRapi;

// One connection start: the thread that runs CeRapiInit and what it may still do.
struct LinkStart;
// The pending connection start, or null. Guarded inside the monitor; read it through
// LinkStartPending().
extern std::shared_ptr<LinkStart> g_linkStartThread;
// The record every probe fills; nothing reads it.
extern CEOSVERSIONINFO g_linkProbeVersion;
// Set by QuiesceLinkWatchdog: no probe or link restart of the watchdog runs after it.
extern std::atomic<bool> g_linkWatchdogQuiesced;

// 0, or E_FAIL when the connection-start thread cannot be created (g_bConnected is then 0).
// Does nothing more while a start is pending.
HRESULT StartLink();
// Sets g_bConnected to 0. With a start pending, waits up to 1000 ms for it, abandons it if
// it is still blocked (its result is then discarded), and pauses 2000 ms before returning.
// A start pending at the call never changes g_bConnected afterwards.
void StopLink();
// Body of the connection-start thread: one CeRapiInit; E_FAIL leaves the flag at 0, any
// other result sets it to 1, unless StopLink has abandoned this start meanwhile.
uint32_t LinkStartThread(std::shared_ptr<LinkStart> start);
// The probe loop; in the program it runs for the life of the process (it returns only when
// the link system's pause says so, desktop/device/link_system.h).
void LinkWatchdogThread();
// Returns once no probe or link restart of the watchdog is in progress, and keeps any from
// starting again. The start-up calls it before the final StopLink and before deleting
// g_csRapi, which the watchdog would otherwise still take.
void QuiesceLinkWatchdog();

bool LinkStartPending();
