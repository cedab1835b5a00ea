#include "desktop/pages/about_page.h"

#include "platform/ui/resources.h"

AboutPage::AboutPage() : ui::Page(ui::IDD_ABOUTBOX) {}
