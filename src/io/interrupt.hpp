// interrupt.hpp - an interruption (a signal, or Ctrl-C on Windows) ends a run cleanly at the next frame
#pragma once

namespace qivpak {

// Installs handlers that only record an interruption: SIGINT, SIGTERM and
// SIGHUP on POSIX; on Windows a console control handler that records Ctrl-C,
// Ctrl-Break and the closing of the console (or a log-off or shut-down) as
// SIGINT. The main flow notices it through pending_interrupt(), cleans up and
// calls end_by_interrupt().
void install_interrupt_handlers();

// 0, or the number of the signal that arrived (the first one).
int pending_interrupt();

// Ends the process the way the system ends a program by `signal`: POSIX
// re-raises the signal with its default action, so the shell sees it;
// Windows exits with STATUS_CONTROL_C_EXIT (0xC000013A).
[[noreturn]] void end_by_interrupt(int signal);

}  // namespace qivpak
