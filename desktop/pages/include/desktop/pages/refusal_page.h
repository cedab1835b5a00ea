// The refusal page (template 136): shown instead of the update when the device information
// page found a reason against it. It lists the reasons afresh: the power reasons from a new
// DeviceInfo, the language and version reasons from the flags.
#pragma once

#include <string>

#include "shared/device_info.h"
#include "platform/ui/page.h"

// The reason list for a fresh DeviceInfo and the current flags, each reason beginning with
// a line break.
std::string RefusalReasons(const DeviceInfo& info);

class RefusalPage : public ui::Page {
public:
    RefusalPage();

    void OnInitDialog() override;
};
