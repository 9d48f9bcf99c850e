// interrupt.hpp - interrupting signals are recorded, and the run ends cleanly at the next frame
#pragma once

namespace qivpak {

// Installs handlers for SIGINT, SIGTERM and SIGHUP that only record the first
// signal that arrives.
void install_interrupt_handlers();

// 0, or the number of the signal that arrived.
int pending_interrupt();

// Ends the process by `signal` with its default action, so the shell sees it.
[[noreturn]] void end_by_interrupt(int signal);

}  // namespace qivpak
