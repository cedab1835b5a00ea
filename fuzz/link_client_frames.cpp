// The desktop's remote API client reading what a handheld answers. A stand-in server in
// this process greets every connection properly and answers each request with the input's
// next frame (a u32 length and up to that many bytes, as they stand: a length past the
// input's end sends a cut frame), closing the connection when the input is used up. The
// client makes every call the wizard makes; each must end in an answer or a failure.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock/clock.h"
#include "platform/rapi/local_memory.h"
#include "platform/rapi/rapi.h"
#include "platform/rapi/wire.h"

namespace {

using rapi::wire::Command;

class StandInServer {
public:
    StandInServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 16) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            std::abort();
        port_ = ntohs(address.sin_port);
        std::thread([this] { Serve(); }).detach();
    }

    uint16_t Port() const { return port_; }

    void Begin(const uint8_t* data, size_t size) {
        std::lock_guard lock(mutex_);
        input_.assign(data, data + size);
        position_ = 0;
    }

    // Waits until every connection the client opened has been served to its end.
    void End() {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [&] { return !serving_; });
    }

private:
    void Serve() {
        for (;;) {
            int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            {
                std::lock_guard lock(mutex_);
                serving_ = true;
            }
            Answer(fd);
            ::close(fd);
            std::lock_guard lock(mutex_);
            serving_ = false;
            idle_.notify_all();
        }
    }

    void Answer(int fd) {
        std::vector<uint8_t> request;
        if (rapi::wire::ReceiveFrame(fd, request, 64) != rapi::wire::FrameStatus::kOk) return;
        rapi::wire::PayloadWriter hello(Command::kHello);
        hello.U32(1).U64(0x1234);
        if (!rapi::wire::SendFrame(fd, hello.Payload())) return;
        while (rapi::wire::ReceiveFrame(fd, request) == rapi::wire::FrameStatus::kOk) {
            std::vector<uint8_t> frame;
            if (!NextFrame(frame)) return;
            if (!SendRaw(fd, frame)) return;
            if (frame.size() < 4 || Announced(frame) != frame.size() - 4) return;  // cut: close
        }
    }

    static uint32_t Announced(const std::vector<uint8_t>& frame) {
        uint32_t length;
        std::memcpy(&length, frame.data(), 4);
        return length;
    }

    // The input's next frame as raw bytes; false when the input is used up.
    bool NextFrame(std::vector<uint8_t>& frame) {
        std::lock_guard lock(mutex_);
        if (position_ >= input_.size()) return false;
        size_t left = input_.size() - position_;
        if (left < 4) {
            frame.assign(input_.begin() + long(position_), input_.end());
            position_ = input_.size();
            return true;
        }
        uint32_t length;
        std::memcpy(&length, input_.data() + position_, 4);
        size_t take = 4 + std::min<size_t>(length, left - 4);
        frame.assign(input_.begin() + long(position_), input_.begin() + long(position_ + take));
        position_ += take;
        return true;
    }

    static bool SendRaw(int fd, const std::vector<uint8_t>& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += size_t(n);
        }
        return true;
    }

    int listener_ = -1;
    uint16_t port_ = 0;
    std::mutex mutex_;
    std::condition_variable idle_;
    bool serving_ = false;
    std::vector<uint8_t> input_;
    size_t position_ = 0;
};

StandInServer& Server() {
    static auto* server = [] {
        tova::SetTimeScale(0);
        auto* made = new StandInServer;
        rapi::SetEndpoint("127.0.0.1:" + std::to_string(made->Port()));
        return made;
    }();
    return *server;
}

void CallEverything() {
    CEOSVERSIONINFO version{};
    CeGetVersionEx(&version);
    HANDLE file = CeCreateFile(u"\\Temp\\segment", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) file = reinterpret_cast<HANDLE>(uintptr_t(1));
    const uint8_t chunk[16] = {1, 2, 3, 4};
    DWORD written = 0;
    CeWriteFile(file, chunk, sizeof chunk, &written, nullptr);
    if (written > sizeof chunk) std::abort();
    CeSetEndOfFile(file);
    CeCloseHandle(file);
    CeDeleteFile(u"\\Temp\\segment");
    WCHAR folder[MAX_PATH] = {};
    DWORD length = CeGetSpecialFolderPath(CSIDL_STARTUP, MAX_PATH, folder);
    if (length >= MAX_PATH || (length > 0 && folder[length] != 0)) std::abort();

    DWORD outputBytes = 0;
    BYTE* output = nullptr;
    auto* input = static_cast<BYTE*>(win32::LocalAlloc(LMEM_FIXED, 8));
    std::memcpy(input, u"ALL", 8);
    CeRapiInvoke(u"HARLIX", u"FnTOVAInfo", 8, input, &outputBytes, &output, nullptr, 0);
    if ((output == nullptr) != (outputBytes == 0)) std::abort();
    if (output != nullptr) {
        volatile BYTE last = output[outputBytes - 1];  // the whole block is the caller's
        (void)last;
        win32::LocalFree(output);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    StandInServer& server = Server();
    server.Begin(data, size);
    if (CeRapiInit() != S_OK) std::abort();
    CallEverything();
    CeRapiUninit();
    server.End();
    return 0;
}
