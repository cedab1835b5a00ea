#include "setup_program.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>

#include "program_files.h"
#include "platform/ui/string_table.h"
#include "platform/ui/transcript.h"

namespace e2e {
namespace fs = std::filesystem;

namespace {

// Each package is made once per test program; the tests copy it into their own folders.
fs::path MadePackage(const Package& p) {
    static std::mutex mutex;
    static std::map<std::string, fs::path> made;
    std::lock_guard lock(mutex);
    std::string key = p.model + "-" + p.build + "-" + p.language + "-" + p.version;
    if (auto it = made.find(key); it != made.end()) return it->second;

    fs::path folder = fs::temp_directory_path() / ("tova-e2e-" + std::to_string(::getpid())) / "packages" / key;
    fs::create_directories(folder);
    child::Outcome made_ = child::Run({BuiltProgram("rompkg").string(), "make", "--model", p.model, "--build",
                                       p.build, "--language", p.language, "--version", p.version, "--out",
                                       folder.string()},
                                      folder);
    EXPECT_EQ(made_.exitCode, 0) << made_.out << made_.err;
    fs::path file;
    for (const auto& entry : fs::directory_iterator(folder)) file = entry.path();
    EXPECT_FALSE(file.empty()) << "rompkg made no package in " << folder;
    return made[key] = file;
}

// TOVA_SETUP_EXE names another build of setup (the Windows one) to install instead, and
// TOVA_SETUP_LAUNCHER the program that runs it (Wine).
std::string FromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string InstalledName() { return FromEnvironment("TOVA_SETUP_EXE").empty() ? "setup" : "setup.exe"; }

}  // namespace

SetupProgram::SetupProgram(fs::path folder) : folder_(std::move(folder)) {
    fs::create_directories(folder_);
    InstallModules(ModuleCode::kArm);
    std::string other = FromEnvironment("TOVA_SETUP_EXE");
    fs::copy_file(other.empty() ? BuiltProgram("setup") : fs::path(other), folder_ / InstalledName(),
                  fs::copy_options::overwrite_existing);
    // TOVA_SETUP_COMPANION: one more file beside setup (a stand-in rapi.dll).
    std::string companion = FromEnvironment("TOVA_SETUP_COMPANION");
    if (!companion.empty())
        fs::copy_file(companion, folder_ / fs::path(companion).filename(), fs::copy_options::overwrite_existing);
}

void SetupProgram::InstallModules(ModuleCode code) {
    for (const char* name : {"HARLIX.DLL", "Velkor.exe"})
        fs::copy_file(BuiltModule(code, name), folder_ / name, fs::copy_options::overwrite_existing);
}

std::vector<std::string> SetupProgram::Command() const {
    std::vector<std::string> command;
    std::string launcher = FromEnvironment("TOVA_SETUP_LAUNCHER");
    if (!launcher.empty()) command.push_back(launcher);
    command.push_back((folder_ / InstalledName()).string());
    return command;
}

fs::path SetupProgram::AddPackage(const Package& package) {
    fs::path made = MadePackage(package);
    fs::path installed = folder_ / made.filename();
    fs::copy_file(made, installed, fs::copy_options::overwrite_existing);
    return installed;
}

// Run from a folder of its own: the agreement file is looked for in the current folder.
fs::path SetupProgram::WorkFolder() const {
    fs::path work = folder_.parent_path() / "setup-work";
    fs::create_directories(work);
    return work;
}

// The endpoint goes in TOVA_RAPI, or in TOVA_SETUP_ENDPOINT_VARIABLE's variable (TOVA_RAPI
// then unset) for a setup that reaches the handheld through a library of its own.
child::Environment SetupProgram::Unattended(const std::string& endpoint) {
    std::string variable = FromEnvironment("TOVA_SETUP_ENDPOINT_VARIABLE");
    child::Environment environment{
        {"TOVA_UI=unattended", std::string("TOVA_TIME_SCALE=") + kSetupTimeScale},
        {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "TOVA_SCREENSHOTS"}};
    if (variable.empty()) variable = "TOVA_RAPI";
    else environment.unset.push_back("TOVA_RAPI");
    environment.set.push_back(variable + "=" + endpoint);
    return environment;
}

child::Outcome SetupProgram::RunUnattended(const std::string& endpoint) {
    return child::Run(Command(), WorkFolder(), Unattended(endpoint));
}

child::Outcome SetupProgram::RunUnattended(const std::string& endpoint, const child::Environment& more) {
    child::Environment environment = Unattended(endpoint);
    for (const std::string& name : more.unset) environment.unset.push_back(name);
    // One entry for each name: a second would be shadowed by the first.
    for (const std::string& entry : more.set) {
        std::string name = entry.substr(0, entry.find('='));
        std::erase_if(environment.set, [&](const std::string& e) { return e.substr(0, e.find('=')) == name; });
        environment.set.push_back(entry);
    }
    return child::Run(Command(), WorkFolder(), environment);
}

std::unique_ptr<child::ChildProcess> SetupProgram::StartUnattended(const std::string& endpoint) {
    fs::path work = WorkFolder();
    return std::make_unique<child::ChildProcess>(Command(), work,
                                                 Unattended(endpoint), work / "setup.out", work / "setup.err");
}

std::vector<uint8_t> ReadBytes(const fs::path& path, uint64_t offset, uint64_t length) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(std::streamoff(offset));
    std::vector<uint8_t> bytes;
    char buffer[65536];
    while (length > 0 && in) {
        in.read(buffer, std::streamsize(std::min<uint64_t>(sizeof buffer, length)));
        bytes.insert(bytes.end(), buffer, buffer + in.gcount());
        length -= uint64_t(in.gcount());
    }
    return bytes;
}

std::string MessageBoxLine(int page, int captionId, int textId) {
    return MessageBoxLine(page, captionId, std::string(ui::LoadString(textId)));
}

std::string MessageBoxLine(int page, int captionId, const std::string& text) {
    ui::TranscriptEntry entry{ui::EntryKind::MessageBox};
    entry.page = page;
    entry.text = std::string(ui::LoadString(captionId));
    entry.detail = text;
    return ui::FormatEntry(entry);
}

std::string TranscriptText(int stringId) {
    ui::TranscriptEntry entry{ui::EntryKind::ItemText};
    entry.text = std::string(ui::LoadString(stringId));
    std::string line = ui::FormatEntry(entry);  // text 0 "..."
    return line.substr(line.find('"') + 1, line.size() - line.find('"') - 2);
}

}  // namespace e2e
