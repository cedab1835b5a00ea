#include "rompkg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "format/rom_package_header.h"
#include "tools/romimage/rom_image.h"
#include "shared/rom_identity.h"
#include "shared/segment_table.h"

namespace rompkg {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome RunTool(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    int status = Run(args, out, err);
    return {status, out.str(), err.str()};
}

class RompkgTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tova-rompkg-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::vector<uint8_t> ReadFile(const fs::path& path) {
        std::ifstream f(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    }
    fs::path dir_;
};

// The words of the report line that starts with `name` after its indent; empty when none does.
std::vector<std::string> ReportLine(const std::string& report, const std::string& name) {
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::vector<std::string> split{std::istream_iterator<std::string>(words), {}};
        if (!split.empty() && split[0] == name) return split;
    }
    return {};
}

TEST_F(RompkgTest, MadePackagesInspectCleanAndAreAcceptedByTheDesktopReader) {
    struct Case {
        const char* model;
        const char* file;
        std::vector<std::string> kernelLine;  // checksum, then each column's value and mark
    };
    for (const Case& c : {Case{"advanced", "R47_NK_H03280401.img", {"KERNEL", "123019", "123019=", "182108x"}},
                          Case{"basic", "R47_NK_L03280401.img", {"KERNEL", "182108", "123019x", "182108="}}}) {
        Outcome made = RunTool({"make", "--model", c.model, "--build", "03280401", "--language", "fr",
                                "--version", "v1.075", "--out", dir_.string()});
        ASSERT_EQ(made.status, kExitOk) << made.err;
        fs::path path = dir_ / c.file;
        EXPECT_NE(made.out.find(path.string()), std::string::npos) << made.out;
        ASSERT_EQ(fs::file_size(path), kPackageMinimumBytes);

        Outcome inspected = RunTool({"inspect", path.string()});
        EXPECT_EQ(inspected.status, kExitOk) << inspected.err;
        EXPECT_EQ(inspected.err, "");
        EXPECT_NE(inspected.out.find("\"VORN\""), std::string::npos) << inspected.out;
        EXPECT_NE(inspected.out.find("\"03280401\""), std::string::npos);
        EXPECT_NE(inspected.out.find("\"FR\""), std::string::npos);
        EXPECT_NE(inspected.out.find("0x03280401"), std::string::npos);
        EXPECT_NE(inspected.out.find("1036"), std::string::npos);
        EXPECT_NE(inspected.out.find("\"v1.075\""), std::string::npos);
        EXPECT_NE(inspected.out.find("every segment matches"), std::string::npos);
        EXPECT_EQ(ReportLine(inspected.out, "KERNEL"), c.kernelLine) << inspected.out;

        uint8_t header[36];
        EXPECT_EQ(ReadRomPackageHeader(path.c_str(), MakeRomPackageKey(), header), kPackageMinimumBytes);
        EXPECT_EQ(PackageBuild(header), 3280401);
    }
}

TEST_F(RompkgTest, MakeReplacesAnExistingPackageAndLeavesNoPartialFile) {
    fs::path path = dir_ / "R47_NK_H00000001.img";
    std::ofstream(path) << "old";
    Outcome made = RunTool({"make", "--model=advanced", "--build=00000001", "--language=EN",
                            "--version=v1", "--out=" + dir_.string()});
    ASSERT_EQ(made.status, kExitOk) << made.err;
    EXPECT_EQ(fs::file_size(path), kPackageMinimumBytes);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(RompkgTest, VersionTextIsCarriedAsUtf16) {
    ASSERT_EQ(RunTool({"make", "--model", "basic", "--build", "00000002", "--language", "GE",
                       "--version", "\xC3\x9C" "ber 1", "--out", dir_.string()})
                  .status,
              kExitOk);
    std::vector<uint8_t> bytes = ReadFile(dir_ / "R47_NK_L00000002.img");
    RomIdentity id;
    std::memcpy(&id, bytes.data() + kPackageSegmentsOffset, sizeof id);
    ASSERT_TRUE(IsValidRomIdentity(id));
    EXPECT_EQ(std::u16string(id.versionText), u"\u00DCber 1");
    EXPECT_EQ(id.languageId, 1031u);
}

TEST_F(RompkgTest, MakeIntoAMissingFolderFails) {
    Outcome made = RunTool({"make", "--model", "basic", "--build", "00000002", "--language", "EN",
                            "--version", "v", "--out", (dir_ / "nope").string()});
    EXPECT_EQ(made.status, kExitBadPackage);
    EXPECT_NE(made.err.find("does not exist"), std::string::npos) << made.err;
}

TEST_F(RompkgTest, BadArgumentsExitWithUsageStatusAndWriteNothing) {
    struct Case {
        std::vector<std::string> args;
        const char* mentions;
    };
    const std::string out = dir_.string();
    const Case cases[] = {
        {{}, "no command"},
        {{"build"}, "unknown command 'build'"},
        {{"make", "--build", "03280401", "--language", "EN", "--version", "v", "--out", out}, "--model is required"},
        {{"make", "--model", "deluxe", "--build", "03280401", "--language", "EN", "--version", "v", "--out", out}, "advanced or basic"},
        {{"make", "--model", "basic", "--build", "0328040", "--language", "EN", "--version", "v", "--out", out}, "eight decimal digits"},
        {{"make", "--model", "basic", "--build", "0328040a", "--language", "EN", "--version", "v", "--out", out}, "eight decimal digits"},
        {{"make", "--model", "basic", "--build", "03280401", "--language", "DE", "--version", "v", "--out", out}, "GE, EN, SP, FR, IT"},
        {{"make", "--model", "basic", "--build", "03280401", "--language", "EN", "--version", "0123456789abcdefg", "--out", out}, "16 characters"},
        {{"make", "--model", "basic", "--build", "03280401", "--language", "EN", "--version", "\xC3", "--out", out}, "UTF-8"},
        {{"make", "--model", "basic", "--build", "03280401", "--language", "EN", "--version", "v", "--colour", "red", "--out", out}, "unknown option '--colour'"},
        {{"make", "--model", "basic", "--build", "03280401", "--language", "EN", "--out", out, "--version"}, "--version needs a value"},
        {{"make", "--model", "basic", "--model", "advanced", "--build", "03280401", "--language", "EN", "--version", "v", "--out", out}, "given twice"},
        {{"inspect"}, "exactly one package file"},
        {{"inspect", "a.img", "b.img"}, "exactly one package file"},
    };
    for (const Case& c : cases) {
        Outcome o = RunTool(c.args);
        EXPECT_EQ(o.status, kExitUsage) << c.mentions;
        EXPECT_NE(o.err.find(c.mentions), std::string::npos) << o.err;
        EXPECT_NE(o.err.find("--help"), std::string::npos) << "points at the help";
    }
    EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(RompkgTest, HelpDocumentsBothCommands) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"make", "--help"}, {"inspect", "-h"}}) {
        Outcome o = RunTool(args);
        EXPECT_EQ(o.status, kExitOk);
        for (const char* word : {"rompkg make", "rompkg inspect", "--model", "--build", "--language",
                                 "--version", "--out", "R47_NK_H", "R47_NK_L", "Exit status"})
            EXPECT_NE(o.out.find(word), std::string::npos) << word;
    }
}

TEST_F(RompkgTest, InspectOfAMissingFileFails) {
    Outcome o = RunTool({"inspect", (dir_ / "absent.img").string()});
    EXPECT_EQ(o.status, kExitBadPackage);
    EXPECT_NE(o.err.find("cannot open"), std::string::npos);
}

// Nothing but a regular file is read: a FIFO with no writer, a folder, a device and a link
// to a FIFO are each refused at once, naming what they are.
TEST_F(RompkgTest, InspectRefusesWhatIsNotARegularFileWithoutBlocking) {
    fs::path fifo = dir_ / "R47_NK_H00000001.img";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::path folder = dir_ / "R47_NK_L00000001.img";
    fs::create_directory(folder);
    fs::path link = dir_ / "R47_NK_H00000002.img";
    fs::create_symlink(fifo, link);
    struct Case {
        fs::path path;
        const char* kind;
    };
    for (const Case& c : {Case{fifo, "is a FIFO"}, Case{folder, "is a folder"},
                          Case{"/dev/null", "is a character device"}, Case{link, "is a FIFO"}}) {
        auto inspected = std::async(std::launch::async, [&] { return RunTool({"inspect", c.path.string()}); });
        if (inspected.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            // Gives the blocked open a writer, so that the test can end.
            int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
            ADD_FAILURE() << "inspect of " << c.path << " blocked";
            inspected.wait();
            ::close(fd);
            continue;
        }
        Outcome o = inspected.get();
        EXPECT_EQ(o.status, kExitBadPackage) << c.path;
        EXPECT_NE(o.err.find(c.path.string() + " " + c.kind + ", not a package file"), std::string::npos) << o.err;
        EXPECT_EQ(o.out, "") << "nothing inspected";
    }
}

// A file is read piece by piece: a package followed by gigabytes (a sparse tail, so the
// disk holds almost nothing) inspects as the package alone would, with its size reported.
TEST_F(RompkgTest, InspectOfAHugeFileReadsOnlyThePackage) {
    ASSERT_EQ(RunTool({"make", "--model", "advanced", "--build", "03280401", "--language", "EN",
                       "--version", "v", "--out", dir_.string()})
                  .status,
              kExitOk);
    fs::path path = dir_ / "R47_NK_H03280401.img";
    const uint64_t huge = uint64_t(8) << 30;
    fs::resize_file(path, huge);
    Outcome o = RunTool({"inspect", path.string()});
    EXPECT_EQ(o.status, kExitOk) << o.err;
    EXPECT_NE(o.out.find("(" + std::to_string(huge) + " bytes)"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("every segment matches"), std::string::npos) << o.out;
}

// Damaged copies of one good package, each inspected in memory.
class InspectDamageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        romimage::RomSpec spec;
        std::memcpy(spec.buildDigits, "03280401", 9);
        std::memcpy(spec.language, "EN", 3);
        spec.versionText = u"v1.075";
        good_ = new std::vector<uint8_t>(romimage::BuildPackage(spec));
    }
    static void TearDownTestSuite() { delete good_; }
    static std::vector<uint8_t>* good_;
};
std::vector<uint8_t>* InspectDamageTest::good_ = nullptr;

// Flips bits of the plain header byte at offset, keeping it scrambled.
void ChangePlainHeaderByte(std::vector<uint8_t>& bytes, size_t offset, uint8_t value) {
    uint8_t plain[36];
    std::memcpy(plain, bytes.data(), 36);
    DescrambleHeader(plain, MakeRomPackageKey());
    plain[offset] = value;
    DescrambleHeader(plain, MakeRomPackageKey());
    std::memcpy(bytes.data(), plain, 36);
}

TEST_F(InspectDamageTest, EachDamageIsReported) {
    struct Case {
        const char* what;
        std::string name;
        void (*damage)(std::vector<uint8_t>&);
        const char* mentions;
    };
    const Case cases[] = {
        {"good", "R47_NK_H03280401.img", [](std::vector<uint8_t>&) {}, nullptr},
        {"35 bytes", "R47_NK_H03280401.img", [](std::vector<uint8_t>& b) { b.resize(35); },
         "too short for a package header"},
        {"one segment byte short", "R47_NK_H03280401.img",
         [](std::vector<uint8_t>& b) { b.resize(kPackageMinimumBytes - 1); }, "too short for the 12 segments"},
        {"signature case", "R47_NK_H03280401.img",
         [](std::vector<uint8_t>& b) { ChangePlainHeaderByte(b, 1, 'o'); }, "bad signature"},
        {"build not digits", "R47_NK_H03280401.img",
         [](std::vector<uint8_t>& b) { ChangePlainHeaderByte(b, 28, ' '); }, "not eight decimal digits"},
        {"build differs from identity", "R47_NK_H03280401.img",
         [](std::vector<uint8_t>& b) { ChangePlainHeaderByte(b, 31, '2'); }, "ROM identity build"},
        {"language", "R47_NK_H03280401.img",
         [](std::vector<uint8_t>& b) { ChangePlainHeaderByte(b, 33, 'X'); }, "header language"},
        {"one OS byte", "R47_NK_H03280401.img",
         [](std::vector<uint8_t>& b) { b[kSegmentTable[1].packageOffset + 100] ^= 1; }, "segment OS"},
        {"erased segment written", "R47_NK_H03280401.img",
         [](std::vector<uint8_t>& b) { b[kSegmentTable[11].packageOffset] = 0; }, "segment MISC_4"},
        {"identity destroyed", "R47_NK_H03280401.img",
         [](std::vector<uint8_t>& b) { b[kPackageSegmentsOffset] = 'X'; }, "identity record"},
        {"basic name, advanced content", "R47_NK_L03280401.img", [](std::vector<uint8_t>&) {},
         "the file name names the basic configuration"},
        {"unknown name, advanced content", "rom.img", [](std::vector<uint8_t>&) {}, nullptr},
        {"unknown name, no identity", "rom.img",
         [](std::vector<uint8_t>& b) { b[kPackageSegmentsOffset] = 'X'; }, "cannot tell the configuration"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = *good_;
        c.damage(bytes);
        std::ostringstream out, err;
        int status = Inspect(c.name, bytes, out, err);
        if (c.mentions == nullptr) {
            EXPECT_EQ(status, kExitOk) << c.what << "\n" << err.str();
            continue;
        }
        EXPECT_EQ(status, kExitBadPackage) << c.what;
        EXPECT_NE(err.str().find(c.mentions), std::string::npos) << c.what << ": " << err.str();
        EXPECT_NE(out.str().find("does not fit"), std::string::npos) << c.what;
    }
}

}  // namespace
}  // namespace rompkg
