// The caution page (template 134): the last confirmation before the update. "Continue"
// goes on (1); "Cancel", Escape and the close box stop (2).
#pragma once

#include "platform/ui/page.h"

class CautionPage : public ui::Page {
public:
    CautionPage();
};
