#include "desktop/pages/caution_page.h"

#include "platform/ui/resources.h"

CautionPage::CautionPage() : ui::Page(ui::IDD_CAUTION) {}
