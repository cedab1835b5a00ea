#include "platform/rapi/wire.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace rapi::wire {
namespace {

std::vector<uint8_t> Le32(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

TEST(Payload, RoundTripsEveryFieldKind) {
    const uint8_t data[] = {1, 2, 3, 0xFF};
    PayloadWriter writer(Command::kWriteFile);
    writer.U32(0xA1B2C3D4).U64(0x1122334455667788ull).String(u"\\Temp\\é").Bytes(data, 4);

    PayloadReader reader(writer.Payload());
    uint32_t command = 0, number = 0, count = 0;
    uint64_t wide = 0;
    std::u16string text;
    const uint8_t* bytes = nullptr;
    ASSERT_TRUE(reader.U32(command) && reader.U32(number) && reader.U64(wide) &&
                reader.String(text) && reader.Bytes(bytes, count));
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_EQ(command, static_cast<uint32_t>(Command::kWriteFile));
    EXPECT_EQ(number, 0xA1B2C3D4u);
    EXPECT_EQ(wide, 0x1122334455667788ull);
    EXPECT_EQ(text, u"\\Temp\\é");
    ASSERT_EQ(count, 4u);
    EXPECT_EQ(std::memcmp(bytes, data, 4), 0);
}

TEST(Payload, IsLittleEndianWithCountedNulTerminatedStrings) {
    PayloadWriter writer(Command::kDeleteFile);
    writer.String(u"AB");
    std::vector<uint8_t> expected = {6, 0, 0, 0, 3, 0, 0, 0, 'A', 0, 'B', 0, 0, 0};
    EXPECT_EQ(writer.Payload(), expected);
}

struct MalformedCase {
    const char* name;
    std::vector<uint8_t> payload;
};

class MalformedString : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedString, IsRefusedAndPoisonsTheReader) {
    PayloadReader reader(GetParam().payload);
    std::u16string text;
    EXPECT_FALSE(reader.String(text));
    uint32_t after = 0;
    EXPECT_FALSE(reader.U32(after)) << "reads after a malformed field must fail too";
    EXPECT_FALSE(reader.Ok());
}

INSTANTIATE_TEST_SUITE_P(
    Wire, MalformedString,
    ::testing::Values(
        MalformedCase{"ZeroUnits", Concat({Le32(0), Le32(0)})},
        MalformedCase{"NoNul", Concat({Le32(2), {'A', 0, 'B', 0}, Le32(0)})},
        MalformedCase{"NulInside", Concat({Le32(3), {'A', 0, 0, 0, 'B', 0}, {0, 0}, Le32(0)})},
        MalformedCase{"CountBeyondPayload", Concat({Le32(50), {'A', 0, 0, 0}})},
        MalformedCase{"CountOverLimit", Concat({Le32(kMaxStringUnits + 1)})},
        MalformedCase{"HugeCount", Concat({Le32(0xFFFFFFFF), {0, 0}})},
        MalformedCase{"ShortCount", {3, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Payload, ByteBlocksAreBoundedBeforeUse) {
    auto huge = Concat({Le32(0xFFFFFFF0), {1, 2, 3}});
    PayloadReader overLimit(huge);
    const uint8_t* data = nullptr;
    uint32_t count = 0;
    EXPECT_FALSE(overLimit.Bytes(data, count));

    auto small = Concat({Le32(8), {1, 2, 3, 4, 5, 6, 7, 8}});
    PayloadReader belowCaller(small);
    EXPECT_FALSE(belowCaller.Bytes(data, count, 4)) << "the caller's own bound applies";

    auto shortData = Concat({Le32(8), {1, 2}});
    PayloadReader truncated(shortData);
    EXPECT_FALSE(truncated.Bytes(data, count));
}

class FramePair : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0); }
    void TearDown() override {
        for (int fd : fds_) {
            if (fd >= 0) close(fd);
        }
    }
    void Send(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(write(fds_[0], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void CloseSender() {
        close(fds_[0]);
        fds_[0] = -1;
    }
    int fds_[2] = {-1, -1};
};

TEST_F(FramePair, DeliversFramesInOrder) {
    ASSERT_TRUE(SendFrame(fds_[0], {1, 2, 3}));
    ASSERT_TRUE(SendFrame(fds_[0], {}));
    std::vector<uint8_t> payload;
    ASSERT_EQ(ReceiveFrame(fds_[1], payload), FrameStatus::kOk);
    EXPECT_EQ(payload, (std::vector<uint8_t>{1, 2, 3}));
    ASSERT_EQ(ReceiveFrame(fds_[1], payload), FrameStatus::kOk);
    EXPECT_TRUE(payload.empty());
    CloseSender();
    EXPECT_EQ(ReceiveFrame(fds_[1], payload), FrameStatus::kClosed);
}

TEST_F(FramePair, RefusesAnOversizedLengthWithoutReadingIt) {
    Send(Le32(kMaxPayloadBytes + 1));
    std::vector<uint8_t> payload;
    EXPECT_EQ(ReceiveFrame(fds_[1], payload), FrameStatus::kTooLong);
    EXPECT_TRUE(payload.empty()) << "nothing may be allocated for a refused length";

    Send(Le32(100));
    EXPECT_EQ(ReceiveFrame(fds_[1], payload, 99), FrameStatus::kTooLong);
}

TEST_F(FramePair, ReportsACloseInsideAFrameAsTruncated) {
    Send(Concat({Le32(10), {1, 2, 3}}));
    CloseSender();
    std::vector<uint8_t> payload;
    EXPECT_EQ(ReceiveFrame(fds_[1], payload), FrameStatus::kTruncated);
}

TEST_F(FramePair, ReportsAHalfLengthAsTruncated) {
    Send({5, 0});
    CloseSender();
    std::vector<uint8_t> payload;
    EXPECT_EQ(ReceiveFrame(fds_[1], payload), FrameStatus::kTruncated);
}

TEST_F(FramePair, SendingToAClosedPeerFailsInsteadOfRaisingSigpipe) {
    close(fds_[1]);
    fds_[1] = -1;
    EXPECT_FALSE(SendFrame(fds_[0], std::vector<uint8_t>(1024, 7)));
}

}  // namespace
}  // namespace rapi::wire
