// Raw sockets that break the frame rules: the server closes that one connection and keeps
// serving everyone else.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "few_descriptors.h"
#include "handheld_fixture.h"
#include "platform/clock/clock.h"
#include "platform/rapi/rapi.h"
#include "platform/rapi/wire.h"
#include "platform/wince/api.h"

namespace {

using rapi::wire::Command;
using rapi::wire::PayloadWriter;

std::vector<uint8_t> Le32(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

std::vector<uint8_t> Framed(const std::vector<uint8_t>& payload) {
    auto frame = Le32(static_cast<uint32_t>(payload.size()));
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

std::vector<uint8_t> Hello(uint32_t magic = rapi::wire::kMagic) {
    return Framed(PayloadWriter(Command::kHello).U32(magic).U32(rapi::wire::kProtocolVersion).U64(0).Payload());
}

class RawConnection {
public:
    explicit RawConnection(uint16_t port) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawConnection() { close(fd_); }
    bool Connected() const { return connected_; }
    void Send(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    void EndSending() { shutdown(fd_, SHUT_WR); }
    // Reads whatever the server sends; true once it has closed its end.
    bool ClosedByServer() {
        for (;;) {
            pollfd entry{fd_, POLLIN, 0};
            if (poll(&entry, 1, 20000) <= 0) return false;
            uint8_t buffer[256];
            ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
            if (got <= 0) return true;
        }
    }
    // A greeted connection's answer to the hello: accepted or not.
    bool Greeted() {
        std::vector<uint8_t> reply;
        if (rapi::wire::ReceiveFrame(fd_, reply, 64) != rapi::wire::FrameStatus::kOk) return false;
        rapi::wire::PayloadReader reader(reply);
        uint32_t command = 0, accepted = 0;
        return reader.U32(command) && reader.U32(accepted) && accepted == 1;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

struct BadFrame {
    const char* name;
    std::vector<uint8_t> bytes;  // sent after a good greeting
    bool endSending;             // close our sending side afterwards
};

class MalformedFrames : public ::testing::TestWithParam<BadFrame> {
protected:
    void SetUp() override {
        tova::SetTimeScale(0.01);
        handheld_ = std::make_unique<link_test::Handheld>();
        rapi::SetEndpoint(handheld_->Endpoint());
        ASSERT_EQ(CeRapiInit(), S_OK);
    }
    void TearDown() override {
        CeRapiUninit();
        handheld_.reset();
        rapi::SetEndpoint("");
    }
    std::unique_ptr<link_test::Handheld> handheld_;
};

TEST_P(MalformedFrames, CloseOnlyThatConnection) {
    const BadFrame& c = GetParam();
    RawConnection stalled(handheld_->Server().Port());  // half a header, never finished
    ASSERT_TRUE(stalled.Connected());
    stalled.Send(Hello());
    ASSERT_TRUE(stalled.Greeted());
    stalled.Send({5, 0});

    RawConnection bad(handheld_->Server().Port());
    ASSERT_TRUE(bad.Connected());
    bad.Send(Hello());
    ASSERT_TRUE(bad.Greeted());
    uint64_t errorsBefore = handheld_->Server().Stats().protocolErrors;
    bad.Send(c.bytes);
    if (c.endSending) bad.EndSending();
    EXPECT_TRUE(bad.ClosedByServer());
    EXPECT_EQ(handheld_->Server().Stats().protocolErrors, errorsBefore + 1);

    CEOSVERSIONINFO info{};
    EXPECT_TRUE(CeGetVersionEx(&info)) << "the established session keeps working";
    RawConnection fresh(handheld_->Server().Port());
    fresh.Send(Hello());
    EXPECT_TRUE(fresh.Greeted()) << "new connections are still accepted";
}

INSTANTIATE_TEST_SUITE_P(
    LinkServer, MalformedFrames,
    ::testing::Values(
        BadFrame{"OversizedLength", Le32(rapi::wire::kMaxPayloadBytes + 1), false},
        BadFrame{"HugeLength", Le32(0xFFFFFFFF), false},
        BadFrame{"TruncatedFrame", {100, 0, 0, 0, 8, 0, 0, 0, 1, 2}, true},
        BadFrame{"TruncatedLength", {100, 0}, true},
        BadFrame{"UnknownCommand", Framed(Le32(99)), false},
        BadFrame{"EmptyPayload", Framed({}), false},
        BadFrame{"SecondHello", Hello(), false},
        BadFrame{"StringWithoutNul",
                 Framed(PayloadWriter(Command::kDeleteFile).U32(2).U32(0x00410041).Payload()), false},
        BadFrame{"MissingArguments", Framed(PayloadWriter(Command::kCreateFile).Payload()), false},
        BadFrame{"TrailingBytes", Framed(PayloadWriter(Command::kGetVersionEx).U32(7).Payload()), false},
        BadFrame{"DataCountBeyondFrame",
                 Framed(PayloadWriter(Command::kWriteFile).U32(1).U32(1000).U32(0).Payload()), false}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadGreeting {
    const char* name;
    std::vector<uint8_t> bytes;
};

class BadGreetings : public MalformedFrames {};

TEST_F(BadGreetings, AreTurnedAwayWithoutASession) {
    const std::vector<BadGreeting> cases = {
        {"WrongMagic", Hello(0x12345678)},
        {"RequestBeforeHello", Framed(PayloadWriter(Command::kGetVersionEx).Payload())},
        {"OversizedHello", Framed(std::vector<uint8_t>(65, 0))},
        {"JoinUnknownSession",
         Framed(PayloadWriter(Command::kHello).U32(rapi::wire::kMagic).U32(rapi::wire::kProtocolVersion)
                    .U64(0xDEADBEEF).Payload())},
    };
    for (const BadGreeting& c : cases) {
        SCOPED_TRACE(c.name);
        RawConnection raw(handheld_->Server().Port());
        raw.Send(c.bytes);
        EXPECT_FALSE(raw.Greeted());
        EXPECT_TRUE(raw.ClosedByServer());
    }
    CEOSVERSIONINFO info{};
    EXPECT_TRUE(CeGetVersionEx(&info));
}

TEST_F(BadGreetings, AClientThatVanishesMidCallLeavesTheServerServing) {
    for (int i = 0; i < 3; ++i) {
        RawConnection raw(handheld_->Server().Port());
        raw.Send(Hello());
        ASSERT_TRUE(raw.Greeted());
        raw.Send(Framed(PayloadWriter(Command::kGetVersionEx).Payload()));
    }  // closed without reading the replies
    CEOSVERSIONINFO info{};
    EXPECT_TRUE(CeGetVersionEx(&info));
}

class SessionEnd : public MalformedFrames {};

// A desktop that sees its last connection end may at once open again what that session held:
// the server releases the session (closing its handles) before the client can see the close.
TEST_F(SessionEnd, ItsHandlesAreClosedBeforeTheClientSeesTheConnectionEnd) {
    auto exclusiveOpen = [&] {
        bool opened = false;
        handheld_->Machine().RunDeviceCall([&] {
            HANDLE h = CreateFileW(u"\\Temp\\Held.bin", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
            opened = h != INVALID_HANDLE_VALUE;
            if (opened) CloseHandle(h);
        });
        return opened;
    };
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        RawConnection raw(handheld_->Server().Port());
        raw.Send(Hello());
        ASSERT_TRUE(raw.Greeted());
        raw.Send(Framed(PayloadWriter(Command::kCreateFile)
                            .String(u"\\Temp\\Held.bin")
                            .U32(GENERIC_WRITE).U32(0).U32(OPEN_ALWAYS).U32(FILE_ATTRIBUTE_NORMAL)
                            .Payload()));
        raw.EndSending();
        ASSERT_TRUE(raw.ClosedByServer());
        ASSERT_TRUE(exclusiveOpen()) << "the ended session still holds the file";
    }
}

class ServerLimits : public MalformedFrames {};

// A client that arrives when the host has no descriptor left is closed at once rather than
// left waiting while the server spins on it; once descriptors are free, serving goes on.
TEST_F(ServerLimits, AClientArrivingWhenDescriptorsRunOutIsTurnedAway) {
    const uint16_t port = handheld_->Server().Port();
    {
        tova::testing::FewDescriptors few(1);  // the client's own socket, none for the server
        RawConnection late(port);
        ASSERT_TRUE(late.Connected());
        EXPECT_TRUE(late.ClosedByServer());
    }
    RawConnection fresh(port);
    fresh.Send(Hello());
    EXPECT_TRUE(fresh.Greeted());
    CEOSVERSIONINFO info{};
    EXPECT_TRUE(CeGetVersionEx(&info));
}

// Each connection costs the server a thread: past a desktop's few, new ones are closed, and
// a place frees up when one ends.
TEST_F(ServerLimits, ConnectionsBeyondTheCapAreClosed) {
    const uint16_t port = handheld_->Server().Port();
    std::vector<std::unique_ptr<RawConnection>> held;
    std::unique_ptr<RawConnection> over;
    for (int i = 0; i < 64 && !over; ++i) {
        auto connection = std::make_unique<RawConnection>(port);
        connection->Send(Hello());
        if (connection->Greeted()) {
            held.push_back(std::move(connection));
        } else {
            over = std::move(connection);
        }
    }
    ASSERT_TRUE(over) << "64 connections were all served";
    EXPECT_GE(held.size(), 2u) << "the desktop's own connections fit";
    EXPECT_TRUE(over->ClosedByServer());
    held.pop_back();  // closed: its place is free once the server has seen it end
    bool served = false;
    for (int attempt = 0; attempt < 200 && !served; ++attempt) {
        RawConnection fresh(port);
        fresh.Send(Hello());
        served = fresh.Greeted();
        if (!served) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(served);
}

}  // namespace
