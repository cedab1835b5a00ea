// The transfer engine against an emulated handheld over its real link.
#include "desktop/device/transfer.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>

#include "desktop/device/link.h"
#include "desktop/device/model_flag.h"
#include "desktop/device/update_messages.h"
#include "handheld_link_fixture.h"
#include "platform/clock/clock.h"
#include "tools/romimage/rom_image.h"
#include "shared/segment_table.h"
#include "emulator/object_store.h"

namespace transfer_testing {
namespace {

namespace fs = std::filesystem;

constexpr char16_t kStartupVelkor[] = u"\\Windows\\StartUp\\Velkor.exe";

// The file progress values expected for one segment: copied * 100 / size before each chunk.
std::vector<ui::LPARAM> FileProgressFor(uint32_t size) {
    std::vector<ui::LPARAM> values;
    for (uint64_t copied = 0; copied < size; copied += kCopyChunkBytes)
        values.push_back(ui::LPARAM(copied * 100 / size));
    return values;
}

class TransferTest : public HandheldLinkTest {
protected:
    void SetUp() override {
        tova::SetTimeScale(0);
        ASSERT_NO_FATAL_FAILURE(StartHandheld(true));
        harlix_ = PatternBytes(40000, 1);  // three chunks, the last one short
        velkor_ = PatternBytes(20000, 2);
        WriteHostFile(programFolder_ / "HARLIX.DLL", harlix_);
        WriteHostFile(programFolder_ / "Velkor.exe", velkor_);
    }
    // The package lies in the program folder; returned for comparison.
    const std::vector<uint8_t>& PutPackage(bool advanced = true, const char* build = "00000002") {
        package_ = romimage::BuildPackage(SpecFor(advanced, build));
        WriteHostFile(programFolder_ / (advanced ? "R47_NK_H00000002.img" : "R47_NK_L00000002.img"),
                      package_);
        return package_;
    }
    std::vector<uint8_t> SegmentBytes(const SegmentEntry& s) const {
        return {package_.begin() + s.packageOffset, package_.begin() + s.packageOffset + s.size};
    }
    std::vector<uint8_t> harlix_, velkor_, package_;
};

// Nominal pauses of the copy: after every chunk, after a segment, after MISC_3.
constexpr uint64_t kChunkPauseMs = 100;
constexpr uint64_t kSegmentPauseMs = 250;
constexpr uint64_t kMisc3PauseMs = 500;

TEST_F(TransferTest, SegmentsArriveWhole) {
    PutPackage();
    RecordingWindow window;
    // After the last segment's progress the clock runs at real time, so that a pause
    // there (there must be none) would take a quarter of a second.
    std::chrono::steady_clock::time_point lastProgress{};
    window.onPost = [&](const RecordingWindow::Message& m, size_t) {
        if (m.message != WM_UPD_OVERALL_PROGRESS || m.lParam != 100) return;
        tova::SetTimeScale(1);
        lastProgress = std::chrono::steady_clock::now();
    };
    // Fast enough for 1648 chunks, slow enough that each pause outweighs a chunk's round trip.
    tova::SetTimeScale(0.01);
    ASSERT_EQ(CopySegments(window), 1);
    const auto afterLast = std::chrono::steady_clock::now() - lastProgress;
    tova::SetTimeScale(0);
    EXPECT_LT(afterLast, std::chrono::milliseconds(kSegmentPauseMs)) << "a pause after MISC_4";

    // Every file on the handheld holds exactly the package's bytes of its segment.
    for (const SegmentEntry& s : kSegmentTable) {
        std::vector<uint8_t> onHandheld = HandheldFile(s.devicePath);
        ASSERT_EQ(onHandheld.size(), s.size) << s.name;
        EXPECT_TRUE(onHandheld == SegmentBytes(s)) << s.name;
    }

    // Progress: each segment's chunks, then its overall percentage; nothing else. Pauses:
    // at least 100 ms after every chunk, 250 ms after a segment, 500 ms after MISC_3.
    std::vector<RecordingWindow::Message> messages = window.Messages();
    size_t at = 0;
    uint64_t pauseBefore = 0;
    for (const SegmentEntry& s : kSegmentTable) {
        std::vector<ui::LPARAM> file;
        while (at < messages.size() && messages[at].message == WM_UPD_FILE_PROGRESS) {
            EXPECT_EQ(messages[at].wParam, 0u);
            if (at > 0) {
                EXPECT_GE(messages[at].nominalMs - messages[at - 1].nominalMs, pauseBefore)
                    << s.name << " chunk " << file.size();
            }
            pauseBefore = kChunkPauseMs;
            file.push_back(messages[at++].lParam);
        }
        EXPECT_EQ(file, FileProgressFor(s.size)) << s.name;
        ASSERT_LT(at, messages.size()) << s.name;
        EXPECT_EQ(messages[at].message, WM_UPD_OVERALL_PROGRESS);
        EXPECT_EQ(messages[at].wParam, 0u);
        EXPECT_GE(messages[at].nominalMs - messages[at - 1].nominalMs, kChunkPauseMs) << s.name;
        EXPECT_EQ(messages[at++].lParam, ui::LPARAM(s.overallPercent)) << s.name;
        pauseBefore = std::string(s.name) == "MISC_3" ? kMisc3PauseMs : kSegmentPauseMs;
    }
    EXPECT_EQ(at, messages.size());
    EXPECT_EQ(window.Values(WM_UPD_OVERALL_PROGRESS),
              (std::vector<ui::LPARAM>{10, 22, 30, 40, 54, 59, 66, 75, 83, 90, 97, 100}));
    EXPECT_EQ(window.Values(WM_UPD_FILE_PROGRESS).size(), 1648u);
}

TEST_F(TransferTest, ChunkCountsAndProgressEnds) {
    // The table's own values, spelled out: KERNEL 160 chunks from 0 to 99, MISC_4 32 chunks
    // ending at 96, so file progress never reaches 100.
    struct Case {
        const char* segment;
        size_t chunks;
        ui::LPARAM first, last;
    };
    const Case cases[] = {{"KERNEL", 160, 0, 99}, {"MISC_4", 32, 0, 96}, {"SYNC", 64, 0, 98}};
    for (const Case& c : cases) {
        const SegmentEntry* s = std::find_if(std::begin(kSegmentTable), std::end(kSegmentTable),
                                             [&](const SegmentEntry& e) { return std::string(e.name) == c.segment; });
        std::vector<ui::LPARAM> values = FileProgressFor(s->size);
        EXPECT_EQ(values.size(), c.chunks) << c.segment;
        EXPECT_EQ(values.front(), c.first) << c.segment;
        EXPECT_EQ(values.back(), c.last) << c.segment;
    }
    // And what a real copy of KERNEL posts.
    PutPackage();
    tova::sys::ReadOnlyFile package;
    ASSERT_TRUE(package.Open((programFolder_ / "R47_NK_H00000002.img").c_str()));
    ASSERT_TRUE(package.Seek(kPackageSegmentsOffset));
    RecordingWindow window;
    EXPECT_EQ(CopySegmentToDevice(package, window, kSegmentTable[0].size, kSegmentTable[0].devicePath), 0);
    std::vector<ui::LPARAM> posted = window.Values(WM_UPD_FILE_PROGRESS);
    ASSERT_EQ(posted.size(), 160u);
    EXPECT_EQ(posted.front(), 0);
    EXPECT_EQ(posted.back(), 99);
    EXPECT_TRUE(std::is_sorted(posted.begin(), posted.end()));
}

TEST_F(TransferTest, ExistingKernelFileFailsTheFirstSegment) {
    PutPackage();
    PutHandheldFile(u"\\Temp\\Kernel.nb0", {1, 2, 3});
    RecordingWindow window;
    EXPECT_EQ(CopySegments(window), 0);
    EXPECT_EQ(HandheldFile(u"\\TEMP\\KERNEL.nb0"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(HandheldFileExists(u"\\TEMP\\OS.nb0"));
    EXPECT_TRUE(window.Messages().empty());
}

TEST_F(TransferTest, LinkFlagDroppingMidSegmentStopsBeforeTheNextWrite) {
    PutPackage();
    RecordingWindow window;
    // The watchdog's part, at an exact point: the flag drops once the fifth chunk is written.
    window.onPost = [](const RecordingWindow::Message& m, size_t count) {
        if (count == 5) g_bConnected = 0;
    };
    EXPECT_EQ(CopySegments(window), 0);
    EXPECT_EQ(window.Values(WM_UPD_FILE_PROGRESS).size(), 5u);
    EXPECT_TRUE(window.Values(WM_UPD_OVERALL_PROGRESS).empty());
    std::vector<uint8_t> partial = HandheldFile(u"\\TEMP\\KERNEL.nb0");
    ASSERT_EQ(partial.size(), 5u * kCopyChunkBytes) << "the chunk read after the drop is not written";
    EXPECT_TRUE(std::equal(partial.begin(), partial.end(), package_.begin() + kPackageSegmentsOffset));
    EXPECT_FALSE(HandheldFileExists(u"\\TEMP\\OS.nb0"));
}

// The cable comes out after the seventh chunk of KERNEL is written. Whether or not the link
// monitor has dropped the flag by the next chunk, the segment fails there and the seven
// chunks stay on the handheld.
class CablePullTest : public TransferTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CablePullTest, MidSegmentFailsItAndLeavesThePartialFile) {
    const bool flagDrops = GetParam();
    PutPackage();
    RecordingWindow window;
    tova::Machine* machine = machine_;
    window.onPost = [&](const RecordingWindow::Message&, size_t count) {
        if (count != 7) return;
        machine->SetCable(false);
        if (flagDrops) g_bConnected = 0;
    };
    EXPECT_EQ(CopySegments(window), 0);
    EXPECT_EQ(window.Values(WM_UPD_FILE_PROGRESS).size(), 7u);
    EXPECT_TRUE(window.Values(WM_UPD_OVERALL_PROGRESS).empty());
    std::vector<uint8_t> partial = HandheldFile(u"\\TEMP\\KERNEL.nb0");
    EXPECT_EQ(partial.size(), 7u * kCopyChunkBytes);
    EXPECT_TRUE(std::equal(partial.begin(), partial.end(), package_.begin() + kPackageSegmentsOffset));
    EXPECT_FALSE(HandheldFileExists(u"\\TEMP\\OS.nb0"));
}

INSTANTIATE_TEST_SUITE_P(LinkMonitor, CablePullTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "FlagDropped" : "FlagStillUp";
                         });

TEST_F(TransferTest, PackageShorterThanItsSegmentsEndsTheCopy) {
    PutPackage();
    // Cut inside OS: KERNEL arrives whole, OS partly, and the copy ends instead of waiting
    // for bytes that never come.
    const SegmentEntry& os = kSegmentTable[1];
    uint32_t cut = os.packageOffset + 3 * kCopyChunkBytes + 100;
    fs::resize_file(programFolder_ / "R47_NK_H00000002.img", cut);
    RecordingWindow window;
    // A copy that kept reading the empty end would post for ever; cut it off as a failure.
    window.onPost = [](const RecordingWindow::Message&, size_t count) {
        if (count > 1000) g_bConnected = 0;
    };
    EXPECT_EQ(CopySegments(window), 0);
    EXPECT_EQ(window.Values(WM_UPD_OVERALL_PROGRESS), (std::vector<ui::LPARAM>{10}));
    EXPECT_EQ(HandheldFile(u"\\TEMP\\KERNEL.nb0"), SegmentBytes(kSegmentTable[0]));
    std::vector<uint8_t> partial = HandheldFile(os.devicePath);
    EXPECT_EQ(partial.size(), 3u * kCopyChunkBytes + 100);
    EXPECT_EQ(window.Values(WM_UPD_FILE_PROGRESS).size(), 160u + 4u);
}

TEST_F(TransferTest, NoPackageOfTheModelCopiesNothing) {
    PutPackage(true);
    g_bAdvancedModel = 0;  // the basic model takes only R47_NK_L*.img
    RecordingWindow window;
    EXPECT_EQ(CopySegments(window), 0);
    EXPECT_TRUE(window.Messages().empty());
    EXPECT_FALSE(HandheldFileExists(u"\\TEMP\\KERNEL.nb0"));
}

TEST_F(TransferTest, LinkDownBeforeTheFirstSegmentCopiesNothing) {
    PutPackage();
    g_bConnected = 0;
    RecordingWindow window;
    EXPECT_EQ(CopySegments(window), 0);
    EXPECT_TRUE(window.Messages().empty());
    EXPECT_FALSE(HandheldFileExists(u"\\TEMP\\KERNEL.nb0"));
}

TEST_F(TransferTest, ZeroByteCountFailsWithoutCreatingAFile) {
    tova::sys::ReadOnlyFile package;
    ASSERT_TRUE(package.Open((programFolder_ / "HARLIX.DLL").c_str()));
    RecordingWindow window;
    EXPECT_EQ(CopySegmentToDevice(package, window, 0, u"\\TEMP\\KERNEL.nb0"), -1);
    EXPECT_FALSE(HandheldFileExists(u"\\TEMP\\KERNEL.nb0"));
}

TEST_F(TransferTest, ServiceLibraryReplacesAnExistingCopy) {
    PutHandheldFile(u"\\Windows\\HARLIX.DLL", PatternBytes(100000, 9));  // longer than the new one
    EXPECT_EQ(CopyServiceLibrary(), 0);
    EXPECT_EQ(HandheldFile(u"\\Windows\\HARLIX.DLL"), harlix_);
}

TEST_F(TransferTest, FlasherGoesIntoTheStartupFolderReplacingAnOldCopy) {
    PutHandheldFile(kStartupVelkor, {7, 7, 7});
    EXPECT_EQ(CopyFlasher(), 0);
    EXPECT_EQ(HandheldFile(kStartupVelkor), velkor_);
}

TEST_F(TransferTest, CompanionFileCopies) {
    struct Case {
        const char* what;
        std::vector<uint8_t> desktop;  // empty vector with exists=false: no desktop file
        bool exists;
        int result;
    };
    const Case cases[] = {
        {"one byte", {42}, true, 0},
        {"exactly one chunk", PatternBytes(kCopyChunkBytes, 3), true, 0},
        {"one chunk and a byte", PatternBytes(kCopyChunkBytes + 1, 4), true, 0},
        {"zero bytes", {}, true, -1},
        {"no desktop file", {}, false, -1},
    };
    for (const Case& c : cases) {
        PutHandheldFile(u"\\Temp\\copy.bin", {0xEE, 0xEE});
        fs::path source = programFolder_ / "source.bin";
        fs::remove(source);
        if (c.exists) WriteHostFile(source, c.desktop);
        EXPECT_EQ(CopyFileToDevice(source.c_str(), u"\\Temp\\copy.bin"), c.result) << c.what;
        if (!c.exists)  // nothing was opened, so the handheld's file is left as it was
            EXPECT_EQ(HandheldFile(u"\\Temp\\copy.bin"), (std::vector<uint8_t>{0xEE, 0xEE})) << c.what;
        else  // replaced; a zero-byte source leaves an empty file behind
            EXPECT_EQ(HandheldFile(u"\\Temp\\copy.bin"), c.desktop) << c.what;
    }
}

TEST_F(TransferTest, FolderAsDesktopFileIsRefusedBeforeTheHandheldIsTouched) {
    PutHandheldFile(u"\\Temp\\copy.bin", {1});
    EXPECT_EQ(CopyFileToDevice(programFolder_.c_str(), u"\\Temp\\copy.bin"), -1);
    EXPECT_EQ(HandheldFile(u"\\Temp\\copy.bin"), (std::vector<uint8_t>{1}));
}

TEST_F(TransferTest, ShortcutsAreDeletedFromTheStartupFolder) {
    PutHandheldFile(u"\\Windows\\StartUp\\poutlook.lnk", {1});
    PutHandheldFile(u"\\Windows\\StartUp\\Welcome.lnk", {2});
    EXPECT_EQ(DeleteStartupShortcut(kShortcutOutlook), tova::Machine::StartupFolder().size());
    EXPECT_FALSE(HandheldFileExists(u"\\Windows\\StartUp\\poutlook.lnk"));
    EXPECT_TRUE(HandheldFileExists(u"\\Windows\\StartUp\\Welcome.lnk"));
    EXPECT_EQ(DeleteStartupShortcut(kShortcutWelcome), tova::Machine::StartupFolder().size());
    EXPECT_FALSE(HandheldFileExists(u"\\Windows\\StartUp\\Welcome.lnk"));
    // Deleting what is no longer there still answers the folder query.
    EXPECT_EQ(DeleteStartupShortcut(kShortcutWelcome), tova::Machine::StartupFolder().size());
}

TEST_F(TransferTest, FailedStartupFolderQueryDeletesNothingAndFailsTheFlasherCopy) {
    PutHandheldFile(u"\\Windows\\StartUp\\poutlook.lnk", {1});
    machine_->SetCable(false);
    EXPECT_EQ(DeleteStartupShortcut(kShortcutOutlook), 0u);
    EXPECT_EQ(CopyFlasher(), -1);
    EXPECT_TRUE(HandheldFileExists(u"\\Windows\\StartUp\\poutlook.lnk"));
    EXPECT_FALSE(HandheldFileExists(kStartupVelkor));
}

TEST_F(TransferTest, MissingCompanionFilesFail) {
    fs::remove(programFolder_ / "HARLIX.DLL");
    fs::remove(programFolder_ / "Velkor.exe");
    EXPECT_EQ(CopyServiceLibrary(), -1);
    EXPECT_EQ(CopyFlasher(), -1);
    EXPECT_FALSE(HandheldFileExists(kStartupVelkor));
}

TEST_F(TransferTest, ProgramPathOfOver1023CharactersIsFollowed) {
    // A real folder whose path is longer than the first buffer: cutting it would point the
    // copy at a folder that does not exist.
    fs::path deep = programFolder_;
    while (deep.string().size() < 1100) deep /= std::string(60, 'p');
    fs::create_directories(deep);
    std::vector<uint8_t> library = PatternBytes(5000, 5);
    WriteHostFile(deep / "HARLIX.DLL", library);
    SetProgramPath((deep / "setup").string());
    ASSERT_GE((deep / "setup").string().size(), 1023u);
    EXPECT_EQ(CopyServiceLibrary(), 0);
    EXPECT_EQ(HandheldFile(u"\\Windows\\HARLIX.DLL"), library);
}

}  // namespace
}  // namespace transfer_testing
