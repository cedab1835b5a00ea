#include "platform/rapi/wire.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#include <sys/uio.h>
#endif

namespace rapi::wire {
namespace {

void PutLe(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t GetLe(const uint8_t* at, int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(at[i]) << (8 * i);
    return value;
}

// Returns the bytes read before the peer closed, or -1 when the socket failed.
int64_t ReceiveAll(Socket fd, uint8_t* data, size_t count) {
    size_t done = 0;
    while (done < count) {
#ifdef _WIN32
        int want = static_cast<int>(std::min<size_t>(count - done, 1 << 30));
        int got = ::recv(fd, reinterpret_cast<char*>(data + done), want, 0);
        if (got == SOCKET_ERROR) return -1;
#else
        ssize_t got = ::recv(fd, data + done, count - done, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
#endif
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

// Header and payload leave in one call, without copying the payload next to the header.
#ifdef _WIN32
bool SendParts(Socket fd, uint8_t* header, size_t headerBytes, const std::vector<uint8_t>& payload) {
    WSABUF parts[2] = {{ULONG(headerBytes), reinterpret_cast<char*>(header)},
                       {ULONG(payload.size()), reinterpret_cast<char*>(const_cast<uint8_t*>(payload.data()))}};
    WSABUF* next = parts;
    DWORD left = payload.empty() ? 1 : 2;
    while (left > 0) {
        DWORD sent = 0;
        if (::WSASend(fd, next, left, &sent, 0, nullptr, nullptr) != 0 || sent == 0) return false;
        while (left > 0 && sent >= next->len) {
            sent -= next->len;
            ++next;
            --left;
        }
        if (left > 0) {
            next->buf += sent;
            next->len -= sent;
        }
    }
    return true;
}
#else
bool SendParts(Socket fd, uint8_t* header, size_t headerBytes, const std::vector<uint8_t>& payload) {
    iovec parts[2] = {{header, headerBytes},
                      {const_cast<uint8_t*>(payload.data()), payload.size()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = payload.empty() ? 1 : 2;
    while (message.msg_iovlen > 0) {
        ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        auto left = static_cast<size_t>(sent);
        while (message.msg_iovlen > 0 && left >= message.msg_iov->iov_len) {
            left -= message.msg_iov->iov_len;
            ++message.msg_iov;
            --message.msg_iovlen;
        }
        if (message.msg_iovlen > 0) {
            message.msg_iov->iov_base = static_cast<uint8_t*>(message.msg_iov->iov_base) + left;
            message.msg_iov->iov_len -= left;
        }
    }
    return true;
}
#endif

}  // namespace

PayloadWriter& PayloadWriter::U32(uint32_t value) {
    PutLe(bytes_, value, 4);
    return *this;
}

PayloadWriter& PayloadWriter::U64(uint64_t value) {
    PutLe(bytes_, value, 8);
    return *this;
}

PayloadWriter& PayloadWriter::String(const char16_t* text) {
    size_t units = 0;
    if (text != nullptr) {
        while (text[units] != 0) ++units;
    }
    U32(static_cast<uint32_t>(units + 1));
    for (size_t i = 0; i < units; ++i) PutLe(bytes_, text[i], 2);
    PutLe(bytes_, 0, 2);
    return *this;
}

PayloadWriter& PayloadWriter::Bytes(const void* data, uint32_t count) {
    U32(count);
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (count > 0) bytes_.insert(bytes_.end(), bytes, bytes + count);
    return *this;
}

bool PayloadReader::Take(size_t count, const uint8_t*& at) {
    if (!ok_ || count > size_ - position_) {
        ok_ = false;
        return false;
    }
    at = data_ + position_;
    position_ += count;
    return true;
}

bool PayloadReader::U32(uint32_t& value) {
    const uint8_t* at = nullptr;
    if (!Take(4, at)) return false;
    value = static_cast<uint32_t>(GetLe(at, 4));
    return true;
}

bool PayloadReader::U64(uint64_t& value) {
    const uint8_t* at = nullptr;
    if (!Take(8, at)) return false;
    value = GetLe(at, 8);
    return true;
}

bool PayloadReader::String(std::u16string& text) {
    uint32_t units = 0;
    if (!U32(units)) return false;
    const uint8_t* at = nullptr;
    if (units == 0 || units > kMaxStringUnits || !Take(size_t{units} * 2, at)) {
        ok_ = false;
        return false;
    }
    text.clear();
    for (uint32_t i = 0; i + 1 < units; ++i) {
        auto unit = static_cast<char16_t>(GetLe(at + 2 * i, 2));
        if (unit == 0) {
            ok_ = false;
            return false;
        }
        text.push_back(unit);
    }
    if (GetLe(at + 2 * (units - 1), 2) != 0) {
        ok_ = false;
        return false;
    }
    return true;
}

bool PayloadReader::Bytes(const uint8_t*& data, uint32_t& count, uint32_t maxCount) {
    if (!U32(count)) return false;
    if (count > maxCount) {
        ok_ = false;
        return false;
    }
    return Take(count, data);
}

bool SendFrame(Socket fd, const std::vector<uint8_t>& payload) {
    if (payload.size() > kMaxPayloadBytes) return false;
    uint8_t header[4];
    for (int i = 0; i < 4; ++i) header[i] = static_cast<uint8_t>(payload.size() >> (8 * i));
    return SendParts(fd, header, sizeof header, payload);
}

FrameStatus ReceiveFrame(Socket fd, std::vector<uint8_t>& payload, uint32_t maxPayload) {
    uint8_t header[4];
    int64_t got = ReceiveAll(fd, header, sizeof header);
    if (got < 0) return FrameStatus::kFailed;
    if (got == 0) return FrameStatus::kClosed;
    if (got < 4) return FrameStatus::kTruncated;
    auto length = static_cast<uint32_t>(GetLe(header, 4));
    if (length > maxPayload) return FrameStatus::kTooLong;
    payload.resize(length);
    got = ReceiveAll(fd, payload.data(), length);
    if (got < 0) return FrameStatus::kFailed;
    if (static_cast<uint32_t>(got) < length) return FrameStatus::kTruncated;
    return FrameStatus::kOk;
}

}  // namespace rapi::wire
