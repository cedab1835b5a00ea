#include "server_session.h"

#include "platform/rapi/wire.h"
#include "emulator/machine.h"
#include "platform/wince/api.h"

namespace tova::link {

ServerSession::~ServerSession() {
    if (handles_.empty()) return;
    // After a reset the old boot's handles are gone with it; then nothing runs here.
    machine_.RunDeviceCall([&] {
        for (const auto& [id, handle] : handles_) CloseHandle(handle);
    });
}

uint32_t ServerSession::AddHandle(HANDLE handle) {
    std::lock_guard lock(mutex_);
    uint32_t id = nextId_++;
    if (nextId_ == rapi::wire::kInvalidHandle) nextId_ = 1;
    handles_[id] = handle;
    return id;
}

HANDLE ServerSession::FindHandle(uint32_t id) const {
    std::lock_guard lock(mutex_);
    auto found = handles_.find(id);
    return found == handles_.end() ? nullptr : found->second;
}

HANDLE ServerSession::TakeHandle(uint32_t id) {
    std::lock_guard lock(mutex_);
    auto found = handles_.find(id);
    if (found == handles_.end()) return nullptr;
    HANDLE handle = found->second;
    handles_.erase(found);
    return handle;
}

}  // namespace tova::link
