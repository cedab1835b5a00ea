#include "desktop/pages/agreement_page.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "desktop/device/link.h"
#include "platform/ui/dialog_host.h"

bool ReadAgreementText(const char* path, char* buffer) {
    std::memset(buffer, 0, AGREEMENT_BUFFER_SIZE);
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    // One byte stays zero, so a file of AGREEMENT_BUFFER_SIZE bytes or more is cut, never
    // written past the buffer.
    std::fread(buffer, 1, AGREEMENT_BUFFER_SIZE - 1, file);
    std::fclose(file);
    return true;
}

AgreementPage::AgreementPage() : ui::Page(ui::IDD_AGREEMENT) {}

void AgreementPage::OnInitDialog() {
    ui::DialogHost& host = *Host();
    host.EnableItem(ui::IDOK, false);
    host.SetTimer(IDT_LINK_POLL, kLinkPollPeriodMs);

    std::vector<char> text(AGREEMENT_BUFFER_SIZE);
    if (!ReadAgreementText(kAgreementFileName, text.data())) return;
    host.SetItemText(ui::IDC_AGREEMENT_TEXT, text.data());
}

void AgreementPage::OnTimer(ui::UINT timerId) {
    if (timerId != IDT_LINK_POLL) return;
    Host()->EnableItem(ui::IDOK, LinkIsUp());
}

void AgreementPage::OnDestroy() { Host()->KillTimer(IDT_LINK_POLL); }
