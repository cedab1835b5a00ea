// The entry of every Windows CE API function and hardware accessor: finds the active
// machine and holds off a reset for the length of the call. A device thread whose boot has
// ended gets MachineHalted here.
#pragma once

#include "machine_impl.h"

namespace tova {

class PlatformCall {
public:
    PlatformCall() : machine_(MachineImpl::ActiveImpl()) {
        if (machine_) pass_ = machine_->EnterPlatform();
    }
    explicit operator bool() const { return machine_ != nullptr; }
    MachineImpl* operator->() const { return machine_; }
    MachineImpl& operator*() const { return *machine_; }

private:
    MachineImpl* machine_;
    CallGate::Pass pass_;
};

// The calling thread's last error, as GetLastError reports it.
void SetThreadError(uint32_t error);

}  // namespace tova
