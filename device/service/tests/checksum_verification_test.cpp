// IsCheckSumOk and FileChecksum inside the emulated handheld, over files in its \Temp.
#include <gtest/gtest.h>

#include "emulated_handheld.h"
#include "segment_files.h"
#include "device/service/checksum_verification.h"

namespace harlix_test {
namespace {

TEST(SegmentFixture, BytesWithChecksumHitEveryTableValue) {
    for (const ExpectedChecksum& row : ExpectedChecksums) {
        for (SegmentChecksum v : {row.advanced, row.basic}) {
            const std::vector<uint8_t> b = BytesWithChecksum(v);
            EXPECT_EQ(ChecksumBytes(b.data(), uint32_t(b.size())), v);
        }
    }
}

tova::MachineConfig ConfigFor(tova::Model model) {
    tova::MachineConfig config;
    config.model = model;
    return config;
}

struct ColumnCase {
    const char* what;
    tova::Model model;
    bool filesForAdvanced;
    HRESULT expected;
};

TEST(IsCheckSumOk, ConsultsOnlyTheColumnOfTheDetectedModel) {
    const ColumnCase cases[] = {
        {"advanced handheld, advanced files", tova::Model::kAdvanced, true, S_OK},
        {"basic handheld, basic files", tova::Model::kBasic, false, S_OK},
        {"advanced handheld, basic files", tova::Model::kAdvanced, false, E_FAIL},
        {"basic handheld, advanced files", tova::Model::kBasic, true, E_FAIL},
    };
    for (const ColumnCase& c : cases) {
        SCOPED_TRACE(c.what);
        EmulatedHandheld handheld(ConfigFor(c.model));
        ASSERT_TRUE(handheld.Ready());
        ASSERT_TRUE(WriteSegmentFiles(handheld.Machine(), c.filesForAdvanced));
        const InvokeResult r = handheld.InvokeWithAll("IsCheckSumOk");
        EXPECT_EQ(r.hr, c.expected);
        EXPECT_FALSE(r.outputSet);
    }
}

// Known values of the kernel segment: 123019 on an advanced handheld, 182108 on a basic one.
TEST(IsCheckSumOk, KernelSegmentNeedsTheValueOfItsModel) {
    struct Case {
        tova::Model model;
        SegmentChecksum kernel;
        HRESULT expected;
    };
    const Case cases[] = {
        {tova::Model::kAdvanced, 123019, S_OK},
        {tova::Model::kBasic, 182108, S_OK},
        {tova::Model::kAdvanced, 182108, E_FAIL},
        {tova::Model::kBasic, 123019, E_FAIL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "kernel " << c.kernel << " on a "
                                        << (c.model == tova::Model::kAdvanced ? "advanced" : "basic")
                                        << " handheld");
        EmulatedHandheld handheld(ConfigFor(c.model));
        ASSERT_TRUE(handheld.Ready());
        ASSERT_TRUE(WriteSegmentFiles(handheld.Machine(), c.model == tova::Model::kAdvanced));
        ASSERT_TRUE(handheld.Machine().Store().WriteFile(u"\\Temp\\Kernel.nb0", BytesWithChecksum(c.kernel)));
        EXPECT_EQ(handheld.InvokeWithAll("IsCheckSumOk").hr, c.expected);
    }
}

// The files of the basic column differ from the advanced one only in rows 1, 2, 9 and 10.
TEST(IsCheckSumOk, AnyOneDamagedFileFails) {
    EmulatedHandheld handheld(ConfigFor(tova::Model::kBasic));
    ASSERT_TRUE(handheld.Ready());
    for (const ExpectedChecksum& damaged : ExpectedChecksums) {
        SCOPED_TRACE(std::string(tova::ToUtf8(damaged.path)));
        ASSERT_TRUE(WriteSegmentFiles(handheld.Machine(), false));
        std::vector<uint8_t> bytes = *handheld.Machine().Store().ReadFile(damaged.path);
        bytes.push_back(0x01);  // one byte more: the exclusive OR changes
        ASSERT_TRUE(handheld.Machine().Store().WriteFile(damaged.path, bytes));
        EXPECT_EQ(handheld.InvokeWithAll("IsCheckSumOk").hr, E_FAIL);
    }
}

TEST(IsCheckSumOk, AbsentOsSegmentFailsLeavesItEmptyAndOpensNothingAfterIt) {
    EmulatedHandheld handheld(ConfigFor(tova::Model::kAdvanced));
    ASSERT_TRUE(handheld.Ready());
    tova::ObjectStore& store = handheld.Machine().Store();
    ASSERT_TRUE(WriteSegmentFiles(handheld.Machine(), true));
    // OS and everything after it absent: a file that is opened is left behind empty.
    for (size_t i = 1; i < kExpectedChecksumCount; ++i) {
        ASSERT_TRUE(store.RemoveFile(ExpectedChecksums[i].path));
    }

    EXPECT_EQ(handheld.InvokeWithAll("IsCheckSumOk").hr, E_FAIL);

    const auto os = store.ReadFile(u"\\Temp\\OS.nb0");
    ASSERT_TRUE(os.has_value()) << "OS.nb0 should now exist";
    EXPECT_TRUE(os->empty());
    for (size_t i = 2; i < kExpectedChecksumCount; ++i) {
        EXPECT_FALSE(store.Exists(ExpectedChecksums[i].path))
            << tova::ToUtf8(ExpectedChecksums[i].path) << " was opened";
    }
}

TEST(IsCheckSumOk, AbsentMisc3AndMisc4PassAndAreLeftEmpty) {
    for (tova::Model model : {tova::Model::kAdvanced, tova::Model::kBasic}) {
        EmulatedHandheld handheld(ConfigFor(model));
        ASSERT_TRUE(handheld.Ready());
        tova::ObjectStore& store = handheld.Machine().Store();
        ASSERT_TRUE(WriteSegmentFiles(handheld.Machine(), model == tova::Model::kAdvanced));
        ASSERT_TRUE(store.RemoveFile(u"\\Temp\\MISC_3.nb0"));
        ASSERT_TRUE(store.RemoveFile(u"\\Temp\\MISC_4.nb0"));

        EXPECT_EQ(handheld.InvokeWithAll("IsCheckSumOk").hr, S_OK);
        for (const char16_t* path : {u"\\Temp\\MISC_3.nb0", u"\\Temp\\MISC_4.nb0"}) {
            const auto bytes = store.ReadFile(path);
            ASSERT_TRUE(bytes.has_value()) << tova::ToUtf8(path);
            EXPECT_TRUE(bytes->empty()) << tova::ToUtf8(path);
        }
    }
}

// Full-size MISC_3 and MISC_4 as the desktop writes them: erased (0xFF) and zeroed.
TEST(IsCheckSumOk, FullSizeErasedMiscSegmentsPass) {
    EmulatedHandheld handheld(ConfigFor(tova::Model::kAdvanced));
    ASSERT_TRUE(handheld.Ready());
    ASSERT_TRUE(WriteSegmentFiles(handheld.Machine(), true));
    tova::ObjectStore& store = handheld.Machine().Store();
    ASSERT_TRUE(store.WriteFile(u"\\Temp\\MISC_3.nb0", std::vector<uint8_t>(0x200000, 0xFF)));
    ASSERT_TRUE(store.WriteFile(u"\\Temp\\MISC_4.nb0", std::vector<uint8_t>(0x80000, 0x00)));
    EXPECT_EQ(handheld.InvokeWithAll("IsCheckSumOk").hr, S_OK);
}

struct FileCase {
    const char* what;
    std::u16string writtenAs;  // empty: no file
    std::u16string askedAs;
    std::vector<uint8_t> bytes;
    SegmentChecksum expected;
};

TEST(FileChecksum, ReadsTheWholeFileByAnySpellingOfItsName) {
    EmulatedHandheld handheld(tova::MachineConfig{});
    ASSERT_TRUE(handheld.Ready());
    std::vector<uint8_t> large(3 * 1024 * 1024 + 7, 0x5A);
    large.back() = 0x01;
    const FileCase cases[] = {
        {"abc", u"\\Temp\\a.bin", u"\\Temp\\a.bin", {'a', 'b', 'c'}, 38096},
        {"letter case ignored", u"\\TEMP\\KERNEL.nb0", u"\\Temp\\Kernel.nb0", {0xFF}, 255},
        {"empty file", u"\\Temp\\e.bin", u"\\Temp\\e.bin", {}, 0},
        {"absent file", u"", u"\\Temp\\none.bin", {}, 0},
        {"folder that does not exist", u"", u"\\NoSuchFolder\\x.bin", {}, 0},
        // 0x5A an even 3 MiB + 6 times, then 0x01: sum mod 256 = 0x5A * 6 + 1 = 29, xor 1
        {"several megabytes", u"\\Temp\\big.bin", u"\\Temp\\big.bin", large, 29001},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.writtenAs.empty()) {
            ASSERT_TRUE(handheld.Machine().Store().WriteFile(c.writtenAs, c.bytes));
        }
        const size_t liveBefore = handheld.Machine().OutstandingLocalAllocations();
        SegmentChecksum got = 0xFFFFFFFF;
        ASSERT_TRUE(handheld.RunOnDevice([&] { got = FileChecksum(c.askedAs.c_str()); }));
        EXPECT_EQ(got, c.expected);
        EXPECT_EQ(handheld.Machine().OutstandingLocalAllocations(), liveBefore)
            << "the file buffer was not released";
    }
}

}  // namespace
}  // namespace harlix_test
