// The link server's answers to the desktop's requests, run as device code of the
// handheld's current boot.
#pragma once

#include <cstdint>
#include <vector>

namespace tova {
class Machine;
}

namespace tova::link {

class ServerSession;
class ServerCounters;
class LinkFaultPlan;

enum class RequestOutcome {
    kReply,          // `reply` holds the answer
    kProtocolError,  // malformed payload or unknown command: close the connection
    kLinkGone,       // the boot ended during the call: close without an answer
};

// `faults` may break the link during the request: then the outcome is kLinkGone.
RequestOutcome HandleRequest(tova::Machine& machine, ServerSession& session,
                             ServerCounters& counters, LinkFaultPlan& faults,
                             const std::vector<uint8_t>& request, std::vector<uint8_t>& reply);

}  // namespace tova::link
