#include "session.h"

#include <algorithm>

#include "platform/clock/clock.h"
#include "platform/rapi/wire.h"
#include "socket.h"

namespace rapi {
namespace {

using wire::Command;

// How long a greeting may take before the listener counts as not accepting (nominal). It
// only guards against something else listening on the port, so it never drops below two
// real seconds: a busy machine must not make a healthy handheld look absent.
constexpr uint64_t kGreetingTimeoutMs = 5000;
constexpr auto kGreetingTimeoutFloor = std::chrono::seconds(2);

// A connected and greeted socket, or kNoSocket. `token` 0 asks for a new session and
// receives it.
wire::Socket ConnectAndGreet(const Address& address, uint64_t& token) {
    wire::Socket fd = net::Connect(address);
    if (fd == net::kNoSocket) return net::kNoSocket;
    net::SetReceiveTimeout(fd, std::max<std::chrono::nanoseconds>(tova::ScaledMs(kGreetingTimeoutMs),
                                                              kGreetingTimeoutFloor));
    wire::PayloadWriter hello(Command::kHello);
    hello.U32(wire::kMagic).U32(wire::kProtocolVersion).U64(token);
    std::vector<uint8_t> reply;
    uint32_t command = 0, accepted = 0;
    uint64_t granted = 0;
    bool greeted = wire::SendFrame(fd, hello.Payload()) &&
                   wire::ReceiveFrame(fd, reply, 64) == wire::FrameStatus::kOk;
    if (greeted) {
        wire::PayloadReader reader(reply);
        greeted = reader.U32(command) && reader.U32(accepted) && reader.U64(granted) &&
                  reader.AtEnd() && command == static_cast<uint32_t>(Command::kHello) &&
                  accepted == 1 && granted != 0 && (token == 0 || granted == token);
    }
    if (!greeted) {
        net::Close(fd);
        return net::kNoSocket;
    }
    net::SetReceiveTimeout(fd, std::chrono::nanoseconds(0));
    token = granted;
    return fd;
}

uint32_t CommandOf(const std::vector<uint8_t>& payload) {
    if (payload.size() < 4) return 0;
    return static_cast<uint32_t>(payload[0]) | static_cast<uint32_t>(payload[1]) << 8 |
           static_cast<uint32_t>(payload[2]) << 16 | static_cast<uint32_t>(payload[3]) << 24;
}

}  // namespace

Connection::Connection(wire::Socket socket) : fd(socket), idleSinceMs(tova::NominalNowMs()) {}

Connection::~Connection() { net::Close(fd); }

Lease::Lease(Session* session, std::unique_ptr<Connection> connection)
    : session_(session), connection_(std::move(connection)) {}

Lease::~Lease() {
    if (connection_) session_->Release(std::move(connection_), broken_);
}

bool Lease::Exchange(const std::vector<uint8_t>& request, std::vector<uint8_t>& reply) {
    if (!connection_ || broken_) return false;
    if (!wire::SendFrame(connection_->fd, request) ||
        wire::ReceiveFrame(connection_->fd, reply) != wire::FrameStatus::kOk ||
        CommandOf(reply) != CommandOf(request)) {
        broken_ = true;
        return false;
    }
    return true;
}

std::shared_ptr<Session> Session::Open(const Address& address) {
    uint64_t token = 0;
    wire::Socket fd = ConnectAndGreet(address, token);
    if (fd == net::kNoSocket) return nullptr;
    std::shared_ptr<Session> session(new Session(address, token));
    auto connection = std::make_unique<Connection>(fd);
    session->open_.push_back(connection.get());
    session->idle_.push_back(std::move(connection));
    return session;
}

Lease Session::Acquire() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (dead_) return {};
        PruneStaleLocked();
        if (!idle_.empty()) {
            auto connection = std::move(idle_.back());
            idle_.pop_back();
            return Lease(this, std::move(connection));
        }
        if (open_.size() < kMaxConnections) break;
        released_.wait(lock);
    }
    // Reserve the slot while connecting, so that the limit holds.
    open_.push_back(nullptr);
    lock.unlock();
    uint64_t token = token_;
    wire::Socket fd = ConnectAndGreet(address_, token);
    lock.lock();
    open_.erase(std::find(open_.begin(), open_.end(), nullptr));
    released_.notify_one();
    if (fd == net::kNoSocket || dead_) {
        if (fd != net::kNoSocket) net::Close(fd);
        // The handheld no longer knows this session: its link went down meanwhile.
        KillLocked();
        return {};
    }
    auto connection = std::make_unique<Connection>(fd);
    open_.push_back(connection.get());
    return Lease(this, std::move(connection));
}

void Session::Release(std::unique_ptr<Connection> connection, bool broken) {
    std::lock_guard lock(mutex_);
    if (broken) KillLocked();
    if (dead_) {
        open_.erase(std::remove(open_.begin(), open_.end(), connection.get()), open_.end());
        connection.reset();
    } else {
        connection->idleSinceMs = tova::NominalNowMs();
        idle_.push_back(std::move(connection));
    }
    released_.notify_all();
}

// A connection idle for half the handheld's idle time is closed here, before the handheld
// closes it under a request; never the session's last, since the session lives on the
// handheld only while one of its connections does.
void Session::PruneStaleLocked() {
    const uint64_t now = tova::NominalNowMs();
    for (auto it = idle_.begin(); it != idle_.end() && open_.size() > 1;) {
        if (now - (*it)->idleSinceMs < wire::kIdleCloseMs / 2) {
            ++it;
            continue;
        }
        open_.erase(std::remove(open_.begin(), open_.end(), it->get()), open_.end());
        it = idle_.erase(it);
    }
}

bool Session::Alive() {
    std::lock_guard lock(mutex_);
    if (dead_) return false;
    PruneStaleLocked();
    // The server never speaks unasked: anything readable on an idle connection is its close.
    for (const auto& connection : idle_) {
        if (net::Readable(connection->fd)) {
            KillLocked();
            return false;
        }
    }
    return true;
}

void Session::Kill() {
    std::lock_guard lock(mutex_);
    KillLocked();
    released_.notify_all();
}

void Session::KillLocked() {
    dead_ = true;
    for (Connection* connection : open_) {
        if (connection != nullptr) net::Shutdown(connection->fd);
    }
    // Idle connections are closed now; leased ones when their lease ends.
    for (auto& connection : idle_) {
        open_.erase(std::remove(open_.begin(), open_.end(), connection.get()), open_.end());
    }
    idle_.clear();
}

}  // namespace rapi
