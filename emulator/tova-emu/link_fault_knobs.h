// The link fault knobs of `tova-emu set STATE fault`: they arm faults on the link server of
// a running handheld (tova::link::LinkFaults), so they exist only while `tova-emu run` serves
// the link.
//   pull-cable-after-bytes N             the cable comes out once N more bytes are written
//   drop-link-after-bytes N [MS]         the link drops then, back after MS ms (default 0)
//   damage-before-export EXPORT PATH     the first byte of a handheld file inverted just
//                                        before EXPORT runs
#pragma once

#include <string>
#include <vector>

#include "emulator/link/link_server.h"

namespace tova::emu {

bool IsLinkFaultKnob(const std::string& knob);

// `armed` with the knob of `words` ("set", "fault", KNOB, ARGUMENTS...) applied. Throws
// UsageError for bad arguments.
link::LinkFaults ParseLinkFaultKnob(const std::vector<std::string>& words, link::LinkFaults armed);

// Arms the knob on `server`, or throws UsageError when there is none (a stopped handheld).
std::string ApplyLinkFaultKnob(link::LinkServer* server, const std::vector<std::string>& words);

// One `info` line per armed link fault, or one saying there is none.
std::string DescribeLinkFaults(const link::LinkFaults& armed);

}  // namespace tova::emu
