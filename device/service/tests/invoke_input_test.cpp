// The input check of FnTOVAInfo: exactly "ALL" with its NUL, never reading past cbInput.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "device/service/invoke_input.h"

namespace {

std::vector<uint8_t> Utf16(const std::u16string& s, bool withNul) {
    std::vector<uint8_t> bytes((s.size() + (withNul ? 1 : 0)) * 2, 0);
    std::memcpy(bytes.data(), s.data(), s.size() * 2);
    return bytes;
}

struct InputCase {
    const char* what;
    std::vector<uint8_t> bytes;
    bool accepted;
};

TEST(IsAllInput, AcceptsOnlyAll) {
    std::vector<uint8_t> trailing = Utf16(u"ALL", true);
    trailing.insert(trailing.end(), {'x', 0, 'y', 0});
    const InputCase cases[] = {
        {"ALL with NUL, 8 bytes", Utf16(u"ALL", true), true},
        {"ALL, NUL, then more bytes", trailing, true},
        {"empty string", Utf16(u"", true), false},
        {"no bytes at all", {}, false},
        {"ALl", Utf16(u"ALl", true), false},
        {"all", Utf16(u"all", true), false},
        {"ALLX", Utf16(u"ALLX", true), false},
        {"AL", Utf16(u"AL", true), false},
        {"ALL without NUL", Utf16(u"ALL", false), false},
        {"ALL and half a NUL", {'A', 0, 'L', 0, 'L', 0, 0}, false},
        {"ASCII ALL", {'A', 'L', 'L', 0}, false},
    };
    for (const InputCase& c : cases) {
        // A heap block of exactly the input's size lets the sanitizer catch any read past it.
        std::unique_ptr<uint8_t[]> block(new uint8_t[c.bytes.size()]);
        if (!c.bytes.empty()) std::memcpy(block.get(), c.bytes.data(), c.bytes.size());
        EXPECT_EQ(IsAllInput(uint32_t(c.bytes.size()), block.get()), c.accepted) << c.what;
    }
}

TEST(IsAllInput, StopsAtCbInputEvenWhenMoreBytesFollow) {
    const std::vector<uint8_t> all = Utf16(u"ALL", true);
    EXPECT_FALSE(IsAllInput(6, all.data()));  // the NUL lies beyond cbInput
    EXPECT_FALSE(IsAllInput(0, all.data()));
    EXPECT_TRUE(IsAllInput(8, all.data()));
}

TEST(IsAllInput, NullInputIsRefused) { EXPECT_FALSE(IsAllInput(8, nullptr)); }

TEST(IsAllInput, UnalignedBlock) {
    std::vector<uint8_t> storage(9);
    const std::vector<uint8_t> all = Utf16(u"ALL", true);
    std::memcpy(storage.data() + 1, all.data(), all.size());
    EXPECT_TRUE(IsAllInput(8, storage.data() + 1));
}

}  // namespace
