// Connections that send nothing for the idle time are closed by the handheld, while a call in
// progress, however long, keeps its connection; a desktop that keeps working keeps its
// session, its spare connections closed on its own side first. On the scaled clock, at a
// scale that makes the five idle minutes a fraction of a second.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "linked_desktop.h"
#include "platform/clock/clock.h"
#include "platform/rapi/rapi.h"
#include "platform/rapi/wire.h"

namespace {

using link_test::kHangGuard;
using rapi::wire::kIdleCloseMs;

// At this scale the nominal limits of link_test::WaitFor are milliseconds: wait on real time.
template <typename Predicate>
bool WaitFor(Predicate done) {
    auto giveUp = std::chrono::steady_clock::now() + kHangGuard;
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

constexpr double kIdleTestScale = 0.001;  // five nominal minutes are 300 ms

class IdleClose : public link_test::LinkedDesktop {
protected:
    void SetUp() override {
        LinkedDesktop::SetUp();
        tova::SetTimeScale(kIdleTestScale);
    }
    uint64_t IdleClosed() { return Server().Stats().idleClosed; }
};

// A socket of our own on the link, for what the desktop's client never does.
class RawSocket {
public:
    explicit RawSocket(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawSocket() { ::close(fd_); }
    bool Connected() const { return connected_; }
    bool Send(const std::vector<uint8_t>& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    bool Greet() {
        rapi::wire::PayloadWriter hello(rapi::wire::Command::kHello);
        hello.U32(rapi::wire::kMagic).U32(rapi::wire::kProtocolVersion).U64(0);
        std::vector<uint8_t> reply;
        return rapi::wire::SendFrame(fd_, hello.Payload()) &&
               rapi::wire::ReceiveFrame(fd_, reply, 64) == rapi::wire::FrameStatus::kOk;
    }
    // Waits (at most the hang guard) for the server to close its end.
    bool ClosedByServer() {
        auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(kHangGuard).count();
        pollfd entry{fd_, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(limit)) <= 0) return false;
        uint8_t byte = 0;
        return ::recv(fd_, &byte, 1, 0) <= 0;
    }

private:
    int fd_;
    bool connected_ = false;
};

struct SilentCase {
    const char* name;
    bool greet;
    std::vector<uint8_t> thenSend;  // after the greeting (or instead of it)
};

// The desktop's session at work on a thread of its own, so that only the test's silent
// sockets idle; whether every call of it was answered.
class WorkingDesktop {
public:
    explicit WorkingDesktop(std::function<bool()> call)
        : worker_([this, call = std::move(call)] {
              while (!stop_) {
                  if (!call()) allAnswered_ = false;
                  tova::ScaledSleep(kIdleCloseMs / 10);
              }
          }) {}
    ~WorkingDesktop() { Stop(); }
    bool Stop() {
        stop_ = true;
        if (worker_.joinable()) worker_.join();
        return allAnswered_;
    }

private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> allAnswered_{true};
    std::thread worker_;
};

TEST_F(IdleClose, AConnectionThatSendsNothingIsClosedAfterTheIdleTime) {
    WorkingDesktop desktop([this] { return VersionAnswers(); });
    const SilentCase cases[] = {
        {"never greeted", false, {}},
        {"greeted, then silent", true, {}},
        {"stopped inside a request header", true, {8, 0}},
        {"stopped inside a request body", true, {8, 0, 0, 0, 9, 0}},
    };
    for (const SilentCase& c : cases) {
        uint64_t before = IdleClosed();
        // Taken before the socket's last word: the server counts from when it read it, which
        // may be later than the moment the test sees its own call return.
        uint64_t start = tova::NominalNowMs();
        RawSocket socket(handheld_->Server().Port());
        ASSERT_TRUE(socket.Connected()) << c.name;
        if (c.greet) {
            ASSERT_TRUE(socket.Greet()) << c.name;
        }
        if (!c.thenSend.empty()) {
            ASSERT_TRUE(socket.Send(c.thenSend)) << c.name;
        }
        ASSERT_TRUE(socket.ClosedByServer()) << c.name << ": still open";
        EXPECT_GE(tova::NominalNowMs() - start + 1, kIdleCloseMs) << c.name << ": closed too early";
        if (c.thenSend.empty()) {
            EXPECT_EQ(IdleClosed(), before + 1) << c.name;
        }
    }
    EXPECT_TRUE(desktop.Stop()) << "the desktop's own session is served on";
}

// A call runs as long as it takes: the connection waits for it, never idle meanwhile.
TEST_F(IdleClose, ALongCallNeverCountsAsIdle) {
    Server().SetFileCallDelayMs(static_cast<uint32_t>(3 * kIdleCloseMs));
    uint64_t start = tova::NominalNowMs();
    EXPECT_TRUE(VersionAnswers());
    EXPECT_GE(tova::NominalNowMs() - start, 3 * kIdleCloseMs);
    Server().SetFileCallDelayMs(0);

    handheld_->PlaceLibrary();
    auto waiting = std::async(std::launch::async, [] {
        return CeRapiInvoke(u"HARLIX", u"WaitForRelease", 0, nullptr, nullptr, nullptr, nullptr, 0);
    });
    ASSERT_TRUE(WaitFor([&] { return Server().Stats().invocations == 1; }));
    tova::ScaledSleep(2 * kIdleCloseMs);
    handheld_->ReleaseWaiters();
    ASSERT_EQ(waiting.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_EQ(waiting.get(), S_OK);
    EXPECT_EQ(IdleClosed(), 0u);
}

// Two calls side by side give the session a second connection, which then idles while the
// first keeps working. The session stays the same throughout, and two calls side by side
// work again afterwards.
TEST_F(IdleClose, ADesktopThatKeepsWorkingKeepsItsSession) {
    auto sideBySide = [&] {
        Server().SetFileCallDelayMs(static_cast<uint32_t>(kIdleCloseMs / 10));
        auto slow = std::async(std::launch::async, [this] { return VersionAnswers(); });
        ASSERT_TRUE(WaitFor([&] { return Server().Stats().fileCallsInProgress == 1; }));
        Server().SetFileCallDelayMs(0);
        EXPECT_TRUE(VersionAnswers());
        ASSERT_EQ(slow.wait_for(kHangGuard), std::future_status::ready);
        EXPECT_TRUE(slow.get());
    };
    sideBySide();
    uint64_t start = tova::NominalNowMs();
    while (tova::NominalNowMs() - start < 3 * kIdleCloseMs) {
        ASSERT_TRUE(VersionAnswers());
        tova::ScaledSleep(kIdleCloseMs / 10);
    }
    EXPECT_EQ(CeRapiInit(), CERAPI_E_ALREADYINITIALIZED) << "the session is still alive";
    sideBySide();
    EXPECT_EQ(CeRapiInit(), CERAPI_E_ALREADYINITIALIZED);
}

// A desktop that says nothing at all for the idle time has lost its session, as after a
// link drop: its next call fails and a new session works.
TEST_F(IdleClose, ADesktopSilentForTheIdleTimeLosesItsSession) {
    ASSERT_TRUE(VersionAnswers());
    ASSERT_TRUE(WaitFor([&] { return IdleClosed() == 1; }));
    EXPECT_FALSE(VersionAnswers());
    EXPECT_EQ(CeRapiInit(), S_OK);
    EXPECT_TRUE(VersionAnswers());
}

}  // namespace
