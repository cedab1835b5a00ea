// Lets any number of threads be inside platform calls while a halting thread waits for
// every call that began before it to end.
//
// Every hardware access of the guest is such a call (tens of millions during a flashing),
// so entering must cost next to nothing: a thread only marks a slot of its own. The rare
// halting side pays for the ordering with a process-wide memory barrier, after which every
// thread either sees what the halter changed before it (the boot generation) or is seen
// inside the gate.
#pragma once

#include <atomic>
#include <cstdint>

namespace tova {

class CallGate;

// A thread's mark: which gate it is inside, and how deeply.
struct CallGateSlot {
    std::atomic<const CallGate*> inside{nullptr};
    uint32_t depth = 0;  // only the owning thread touches it
    bool owned = false;  // guarded by the slot table's lock
};

class CallGate {
public:
    // Marks the calling thread as inside this gate; nested entries are counted.
    void Enter() {
        CallGateSlot& slot = MySlot();
        if (slot.depth++ > 0) return;
        slot.inside.store(this, std::memory_order_relaxed);
        // The mark must be visible before the caller reads what a halter may have changed;
        // with the process barrier the halter makes it so.
        if (ProcessBarrier())
            std::atomic_signal_fence(std::memory_order_seq_cst);
        else
            std::atomic_thread_fence(std::memory_order_seq_cst);
    }
    void Leave() {
        CallGateSlot& slot = MySlot();
        if (--slot.depth > 0) return;
        slot.inside.store(nullptr, std::memory_order_release);
    }
    // Waits until no thread is inside this gate, except for calls that began after the
    // caller's changes became visible (they see them and may stay).
    void WaitForCallsToEnd() const;

    class Pass {
    public:
        Pass() = default;
        explicit Pass(CallGate& gate) : gate_(&gate) { gate.Enter(); }
        Pass(Pass&& other) noexcept : gate_(other.gate_) { other.gate_ = nullptr; }
        Pass& operator=(Pass&& other) noexcept {
            if (this != &other) {
                Release();
                gate_ = other.gate_;
                other.gate_ = nullptr;
            }
            return *this;
        }
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;
        ~Pass() { Release(); }
        void Release() {
            if (gate_) gate_->Leave();
            gate_ = nullptr;
        }

    private:
        CallGate* gate_ = nullptr;
    };

private:
    // true when the kernel makes every thread of the process pass a full barrier for a
    // halter; false (each entry pays for a fence) until that is known to work.
    static bool ProcessBarrier() { return processBarrier_.load(std::memory_order_relaxed); }
    static CallGateSlot& MySlot() {
        if (CallGateSlot* slot = t_slot) [[likely]]
            return *slot;
        return ClaimSlot();
    }
    static CallGateSlot& ClaimSlot();
    struct SlotOwner;

    static std::atomic<bool> processBarrier_;
    static inline thread_local CallGateSlot* t_slot = nullptr;
};

}  // namespace tova
