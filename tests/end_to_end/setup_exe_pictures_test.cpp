// setup.exe under Wine in real Win32 windows, on an X display of the test's own with no
// window manager, driven through a whole update against tova-emu with a picture of every
// page and message box; the tests look at the pictures as a person would: the red lines of
// the device information page, the filled progress bars, the close box the progress page
// gains once the files are copied, the "Update complete!" box. And the exit status of a run
// in windows, which is the wizard's as without them.
#include <algorithm>
#include <cstdlib>
#include <map>

#include "end_to_end_fixture.h"
#include "picture.h"
#include "virtual_display.h"
#include "window_pictures.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// The progress page is pictured twice when shown: when it opens, and when it is shown again
// with its close box.
const std::vector<std::string> kPictureNames = {
    "001-page-102-shown.png",   "002-page-102-closing.png", "003-page-130-shown.png",
    "004-page-130-closing.png", "005-page-134-shown.png",   "006-page-134-closing.png",
    "007-page-129-shown.png",   "008-page-129-shown.png",   "009-box-129-update-complete.png",
    "010-page-129-closing.png"};
constexpr int kOverallProgress = 1007, kFileProgress = 1010;

// setup.exe's run in windows, and the pictures it left.
struct WindowedRun {
    child::Outcome run;
    std::vector<std::string> names;
    std::map<std::string, Picture> pictures;
    std::string problem;  // why setup.exe could not be run
};

struct PicturedUpdate : WindowedRun {
    std::string romBuildAfter;
};

std::vector<std::string> FileNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// TOVA_PICTURES_OUT: where the pictures stay for people to look at after the run.
void KeepForPeople(const fs::path& folder) {
    const char* out = std::getenv("TOVA_PICTURES_OUT");
    if (!out || !*out) return;
    std::error_code error;
    fs::remove_all(out, error);
    fs::create_directories(out, error);
    fs::copy(folder, out, fs::copy_options::recursive | fs::copy_options::overwrite_existing, error);
}

// A Wine server of its own for WINEPREFIX, started on the display (TOVA_WINE_SERVER names
// tests/windows/wine-server): a Wine desktop keeps the display of the process that started
// it, so one shared with programs run without a display would have no windows to show.
class WineOnDisplay {
public:
    WineOnDisplay(const std::string& display, const fs::path& folder) : folder_(folder) {
        const char* script = std::getenv("TOVA_WINE_SERVER");
        if (!script || !*script) {
            problem_ = "TOVA_WINE_SERVER is not set";
            return;
        }
        script_ = script;
        child::Outcome started = child::Run({script_, "start"}, folder_, {{"DISPLAY=" + display}, {}});
        if (started.exitCode != 0) problem_ = "the Wine server did not start: " + started.err;
    }
    ~WineOnDisplay() {
        if (!script_.empty()) child::Run({script_, "stop"}, folder_);
    }
    const std::string& Problem() const { return problem_; }

private:
    fs::path folder_;
    std::string script_;
    std::string problem_;
};

// setup.exe, installed in `setup`'s folder, run in windows against `endpoint` on a display
// and Wine server of its own; `keep` makes the pictures stay for people (TOVA_PICTURES_OUT).
WindowedRun RunInWindows(SetupProgram& setup, const std::string& endpoint, bool keep) {
    WindowedRun result;
    VirtualDisplay display(TestFolder("display"));
    if (display.Name().empty()) {
        result.problem = display.Problem();
        return result;
    }
    WineOnDisplay wine(display.Name(), TestFolder("wine"));
    if (!wine.Problem().empty()) {
        result.problem = wine.Problem();
        return result;
    }
    result.run = setup.RunUnattended(endpoint, {{"DISPLAY=" + display.Name(), "TOVA_SCREENSHOTS=pictures"}, {}});
    fs::path folder = setup.WorkFolder() / "pictures";
    if (keep) KeepForPeople(folder);
    result.names = FileNames(folder);
    for (const std::string& name : result.names) result.pictures[name] = ReadPng(folder / name);
    return result;
}

PicturedUpdate Update() {
    PicturedUpdate update;
    HandheldProcess handheld(TestFolder("handheld"));
    handheld.Create();
    handheld.Run();
    if (!handheld.WaitUntilLinked()) {
        update.problem = "the handheld did not come up: " + handheld.RunOutput();
        return update;
    }
    SetupProgram setup(TestFolder("program"));
    setup.AddPackage(Package{});
    static_cast<WindowedRun&>(update) = RunInWindows(setup, handheld.Endpoint(), true);
    if (handheld.WaitUntilLinked()) update.romBuildAfter = handheld.ReadInfo().fields["ROM build"];
    return update;
}

// One update for all the looks: it takes Wine and the handheld a while.
const PicturedUpdate& TheUpdate() {
    static const PicturedUpdate update = Update();
    return update;
}

// The last position the transcript gives a progress bar of the progress page.
int LastPosition(const std::string& transcript, int control) {
    std::string key = "page 129: position " + std::to_string(control) + " ";
    size_t at = transcript.rfind(key);
    return at == std::string::npos ? -1 : std::atoi(transcript.c_str() + at + key.size());
}

// The close box's cross as marlett draws it, a few pixels each way; a font's letter "r"
// in its place is neither symmetric nor this dark.
::testing::AssertionResult IsCloseBoxCross(const std::optional<CaptionGlyph>& glyph) {
    if (!glyph) return ::testing::AssertionFailure() << "no close box";
    const int width = glyph->right - glyph->left + 1, height = glyph->bottom - glyph->top + 1;
    if (!glyph->mirrorSymmetric || glyph->darkPixels < 8 || width < 4 || height < 4 || width > 12 || height > 12)
        return ::testing::AssertionFailure() << "not a cross: " << width << " x " << height << " pixels, "
                                             << glyph->darkPixels << " dark, "
                                             << (glyph->mirrorSymmetric ? "" : "not ") << "symmetric";
    if (!glyph->onButtonFace) return ::testing::AssertionFailure() << "the cross is not on a button";
    return ::testing::AssertionSuccess();
}

class SetupExePictures : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("TOVA_SETUP_EXE"), nullptr)
            << "these tests picture setup.exe: ctest --preset windows runs them with TOVA_SETUP_EXE set";
        ASSERT_EQ(TheUpdate().problem, "");
    }
    // The picture, decoded; a missing or unreadable one fails the test and looks empty.
    const Picture& Shot(const std::string& name) {
        static const Picture none;
        auto it = TheUpdate().pictures.find(name);
        if (it == TheUpdate().pictures.end()) {
            ADD_FAILURE() << "no picture " << name;
            return none;
        }
        EXPECT_EQ(it->second.problem, "") << name;
        return it->second;
    }
    static Caption CaptionOf(const Picture& picture, const std::string& name) {
        std::optional<Caption> caption = FindCaption(picture);
        EXPECT_TRUE(caption.has_value()) << name << " has no caption bar";
        return caption.value_or(Caption{});
    }
};

TEST_F(SetupExePictures, WholeUpdateInWindowsPicturesEveryPageAndBox) {
    const PicturedUpdate& update = TheUpdate();
    EXPECT_EQ(update.run.exitCode, kSetupUpdated) << update.run.err;
    EXPECT_TRUE(Says(update.run, "page 102: opened \"Vorn Tova Velkor\""));
    EXPECT_TRUE(Says(update.run, "page 129: message box \"Update complete!\""));
    EXPECT_TRUE(Says(update.run, "page 129: ended with 0"));
    EXPECT_EQ(update.romBuildAfter, HexWord(Package{}.BuildWord())) << "the windows did the update";

    EXPECT_EQ(update.names, kPictureNames);
    for (const auto& [name, picture] : update.pictures) {
        SCOPED_TRACE(name);
        ASSERT_EQ(picture.problem, "");
        CaptionOf(picture, name);
        EXPECT_GT(DarkPixels(picture, {0, picture.height - 1}), 200) << "no text drawn";
    }
    // A page keeps its size from the first picture to the last.
    for (auto [first, last] : {std::pair{"001-page-102-shown.png", "002-page-102-closing.png"},
                               {"003-page-130-shown.png", "004-page-130-closing.png"},
                               {"005-page-134-shown.png", "006-page-134-closing.png"},
                               {"007-page-129-shown.png", "010-page-129-closing.png"}}) {
        const Picture &a = Shot(first), &b = Shot(last);
        EXPECT_EQ(std::pair(a.width, a.height), std::pair(b.width, b.height)) << first << " and " << last;
    }
}

// The welcome picture keeps to its rectangle: a gap of background separates it from the
// notes beside it, whatever the size of the dialog font's units.
TEST_F(SetupExePictures, WelcomePictureKeepsClearOfTheText) {
    const Picture& welcome = Shot("001-page-102-shown.png");
    Caption caption = CaptionOf(welcome, "001");
    std::vector<ColumnBand> gaps = BlankColumns(welcome, {caption.rows.bottom + 1, welcome.height * 2 / 3});
    EXPECT_TRUE(std::any_of(gaps.begin(), gaps.end(), [&](const ColumnBand& gap) {
        return gap.left > welcome.width / 4 && gap.right < welcome.width * 3 / 4 && gap.right - gap.left >= 3;
    })) << "no gap between the picture and the text";
}

// The model, ROM version and language lines come in red once the handheld has been read; the
// page opens with them empty.
TEST_F(SetupExePictures, DeviceInformationLinesAreRed) {
    EXPECT_TRUE(RedTextBands(Shot("003-page-130-shown.png")).empty());
    std::vector<RowBand> lines = RedTextBands(Shot("004-page-130-closing.png"));
    ASSERT_EQ(lines.size(), 3u) << "model, ROM version, language";
    for (const RowBand& line : lines) EXPECT_GE(line.bottom - line.top, 6) << "a line of text is taller";
    EXPECT_NEAR(lines[1].top - lines[0].top, lines[2].top - lines[1].top, 2) << "evenly spaced lines";
}

// Pictured as the close box comes, just after the last segment: the overall bar full, the
// file bar where the last chunk of the last segment left it.
TEST_F(SetupExePictures, ProgressBarsShowTheCopy) {
    const Picture& opened = Shot("007-page-129-shown.png");
    EXPECT_TRUE(FindProgressBars(opened, CaptionOf(opened, "007")).empty()) << "the bars come with the copy";

    const Picture& copied = Shot("008-page-129-shown.png");
    std::vector<ProgressBar> bars = FindProgressBars(copied, CaptionOf(copied, "008"));
    ASSERT_EQ(bars.size(), 2u) << "the overall bar above the file bar";
    const std::string& transcript = TheUpdate().run.out;
    EXPECT_EQ(LastPosition(transcript, kOverallProgress), 100);
    EXPECT_NEAR(bars[0].filled, LastPosition(transcript, kOverallProgress) / 100.0, 0.02);
    EXPECT_NEAR(bars[1].filled, LastPosition(transcript, kFileProgress) / 100.0, 0.02);
    EXPECT_LT(bars[1].filled, 1.0) << "the file bar shows the share copied before the last chunk";
    EXPECT_LT(bars[0].rows.bottom, bars[1].rows.top);
}

// Until the files are on the handheld the page has no close box; then a button with a cross
// (Wine's marlett glyph, not a letter from a missing font) at the caption's right end.
TEST_F(SetupExePictures, ProgressPageGainsItsCloseBoxOnceTheFilesAreCopied) {
    const Picture& opened = Shot("007-page-129-shown.png");
    EXPECT_FALSE(FindCloseBoxGlyph(opened, CaptionOf(opened, "007")).has_value());
    for (const char* name : {"008-page-129-shown.png", "010-page-129-closing.png"}) {
        SCOPED_TRACE(name);
        const Picture& picture = Shot(name);
        std::optional<CaptionGlyph> glyph = FindCloseBoxGlyph(picture, CaptionOf(picture, name));
        EXPECT_TRUE(IsCloseBoxCross(glyph));
        if (glyph) {
            EXPECT_GT(glyph->left, picture.width * 9 / 10) << "at the caption's right end";
        }
    }
}

// In windows as without them, the exit status says how the wizard ended: here, no handheld.
TEST(SetupExeInWindows, NoHandheldEndsWithItsOwnStatusAfterTheBox) {
    ASSERT_NE(std::getenv("TOVA_SETUP_EXE"), nullptr);
    SetupProgram setup(TestFolder("program"));
    setup.AddPackage(Package{});
    // Port 1 is never served on this machine's loopback.
    WindowedRun result = RunInWindows(setup, "127.0.0.1:1", false);
    ASSERT_EQ(result.problem, "");
    EXPECT_EQ(result.run.exitCode, kSetupNoHandheld) << result.run.out << result.run.err;
    EXPECT_TRUE(Says(result.run, "message box \"Caution\""));
    EXPECT_EQ(result.names, std::vector<std::string>{"001-box-caution.png"});
}

TEST_F(SetupExePictures, UpdateCompleteBoxIsDrawn) {
    const Picture& box = Shot("009-box-129-update-complete.png");
    const Picture& page = Shot("008-page-129-shown.png");
    Caption caption = CaptionOf(box, "009");
    EXPECT_LT(box.height, page.height) << "a box, not a page";
    EXPECT_GT(DarkPixels(box, {caption.rows.top, caption.rows.bottom}), 30) << "no caption text";
    EXPECT_GT(DarkPixels(box, {caption.rows.bottom + 1, box.height - 1}), 100) << "no message or button text";
    EXPECT_TRUE(IsCloseBoxCross(FindCloseBoxGlyph(box, caption)));
}

}  // namespace
}  // namespace e2e
