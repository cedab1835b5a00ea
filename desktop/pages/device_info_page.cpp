#include "desktop/pages/device_info_page.h"

#include <cstdio>

#include "desktop/device/link.h"
#include "desktop/device/model_flag.h"
#include "desktop/device/rom_package.h"
#include "format/rom_package_header.h"
#include "desktop/device/service_client.h"
#include "desktop/device/transfer.h"
#include "handheld_text.h"
#include "desktop/pages/device_flags.h"
#include "desktop/pages/language_table.h"
#include "shared/configuration.h"
#include "platform/ui/dialog_host.h"
#include "platform/ui/string_table.h"

namespace {

constexpr int kInfoLines[] = {ui::IDC_MODEL_TEXT, ui::IDC_ROM_VERSION_TEXT, ui::IDC_LANGUAGE_TEXT};

bool IsAdvanced(const DeviceInfo& info) { return info.memoryConfig == kMemoryConfigAdvanced; }

}  // namespace

void CheckDevice(const DeviceInfo& info, const uint8_t header[kRomPackageHeaderBytes]) {
    if (info.acOnline == 0) g_bRefuse = 1;
    if (info.batteryPercent < kMinimumBatteryPercent) g_bRefuse = 1;

    if (const LanguageRow* row = FindLanguageRow(info.languageId)) {
        char packageLanguage[3];
        PackageLanguage(header, packageLanguage);
        if (packageLanguage[0] != row->code[0] || packageLanguage[1] != row->code[1]) {
            g_bLanguageMismatch = 1;
            g_bRefuse = 1;
        }
    }

    g_bAdvancedModel = IsAdvanced(info) ? 1 : 0;

    if (IsPackageNewer(info.romBuild, PackageBuild(header)) == 0) {
        g_bSameVersion = 1;
        g_bRefuse = 1;
    }
}

DeviceLines DescribeDevice(const DeviceInfo& info) {
    DeviceLines lines;
    lines.model = std::string(ui::LoadString(ui::IDS_MODEL)) +
                  std::string(ui::LoadString(IsAdvanced(info) ? ui::IDS_MODEL_ADVANCED
                                                              : ui::IDS_MODEL_BASIC));
    lines.romVersion = std::string(ui::LoadString(ui::IDS_ROM_VERSION));
    lines.language = std::string(ui::LoadString(ui::IDS_LANGUAGE));
    if (const LanguageRow* row = FindLanguageRow(info.languageId)) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, row->suffixFormat, unsigned(info.romBuild));
        lines.romVersion += HandheldText(info.romVersionText, std::size(info.romVersionText));
        lines.romVersion += suffix;
        lines.language += std::string(ui::LoadString(row->nameStringId));
    }
    return lines;
}

DeviceInfoPage::DeviceInfoPage() : ui::Page(ui::IDD_DEVICE_INFO) {}

void DeviceInfoPage::OnInitDialog() {
    ui::DialogHost& host = *Host();
    host.EnableItem(ui::IDC_INFO_NEXT, false);
    host.SetIcon(ui::IDR_MAINFRAME);
    for (int line : kInfoLines) host.SetItemTextColour(line, ui::RGB(255, 0, 0));
    key_ = MakeRomPackageKey();
    infoShown_ = 0;
    packageFound_ = 0;
    // The search uses the model the welcome page found; this page's own reading comes later.
    packageFound_ = FindRomPackage(key_, header_);
    host.SetTimer(IDT_EVALUATE_DEVICE, kEvaluateDelayMs);
}

void DeviceInfoPage::OnTimer(ui::UINT timerId) {
    if (timerId != IDT_EVALUATE_DEVICE) return;
    Host()->KillTimer(IDT_EVALUATE_DEVICE);
    if (LinkIsUp() && infoShown_ == 0) {
        EvaluateDevice();
        infoShown_ = 1;
    }
}

void DeviceInfoPage::EvaluateDevice() {
    ui::DialogHost& host = *Host();
    if (packageFound_ == 0) {
        host.PostMessage(ui::WM_CLOSE, 0, 0);
        return;
    }
    if (CopyServiceLibrary() != 0) return;
    DeviceInfo info{};
    if (InvokeFnTOVAInfo(&info) != 0) return;

    CheckDevice(info, header_);

    DeviceLines lines = DescribeDevice(info);
    host.SetItemText(ui::IDC_SYSTEM_INFO_GROUP, ui::LoadString(ui::IDS_SYSTEM_INFORMATION));
    host.SetItemText(ui::IDC_MODEL_TEXT, lines.model);
    host.SetItemText(ui::IDC_ROM_VERSION_TEXT, lines.romVersion);
    host.SetItemText(ui::IDC_LANGUAGE_TEXT, lines.language);
    for (int line : kInfoLines) host.ShowItem(line, true);
    host.EnableItem(ui::IDC_INFO_NEXT, true);
}

void DeviceInfoPage::OnCommand(int controlId) {
    if (controlId == ui::IDC_INFO_NEXT) Host()->EndDialog(ui::IDOK);
    else if (controlId == ui::IDC_INFO_CANCEL) Host()->EndDialog(ui::IDCANCEL);
}

void DeviceInfoPage::OnClose() { Host()->EndDialog(ui::IDCANCEL); }
