// A desktop linked to an in-process handheld: the real remote API client with a session on
// the handheld's link server, on the scaled clock at 0.01.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "handheld_fixture.h"
#include "platform/clock/clock.h"
#include "platform/rapi/rapi.h"

namespace link_test {

// Long enough for any healthy call; a call still running after it is hung.
inline constexpr auto kHangGuard = std::chrono::seconds(20);

template <typename Predicate>
bool WaitFor(Predicate done, uint64_t nominalMs = 100000) {
    uint64_t deadline = tova::NominalNowMs() + nominalMs;
    while (!done()) {
        if (tova::NominalNowMs() > deadline) return false;
        tova::ScaledSleep(10);
    }
    return true;
}

class LinkedDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        tova::SetTimeScale(0.01);
        handheld_ = std::make_unique<Handheld>();
        rapi::SetEndpoint(handheld_->Endpoint());
        ASSERT_EQ(CeRapiInit(), S_OK);
    }
    void TearDown() override {
        CeRapiUninit();
        if (handheld_) handheld_->ReleaseWaiters();
        handheld_.reset();
        rapi::SetEndpoint("");
    }

    tova::Machine& Machine() { return handheld_->Machine(); }
    tova::link::LinkServer& Server() { return handheld_->Server(); }

    HANDLE Create(const char16_t* path, DWORD creation = CREATE_ALWAYS) {
        return CeCreateFile(path, GENERIC_WRITE, 0, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    // One CeWriteFile of `bytes` on `file`.
    bool Write(HANDLE file, const std::vector<uint8_t>& bytes) {
        DWORD written = 0;
        return CeWriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != FALSE;
    }
    bool VersionAnswers() {
        CEOSVERSIONINFO info{};
        return CeGetVersionEx(&info) != FALSE;
    }
    HRESULT InvokeEcho() {
        return CeRapiInvoke(u"HARLIX", u"Echo", 0, nullptr, nullptr, nullptr, nullptr, 0);
    }

    std::unique_ptr<Handheld> handheld_;
};

// Bytes that differ from their neighbours, so that a misplaced byte shows.
inline std::vector<uint8_t> Pattern(size_t size, uint8_t seed = 0) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251 + seed);
    return bytes;
}

}  // namespace link_test
