// The device information page (template 130): finds the ROM package for the handheld's
// model, reads the handheld's DeviceInfo, records whether the update may go ahead in the
// flags of desktop/pages/device_flags.h and shows model, ROM version and language in red. It never
// refuses by itself; Next is enabled whatever the checks found.
#pragma once

#include <cstdint>
#include <string>

#include "format/rom_package_header.h"
#include "format/rom_package_key.h"
#include "shared/device_info.h"
#include "platform/ui/page.h"

// Fires once, 100 ms after the page opens, to evaluate the handheld.
inline constexpr ui::UINT IDT_EVALUATE_DEVICE = 200;
inline constexpr ui::UINT kEvaluateDelayMs = 100;

// The three lines the page shows for a handheld.
struct DeviceLines {
    std::string model;
    std::string romVersion;
    std::string language;
};

// Sets g_bRefuse, g_bLanguageMismatch and g_bSameVersion for a handheld and a descrambled
// package header. Only ever sets flags; never clears one.
void CheckDevice(const DeviceInfo& info, const uint8_t header[kRomPackageHeaderBytes]);
DeviceLines DescribeDevice(const DeviceInfo& info);

class DeviceInfoPage : public ui::Page {
public:
    DeviceInfoPage();

    void OnInitDialog() override;
    void OnTimer(ui::UINT timerId) override;
    void OnCommand(int controlId) override;
    void OnClose() override;

    // Copies the service library, reads DeviceInfo, runs the checks and shows the lines.
    // With no package found it closes the page as Cancel; a failed copy or query leaves the
    // lines hidden and Next disabled.
    void EvaluateDevice();

    // The build of the package the page found (0 before it found one).
    int32_t PackageBuildFound() const { return packageFound_ ? PackageBuild(header_) : 0; }

private:
    RomPackageKey key_{};
    int packageFound_ = 0;
    uint8_t header_[kRomPackageHeaderBytes] = {};
    int infoShown_ = 0;
};
