#include "desktop/pages/refusal_page.h"

#include "desktop/device/service_client.h"
#include "desktop/pages/device_flags.h"
#include "platform/ui/dialog_host.h"
#include "platform/ui/string_table.h"

std::string RefusalReasons(const DeviceInfo& info) {
    std::string reasons;
    if (info.acOnline == 0) reasons += ui::LoadString(ui::IDS_REASON_AC);
    if (info.batteryPercent < kMinimumBatteryPercent) reasons += ui::LoadString(ui::IDS_REASON_BATTERY);
    if (g_bLanguageMismatch.load() != 0) reasons += ui::LoadString(ui::IDS_REASON_LANGUAGE);
    // A package in another language says nothing about the version, so that reason only
    // stands alone.
    if (g_bSameVersion.load() != 0 && g_bLanguageMismatch.load() == 0)
        reasons += ui::LoadString(ui::IDS_REASON_SAME_VERSION);
    return reasons;
}

RefusalPage::RefusalPage() : ui::Page(ui::IDD_REFUSAL) {}

void RefusalPage::OnInitDialog() {
    DeviceInfo info{};
    if (InvokeFnTOVAInfo(&info) != 0) return;
    Host()->SetItemText(ui::IDC_REASONS, RefusalReasons(info));
}
