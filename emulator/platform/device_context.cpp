#include "device_context.h"

namespace tova {

DeviceContext& CurrentDeviceContext() {
    thread_local DeviceContext context;
    return context;
}

DeviceScope::DeviceScope(uint64_t generation) : saved_(CurrentDeviceContext()) {
    CurrentDeviceContext().generation = generation;
}

DeviceScope::~DeviceScope() { CurrentDeviceContext() = saved_; }

}  // namespace tova
