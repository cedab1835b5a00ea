// A folder of this fuzzing process's own for the files a target hands to code that reads
// paths. In memory (/dev/shm) where the machine has it, since every input is written there.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <string>

namespace fuzz {

class ScratchFolder {
public:
    ScratchFolder() {
        std::filesystem::path base = std::filesystem::exists("/dev/shm")
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path();
        RemoveLeftovers(base);
        path_ = base / ("tova-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }

    // Writes the bytes to `name` in the folder, replacing what was there.
    std::filesystem::path Write(const std::string& name, const uint8_t* data, size_t size) const {
        auto file = path_ / name;
        std::FILE* out = std::fopen(file.c_str(), "wb");
        if (out == nullptr) std::abort();
        if (size > 0 && std::fwrite(data, 1, size, out) != size) std::abort();
        std::fclose(out);
        return file;
    }

private:
    // A run that found a crash ends without tidying up: its folder goes when the next starts.
    static void RemoveLeftovers(const std::filesystem::path& base) {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(base, ignored)) {
            std::string name = entry.path().filename().string();
            if (name.rfind("tova-fuzz-", 0) != 0) continue;
            long pid = std::strtol(name.c_str() + 10, nullptr, 10);
            if (pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
                std::filesystem::remove_all(entry.path(), ignored);
        }
    }

    std::filesystem::path path_;
};

// One per process, removed at exit.
inline const ScratchFolder& Scratch() {
    static ScratchFolder folder;
    return folder;
}

}  // namespace fuzz
