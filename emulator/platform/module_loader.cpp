// Loading handheld modules from the object store. Each load works on a private copy of the
// module's file, so that a module replaced in the store is never confused with an image the
// host's loader still holds, and the store file can be rewritten while a copy runs.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>

#include "machine_impl.h"
#include "emulator/arm/elf_image.h"

namespace tova {

namespace fs = std::filesystem;

namespace {

class HostModule final : public LoadedModule {
public:
    HostModule(void* handle, fs::path copy) : handle_(handle), copy_(std::move(copy)) {}
    ~HostModule() override {
        dlclose(handle_);
        std::error_code ec;
        fs::remove(copy_, ec);
    }
    void* Symbol(const char* name) const override { return dlsym(handle_, name); }

private:
    void* handle_;
    fs::path copy_;
};

bool LooksLikeModule(const std::vector<uint8_t>& bytes) {
    static const uint8_t kElfMagic[4] = {0x7F, 'E', 'L', 'F'};
    return bytes.size() >= 4 && std::memcmp(bytes.data(), kElfMagic, 4) == 0;
}

// One folder per process for the private copies, removed when the process ends (a copy
// still mapped by then stays usable: the loader holds it open).
class PrivateCopies {
public:
    PrivateCopies()
        : folder_(fs::temp_directory_path() / ("tova-modules-" + std::to_string(::getpid()))) {
        std::error_code ec;
        fs::create_directories(folder_, ec);
    }
    ~PrivateCopies() {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    const fs::path& Folder() const { return folder_; }

private:
    fs::path folder_;
};

fs::path PrivateCopyFolder() {
    static const PrivateCopies copies;
    return copies.Folder();
}

}  // namespace

std::unique_ptr<LoadedModule> MachineImpl::LoadModule(std::u16string_view handheldPath,
                                                      std::string* error) {
    auto fail = [&](std::string why) -> std::unique_ptr<LoadedModule> {
        if (error) *error = std::move(why);
        return nullptr;
    };
    if (!SplitHandheldPath(handheldPath)) return fail("invalid handheld path");
    auto bytes = store_.ReadFile(handheldPath);
    if (!bytes) return fail(ToUtf8(handheldPath) + " does not exist");
    if (!LooksLikeModule(*bytes)) return fail(ToUtf8(handheldPath) + " is not a loadable module");
    if (arm::ElfImage::SaysArm(*bytes)) {
        if (!Config().armModules)
            return fail(ToUtf8(handheldPath) + " is built for the handheld's CPU, which this handheld does not run");
        return LoadCpuModule(handheldPath, *bytes, error);
    }
    static std::atomic<uint64_t> serial{0};
    fs::path copy = PrivateCopyFolder() / ("module-" + std::to_string(++serial) + ".so");
    {
        std::ofstream out(copy, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes->data()),
                  static_cast<std::streamsize>(bytes->size()));
        if (!out) return fail("cannot stage " + ToUtf8(handheldPath) + " for loading");
    }
    void* handle = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        std::error_code ec;
        fs::remove(copy, ec);
        return fail(ToUtf8(handheldPath) + " cannot be loaded: " + (why ? why : "unknown error"));
    }
    return std::make_unique<HostModule>(handle, copy);
}

std::unique_ptr<LoadedModule> MachineImpl::LoadLibraryModule(std::u16string_view name,
                                                             std::string* error) {
    std::u16string path = u"\\Windows\\";
    path += name;
    path += u".DLL";
    return LoadModule(path, error);
}

}  // namespace tova
