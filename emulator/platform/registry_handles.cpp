#include "registry_handles.h"

#include "platform/wince/types.h"

namespace tova {

namespace {

bool Predefined(void* handle, Registry::Hive* hive) {
    auto value = reinterpret_cast<uintptr_t>(handle);
    if (value == reinterpret_cast<uintptr_t>(HKEY_LOCAL_MACHINE)) *hive = Registry::Hive::kLocalMachine;
    else if (value == reinterpret_cast<uintptr_t>(HKEY_CURRENT_USER)) *hive = Registry::Hive::kCurrentUser;
    else if (value == reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT)) *hive = Registry::Hive::kClassesRoot;
    else if (value == reinterpret_cast<uintptr_t>(HKEY_USERS)) *hive = Registry::Hive::kUsers;
    else return false;
    return true;
}

}  // namespace

void* RegistryHandles::Open(std::shared_ptr<RegKey> key) {
    std::lock_guard lock(mutex_);
    uintptr_t handle = next_;
    next_ += 4;
    open_[handle] = std::move(key);
    return reinterpret_cast<void*>(handle);
}

std::shared_ptr<RegKey> RegistryHandles::Get(const Registry& registry, void* handle) const {
    Registry::Hive hive;
    if (Predefined(handle, &hive)) return registry.HiveRoot(hive);
    std::lock_guard lock(mutex_);
    auto it = open_.find(reinterpret_cast<uintptr_t>(handle));
    return it == open_.end() ? nullptr : it->second;
}

bool RegistryHandles::IsPredefined(void* handle) const {
    Registry::Hive hive;
    return Predefined(handle, &hive);
}

bool RegistryHandles::Close(void* handle) {
    std::lock_guard lock(mutex_);
    return open_.erase(reinterpret_cast<uintptr_t>(handle)) == 1;
}

void RegistryHandles::CloseAll() {
    std::lock_guard lock(mutex_);
    open_.clear();
}

}  // namespace tova
