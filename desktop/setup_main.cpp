// setup: the ROM update wizard. It takes no command line; its exit status says how the
// update ended (WizardOutcome). With TOVA_UI=unattended it runs
// on the host without a screen, pressing each page's go-on button and answering every
// message box with OK, and prints what happened to standard output.
// TOVA_SCREENSHOTS=DIR keeps a PNG of every page and message box of the windows in DIR;
// unattended runs then draw real windows (off screen where there is no display), driven
// and reported as without it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "desktop/pages/update_worker.h"
#include "platform/ui/driver.h"
#include "platform/ui/headless_host.h"
#include "wizard_app.h"

#if TOVA_SETUP_WITH_QT
#include "platform/ui/qt_host.h"
#include "platform/ui/qt/qt_host_options.h"
#endif
#if TOVA_SETUP_WITH_WIN32
#include "platform/ui/win32/win32_host.h"
#endif

namespace {

// The transcript reaches whoever watches it line by line. The Windows C library has no
// line buffering (it takes _IOLBF as full buffering), so there it goes out unbuffered.
void EchoLineByLine() {
#ifdef _WIN32
    std::setvbuf(stdout, nullptr, _IONBF, 0);
#else
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
#endif
}

int RunUnattended() {
    ui::HeadlessUiHost host(std::make_unique<ui::UnattendedDriver>());
    EchoLineByLine();
    host.GetTranscript().EchoTo(stdout);
    WizardApp app(host);
    app.RunWizard();
    host.GetTranscript().EchoTo(nullptr);
    return int(app.Outcome());
}

// The folder named by TOVA_SCREENSHOTS, or empty when no screenshots are wanted.
std::string ScreenshotFolder() {
    const char* folder = std::getenv("TOVA_SCREENSHOTS");
    return folder ? folder : "";
}

#if TOVA_SETUP_WITH_QT || TOVA_SETUP_WITH_WIN32
bool MakeScreenshotFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!error && std::filesystem::is_directory(folder, error)) return true;
    std::fprintf(stderr, "setup: cannot make the screenshot folder \"%s\" (TOVA_SCREENSHOTS): %s\n",
                 folder.c_str(), error ? error.message().c_str() : "not a folder");
    return false;
}
#endif

#if TOVA_SETUP_WITH_WIN32
int RunUnattendedInWindows(int& argc, char** argv, const std::string& screenshots) {
    if (!MakeScreenshotFolder(screenshots)) return 2;
    ui::UnattendedDriver driver;
    ui::Transcript transcript;
    EchoLineByLine();
    transcript.EchoTo(stdout);
    WizardOutcome outcome;
    {
        std::unique_ptr<ui::UiHost> host = ui::CreateWin32UiHost({&driver, &transcript, screenshots});
        WizardApp app(*host);
        app.RunWizard();
        outcome = app.Outcome();
    }
    transcript.EchoTo(nullptr);
    return int(outcome);
}
#elif TOVA_SETUP_WITH_QT
int RunUnattendedInWindows(int& argc, char** argv, const std::string& screenshots) {
    if (!MakeScreenshotFolder(screenshots)) return 2;
    if (!ui::QtDisplayAvailable()) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ui::UnattendedDriver driver;
    ui::Transcript transcript;
    EchoLineByLine();
    transcript.EchoTo(stdout);
    WizardOutcome outcome;
    {
        std::unique_ptr<ui::UiHost> host = ui::CreateQtUiHost(argc, argv, {&driver, &transcript, screenshots});
        WizardApp app(*host);
        app.RunWizard();
        outcome = app.Outcome();
    }
    transcript.EchoTo(nullptr);
    return int(outcome);
}
#endif

int RunWindowed(int& argc, char** argv) {
#if TOVA_SETUP_WITH_WIN32
    ui::Win32HostOptions options;
    options.screenshotFolder = ScreenshotFolder();
    if (!options.screenshotFolder.empty() && !MakeScreenshotFolder(options.screenshotFolder)) return 2;
    std::unique_ptr<ui::UiHost> host = ui::CreateWin32UiHost(options);
    WizardApp app(*host);
    app.RunWizard();
    return int(app.Outcome());
#elif TOVA_SETUP_WITH_QT
    if (!ui::QtDisplayAvailable()) {
        std::fprintf(stderr,
                     "setup: no display to show the wizard on (DISPLAY, WAYLAND_DISPLAY and "
                     "QT_QPA_PLATFORM are unset); run it where a display exists, or with "
                     "TOVA_UI=unattended\n");
        return 2;
    }
    ui::QtHostOptions options;
    options.screenshotFolder = ScreenshotFolder();
    if (!options.screenshotFolder.empty() && !MakeScreenshotFolder(options.screenshotFolder)) return 2;
    std::unique_ptr<ui::UiHost> host = ui::CreateQtUiHost(argc, argv, options);
    WizardApp app(*host);
    app.RunWizard();
    return int(app.Outcome());
#else
    std::fprintf(stderr,
                 "setup: this build has no windowed dialog host; run it with "
                 "TOVA_UI=unattended\n");
    return 2;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) std::fprintf(stderr, "setup: takes no command-line arguments; ignoring them\n");

    const char* mode = std::getenv("TOVA_UI");
    int status;
    if (mode && std::strcmp(mode, "unattended") == 0) {
        const std::string screenshots = ScreenshotFolder();
#if TOVA_SETUP_WITH_QT || TOVA_SETUP_WITH_WIN32
        status = screenshots.empty() ? RunUnattended() : RunUnattendedInWindows(argc, argv, screenshots);
#else
        if (!screenshots.empty())
            std::fprintf(stderr, "setup: this build has no windowed dialog host; TOVA_SCREENSHOTS is "
                                 "ignored and no wizard screenshots are taken\n");
        status = RunUnattended();
#endif
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
