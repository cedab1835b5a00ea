#include "control_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "arguments.h"

namespace tova::emu {

namespace {

constexpr size_t kLargestRequest = 64 * 1024;

struct Address {
    sockaddr_un address{};
    socklen_t length = 0;
};

Address ControlAddress(const std::filesystem::path& state) {
    std::error_code ec;
    std::string path = std::filesystem::weakly_canonical(std::filesystem::absolute(state), ec).string();
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (unsigned char c : path) hash = (hash ^ c) * 1099511628211ull;
    char name[64];
    int n = std::snprintf(name, sizeof name, "tova-emu-control-%016llx",
                          static_cast<unsigned long long>(hash));
    Address a;
    a.address.sun_family = AF_UNIX;
    a.address.sun_path[0] = '\0';  // abstract namespace
    std::memcpy(a.address.sun_path + 1, name, static_cast<size_t>(n));
    a.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
    return a;
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ReadAll(int fd, std::string* data, size_t limit) {
    char buffer[4096];
    for (;;) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        data->append(buffer, static_cast<size_t>(n));
        if (data->size() > limit) return false;
    }
}

// The socket lives in the abstract namespace, which has no file permissions: without this
// check any local user could switch the handheld off or have it write files for them.
bool FromOwnerOrRoot(int connection) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return false;
    return peer.uid == ::geteuid() || peer.uid == 0;
}

const char* StatusWord(ControlReply::Status s) {
    switch (s) {
    case ControlReply::Status::kOk: return "ok";
    case ControlReply::Status::kUsage: return "usage";
    default: return "error";
    }
}

}  // namespace

std::optional<ControlReply> SendControl(const std::filesystem::path& state,
                                        const std::vector<std::string>& words,
                                        const ControlLimits& limits) {
    Address a = ControlAddress(state);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    if (limits.timeoutMs > 0) {
        timeval limit{limits.timeoutMs / 1000, (limits.timeoutMs % 1000) * 1000};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a.address), a.length) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    std::string request;
    for (const auto& w : words) request.append(w).push_back('\0');
    std::string reply;
    bool ok = WriteAll(fd, request) && ::shutdown(fd, SHUT_WR) == 0 && ReadAll(fd, &reply, limits.largestReply + 16);
    ::close(fd);
    if (!ok) throw CommandError("the running handheld did not answer");
    size_t eol = reply.find('\n');
    std::string status = reply.substr(0, eol);
    std::string text = eol == std::string::npos ? "" : reply.substr(eol + 1);
    if (status == "ok") return ControlReply{ControlReply::Status::kOk, text};
    if (status == "usage") return ControlReply{ControlReply::Status::kUsage, text};
    return ControlReply{ControlReply::Status::kError, text};
}

ControlServer::ControlServer(const std::filesystem::path& state, Handler handler)
    : handler_(std::move(handler)) {
    Address a = ControlAddress(state);
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) throw CommandError(std::string("cannot open the control channel: ") + std::strerror(errno));
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a.address), a.length) != 0) {
        int error = errno;
        ::close(listener_);
        if (error == EADDRINUSE) throw CommandError("the handheld in " + state.string() + " is already running");
        throw CommandError(std::string("cannot open the control channel: ") + std::strerror(error));
    }
    if (::listen(listener_, 8) != 0 || ::pipe2(wake_, O_CLOEXEC) != 0) {
        ::close(listener_);
        throw CommandError(std::string("cannot open the control channel: ") + std::strerror(errno));
    }
    thread_ = std::thread([this] { Serve(); });
}

ControlServer::~ControlServer() {
    char stop = 'x';
    (void)!::write(wake_[1], &stop, 1);
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void ControlServer::Serve() {
    for (;;) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        Answer(connection);
        ::close(connection);
    }
}

void ControlServer::Answer(int connection) {
    timeval limit{10, 0};  // a client that never finishes its request is dropped
    ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string request;
    if (!ReadAll(connection, &request, kLargestRequest)) return;
    if (!FromOwnerOrRoot(connection)) {
        WriteAll(connection, std::string(StatusWord(ControlReply::Status::kError)) + "\n" +
                                 "refused: only the user running this handheld (uid " +
                                 std::to_string(::geteuid()) + ") or root may control it");
        return;
    }
    std::vector<std::string> words;
    size_t start = 0;
    for (size_t nul; (nul = request.find('\0', start)) != std::string::npos; start = nul + 1)
        words.push_back(request.substr(start, nul - start));
    ControlReply reply = handler_(words);
    WriteAll(connection, std::string(StatusWord(reply.status)) + "\n" + reply.text);
}

}  // namespace tova::emu
