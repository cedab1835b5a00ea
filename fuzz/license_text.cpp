// The agreement page's reading of License.txt: any file, of any length, ends up as a text
// that ends inside the page's buffer.
#include <cstring>
#include <vector>

#include "desktop/pages/agreement_page.h"
#include "scratch_folder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto path = fuzz::Scratch().Write(kAgreementFileName, data, size);
    std::vector<char> text(AGREEMENT_BUFFER_SIZE, 'x');
    if (!ReadAgreementText(path.c_str(), text.data())) std::abort();
    size_t length = strnlen(text.data(), text.size());
    if (length >= AGREEMENT_BUFFER_SIZE) std::abort();
    // What is shown is the file's start, up to its first NUL.
    size_t expected = strnlen(reinterpret_cast<const char*>(data),
                              std::min(size, AGREEMENT_BUFFER_SIZE - 1));
    if (length != expected || std::memcmp(text.data(), data, length) != 0) std::abort();
    return 0;
}
