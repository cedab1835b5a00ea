#include "commands.h"

namespace tova::emu {

const char kHelpText[] = R"(tova-emu: the emulated handheld, kept in a state folder

Usage: tova-emu COMMAND STATE [ARGUMENTS]

Commands:
  create STATE [--model advanced|basic] [--ac on|off] [--battery N] [--language ID]
         [--identifier HEX32] [--cable on|off] [--rom PACKAGE.img | --factory-build DIGITS]
         [--boot-delay MS] [--arm-modules on|off]
      Creates a handheld in the folder STATE (made if absent; it must not hold one yet).
        --model          hardware configuration (default advanced)
        --ac             AC adapter connected (default on)
        --battery        battery percent, 0 to 100, or 255 for unknown (default 100)
        --language       Windows language identifier of the factory ROM (default 1033)
        --identifier     the 16-byte device identifier as 32 hexadecimal digits (default: a
                         serial ending in the product's identity pattern)
        --cable          sync cable attached (default on)
        --rom            flash the ROM carried by this package file
        --factory-build  flash a factory ROM with these eight build digits (the default
                         factory ROM has build 05010100, older than every package)
        --boot-delay     nominal milliseconds from a reset to the booted system (default
                         2000), shrunk by the time scale
        --arm-modules    run modules built for the handheld's CPU (ARM) on the emulated
                         CPU (default on: the program folder's HARLIX.DLL and Velkor.exe);
                         off runs the build's host modules instead (run --host-modules)

  run STATE [--link-port N] [--time-scale X] [--host-modules]
            [--window [--grab OUT.png] [--close-after MS]]
      Powers the handheld on and runs it in the foreground: boots, serves the sync link on
      127.0.0.1:N (default 4990; 0 picks a free port), writes the link endpoint to
      STATE/link.endpoint and prints it. Ctrl-C (SIGINT), SIGTERM or any other signal
      that would end it switches it off and saves its state; the next run powers it on
      again with its RAM (object store and registry) kept, as a switched-off handheld keeps
      its battery-backed RAM. The flash is written to STATE/flash.img as the handheld
      writes it, so even a kill -9 loses none of it; the RAM is then lost as in a power cut,
      and the next run boots cold. After a power cut the power comes back by itself and the
      handheld boots cold.
        --time-scale     factor for every delay (default TOVA_TIME_SCALE or 1; 0.01 makes a
                         five-minute update take seconds)
        --host-modules   lets the handheld run the build's host modules: a module in its
                         store (HARLIX.DLL, Velkor.exe ...) that is not ARM code runs only
                         when the folder host/ beside this tova-emu holds a module of that
                         name with exactly its bytes, and that file is what is loaded.
                         Without it a file in the store is never run as host code (only
                         a handheld created with --arm-modules off needs it).
        --window         also shows the window of `view` on this handheld; closing it
                         leaves the handheld running until Ctrl-C (with --grab and
                         --close-after as for view)
      With TOVA_DEBUG_PRINT set in the environment, the handheld's debug output
      (NKDbgPrintfW) is shown on standard error.

  view STATE [--grab OUT.png] [--close-after MS]
      A window on the handheld that `tova-emu run` runs (in another process): its
      240 x 320 screen live, scaled 2x (nearest neighbour) at 20 frames a second, and
      beside it power, system (booted, dead ...), boots, AC adapter, battery, cable, link
      and a flash light that tells which chip is erasing or programming. Its buttons pull
      or plug the cable, unplug or plug the AC adapter and cut the power (after asking).
      Screen and state come through the handheld's control channel while it runs; nothing
      stops it, and closing the window leaves it running. Started before `run`, or after
      it stops, the window waits with a dark screen. Ctrl-C or SIGTERM closes the window.
        --grab           writes a picture of the whole window to OUT.png after every
                         change it shows (replaced each time)
        --close-after    closes the window by itself after MS real milliseconds
      Needs a display (DISPLAY or WAYLAND_DISPLAY), or QT_QPA_PLATFORM=offscreen to draw
      it unseen (with --grab); without one it says so and exits with status 2, as it does
      in a build without Qt.

  set STATE cable on|off
  set STATE ac on|off
  set STATE battery N
  set STATE fault KNOB [ARGUMENTS]
      Changes a handheld, running (through its control channel) or stopped (in its state
      folder). Fault knobs:
        model-query-garbage COUNT        the model query answers garbage COUNT times
        ram-fragmentation on|off         physical pages handed out of order
        undeletable-value KEY NAME       a registry value below HKEY_LOCAL_MACHINE that
                                         cannot be deleted
        reboot-ignored on|off            a warm restart request (IOCTL_HAL_REBOOT) succeeds
                                         and nothing happens: the link never drops
        busy-before CHIP POLLS|forever   a flash chip (0 low, 1 high half) reads busy
        busy-during CHIP POLLS|forever   every flash operation takes POLLS more polls
        fail-erase CHIP BLOCK [TIMES]    erasing a block fails (always or TIMES times)
        fail-program CHIP OFFSET [TIMES] programming the word at a flash offset fails
        stuck-bits CHIP OFFSET LOW HIGH  bits of a word that always read 0 / 1
        lock-block CHIP BLOCK            a block's lock bit set
        buffer-unavailable CHIP COUNT    the next COUNT write-buffer requests find none
        power-cut-after OPERATIONS       the power goes in the middle of a later operation
        power-cut-in-block BLOCK         the power goes in the middle of the next operation
                                         on a flash block (1 holds the ROM identity)
      Link knobs, only while the handheld runs (they break the link that run serves); each
      fires once, counting from when it is set:
        pull-cable-after-bytes N         once N more bytes have been written to handheld
                                         files through the link, the cable comes out and
                                         stays out; the write that reaches N fails
        drop-link-after-bytes N [MS]     the same, but the cable comes back after MS
                                         milliseconds, shrunk by the time scale
                                         (default 0: at once)
        damage-before-export EXPORT PATH just before the export EXPORT runs (any library),
                                         the first byte of the handheld file PATH (such as
                                         \Temp\OS.nb0) is inverted; a missing file stays
                                         missing
        clear                            every knob off, link knobs included
      Numbers may be written in hexadecimal with 0x. N 0 turns a byte knob off.

  power-cut STATE
      Cuts the power: RAM (object store, registry changes) is lost, flash keeps what it
      holds. A running handheld powers on again and boots cold from that flash.

  reset STATE [warm|cold]
      Resets a running handheld (default warm). For a stopped one, chooses whether its next
      power-on is warm or cold.

  screenshot STATE OUT.png
      Saves the screen (240 x 320) as a PNG file.

  dump-flash STATE OUT.bin [--offset N] [--length N]
      Writes flash content to a file: LENGTH bytes from OFFSET, counted from the start of
      flash at 0xA0000000 (default: all 32 MiB).
      Both write their file themselves, with the rights of the user running them (a running
      handheld sends the bytes over its control channel), whole or not at all.

  info STATE
      Prints whether it runs, its state (booted, dead, off), model, the ROM build, version
      text and language in flash, the link endpoint and the link knobs still armed (one
      line each, with the bytes still to go), power, boots, the block erases each flash
      chip has done since it was switched on, and the files in its object store.

  --help
      Prints this text.

Exit status: 0 done, 1 the command failed (the message says why), 2 bad arguments.
)";

}  // namespace tova::emu
