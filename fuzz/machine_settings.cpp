// Reading a state folder's machine.conf: refused with StateError (naming the file and the
// line) or read whole; settings that were read write out to a file that reads back to the
// same text.
#include <fstream>
#include <iterator>
#include <string>

#include "scratch_folder.h"
#include "state_folder.h"
#include "emulator/state_error.h"

namespace {

std::string ReadBack(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), {}};
}

const std::filesystem::path& Folder(const char* name) {
    static std::filesystem::path folders[2];
    auto& folder = folders[name[0] == 'w'];
    if (folder.empty()) {
        folder = fuzz::Scratch().Path() / name;
        std::filesystem::create_directories(folder);
    }
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto& read = Folder("read");
    const auto& written = Folder("written");
    fuzz::Scratch().Write("read/" + std::string(tova::state_files::kConfig), data, size);
    tova::StoredState state;
    try {
        state = tova::ReadStoredState(read);
    } catch (const tova::StateError& e) {
        if (std::string(e.what()).find(tova::state_files::kConfig) == std::string::npos) std::abort();
        return 0;
    }
    tova::WriteStoredState(written, state);
    std::string first = ReadBack(written / tova::state_files::kConfig);
    tova::WriteStoredState(written, tova::ReadStoredState(written));
    if (ReadBack(written / tova::state_files::kConfig) != first) std::abort();
    return 0;
}
