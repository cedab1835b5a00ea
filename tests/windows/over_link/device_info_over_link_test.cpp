// The device information page of the Windows build on the headless host, reading a handheld
// run by tova-emu on Linux through the service library it copies there.
#include <memory>

#include "desktop/pages/device_flags.h"
#include "desktop/pages/device_info_page.h"
#include "external_handheld.h"
#include "platform/clock/clock.h"
#include "platform/ui/driver.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/resources.h"

namespace over_link {
namespace {

class DeviceInfoOverLink : public ExternalHandheldTest {};

TEST_F(DeviceInfoOverLink, ShowsTheHandheldInRedAndLetsTheUpdateGoAhead) {
    tova::SetTimeScale(0.01);
    g_bRefuse = 0, g_bLanguageMismatch = 0, g_bSameVersion = 0;
    ui::HeadlessUiHost host(std::make_unique<ui::UnattendedDriver>());
    DeviceInfoPage page;
    EXPECT_EQ(host.RunPage(page), ui::IDOK) << "Next pressed once the handheld was read";
    EXPECT_EQ(page.PackageBuildFound(), 5260300) << "the package rompkg made, build 05260300";

    std::optional<ui::DialogState> state = host.LastState(ui::IDD_DEVICE_INFO);
    ASSERT_TRUE(state);
    // The factory ROM that tova-emu create puts on an advanced handheld, in English.
    EXPECT_EQ(state->Find(ui::IDC_MODEL_TEXT)->text, "Model : Vorn Tova Q7 Advanced");
    EXPECT_EQ(state->Find(ui::IDC_ROM_VERSION_TEXT)->text, "ROM Version : 5.01.01(05010100EN)");
    EXPECT_EQ(state->Find(ui::IDC_LANGUAGE_TEXT)->text, "Language : English");
    for (int line : {ui::IDC_MODEL_TEXT, ui::IDC_ROM_VERSION_TEXT, ui::IDC_LANGUAGE_TEXT}) {
        EXPECT_TRUE(state->Find(line)->visible) << line;
        EXPECT_EQ(state->Find(line)->textColour, ui::RGB(255, 0, 0)) << line;
    }
    EXPECT_EQ(g_bRefuse.load(), 0) << "an older English ROM on an advanced handheld on AC";
    EXPECT_EQ(g_bLanguageMismatch.load(), 0);
    EXPECT_EQ(g_bSameVersion.load(), 0);
}

}  // namespace
}  // namespace over_link
