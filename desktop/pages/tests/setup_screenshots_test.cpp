// setup run as a process with TOVA_SCREENSHOTS, unattended and with no display: the wizard is
// drawn in real windows off screen, every page and message box is pictured in order, and
// standard output carries the same transcript lines as an unattended run without pictures.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "emulator/machine.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/qt/qt_ui_host.h"
#include "qt_test_support.h"
#include "setup_process_fixture.h"

namespace wizard_test {
namespace {

namespace fs = std::filesystem;

const auto* const kApplication = ::testing::AddGlobalTestEnvironment(
    new ui::qt::test_support::QtApplication("setup_screenshots_test"));

std::vector<std::string> FileNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The size in pixels that the windowed host gives a page.
QSize PageSize(int templateId) {
    const ui::DialogTemplate& t = *ui::FindDialogTemplate(templateId);
    QSize base = ui::qt::DialogBaseUnits(ui::qt::TemplateFont(t.fontName, t.fontPoints));
    return QSize(ui::qt::DialogUnitsToPixelsX(t.cx, base), ui::qt::DialogUnitsToPixelsY(t.cy, base));
}

class SetupScreenshots : public SetupProcessTest {};

TEST_F(SetupScreenshots, WholeUpdatePicturesEveryPageAndBoxAndPrintsTheTranscript) {
    StartHandheld();
    PutFullPackage();
    fs::path setup = InstallSetup();
    fs::path shots = WorkFolder() / "pictures" / "wizard";  // made by setup, parents and all

    child::Outcome run = RunSetup(setup, WorkFolder(),
                           {"TOVA_UI=unattended", "TOVA_SCREENSHOTS=pictures/wizard", Endpoint(), Scale()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* line :
         {"page 102: opened \"Vorn Tova Velkor\"", "page 102: user presses 1000 \"Next\"",
          "page 130: text 1017 \"ROM Version : ", "page 134: opened \"Caution\"",
          "page 129: text 1011 \"Copy File...100 %\"",
          "page 129: message box \"Update complete!\"", "page 129: ended with 0"}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
    }
    EXPECT_TRUE(Machine().WaitUntilBooted(600000));
    EXPECT_EQ(Machine().RomBuild(), 0x03280401u) << "the windows did the update";

    // The progress page is shown twice: when it opens, and again when it gains its close box.
    const std::vector<std::string> expected = {
        "001-page-102-shown.png",   "002-page-102-closing.png", "003-page-130-shown.png",
        "004-page-130-closing.png", "005-page-134-shown.png",   "006-page-134-closing.png",
        "007-page-129-shown.png",   "008-page-129-shown.png",   "009-box-129-update-complete.png",
        "010-page-129-closing.png"};
    ASSERT_TRUE(fs::is_directory(shots));
    EXPECT_EQ(FileNames(shots), expected);

    for (const std::string& name : FileNames(shots)) {
        QImageReader reader(QString::fromStdString((shots / name).string()));
        EXPECT_EQ(reader.format(), "png") << name;
        QImage image = reader.read();
        ASSERT_FALSE(image.isNull()) << name << ": " << reader.errorString().toStdString();
        int page = 0;
        if (std::sscanf(name.c_str(), "%*d-page-%d", &page) == 1) {
            EXPECT_EQ(image.size(), PageSize(page)) << name;
        } else {
            EXPECT_GT(image.width(), 100) << name;
            EXPECT_GT(image.height(), 30) << name;
        }
    }
}

TEST_F(SetupScreenshots, FolderThatCannotBeMadeIsRefusedBeforeAnythingRuns) {
    fs::path setup = InstallSetup();
    WriteHostFile(WorkFolder() / "taken", {'x'});
    child::Outcome run = RunSetup(setup, WorkFolder(), {"TOVA_UI=unattended", "TOVA_SCREENSHOTS=taken/wizard"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("cannot make the screenshot folder \"taken/wizard\""), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "") << "no page ran";
    EXPECT_EQ(child::ReadTextFile(WorkFolder() / "taken"), "x");
}

}  // namespace
}  // namespace wizard_test
