// The agreement page (template 133): shows "License.txt" from the current directory; its
// "Agree" button is usable only while the handheld is linked.
#pragma once

#include <cstddef>

#include "platform/ui/page.h"

// The agreement text with its terminating zero byte; a longer file is cut to fit.
inline constexpr size_t AGREEMENT_BUFFER_SIZE = 10240;
inline constexpr char kAgreementFileName[] = "License.txt";

// Follows the link: "Agree" is enabled on each tick that finds the handheld linked.
inline constexpr ui::UINT IDT_LINK_POLL = 400;
inline constexpr ui::UINT kLinkPollPeriodMs = 1000;

// Reads at most AGREEMENT_BUFFER_SIZE - 1 bytes of `path` into `buffer` (which must hold
// AGREEMENT_BUFFER_SIZE bytes), zero-filled first, so the text always ends inside it. False
// when the file cannot be opened; the buffer then holds the empty text.
bool ReadAgreementText(const char* path, char* buffer);

class AgreementPage : public ui::Page {
public:
    AgreementPage();

    void OnInitDialog() override;
    void OnTimer(ui::UINT timerId) override;
    void OnDestroy() override;
};
