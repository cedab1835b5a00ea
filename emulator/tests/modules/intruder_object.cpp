// A host shared object that is none of the build's modules, as someone on the link might
// write into the handheld's store. Loading it at all runs its constructor, which leaves a
// marker file at the path in TOVA_INTRUDER_MARKER: a test that finds no marker knows the
// object was never given to the host's loader. Its exports look like a program's and a
// service library's, so that only the loader can stop it.
#include <cstdio>
#include <cstdlib>

namespace {

__attribute__((constructor)) void LeaveMarker() {
    const char* marker = std::getenv("TOVA_INTRUDER_MARKER");
    if (marker == nullptr) return;
    if (std::FILE* f = std::fopen(marker, "w")) {
        std::fputs("host code ran", f);
        std::fclose(f);
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int FlasherMain(void*, void*, char16_t*, int) {
    return 0;
}

extern "C" __attribute__((visibility("default"))) long ColdReset(unsigned long, unsigned char*,
                                                                 unsigned long*, unsigned char**,
                                                                 void*) {
    return 0;
}
