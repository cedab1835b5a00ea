// The link faults armed on a link server (LinkFaults): the byte counts that pull the cable
// or drop the link, the file damaged before an export runs, and the thread that brings the
// cable back after a drop.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "emulator/link/link_server.h"

namespace tova {
class Machine;
}

namespace tova::link {

// What one write may do and what it sets off.
struct WriteAllowance {
    uint32_t bytes = 0;      // how many of the bytes asked for may reach the file
    bool pullCable = false;  // the cable comes out once they have
    bool dropLink = false;   // the link drops once they have
    uint32_t dropMs = 0;
    bool cutOff = false;     // another write is pulling the cable: this one gets no answer
    bool Fires() const { return pullCable || dropLink; }
    bool LinkGoes() const { return Fires() || cutOff; }
};

class LinkFaultPlan {
public:
    explicit LinkFaultPlan(tova::Machine& machine) : machine_(machine) {}
    ~LinkFaultPlan() { Stop(); }
    LinkFaultPlan(const LinkFaultPlan&) = delete;
    LinkFaultPlan& operator=(const LinkFaultPlan&) = delete;

    void Set(const LinkFaults& faults);
    LinkFaults Armed() const;

    // Books a write of `count` bytes to a handheld file. The bytes are counted at once, so
    // that writes running side by side never overshoot a threshold; a knob that the write
    // reaches is disarmed here and fired by Fire once the write is done. Until then, and
    // while the cable it pulled stays out, other writes are cut off (no bytes): the link is
    // gone, even for a request that arrived just before.
    WriteAllowance BookWrite(uint32_t count);
    // Pulls the cable (and schedules its return for a drop). Returns once every connection
    // has been closed.
    void Fire(const WriteAllowance& allowance);

    // The file to damage when `exportName` is about to run, disarming the knob; nullopt
    // when another export (or none) is armed.
    std::optional<std::u16string> TakeDamage(const std::string& exportName);

    // Ends a pending drop early with the cable back in and joins the restoring thread.
    void Stop();

private:
    void RestoreLoop();

    tova::Machine& machine_;
    // Guards the state below. Held while the cable is pulled or plugged back, so that a
    // restore due for an earlier drop never plugs in a cable a later fault pulled; the
    // machine's link listeners never come back here.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    LinkFaults armed_;
    uint32_t firing_ = 0;  // booked writes that reached a threshold and have not fired yet
    bool pulledByFault_ = false;  // the cable is out because a fault pulled it
    bool restorePending_ = false;
    std::chrono::steady_clock::time_point restoreDue_;
    bool stopping_ = false;
    std::thread restorer_;
};

// Inverts the first byte of a handheld file, as a flash card or RAM error would; a missing
// or empty file is left as it is.
void DamageFirstByte(tova::Machine& machine, const std::u16string& handheldPath);

}  // namespace tova::link
