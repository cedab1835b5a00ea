// The welcome page (template 102): greets the user and, while it opens, copies the device
// service library to the handheld and reads DeviceInfo once to set g_bAdvancedModel, which
// chooses the package the device information page looks for. Its window menu carries the
// about item.
#pragma once

#include "platform/ui/page.h"

class WelcomePage : public ui::Page {
public:
    WelcomePage();

    void OnInitDialog() override;
    void OnCommand(int controlId) override;
    void OnSysCommand(ui::UINT commandId) override;
};
