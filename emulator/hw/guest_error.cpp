#include "emulator/hw/guest_error.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace tova::hw {

const char* GuestErrorKindName(GuestErrorKind kind) {
    switch (kind) {
        case GuestErrorKind::kUnmapped: return "unmapped";
        case GuestErrorKind::kMisaligned: return "misaligned";
        case GuestErrorKind::kBadWidth: return "bad width";
        case GuestErrorKind::kDeviceAccess: return "refused";
        case GuestErrorKind::kGuestCode: return "guest code";
    }
    return "unknown";
}

std::string Describe(const GuestError& error) {
    char line[160];
    if (error.write) {
        std::snprintf(line, sizeof line, "%s write%u at 0x%08" PRIX32 " value 0x%08" PRIX32,
                      GuestErrorKindName(error.kind), error.width * 8, error.address, error.value);
    } else {
        std::snprintf(line, sizeof line, "%s read%u at 0x%08" PRIX32,
                      GuestErrorKindName(error.kind), error.width * 8, error.address);
    }
    std::string text = line;
    if (!error.device.empty()) text += " (" + error.device + ")";
    if (!error.detail.empty()) text += ": " + error.detail;
    return text;
}

GuestErrorException::GuestErrorException(GuestError error)
    : std::runtime_error("guest error: " + Describe(error)), error_(std::move(error)) {}

void GuestErrorLog::Record(GuestError error) {
    GuestErrorAction action;
    std::function<void(const GuestError&)> sink;
    {
        std::lock_guard lock(mutex_);
        ++counts_[static_cast<size_t>(error.kind)];
        if (entries_.size() < kKeptEntries) entries_.push_back(error);
        action = action_;
        sink = sink_;
    }
    if (sink) sink(error);
    switch (action) {
        case GuestErrorAction::kLog: return;
        case GuestErrorAction::kThrow: throw GuestErrorException(std::move(error));
        case GuestErrorAction::kAbort:
            std::fprintf(stderr, "fatal guest error: %s\n", Describe(error).c_str());
            std::abort();
    }
}

std::vector<GuestError> GuestErrorLog::Entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

uint64_t GuestErrorLog::Count() const {
    std::lock_guard lock(mutex_);
    uint64_t total = 0;
    for (uint64_t c : counts_) total += c;
    return total;
}

uint64_t GuestErrorLog::Count(GuestErrorKind kind) const {
    std::lock_guard lock(mutex_);
    return counts_[static_cast<size_t>(kind)];
}

void GuestErrorLog::Clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    for (uint64_t& c : counts_) c = 0;
}

void GuestErrorLog::SetAction(GuestErrorAction action) {
    std::lock_guard lock(mutex_);
    action_ = action;
}

void GuestErrorLog::SetSink(std::function<void(const GuestError&)> sink) {
    std::lock_guard lock(mutex_);
    sink_ = std::move(sink);
}

}  // namespace tova::hw
