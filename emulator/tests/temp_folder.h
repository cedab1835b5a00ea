// A fresh folder under the system's temporary folder, removed with everything in it.
#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

namespace tova::testing {

class TempFolder {
public:
    TempFolder() {
        static std::atomic<int> serial{0};
        path_ = std::filesystem::temp_directory_path() /
                ("tova-platform-test-" + std::to_string(::getpid()) + "-" +
                 std::to_string(++serial));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

}  // namespace tova::testing
