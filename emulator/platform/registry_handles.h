// Registry handles of the handheld's processes. The predefined roots
// (HKEY_LOCAL_MACHINE ...) are not in the table; every other handle holds its key, which
// may have been deleted meanwhile. Thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "emulator/registry.h"

namespace tova {

class RegistryHandles {
public:
    void* Open(std::shared_ptr<RegKey> key);
    // The key for a handle (predefined roots resolved against `registry`), or null.
    std::shared_ptr<RegKey> Get(const Registry& registry, void* handle) const;
    bool IsPredefined(void* handle) const;
    bool Close(void* handle);
    void CloseAll();

private:
    mutable std::mutex mutex_;
    std::map<uintptr_t, std::shared_ptr<RegKey>> open_;
    uintptr_t next_ = 0x2000;
};

}  // namespace tova
