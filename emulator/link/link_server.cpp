#include "emulator/link/link_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <list>
#include <map>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>

#include "link_faults.h"
#include "platform/clock/clock.h"
#include "platform/rapi/wire.h"
#include "request_handlers.h"
#include "server_counters.h"
#include "server_session.h"
#include "emulator/machine.h"

namespace tova::link {
namespace {

using rapi::wire::Command;
using rapi::wire::FrameStatus;
using rapi::wire::PayloadReader;
using rapi::wire::PayloadWriter;

// The greeting is small; anything bigger is not a client of ours.
constexpr uint32_t kMaxGreetingBytes = 64;

// The desktop keeps a handful of connections (the link monitor's, the file calls', an
// invocation's); more than this is not one desktop, and each costs a thread.
constexpr size_t kMaxConnections = 32;

// Real milliseconds of the idle time at the current scale; -1 (no limit) at scale 0, where
// no time passes.
int IdleLimitMs() {
    if (tova::TimeScale() <= 0) return -1;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(tova::ScaledMs(rapi::wire::kIdleCloseMs)).count();
    return static_cast<int>(std::clamp<int64_t>(ms, 1, INT32_MAX));
}

// Waits for the first byte of the next request; false when none came within the idle time.
// Only called between calls, so a call in progress never counts as idle.
bool AwaitRequest(int fd) {
    // Without a limit the receive itself waits: a poll first would only cost a call.
    if (IdleLimitMs() < 0) return true;
    for (;;) {
        pollfd wait{fd, POLLIN, 0};
        int ready = ::poll(&wait, 1, IdleLimitMs());
        if (ready < 0 && errno == EINTR) continue;
        return ready != 0;  // readable, closed or failed: receiving tells which
    }
}

// A request that stops halfway is idle too: receiving gives up after the idle time.
void LimitStalledFrames(int fd) {
    int limit = IdleLimitMs();
    if (limit < 0) return;
    timeval t{limit / 1000, (limit % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
}

[[noreturn]] void ThrowErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

struct LinkServer::Impl {
    struct Connection {
        int fd;
        std::thread thread;
        bool finished = false;
    };

    explicit Impl(tova::Machine& m) : machine(m), faults(m) {}

    void Listen(uint16_t requestedPort);
    void AcceptLoop();
    void Serve(Connection* connection);
    std::shared_ptr<ServerSession> Greet(int fd);
    void OnLinkState(bool up);
    void ReapFinished();
    void TurnAwayPending();
    void Stop();

    tova::Machine& machine;
    ServerCounters counters;
    LinkFaultPlan faults;
    int listenFd = -1;
    int wakeFd = -1;
    int reserveFd = -1;  // given up to accept and close a client when descriptors run out
    uint16_t port = 0;
    int subscription = -1;
    std::thread acceptor;

    std::mutex mutex;  // guards everything below
    bool stopping = false;
    uint64_t linkEpoch = 0;  // bumped by every link drop
    std::list<Connection> connections;
    std::map<uint64_t, std::weak_ptr<ServerSession>> sessions;
    std::mt19937_64 tokens{std::random_device{}()};
};

void LinkServer::Impl::Listen(uint16_t requestedPort) {
    listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd < 0) ThrowErrno("link server socket");
    int one = 1;
    setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(requestedPort);
    if (::bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd, 16) != 0) {
        int saved = errno;
        ::close(listenFd);
        errno = saved;
        ThrowErrno("link server bind 127.0.0.1");
    }
    socklen_t length = sizeof address;
    getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    wakeFd = ::eventfd(0, EFD_CLOEXEC);
    if (wakeFd < 0) {
        ::close(listenFd);
        ThrowErrno("link server eventfd");
    }
    reserveFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

void LinkServer::Impl::AcceptLoop() {
    for (;;) {
        pollfd waits[2] = {{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0 && errno != EINTR) return;
        if (waits[1].revents != 0) return;
        if ((waits[0].revents & POLLIN) == 0) continue;
        ReapFinished();  // a finished connection's descriptor and thread are free again
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // Left in the backlog, the client would make every poll return at once.
            if (errno == EMFILE || errno == ENFILE) TurnAwayPending();
            continue;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard lock(mutex);
        if (stopping) {
            ::close(fd);
            return;
        }
        if (connections.size() >= kMaxConnections) {
            ::close(fd);
            continue;
        }
        Connection& connection = connections.emplace_back();
        connection.fd = fd;
        connection.thread = std::thread(&Impl::Serve, this, &connection);
    }
}

// The session a connection's greeting asks for, or null when it is turned away.
std::shared_ptr<ServerSession> LinkServer::Impl::Greet(int fd) {
    std::vector<uint8_t> frame;
    if (rapi::wire::ReceiveFrame(fd, frame, kMaxGreetingBytes) != FrameStatus::kOk) {
        counters.ProtocolError();
        return nullptr;
    }
    PayloadReader hello(frame);
    uint32_t command = 0, magic = 0, version = 0;
    uint64_t token = 0;
    if (!hello.U32(command) || !hello.U32(magic) || !hello.U32(version) || !hello.U64(token) ||
        !hello.AtEnd() || command != static_cast<uint32_t>(Command::kHello) ||
        magic != rapi::wire::kMagic || version != rapi::wire::kProtocolVersion) {
        counters.ProtocolError();
        return nullptr;
    }
    uint64_t epoch;
    {
        std::lock_guard lock(mutex);
        epoch = linkEpoch;
    }
    // Asked outside our lock: the machine calls OnLinkState while holding its own.
    bool up = machine.LinkUp();
    std::shared_ptr<ServerSession> session;
    {
        std::lock_guard lock(mutex);
        if (up && epoch == linkEpoch && !stopping) {
            if (token == 0) {
                do token = tokens(); while (token == 0 || sessions.count(token) != 0);
                session = std::make_shared<ServerSession>(machine, token);
                sessions[token] = session;
            } else if (auto found = sessions.find(token); found != sessions.end()) {
                session = found->second.lock();
            }
        }
    }
    // Counted before the answer goes out, so that a client that has its answer can rely
    // on the count.
    if (session) {
        counters.Accepted();
    } else {
        counters.Refused();
    }
    PayloadWriter answer(Command::kHello);
    answer.U32(session ? 1 : 0).U64(session ? session->Token() : 0);
    if (!rapi::wire::SendFrame(fd, answer.Payload())) return nullptr;
    return session;
}

void LinkServer::Impl::Serve(Connection* connection) {
    int fd = connection->fd;
    LimitStalledFrames(fd);
    std::shared_ptr<ServerSession> session;
    if (AwaitRequest(fd)) {
        session = Greet(fd);
    } else {
        counters.IdleClosed();  // connected and never greeted
    }
    if (session) {
        std::vector<uint8_t> request, reply;
        for (;;) {
            if (!AwaitRequest(fd)) {
                counters.IdleClosed();
                break;
            }
            FrameStatus status = rapi::wire::ReceiveFrame(fd, request);
            if (status == FrameStatus::kTooLong || status == FrameStatus::kTruncated) {
                counters.ProtocolError();
            }
            if (status != FrameStatus::kOk) break;
            RequestOutcome outcome = HandleRequest(machine, *session, counters, faults, request, reply);
            if (outcome == RequestOutcome::kProtocolError) counters.ProtocolError();
            if (outcome != RequestOutcome::kReply || !rapi::wire::SendFrame(fd, reply)) break;
        }
        // The session is let go before the client can see this connection end, so that a
        // desktop whose last connection closed finds the files it held closed. Released
        // outside our lock: closing its handles takes the machine's.
        const uint64_t token = session->Token();
        session.reset();
        std::lock_guard lock(mutex);
        if (auto found = sessions.find(token); found != sessions.end() && found->second.expired())
            sessions.erase(found);
    }
    std::lock_guard lock(mutex);
    ::shutdown(fd, SHUT_RDWR);
    connection->finished = true;
}

void LinkServer::Impl::OnLinkState(bool up) {
    if (up) return;
    {
        std::lock_guard lock(mutex);
        ++linkEpoch;
        sessions.clear();
        for (Connection& connection : connections) ::shutdown(connection.fd, SHUT_RDWR);
    }
    counters.CutDelays();
}

void LinkServer::Impl::ReapFinished() {
    std::list<Connection> done;
    {
        std::lock_guard lock(mutex);
        for (auto it = connections.begin(); it != connections.end();) {
            auto next = std::next(it);
            if (it->finished) done.splice(done.end(), connections, it);
            it = next;
        }
    }
    for (Connection& connection : done) {
        connection.thread.join();
        ::close(connection.fd);
    }
}

// Out of descriptors: the waiting client is accepted on the reserved one and closed at once,
// so it learns that it was turned away; without a reserve, the loop waits a moment before it
// tries again instead of spinning.
void LinkServer::Impl::TurnAwayPending() {
    if (reserveFd >= 0) {
        ::close(reserveFd);
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) ::close(fd);
        reserveFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (reserveFd >= 0) return;
    }
    pollfd wake{wakeFd, POLLIN, 0};
    ::poll(&wake, 1, 100);
}

void LinkServer::Impl::Stop() {
    {
        std::lock_guard lock(mutex);
        if (stopping) return;
        stopping = true;
        for (Connection& connection : connections) ::shutdown(connection.fd, SHUT_RDWR);
    }
    // Not under our lock: the machine may be calling OnLinkState right now.
    machine.UnsubscribeLinkState(subscription);
    counters.CutDelays();
    uint64_t one = 1;
    if (::write(wakeFd, &one, sizeof one) < 0) {
        // The eventfd cannot be full; a failure here leaves nothing to undo.
    }
    if (acceptor.joinable()) acceptor.join();
    std::list<Connection> remaining;
    {
        std::lock_guard lock(mutex);
        remaining.swap(connections);
    }
    for (Connection& connection : remaining) {
        connection.thread.join();
        ::close(connection.fd);
    }
    ::close(listenFd);
    ::close(wakeFd);
    if (reserveFd >= 0) ::close(reserveFd);
    // Last: no request is left to fire a fault, and a drop still running ends here.
    faults.Stop();
}

LinkServer::LinkServer(tova::Machine& machine, uint16_t port) : impl_(std::make_unique<Impl>(machine)) {
    impl_->Listen(port);
    Impl* impl = impl_.get();
    impl_->subscription = machine.SubscribeLinkState([impl](bool up) { impl->OnLinkState(up); });
    try {
        impl_->acceptor = std::thread(&Impl::AcceptLoop, impl);
    } catch (...) {
        impl_->Stop();
        throw;
    }
}

LinkServer::~LinkServer() { Stop(); }

uint16_t LinkServer::Port() const { return impl_->port; }

void LinkServer::Stop() { impl_->Stop(); }

LinkServerStats LinkServer::Stats() const { return impl_->counters.Snapshot(); }

void LinkServer::SetFileCallDelayMs(uint32_t ms) { impl_->counters.SetFileCallDelayMs(ms); }

void LinkServer::SetFaults(const LinkFaults& faults) { impl_->faults.Set(faults); }

LinkFaults LinkServer::Faults() const { return impl_->faults.Armed(); }

}  // namespace tova::link
