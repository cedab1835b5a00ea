#include "pages/caution_page.h"

#include "ui/resources.h"

CautionPage::CautionPage() : ui::Page(ui::IDD_CAUTION) {}
