#include "desktop/pages/welcome_page.h"

#include "desktop/device/model_flag.h"
#include "desktop/device/service_client.h"
#include "desktop/device/transfer.h"
#include "desktop/pages/about_page.h"
#include "platform/clock/clock.h"
#include "shared/configuration.h"
#include "platform/ui/dialog_host.h"
#include "platform/ui/string_table.h"

namespace {

// Window-menu commands 16 to 31 all open the about box.
constexpr ui::UINT kCommandGroupMask = ~ui::UINT(0xF);

}  // namespace

WelcomePage::WelcomePage() : ui::Page(ui::IDD_WELCOME) {}

void WelcomePage::OnInitDialog() {
    ui::DialogHost& host = *Host();
    std::string_view about = ui::LoadString(ui::IDS_ABOUTBOX);
    if (!about.empty()) host.AppendWindowMenuItem(about, ui::CMD_ABOUT);
    host.SetIcon(ui::IDR_MAINFRAME);

    // A failed copy or query is not an error here: the model keeps its previous value.
    if (CopyServiceLibrary() != 0) return;
    DeviceInfo info{};
    if (InvokeFnTOVAInfo(&info) != 0) return;
    tova::ScaledSleep(2);
    g_bAdvancedModel = info.memoryConfig == kMemoryConfigAdvanced ? 1 : 0;
}

void WelcomePage::OnCommand(int controlId) {
    if (controlId == ui::IDC_NEXT) Host()->EndDialog(ui::IDOK);
    else if (controlId == ui::IDCANCEL) Host()->EndDialog(ui::IDCANCEL);
}

void WelcomePage::OnSysCommand(ui::UINT commandId) {
    if ((commandId & kCommandGroupMask) == ui::CMD_ABOUT) {
        AboutPage about;
        Host()->RunChildPage(about);
        return;
    }
    ui::Page::OnSysCommand(commandId);
}
