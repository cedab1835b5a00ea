// Thread priorities (recorded) and Sleep on the scaled clock. A Sleep after interrupts were
// masked is counted as a violation: with IRQs off the scheduler tick that would end it
// never comes.
#include "platform/clock/clock.h"
#include "platform_call.h"
#include "platform/wince/api.h"

namespace {

constexpr int kLowestWin32Priority = 7;
constexpr int kLowestCePriority = 255;

BOOL SetPriority(HANDLE thread, int priority, bool ce) {
    tova::PlatformCall call;
    int lowest = ce ? kLowestCePriority : kLowestWin32Priority;
    if (thread == nullptr || priority < 0 || priority > lowest) {
        tova::SetThreadError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (call) call->RecordPriority({ce, priority});
    tova::SetThreadError(ERROR_SUCCESS);
    return TRUE;
}

}  // namespace

extern "C" {

BOOL SetThreadPriority(HANDLE hThread, int nPriority) {
    return SetPriority(hThread, nPriority, false);
}

BOOL CeSetThreadPriority(HANDLE hThread, int nPriority) {
    return SetPriority(hThread, nPriority, true);
}

void Sleep(DWORD dwMilliseconds) {
    tova::MachineImpl* machine = tova::MachineImpl::ActiveImpl();
    if (machine) machine->SleepFor(dwMilliseconds);
    else tova::ScaledSleep(dwMilliseconds);
}

}  // extern "C"
