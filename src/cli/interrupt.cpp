// interrupt.cpp - the drivers' check for an interruption
#include "cli/interrupt.hpp"

namespace qivpak {

void check_interrupt() {
    if (const int signal = pending_interrupt()) throw Interrupted{signal};
}

}  // namespace qivpak
