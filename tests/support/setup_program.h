// setup installed in a program folder of a test's own, beside HARLIX.DLL, Velkor.exe and the
// ROM packages that rompkg makes, and run unattended against a handheld's link.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "program_files.h"

namespace e2e {

struct Package {
    std::string model = "advanced";  // or "basic"
    std::string build = "05260300";  // newer than the factory ROM's 05010100
    std::string language = "EN";
    std::string version = "5.26.B03";

    // The build as the handheld reports it: the eight digits read as hexadecimal.
    uint32_t BuildWord() const { return uint32_t(std::stoul(build, nullptr, 16)); }
};

class SetupProgram {
public:
    // Copies setup and its two companion files from the build into `folder` (setup.exe
    // from TOVA_SETUP_EXE instead when that is set, run by TOVA_SETUP_LAUNCHER).
    explicit SetupProgram(std::filesystem::path folder);

    // Replaces the two companion files with the given build of them (the program folder
    // holds the ARM ones).
    void InstallModules(ModuleCode code);

    // Makes the package with rompkg (once per test program) and puts it in the folder;
    // returns its path there.
    std::filesystem::path AddPackage(const Package& package);
    // Runs setup with TOVA_UI=unattended against `endpoint` ("127.0.0.1:PORT"); its
    // standard output is the transcript.
    child::Outcome RunUnattended(const std::string& endpoint);
    // The same with more of the environment changed (a display, a picture folder).
    child::Outcome RunUnattended(const std::string& endpoint, const child::Environment& more);
    // The same, left running in the background.
    std::unique_ptr<child::ChildProcess> StartUnattended(const std::string& endpoint);

    const std::filesystem::path& Folder() const { return folder_; }
    // The folder setup starts in, where relative paths it is given lead.
    std::filesystem::path WorkFolder() const;

private:
    // The installed setup, behind its launcher when it has one.
    std::vector<std::string> Command() const;
    static child::Environment Unattended(const std::string& endpoint);

    std::filesystem::path folder_;
};

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path, uint64_t offset = 0,
                               uint64_t length = UINT64_MAX);

// The transcript line of a message box owned by `page`, as setup prints it, built from the
// string table's texts for `captionId` and `textId`.
std::string MessageBoxLine(int page, int captionId, int textId);
// The same for a box whose text is given (one filled in from a format).
std::string MessageBoxLine(int page, int captionId, const std::string& text);
// A text of the string table as the transcript quotes it (line feeds as \n).
std::string TranscriptText(int stringId);

}  // namespace e2e
