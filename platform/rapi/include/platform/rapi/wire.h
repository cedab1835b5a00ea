// The link's wire format, shared by the desktop client and the handheld's link server.
// A frame is a little-endian u32 payload length and the payload; a payload is a u32
// command code and its arguments. Numbers are little-endian u32/u64; a string is a u32
// count of UTF-16LE code units including the terminating NUL, then the units; a byte block
// is a u32 count and the bytes. A reply starts with the code of the command it answers.
// Every length read from the wire is checked against the limits below before anything is
// allocated for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rapi::wire {

// A connected socket: a descriptor on POSIX systems, a SOCKET on Windows.
#ifdef _WIN32
using Socket = std::uintptr_t;
inline constexpr Socket kNoSocket = ~Socket(0);
#else
using Socket = int;
inline constexpr Socket kNoSocket = -1;
#endif

enum class Command : uint32_t {
    kHello = 1,                 // u32 magic, u32 version, u64 session (0 = new)
                                //   -> u32 accepted, u64 session
    kCreateFile = 2,            // str path, u32 access, u32 share, u32 creation, u32 attributes
                                //   -> u32 handle, u32 error
    kWriteFile = 3,             // u32 handle, bytes data -> u32 ok, u32 written, u32 error
    kSetEndOfFile = 4,          // u32 handle -> u32 ok, u32 error
    kCloseHandle = 5,           // u32 handle -> u32 ok, u32 error
    kDeleteFile = 6,            // str path -> u32 ok, u32 error
    kGetSpecialFolderPath = 7,  // u32 folder, u32 buffer length
                                //   -> u32 length, u32 error, str path (when length > 0)
    kGetVersionEx = 8,          // -> u32 ok, u32 major, u32 minor, u32 build, u32 platform, str csd
    kInvoke = 9,                // str library, str function, bytes input
                                //   -> u32 hresult, bytes output
};

inline constexpr uint32_t kMagic = 0x41564F54;  // "TOVA"
inline constexpr uint32_t kProtocolVersion = 1;
// Largest data block one frame carries: a write chunk, an invocation's input or output.
inline constexpr uint32_t kMaxDataBytes = 1u << 20;
inline constexpr uint32_t kMaxStringUnits = 1024;
inline constexpr uint32_t kMaxPayloadBytes = kMaxDataBytes + 4 * kMaxStringUnits + 64;
inline constexpr uint32_t kInvalidHandle = 0xFFFFFFFFu;
// The handheld closes a connection that has sent nothing for this long (nominal ms on the
// scaled clock) while none of its calls runs; a call may run for any time. A client stops
// reusing a connection idle for half as long, so that it never sends into one being closed.
inline constexpr uint64_t kIdleCloseMs = 5 * 60 * 1000;

class PayloadWriter {
public:
    explicit PayloadWriter(Command command) { U32(static_cast<uint32_t>(command)); }
    PayloadWriter& U32(uint32_t value);
    PayloadWriter& U64(uint64_t value);
    // The string up to its NUL, then the NUL.
    PayloadWriter& String(const char16_t* text);
    PayloadWriter& String(const std::u16string& text) { return String(text.c_str()); }
    PayloadWriter& Bytes(const void* data, uint32_t count);
    const std::vector<uint8_t>& Payload() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

// Reads a payload front to back. The first read that does not fit the payload (or a
// string without its NUL, with a NUL inside, or over kMaxStringUnits) marks it malformed;
// later reads then fail too, so a handler may read everything and check Ok() once.
class PayloadReader {
public:
    PayloadReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit PayloadReader(const std::vector<uint8_t>& payload)
        : PayloadReader(payload.data(), payload.size()) {}
    bool U32(uint32_t& value);
    bool U64(uint64_t& value);
    bool String(std::u16string& text);
    // Points `data` into the payload; valid as long as the payload is.
    bool Bytes(const uint8_t*& data, uint32_t& count, uint32_t maxCount = kMaxDataBytes);
    bool Ok() const { return ok_; }
    bool AtEnd() const { return ok_ && position_ == size_; }

private:
    bool Take(size_t count, const uint8_t*& at);
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
    bool ok_ = true;
};

enum class FrameStatus {
    kOk,
    kClosed,     // the peer closed before a new frame began
    kTooLong,    // the announced length is over the limit; nothing was read past it
    kTruncated,  // the peer closed inside a frame
    kFailed,     // the socket failed (reset, shut down)
};

// Blocking frame I/O on a connected socket. Sending never raises SIGPIPE.
bool SendFrame(Socket fd, const std::vector<uint8_t>& payload);
FrameStatus ReceiveFrame(Socket fd, std::vector<uint8_t>& payload,
                         uint32_t maxPayload = kMaxPayloadBytes);

}  // namespace rapi::wire
