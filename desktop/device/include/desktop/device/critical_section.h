// A desktop critical section with the platform's names. Kept in namespace win32 so that it
// never meets the handheld's API when both live in one test executable.
#pragma once

#include <atomic>
#include <mutex>

namespace win32 {

struct CRITICAL_SECTION {
    std::atomic<std::recursive_mutex*> impl{nullptr};
};

void InitializeCriticalSection(CRITICAL_SECTION* section);
// Entering a section that was never initialised or was already deleted is a programming
// error: it is reported on stderr and the program aborts rather than racing unprotected.
void EnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);

}  // namespace win32
