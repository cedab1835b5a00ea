#include "emulator/hw/bus.h"

#include <algorithm>
#include <stdexcept>

namespace tova::hw {
namespace {

// The window the current thread is accessing through, so that a device's complaint can
// name the bus address rather than its own offset.
thread_local const BusWindow* t_access = nullptr;

class AccessScope {
public:
    explicit AccessScope(const BusWindow& window) : saved_(t_access) { t_access = &window; }
    ~AccessScope() { t_access = saved_; }

private:
    const BusWindow* saved_;
};

// The window this thread found last: a guest runs through one window for long stretches.
// (A table freed with its bus may come back at the same address: the index is checked.)
struct WindowHint {
    const void* table = nullptr;
    size_t index = 0;
};
thread_local WindowHint t_hint;

}  // namespace

void BusDevice::ReportGuestError(GuestErrorKind kind, bool write, uint32_t offset, unsigned width,
                                 uint32_t value, std::string detail) {
    if (!guestErrors_) return;
    GuestError error{kind, write, offset, width, value, {}, std::move(detail)};
    if (t_access) {
        error.address = t_access->base + offset;
        error.device = t_access->name;
    }
    guestErrors_->Record(std::move(error));
}

void Bus::Map(uint32_t base, uint32_t size, BusDevice& device, std::string name) {
    if (size == 0) throw std::invalid_argument("bus window '" + name + "' is empty");
    if (uint64_t(base) + size > 0x100000000ull)
        throw std::invalid_argument("bus window '" + name + "' runs past the 4 GiB space");
    std::lock_guard lock(mapMutex_);
    const WindowTable* current = windows_.load(std::memory_order_relaxed);
    auto table = std::make_unique<WindowTable>(current ? *current : WindowTable{});
    for (const BusWindow& w : *table) {
        if (base < uint64_t(w.base) + w.size && w.base < uint64_t(base) + size)
            throw std::invalid_argument("bus window '" + name + "' overlaps '" + w.name + "'");
    }
    device.AttachGuestErrorLog(&guestErrors_);
    auto at = std::upper_bound(table->begin(), table->end(), base,
                               [](uint32_t b, const BusWindow& w) { return b < w.base; });
    table->insert(at, BusWindow{base, size, &device, std::move(name)});
    windows_.store(table.get(), std::memory_order_release);
    tables_.push_back(std::move(table));
}

// Every access looks its window up: inline, so that the hint costs a compare or two.
[[gnu::always_inline]] inline const BusWindow* Bus::Find(uint32_t address) const {
    const WindowTable* table = windows_.load(std::memory_order_acquire);
    if (!table) return nullptr;
    if (t_hint.table == table && t_hint.index < table->size()) {
        const BusWindow& w = (*table)[t_hint.index];
        if (address - w.base < w.size) return &w;
    }
    auto after = std::upper_bound(table->begin(), table->end(), address,
                                  [](uint32_t a, const BusWindow& w) { return a < w.base; });
    if (after == table->begin()) return nullptr;
    const BusWindow& w = *(after - 1);
    if (address - w.base >= w.size) return nullptr;
    t_hint = {table, size_t(after - 1 - table->begin())};
    return &w;
}

const BusWindow* Bus::WindowAt(uint32_t address) const { return Find(address); }

std::vector<BusWindow> Bus::Windows() const {
    const WindowTable* table = windows_.load(std::memory_order_acquire);
    return table ? *table : WindowTable{};
}

// Logs what is wrong with the access; rounds a misaligned address down. false when the
// access cannot be carried out at all.
bool Bus::Check(uint32_t& address, unsigned width, bool write, uint32_t value) {
    if ((width == 4 || width == 2 || width == 1) && address % width == 0) [[likely]]
        return true;
    return CheckIrregular(address, width, write, value);
}

bool Bus::CheckIrregular(uint32_t& address, unsigned width, bool write, uint32_t value) {
    if (width != 1 && width != 2 && width != 4) {
        guestErrors_.Record({GuestErrorKind::kBadWidth, write, address, width, value, {}, {}});
        return false;
    }
    if (address % width != 0) {
        guestErrors_.Record({GuestErrorKind::kMisaligned, write, address, width, value, {},
                             "carried out at the address rounded down"});
        address -= address % width;
    }
    return true;
}

void Bus::RecordUnmapped(bool write, uint32_t address, unsigned width, uint32_t value) {
    guestErrors_.Record({GuestErrorKind::kUnmapped, write, address, width, value, {}, {}});
}

uint32_t Bus::Read(uint32_t address, unsigned width) {
    if (!Check(address, width, false, 0)) return 0;
    const BusWindow* w = Find(address);
    if (!w) [[unlikely]] {
        RecordUnmapped(false, address, width, 0);
        return 0;
    }
    AccessScope scope(*w);
    return w->device->Read(address - w->base, width);
}

void Bus::Write(uint32_t address, uint32_t value, unsigned width) {
    if (!Check(address, width, true, value)) return;
    const BusWindow* w = Find(address);
    if (!w) [[unlikely]] {
        RecordUnmapped(true, address, width, value);
        return;
    }
    AccessScope scope(*w);
    w->device->Write(address - w->base, value, width);
}

uint8_t Bus::Read8(uint32_t address) { return static_cast<uint8_t>(Read(address, 1)); }
uint16_t Bus::Read16(uint32_t address) { return static_cast<uint16_t>(Read(address, 2)); }
uint32_t Bus::Read32(uint32_t address) { return Read(address, 4); }
void Bus::Write8(uint32_t address, uint8_t value) { Write(address, value, 1); }
void Bus::Write16(uint32_t address, uint16_t value) { Write(address, value, 2); }
void Bus::Write32(uint32_t address, uint32_t value) { Write(address, value, 4); }

void* Bus::HostPointer(uint32_t address, uint32_t length) {
    const BusWindow* w = Find(address);
    if (!w) return nullptr;
    uint32_t offset = address - w->base;
    if (length > w->size - offset) return nullptr;
    return w->device->HostMemory(offset, length);
}

}  // namespace tova::hw
