// interrupt.hpp - SIGINT, SIGTERM and SIGHUP end a run cleanly at the next frame
#pragma once

namespace qivpak {

// Thrown at the next frame after an interrupting signal arrived. The front end
// removes the output that the run was writing and ends with 128 + signal.
struct Interrupted {
    int signal;
};

// Installs handlers for SIGINT, SIGTERM and SIGHUP that only record the signal.
void install_interrupt_handlers();

// Throws Interrupted when one of those signals has arrived.
void check_interrupt();

// Ends the process by `signal` with its default action, so the shell sees it.
[[noreturn]] void reraise(int signal);

}  // namespace qivpak
