// main.cpp - process entry: hands the command line to the tool's front end
#include "cli/args.hpp"
#include "cli/console.hpp"
#include "cli/interrupt.hpp"
#include "cli/qivpak_main.hpp"

#include <cstdio>

int main(int argc, char** argv) {
    const std::vector<std::string> args = qivpak::command_line_args(argc, argv);
    qivpak::Console console = qivpak::Console::for_stdout();
    qivpak::install_interrupt_handlers();
    const int status = qivpak::run_qivpak(args, console, stdin);
    // Interrupted: end as the system ends a program by that signal, so the
    // shell sees how the run ended.
    if (status > 128 && status < 255) qivpak::end_by_interrupt(status - 128);
    return status;
}
