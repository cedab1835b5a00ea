// The transfer engine of the Windows build against a handheld run by tova-emu on Linux:
// the segments copied chunk by chunk over winsock, verified by the service library on the
// handheld itself.
#include "desktop/device/transfer.h"

#include "desktop/device/rapi_calls.h"
#include "desktop/device/service_client.h"
#include "desktop/device/update_messages.h"
#include "external_handheld.h"
#include "platform/clock/clock.h"
#include "shared/segment_table.h"

namespace over_link {
namespace {

constexpr char16_t kKernelSegment[] = u"\\TEMP\\KERNEL.nb0";

// copied * 100 / size before each chunk of one segment.
std::vector<ui::LPARAM> FileProgressFor(uint32_t size) {
    std::vector<ui::LPARAM> values;
    for (uint64_t copied = 0; copied < size; copied += kCopyChunkBytes) values.push_back(ui::LPARAM(copied * 100 / size));
    return values;
}

class TransferOverLink : public ExternalHandheldTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ExternalHandheldTest::SetUp());
        tova::SetTimeScale(0);
        // Each test starts without segment files: the copy creates them anew.
        for (const SegmentEntry& segment : kSegmentTable) RapiDeleteFile(reinterpret_cast<LPCWSTR>(segment.devicePath));
        ASSERT_EQ(CopyServiceLibrary(), 0) << "the service library verifies the segments";
    }
};

TEST_F(TransferOverLink, SegmentsArriveWholeWithTheirProgress) {
    RecordingWindow window;
    ASSERT_EQ(CopySegments(window), 1);

    std::vector<ui::LPARAM> overall, file;
    for (const SegmentEntry& segment : kSegmentTable) {
        overall.push_back(ui::LPARAM(segment.overallPercent));
        for (ui::LPARAM value : FileProgressFor(segment.size)) file.push_back(value);
    }
    EXPECT_EQ(window.Values(WM_UPD_OVERALL_PROGRESS), overall);
    EXPECT_EQ(window.Values(WM_UPD_FILE_PROGRESS), file);
    EXPECT_EQ(InvokeIsCheckSumOk(), S_OK) << "the handheld finds every segment file as the package holds it";

    // The check can fail: the kernel segment replaced by another file.
    ASSERT_TRUE(RapiDeleteFile(reinterpret_cast<LPCWSTR>(kKernelSegment)));
    ASSERT_EQ(CopyFileToDevice((folder_ + "program\\Velkor.exe").c_str(), reinterpret_cast<LPCWSTR>(kKernelSegment)), 0);
    EXPECT_EQ(InvokeIsCheckSumOk(), E_FAIL);
}

// The copy never overwrites: a kernel file left on the handheld fails the first segment,
// and nothing after it is copied or reported.
TEST_F(TransferOverLink, ExistingKernelFileFailsTheFirstSegment) {
    ASSERT_EQ(CopyFileToDevice((folder_ + "program\\Velkor.exe").c_str(), reinterpret_cast<LPCWSTR>(kKernelSegment)), 0);
    RecordingWindow window;
    EXPECT_EQ(CopySegments(window), 0);
    EXPECT_TRUE(window.Values(WM_UPD_OVERALL_PROGRESS).empty());
    EXPECT_EQ(InvokeIsCheckSumOk(), E_FAIL);
}

TEST_F(TransferOverLink, ServiceLibraryAndFlasherReplaceEarlierCopies) {
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(CopyServiceLibrary(), 0) << "round " << round;
        EXPECT_EQ(CopyFlasher(), 0) << "round " << round;
    }
}

}  // namespace
}  // namespace over_link
