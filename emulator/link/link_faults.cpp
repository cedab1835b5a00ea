#include "link_faults.h"

#include <algorithm>
#include <fstream>

#include "platform/clock/clock.h"
#include "emulator/machine.h"
#include "emulator/object_store.h"

namespace tova::link {
namespace {

// Counts `bytes` against a threshold still `remaining`; true when it is reached.
bool CountDown(uint64_t& remaining, uint64_t bytes) {
    if (remaining == 0) return false;
    remaining -= std::min(remaining, bytes);
    return remaining == 0;
}

}  // namespace

void LinkFaultPlan::Set(const LinkFaults& faults) {
    std::lock_guard lock(mutex_);
    armed_ = faults;
    // A half-given knob is off, and reads back as off.
    if (armed_.dropLinkAfterBytes == 0) armed_.dropLinkMs = 0;
    if (armed_.damageBeforeExport.empty() || armed_.damageFile.empty()) {
        armed_.damageBeforeExport.clear();
        armed_.damageFile.clear();
    }
}

LinkFaults LinkFaultPlan::Armed() const {
    std::lock_guard lock(mutex_);
    return armed_;
}

WriteAllowance LinkFaultPlan::BookWrite(uint32_t count) {
    std::lock_guard lock(mutex_);
    WriteAllowance allowance;
    if (pulledByFault_ && machine_.CableAttached()) pulledByFault_ = false;  // plugged back
    if (firing_ != 0 || pulledByFault_) {
        allowance.cutOff = true;
        return allowance;
    }
    uint64_t room = count;
    for (uint64_t remaining : {armed_.pullCableAfterBytes, armed_.dropLinkAfterBytes}) {
        if (remaining != 0) room = std::min(room, remaining);
    }
    allowance.bytes = static_cast<uint32_t>(room);
    allowance.pullCable = CountDown(armed_.pullCableAfterBytes, room);
    allowance.dropLink = CountDown(armed_.dropLinkAfterBytes, room);
    if (allowance.dropLink) allowance.dropMs = armed_.dropLinkMs;
    if (armed_.dropLinkAfterBytes == 0) armed_.dropLinkMs = 0;
    if (allowance.Fires()) ++firing_;
    return allowance;
}

void LinkFaultPlan::Fire(const WriteAllowance& allowance) {
    if (!allowance.Fires()) return;
    std::lock_guard lock(mutex_);
    --firing_;
    if (stopping_) return;
    machine_.SetCable(false);
    pulledByFault_ = true;
    if (allowance.pullCable) {
        // The cable stays out: no drop may bring it back.
        restorePending_ = false;
    } else {
        auto due = std::chrono::steady_clock::now() + tova::ScaledMs(allowance.dropMs);
        restoreDue_ = restorePending_ ? std::max(restoreDue_, due) : due;
        restorePending_ = true;
        if (!restorer_.joinable()) restorer_ = std::thread(&LinkFaultPlan::RestoreLoop, this);
    }
    changed_.notify_all();
}

std::optional<std::u16string> LinkFaultPlan::TakeDamage(const std::string& exportName) {
    std::lock_guard lock(mutex_);
    if (armed_.damageBeforeExport.empty() || armed_.damageBeforeExport != exportName) return std::nullopt;
    std::u16string file = std::move(armed_.damageFile);
    armed_.damageBeforeExport.clear();
    armed_.damageFile.clear();
    return file;
}

void LinkFaultPlan::RestoreLoop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!restorePending_) {
            changed_.wait(lock);
            continue;
        }
        auto due = restoreDue_;
        // Woken early by a later drop (a new due time), a pull (nothing pending) or Stop.
        if (changed_.wait_until(lock, due, [&] { return stopping_ || !restorePending_ || restoreDue_ != due; })) {
            continue;
        }
        restorePending_ = false;
        machine_.SetCable(true);
    }
    // A drop is a passing fault: a server that stops during one leaves the cable in.
    if (restorePending_) {
        restorePending_ = false;
        machine_.SetCable(true);
    }
}

void LinkFaultPlan::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (restorer_.joinable()) restorer_.join();
}

void DamageFirstByte(tova::Machine& machine, const std::u16string& handheldPath) {
    auto file = machine.Store().Find(handheldPath);
    if (!file) return;
    std::fstream stream(*file, std::ios::in | std::ios::out | std::ios::binary);
    char first = 0;
    if (!stream.get(first)) return;
    stream.seekp(0);
    stream.put(static_cast<char>(~first));
}

}  // namespace tova::link
