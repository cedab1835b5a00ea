// The emulated handheld's end of the sync link: a loopback TCP server that answers the
// desktop's remote API calls (platform/rapi/rapi.h) on behalf of one tova::Machine.
//
// What it exposes to a client:
//   - connections are accepted only while the machine's link is up (booted, cable attached,
//     the USB driver key present); a reset, a power cut or an unplugged cable closes every
//     connection at once, and calls in flight on them fail at the client;
//   - the file calls run through the handheld's own Windows CE API (CreateFileW, WriteFile,
//     SetEndOfFile, CloseHandle, DeleteFileW) on the object store, as the handheld's remote
//     API service does; handles belong to the client's session and are closed when it ends;
//   - the start-up folder query and an operating-system version (4.20);
//   - block-mode invocation of an export of \Windows\<name>.DLL through the machine's
//     module loader, returning its HRESULT and output; the output is released with the
//     handheld's LocalFree once sent;
//   - a connection that sends nothing for rapi::wire::kIdleCloseMs (nominal, on the scaled
//     clock; never at scale 0) while none of its calls runs is closed; a call in progress,
//     however long, keeps it open;
//   - framing limits: an oversized length, a truncated frame, a malformed payload or an
//     unknown command closes that one connection; the others keep being served;
//   - link faults (LinkFaults) that break the link at a point chosen by what the desktop
//     sends: the cable pulled for good or for a moment, a handheld file damaged.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tova {
class Machine;
}

namespace tova::link {

// Counters that tests read to see what reached the handheld.
struct LinkServerStats {
    uint64_t connectionsAccepted = 0;   // accepted and greeted while the link was up
    uint64_t connectionsRefused = 0;    // turned away because the link was down
    uint64_t protocolErrors = 0;        // connections closed for a bad frame or command
    uint64_t idleClosed = 0;            // connections closed for sending nothing (kIdleCloseMs)
    uint64_t fileCalls = 0;             // file, folder and version calls served
    uint64_t invocations = 0;           // block-mode invocations served
    uint32_t peakConcurrentFileCalls = 0;  // most file calls ever in progress at once
    uint32_t fileCallsInProgress = 0;
};

// Faults of the link timed by what the desktop sends, so that a test or a user can break
// an update at a chosen point. Each fires once and then clears itself.
struct LinkFaults {
    // Once this many bytes (counted from when the fault was set) have been written to
    // handheld files through the link, the cable comes out and stays out (0: off).
    uint64_t pullCableAfterBytes = 0;
    // Once this many bytes have been written, the link drops (the cable out) and comes
    // back after dropLinkMs nominal milliseconds on the scaled clock (0 bytes: off;
    // 0 ms: back at once).
    uint64_t dropLinkAfterBytes = 0;
    uint32_t dropLinkMs = 0;
    // Just before the export named damageBeforeExport runs (any library), one byte of the
    // handheld file damageFile is inverted (its first byte), as a flash card or RAM
    // error would. A missing file is left missing. Empty: off.
    std::string damageBeforeExport;
    std::u16string damageFile;

    bool Armed() const {
        return pullCableAfterBytes != 0 || dropLinkAfterBytes != 0 || !damageBeforeExport.empty();
    }
    bool operator==(const LinkFaults&) const = default;
};

class LinkServer {
public:
    // Listens on 127.0.0.1:port (0 picks a free port). Throws std::system_error when the
    // port cannot be bound.
    LinkServer(tova::Machine& machine, uint16_t port);
    ~LinkServer();
    LinkServer(const LinkServer&) = delete;
    LinkServer& operator=(const LinkServer&) = delete;

    uint16_t Port() const;
    // Closes the listener and every connection and waits for their threads. Idempotent.
    void Stop();

    LinkServerStats Stats() const;
    // Test instrument: every file call takes this long (nominal ms on the scaled clock)
    // inside the handheld, so that overlapping calls would be seen in the stats. A link
    // drop cuts the wait short.
    void SetFileCallDelayMs(uint32_t ms);

    // Arms the link faults, replacing those armed before; byte counts start now. The write
    // that reaches a byte count writes only up to it and fails at the client: the cable
    // comes out while it is in flight. A drop's cable comes back from a thread of the
    // server; Stop ends a drop early with the cable back in. Safe while requests are served.
    void SetFaults(const LinkFaults& faults);
    // What is still armed; the byte counts are what is still to be written before each
    // fires, so that handing the result back to SetFaults changes nothing.
    LinkFaults Faults() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tova::link
