#include "socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace rapi::net {
namespace {

// Winsock wants one start-up per process before its first socket; it is never undone, as
// calls may be in flight on detached threads when the program ends.
bool WinsockStarted() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

}  // namespace

Socket Connect(const Address& address) {
    if (!WinsockStarted()) return kNoSocket;
    SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return kNoSocket;
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(address.port);
    to.sin_addr.s_addr = htonl(address.host);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        ::closesocket(s);
        return kNoSocket;
    }
    return s;
}

void SetReceiveTimeout(Socket socket, std::chrono::nanoseconds timeout) {
    auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count();
    // Zero is "for ever" here too; a timeout below a millisecond must not become one.
    DWORD value = timeout.count() == 0 ? 0 : DWORD(millis < 1 ? 1 : millis);
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value), sizeof value);
}

bool Readable(Socket socket) {
    WSAPOLLFD entry{socket, POLLRDNORM, 0};
    return ::WSAPoll(&entry, 1, 0) != 0;
}

void Shutdown(Socket socket) { ::shutdown(socket, SD_BOTH); }

void Close(Socket socket) { ::closesocket(socket); }

}  // namespace rapi::net
