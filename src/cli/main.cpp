// main.cpp - process entry: hands the command line to the tool's front end
#include "cli/console.hpp"
#include "cli/interrupt.hpp"
#include "cli/qivpak_main.hpp"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    qivpak::Console console = qivpak::Console::for_stdout();
    qivpak::install_interrupt_handlers();
    const int status = qivpak::run_qivpak(args, console, stdin);
    // Interrupted: die by the same signal, so the shell sees how the run ended.
    if (status > 128 && status < 255) qivpak::reraise(status - 128);
    return status;
}
