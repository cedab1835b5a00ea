// Which boot the calling thread's device code belongs to. Threads that run device code
// (start-up programs, calls through RunDeviceCall) carry the boot generation they started
// in; every other thread (tests, tools, the link server's own work) carries none and is
// never halted.
#pragma once

#include <cstdint>

namespace tova {

struct DeviceContext {
    uint64_t generation = 0;  // 0: not a device thread
};

inline DeviceContext& CurrentDeviceContext() {
    thread_local DeviceContext context;
    return context;
}

// Makes this thread a device thread of `generation` for the scope.
class DeviceScope {
public:
    explicit DeviceScope(uint64_t generation);
    ~DeviceScope();
    DeviceScope(const DeviceScope&) = delete;
    DeviceScope& operator=(const DeviceScope&) = delete;

private:
    DeviceContext saved_;
};

}  // namespace tova
