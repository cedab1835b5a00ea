// What `tova-emu set`, `power-cut`, `reset`, `screenshot`, `dump-flash` and `info` do to a
// handheld: the same code serves a handheld running in this process (through the control
// channel) and a stopped one opened from its state folder.
#pragma once

#include <string>
#include <vector>

#include "emulator/machine.h"

namespace tova::link {
class LinkServer;
}

namespace tova::emu {

struct ActionContext {
    bool running = false;      // the handheld runs in this process (`tova-emu run`)
    std::string linkEndpoint;  // where the link listens, when running
    link::LinkServer* link = nullptr;  // its link server, for the link fault knobs
};

// Checks the words of an action without doing it; UsageError for bad ones. Lets a client
// refuse a bad command line before it reaches a running handheld.
void CheckAction(const std::vector<std::string>& words);

// Does the action and returns the text to print. Throws UsageError or CommandError.
// Words: set cable|ac on|off; set battery N; set fault KNOB ARGS...; power-cut;
// reset [warm|cold]; screenshot; dump-flash OFFSET LENGTH; info; and the two requests of
// `tova-emu view`, status and frame (handheld_status.h). The link fault knobs
// (link_fault_knobs.h) need context.link. screenshot and dump-flash return the file's bytes
// (a PNG, the flash range), never write a file: the client writes it (output_file.h).
std::string RunAction(Machine& machine, const std::vector<std::string>& words,
                      const ActionContext& context);

}  // namespace tova::emu
