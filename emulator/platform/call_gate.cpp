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

struct SlotTable {
    std::mutex mutex;
    std::vector<std::unique_ptr<CallGateSlot>> slots;

    CallGateSlot* Claim() {
        std::lock_guard lock(mutex);
        for (auto& slot : slots)
            if (!slot->owned) {
                slot->owned = true;
                return slot.get();
            }
        slots.push_back(std::make_unique<CallGateSlot>());
        slots.back()->owned = true;
        return slots.back().get();
    }
    void Return(CallGateSlot* slot) {
        std::lock_guard lock(mutex);
        slot->owned = false;
    }
    std::vector<CallGateSlot*> Snapshot() {
        std::lock_guard lock(mutex);
        std::vector<CallGateSlot*> copy;
        for (auto& slot : slots) copy.push_back(slot.get());
        return copy;
    }
};

SlotTable& Table() {
    static SlotTable* table = new SlotTable;  // outlives every thread's slot
    return *table;
}

bool RegisterBarrier() {
    return syscall(__NR_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
}

}  // namespace

std::atomic<bool> CallGate::processBarrier_{RegisterBarrier()};

// Hands the thread's slot back when the thread ends.
struct CallGate::SlotOwner {
    CallGateSlot* slot = nullptr;
    ~SlotOwner() {
        if (!slot) return;
        t_slot = nullptr;
        Table().Return(slot);
    }
};

CallGateSlot& CallGate::ClaimSlot() {
    thread_local SlotOwner owner;
    if (!owner.slot) owner.slot = Table().Claim();
    t_slot = owner.slot;
    return *t_slot;
}

void CallGate::WaitForCallsToEnd() const {
    if (!ProcessBarrier() || syscall(__NR_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0) != 0)
        std::atomic_thread_fence(std::memory_order_seq_cst);
    const CallGateSlot* mine = &MySlot();
    for (CallGateSlot* slot : Table().Snapshot()) {
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
