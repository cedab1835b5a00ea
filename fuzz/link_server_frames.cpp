// The handheld's link server reading what a desktop sends: one connection per input, the
// input sent as it stands (greeting, frames, requests and their arguments) and then the
// sending side closed. Whatever arrives, the server answers or closes that connection; it
// must never crash, hang or stop serving the next one.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "booted_handheld.h"
#include "emulator/link/link_server.h"

namespace {

tova::link::LinkServer& Server() {
    static auto* server = new tova::link::LinkServer(fuzz::BootedHandheld(), 0);
    return *server;
}

int Connect(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) std::abort();
    return fd;
}

// Threads of this process now (the kernel's count: a thread that has ended is gone from it
// even before anyone joins it).
size_t ThreadCount() {
    std::error_code ec;
    size_t count = 0;
    for (std::filesystem::directory_iterator it("/proc/self/task", ec), end; !ec && it != end; it.increment(ec))
        ++count;
    return count;
}

// The server's thread for a connection still ends after the client has seen the close.
// libFuzzer checks for leaks right after an input, and a check that meets a thread on its
// way out reports what that thread is still releasing; so each input waits for the
// threads it started to be gone (a thread that stays, such as one the handheld started
// for good, costs one wait and is counted from the next input on).
void AwaitThreadsEnded(size_t before) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (ThreadCount() > before && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint16_t port = Server().Port();
    const size_t threadsBefore = ThreadCount();
    int fd = Connect(port);
    // The replies are small next to the socket's buffers, so everything is sent first.
    size_t sent = 0;
    while (sent < size) {
        ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0) break;  // the server closed early: it was entitled to
        sent += size_t(n);
    }
    ::shutdown(fd, SHUT_WR);
    uint8_t buffer[4096];
    while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
    ::close(fd);
    AwaitThreadsEnded(threadsBefore);
    return 0;
}
