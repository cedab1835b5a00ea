// A session with the handheld's link server: the connections of one CeRapiInit. Each call
// leases a connection of its own (opening another one, joined to the session, when all
// are busy), so calls from several threads run side by side. Any failure of a connection
// kills the whole session: the link is gone, and every call in flight and every later
// call fails until a new session is opened. The handheld closes connections that stay idle
// (wire::kIdleCloseMs); the session closes its own first, keeping the last one, which holds
// the session on the handheld.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "endpoint.h"
#include "platform/rapi/wire.h"

namespace rapi {

class Session;

// One socket of a session, greeted by the server.
struct Connection {
    explicit Connection(wire::Socket socket);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    wire::Socket fd;
    uint64_t idleSinceMs;  // nominal, when it was last given back
};

// A connection leased for one call; returned to the session when the lease ends.
class Lease {
public:
    Lease() = default;
    Lease(Session* session, std::unique_ptr<Connection> connection);
    Lease(Lease&& other) noexcept = default;
    Lease& operator=(Lease&&) = delete;
    ~Lease();
    explicit operator bool() const { return connection_ != nullptr; }
    // Sends one request and waits for its reply, which must answer the same command.
    // false when the link failed; the session is dead from then on.
    bool Exchange(const std::vector<uint8_t>& request, std::vector<uint8_t>& reply);
    // The reply made no sense: the peer cannot be trusted any more.
    void MarkBroken() { broken_ = true; }

private:
    Session* session_ = nullptr;
    std::unique_ptr<Connection> connection_;
    bool broken_ = false;
};

class Session : public std::enable_shared_from_this<Session> {
public:
    // Connects and asks for a new session; null when nothing listens or the handheld
    // does not accept (its link is down).
    static std::shared_ptr<Session> Open(const Address& address);

    // A connection for one call, or an empty lease when the session is dead.
    Lease Acquire();
    // Not killed, and no idle connection has been closed by the handheld.
    bool Alive();
    // Shuts every connection down: calls in flight return with failure at once.
    void Kill();

private:
    friend class Lease;
    Session(const Address& address, uint64_t token) : address_(address), token_(token) {}
    void Release(std::unique_ptr<Connection> connection, bool broken);
    void KillLocked();
    void PruneStaleLocked();

    static constexpr size_t kMaxConnections = 8;
    const Address address_;
    const uint64_t token_;
    std::mutex mutex_;
    std::condition_variable released_;
    bool dead_ = false;
    std::vector<std::unique_ptr<Connection>> idle_;
    std::vector<Connection*> open_;  // every connection of the session, idle or leased
};

}  // namespace rapi
