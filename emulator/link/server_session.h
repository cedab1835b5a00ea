// A desktop session on the link server: the handles its connections opened on the
// handheld. Connections of one session share it; when the last one ends, the handles still
// open are closed on the handheld.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>

#include "platform/wince/types.h"

namespace tova {
class Machine;
}

namespace tova::link {

class ServerSession {
public:
    ServerSession(tova::Machine& machine, uint64_t token) : machine_(machine), token_(token) {}
    ~ServerSession();
    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;

    uint64_t Token() const { return token_; }
    // The wire id of a handle the handheld handed out.
    uint32_t AddHandle(HANDLE handle);
    // The handle behind an id, or null for an id this session never issued.
    HANDLE FindHandle(uint32_t id) const;
    // Forgets the id and returns its handle (null if unknown), for the caller to close.
    HANDLE TakeHandle(uint32_t id);

private:
    tova::Machine& machine_;
    const uint64_t token_;
    mutable std::mutex mutex_;
    std::map<uint32_t, HANDLE> handles_;
    uint32_t nextId_ = 1;
};

}  // namespace tova::link
