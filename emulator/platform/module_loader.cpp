// Loading handheld modules. A module built for the handheld's CPU runs on the emulated CPU
// when the handheld's option says so (cpu_module.cpp). Otherwise modules are host code,
// and a file of the object store (which anything on the link may write) is never given to
// the host's loader: a module in the store runs only when the build's own module of the
// same name, in the host module folder the emulator was started with, has exactly its
// bytes, and then that build file is what is loaded. Nothing is copied, so nothing is left
// behind however the process ends.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "machine_impl.h"
#include "emulator/arm/elf_image.h"

namespace tova {

namespace fs = std::filesystem;

namespace {

class HostModule final : public LoadedModule {
public:
    explicit HostModule(void* handle) : handle_(handle) {}
    ~HostModule() override { dlclose(handle_); }
    void* Symbol(const char* name) const override { return dlsym(handle_, name); }

private:
    void* handle_;
};

bool LooksLikeModule(const std::vector<uint8_t>& bytes) {
    static const uint8_t kElfMagic[4] = {0x7F, 'E', 'L', 'F'};
    return bytes.size() >= 4 && std::memcmp(bytes.data(), kElfMagic, 4) == 0;
}

// Only the handheld's kinds of module: the build folder also holds the build's programs.
bool IsModuleName(std::u16string_view name) {
    if (name.size() < 4) return false;
    std::u16string_view extension = name.substr(name.size() - 4);
    return SameName(extension, u".dll") || SameName(extension, u".exe");
}

// The regular file of `folder` whose name is `name` (the handheld ignores case).
std::optional<fs::path> BuildModuleNamed(const fs::path& folder, std::u16string_view name) {
    if (!IsModuleName(name)) return std::nullopt;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (!entry.is_regular_file(ec) || entry.is_symlink(ec)) continue;
        if (SameName(FromUtf8(entry.path().filename().string()), name)) return entry.path();
    }
    return std::nullopt;
}

// True when the open file holds exactly `expected`.
bool HoldsExactly(int fd, const std::vector<uint8_t>& expected) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<uint64_t>(info.st_size) != expected.size())
        return false;
    std::vector<uint8_t> buffer(64 * 1024);
    size_t at = 0;
    while (at < expected.size()) {
        ssize_t n = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        if (std::memcmp(buffer.data(), expected.data() + at, static_cast<size_t>(n)) != 0) return false;
        at += static_cast<size_t>(n);
    }
    return true;
}

std::string FileName(std::u16string_view handheldPath) {
    size_t slash = handheldPath.rfind(u'\\');
    return ToUtf8(handheldPath.substr(slash == std::u16string_view::npos ? 0 : slash + 1));
}

}  // namespace

void MachineImpl::SetHostModuleFolder(const fs::path& folder) {
    std::lock_guard lock(mutex_);
    hostModuleFolder_ = folder;
}

fs::path MachineImpl::HostModuleFolder() const {
    std::lock_guard lock(mutex_);
    return hostModuleFolder_;
}

std::unique_ptr<LoadedModule> MachineImpl::LoadModule(std::u16string_view handheldPath,
                                                      std::string* error) {
    std::string why;
    bool refused = false;
    auto module = LoadHostModule(handheldPath, &why, &refused);
    if (!module) {
        // A module refused as host code is said where a user sees it: it is why the
        // desktop's call or the start-up program failed.
        if (refused) std::fprintf(stderr, "tova-emu: %s\n", why.c_str());
        RecordDebugLine(u"loader: " + FromUtf8(why));
        if (error) *error = std::move(why);
    }
    return module;
}

std::unique_ptr<LoadedModule> MachineImpl::LoadHostModule(std::u16string_view handheldPath,
                                                          std::string* error, bool* refused) {
    auto fail = [&](std::string why) -> std::unique_ptr<LoadedModule> {
        *error = std::move(why);
        return nullptr;
    };
    auto refuse = [&](std::string why) {
        *refused = true;
        return fail(std::move(why));
    };
    auto parts = SplitHandheldPath(handheldPath);
    if (!parts || parts->empty()) return fail("invalid handheld path");
    const std::string name = ToUtf8(handheldPath);
    auto bytes = store_.ReadFile(handheldPath);
    if (!bytes) return fail(name + " does not exist");
    if (!LooksLikeModule(*bytes)) return fail(name + " is not a loadable module");
    // Code for the handheld's CPU runs inside guest memory, so a file of the store may run
    // there: the handheld's option decides, and the loader checks the image.
    if (arm::ElfImage::SaysArm(*bytes)) {
        if (!Config().armModules)
            return refuse(name + " cannot run: it is built for the handheld's CPU, which this handheld "
                                 "does not run (create it with `tova-emu create STATE --arm-modules on`)");
        auto module = LoadCpuModule(handheldPath, *bytes, error);
        if (!module) *refused = true;
        return module;
    }
    const fs::path folder = HostModuleFolder();
    if (folder.empty())
        return refuse(name + " cannot run: this handheld runs no host code (start it with "
                           "`tova-emu run STATE --host-modules` to run the build's own modules)");
    auto built = BuildModuleNamed(folder, parts->back());
    if (!built)
        return refuse(name + " cannot run: it is not one of the build's modules (" + folder.string() +
                    " holds no module named " + FileName(handheldPath) + ")");
    // The file compared is the file loaded: the loader is given the descriptor.
    int fd = ::open(built->c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(name + " cannot run: " + built->string() + ": " + std::strerror(errno));
    if (!HoldsExactly(fd, *bytes)) {
        ::close(fd);
        return refuse(name + " cannot run: it is not the build's " + built->filename().string() +
                    " (its bytes differ from " + built->string() + ")");
    }
    std::string descriptorPath = "/proc/self/fd/" + std::to_string(fd);
    void* handle = dlopen(descriptorPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    const char* dlError = handle == nullptr ? dlerror() : nullptr;
    ::close(fd);
    if (handle == nullptr)
        return fail(name + " cannot be loaded: " + (dlError ? dlError : "unknown error"));
    return std::make_unique<HostModule>(handle);
}

std::unique_ptr<LoadedModule> MachineImpl::LoadLibraryModule(std::u16string_view name,
                                                             std::string* error) {
    std::u16string path = u"\\Windows\\";
    path += name;
    path += u".DLL";
    return LoadModule(path, error);
}

}  // namespace tova
