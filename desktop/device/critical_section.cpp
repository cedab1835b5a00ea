#include "desktop/device/critical_section.h"

#include <cstdio>
#include <cstdlib>

namespace win32 {
namespace {

[[noreturn]] void Misuse(const char* what) {
    std::fprintf(stderr, "fatal: %s on a critical section that is not initialised\n", what);
    std::abort();
}

std::recursive_mutex& Lock(CRITICAL_SECTION* section, const char* what) {
    std::recursive_mutex* lock = section->impl.load(std::memory_order_acquire);
    if (lock == nullptr) Misuse(what);
    return *lock;
}

}  // namespace

void InitializeCriticalSection(CRITICAL_SECTION* section) {
    auto* fresh = new std::recursive_mutex;
    std::recursive_mutex* expected = nullptr;
    if (!section->impl.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel)) {
        delete fresh;
        std::fprintf(stderr, "fatal: InitializeCriticalSection on a section already in use\n");
        std::abort();
    }
}

void EnterCriticalSection(CRITICAL_SECTION* section) {
    Lock(section, "EnterCriticalSection").lock();
}

void LeaveCriticalSection(CRITICAL_SECTION* section) {
    Lock(section, "LeaveCriticalSection").unlock();
}

void DeleteCriticalSection(CRITICAL_SECTION* section) {
    delete section->impl.exchange(nullptr, std::memory_order_acq_rel);
}

}  // namespace win32
