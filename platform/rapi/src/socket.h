// The few socket operations the link client needs, over BSD sockets or winsock. The
// handle is the platform's own (a descriptor or a SOCKET) carried in a rapi::wire::Socket.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "endpoint.h"
#include "platform/rapi/wire.h"

namespace rapi::net {

using wire::Socket;
inline constexpr Socket kNoSocket = wire::kNoSocket;

// A connected TCP socket with Nagle's delay off, or kNoSocket.
Socket Connect(const Address& address);
// Zero waits for ever.
void SetReceiveTimeout(Socket socket, std::chrono::nanoseconds timeout);
// Whether anything (data, or the peer's close) is waiting to be read; never blocks.
bool Readable(Socket socket);
// Ends both directions: a call blocked on the socket returns at once.
void Shutdown(Socket socket);
void Close(Socket socket);

}  // namespace rapi::net
