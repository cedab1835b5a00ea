// setup: the ROM update wizard. It takes no command line. With TOVA_UI=unattended it runs
// on the host without a screen, pressing each page's go-on button and answering every
// message box with OK, and prints what happened to standard output.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "pages/update_worker.h"
#include "ui/driver.h"
#include "ui/headless_host.h"
#include "wizard_app.h"

#if TOVA_SETUP_WITH_QT
#include "ui/qt_host.h"
#endif

namespace {

int RunUnattended() {
    ui::HeadlessUiHost host(std::make_unique<ui::UnattendedDriver>());
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    host.GetTranscript().EchoTo(stdout);
    WizardApp app(host);
    app.RunWizard();
    host.GetTranscript().EchoTo(nullptr);
    return 0;
}

int RunWindowed(int& argc, char** argv) {
#if TOVA_SETUP_WITH_QT
    if (!ui::QtDisplayAvailable()) {
        std::fprintf(stderr,
                     "setup: no display to show the wizard on (DISPLAY, WAYLAND_DISPLAY and "
                     "QT_QPA_PLATFORM are unset); run it where a display exists, or with "
                     "TOVA_UI=unattended\n");
        return 1;
    }
    std::unique_ptr<ui::UiHost> host = ui::CreateQtUiHost(argc, argv);
    WizardApp app(*host);
    app.RunWizard();
    return 0;
#else
    std::fprintf(stderr,
                 "setup: this build has no windowed dialog host; run it with "
                 "TOVA_UI=unattended\n");
    return 1;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) std::fprintf(stderr, "setup: takes no command-line arguments; ignoring them\n");

    const char* mode = std::getenv("TOVA_UI");
    int status;
    if (mode && std::strcmp(mode, "unattended") == 0) {
        status = RunUnattended();
    } else if (mode && *mode && std::strcmp(mode, "qt") != 0) {
        std::fprintf(stderr, "setup: unknown TOVA_UI value \"%s\" (use \"unattended\", or leave it unset)\n",
                     mode);
        return 2;
    } else {
        status = RunWindowed(argc, argv);
    }

    std::fflush(stdout);
    // An update worker abandoned by the progress page may still be inside a remote call;
    // ending without running static destructors keeps it from meeting torn-down globals.
    if (!WaitForUpdateWorkers(0)) std::_Exit(status);
    return status;
}
