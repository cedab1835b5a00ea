// The about box (template 100), opened from the welcome page's window menu.
#pragma once

#include "platform/ui/page.h"

class AboutPage : public ui::Page {
public:
    AboutPage();
};
