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

class CallGate {
public:
    // Marks the calling thread as inside this gate; nested entries are counted.
    void Enter();
    void Leave();
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
};

}  // namespace tova
