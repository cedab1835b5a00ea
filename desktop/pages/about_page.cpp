#include "pages/about_page.h"

#include "ui/resources.h"

AboutPage::AboutPage() : ui::Page(ui::IDD_ABOUTBOX) {}
