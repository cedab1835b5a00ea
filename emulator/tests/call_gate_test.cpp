// The gate every platform call passes: a halter waits for the calls inside it, nested
// entries count, and neither the halter's own call nor a finished thread holds it up.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "call_gate.h"

namespace tova {
namespace {

// Starts a halter and reports whether it has come back.
class Halter {
public:
    explicit Halter(const CallGate& gate) : thread_([&] {
        gate.WaitForCallsToEnd();
        done_ = true;
    }) {}
    ~Halter() { thread_.join(); }
    bool Done() const { return done_; }
    // A short real pause: enough for a halter that does not wait to come back.
    bool DoneAfterAWhile() const {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        return done_;
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// A thread that enters the gate `depth` times and leaves one level each time it is told.
class Caller {
public:
    Caller(CallGate& gate, int depth) : thread_([this, &gate, depth] {
        for (int i = 0; i < depth; ++i) gate.Enter();
        entered_ = true;
        for (int i = 0; i < depth; ++i) {
            while (leaves_.load() <= i) std::this_thread::yield();
            gate.Leave();
            left_ = i + 1;
        }
    }) {
        while (!entered_) std::this_thread::yield();
    }
    ~Caller() {
        leaves_ = 1 << 20;
        thread_.join();
    }
    void LeaveOnce() {
        int before = left_;
        ++leaves_;
        while (left_ == before) std::this_thread::yield();
    }

private:
    std::atomic<bool> entered_{false};
    std::atomic<int> leaves_{0};
    std::atomic<int> left_{0};
    std::thread thread_;
};

TEST(CallGateTest, AHalterWaitsForEveryLevelOfACallInProgress) {
    CallGate gate;
    Caller caller(gate, 2);
    Halter halter(gate);
    EXPECT_FALSE(halter.DoneAfterAWhile());
    caller.LeaveOnce();
    EXPECT_FALSE(halter.DoneAfterAWhile()) << "returned while the outer call still ran";
    caller.LeaveOnce();
    while (!halter.Done()) std::this_thread::yield();
}

TEST(CallGateTest, NothingInsideOrOnlyTheHalterItselfDoesNotHoldItUp) {
    CallGate gate;
    gate.WaitForCallsToEnd();
    gate.Enter();  // a halt asked for from inside a call
    gate.WaitForCallsToEnd();
    gate.Leave();
}

TEST(CallGateTest, CallsOnAnotherGateAndFinishedThreadsDoNotHoldItUp) {
    CallGate gate, other;
    for (int i = 0; i < 8; ++i) {
        std::thread([&] {
            gate.Enter();
            gate.Leave();
        }).join();
    }
    Caller elsewhere(other, 1);
    Halter halter(gate);
    EXPECT_TRUE(halter.DoneAfterAWhile());
    elsewhere.LeaveOnce();
}

}  // namespace
}  // namespace tova
