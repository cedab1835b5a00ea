#include "device_context.h"

namespace tova {

DeviceScope::DeviceScope(uint64_t generation) : saved_(CurrentDeviceContext()) {
    CurrentDeviceContext().generation = generation;
}

DeviceScope::~DeviceScope() { CurrentDeviceContext() = saved_; }

}  // namespace tova
