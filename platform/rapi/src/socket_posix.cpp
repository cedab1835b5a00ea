#include "socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace rapi::net {

Socket Connect(const Address& address) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSocket;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(address.port);
    to.sin_addr.s_addr = htonl(address.host);
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return kNoSocket;
    }
    return fd;
}

void SetReceiveTimeout(Socket socket, std::chrono::nanoseconds timeout) {
    auto micros = std::chrono::duration_cast<std::chrono::microseconds>(timeout).count();
    timeval value{};
    value.tv_sec = static_cast<time_t>(micros / 1000000);
    value.tv_usec = static_cast<suseconds_t>(micros % 1000000);
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value);
}

bool Readable(Socket socket) {
    pollfd entry{socket, POLLIN | POLLRDHUP, 0};
    return ::poll(&entry, 1, 0) != 0;
}

void Shutdown(Socket socket) { ::shutdown(socket, SHUT_RDWR); }

void Close(Socket socket) { ::close(socket); }

}  // namespace rapi::net
