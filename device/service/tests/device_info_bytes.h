// The DeviceInfo record as the desktop receives it, built field by field from its byte
// offsets so that a wrong layout or value shows as the first differing byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace harlix_test {

struct ExpectedRecord {
    uint32_t valid;
    uint32_t acOnline;
    uint32_t batteryPercent;
    uint32_t languageId;
    uint32_t ramMegabytes;
    uint32_t romMegabytes;
    uint32_t memoryConfig;
    uint32_t romBuild;
    std::u16string romVersionText;
    std::u16string modelName;
};

inline void PutU32(std::vector<uint8_t>& at, size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[offset + i] = uint8_t(v >> (8 * i));
}

inline void PutText(std::vector<uint8_t>& at, size_t offset, const std::u16string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        at[offset + 2 * i] = uint8_t(text[i]);
        at[offset + 2 * i + 1] = uint8_t(text[i] >> 8);
    }
}

inline std::vector<uint8_t> RecordBytes(const ExpectedRecord& e) {
    std::vector<uint8_t> bytes(104, 0);
    PutU32(bytes, 0, e.valid);
    PutU32(bytes, 4, e.acOnline);
    PutU32(bytes, 8, e.batteryPercent);
    PutU32(bytes, 12, e.languageId);
    PutU32(bytes, 16, 104);
    PutU32(bytes, 20, e.ramMegabytes);
    PutU32(bytes, 24, e.romMegabytes);
    PutU32(bytes, 28, e.memoryConfig);
    PutU32(bytes, 32, e.romBuild);
    PutU32(bytes, 36, 0);
    PutText(bytes, 40, e.romVersionText);
    PutText(bytes, 72, e.modelName);
    return bytes;
}

inline const ExpectedRecord kUnrecognisedRecord{0, 0, 0xFFFFFFFF, 0, 0, 0, 0, 0, u"UnKnown",
                                                u"UnKnown"};

// Empty when equal, else where and how they first differ.
inline std::string FirstDifference(const std::vector<uint8_t>& got,
                                   const std::vector<uint8_t>& want) {
    if (got.size() != want.size()) {
        return "length " + std::to_string(got.size()) + ", expected " + std::to_string(want.size());
    }
    for (size_t i = 0; i < got.size(); ++i) {
        if (got[i] != want[i]) {
            return "byte " + std::to_string(i) + " is " + std::to_string(got[i]) +
                   ", expected " + std::to_string(want[i]);
        }
    }
    return {};
}

}  // namespace harlix_test
