// Each thread that ever enters a gate owns a slot in one process-wide table. Slots are
// never freed (a finished thread's slot is handed to the next new thread), so a halter can
// look at a copy of the table without holding its lock while it waits.
#include "call_gate.h"

#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tova {
namespace {

struct Slot {
    std::atomic<const CallGate*> inside{nullptr};
    uint32_t depth = 0;  // only the owning thread touches it
    bool owned = false;  // guarded by the table's mutex
};

struct SlotTable {
    std::mutex mutex;
    std::vector<std::unique_ptr<Slot>> slots;

    Slot* Claim() {
        std::lock_guard lock(mutex);
        for (auto& slot : slots)
            if (!slot->owned) {
                slot->owned = true;
                return slot.get();
            }
        slots.push_back(std::make_unique<Slot>());
        slots.back()->owned = true;
        return slots.back().get();
    }
    void Return(Slot* slot) {
        std::lock_guard lock(mutex);
        slot->owned = false;
    }
    std::vector<Slot*> Snapshot() {
        std::lock_guard lock(mutex);
        std::vector<Slot*> copy;
        for (auto& slot : slots) copy.push_back(slot.get());
        return copy;
    }
};

SlotTable& Table() {
    static SlotTable* table = new SlotTable;  // outlives every thread's slot
    return *table;
}

thread_local Slot* t_slot = nullptr;

class ThreadSlot {
public:
    ThreadSlot() : slot_(Table().Claim()) {}
    ~ThreadSlot() {
        t_slot = nullptr;
        Table().Return(slot_);
    }
    Slot& operator*() const { return *slot_; }

private:
    Slot* slot_;
};

// The plain pointer (t_slot) is what every entry reads; the owner object, which needs a
// guarded thread-local, is only reached on a thread's first entry.
Slot& MySlot() {
    if (t_slot) [[likely]]
        return *t_slot;
    thread_local ThreadSlot owner;
    t_slot = &*owner;
    return *t_slot;
}

// true when the kernel can make every running thread of the process pass a full barrier
// on demand; without it each entry pays for a fence itself.
bool RegisterBarrier() {
    return syscall(__NR_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
}
const bool g_processBarrier = RegisterBarrier();

void ProcessBarrier() {
    if (!g_processBarrier || syscall(__NR_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0) != 0)
        std::atomic_thread_fence(std::memory_order_seq_cst);
}

}  // namespace

void CallGate::Enter() {
    Slot& slot = MySlot();
    if (slot.depth++ > 0) return;
    slot.inside.store(this, std::memory_order_relaxed);
    // The mark must be visible before the caller reads what a halter may have changed.
    if (g_processBarrier)
        std::atomic_signal_fence(std::memory_order_seq_cst);
    else
        std::atomic_thread_fence(std::memory_order_seq_cst);
}

void CallGate::Leave() {
    Slot& slot = MySlot();
    if (--slot.depth > 0) return;
    slot.inside.store(nullptr, std::memory_order_release);
}

void CallGate::WaitForCallsToEnd() const {
    ProcessBarrier();
    const Slot* mine = &MySlot();
    for (Slot* slot : Table().Snapshot()) {
        if (slot == mine) continue;
        // Calls are short, but one may sleep on the clock: back off from spinning to napping.
        for (int round = 0; slot->inside.load(std::memory_order_acquire) == this; ++round) {
            if (round < 64)
                std::this_thread::yield();
            else
                std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }
}

}  // namespace tova
