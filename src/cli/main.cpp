// main.cpp - process entry: hands the command line to the tool's front end
#include "cli/console.hpp"
#include "cli/qivpak_main.hpp"
#include "io/args.hpp"
#include "io/interrupt.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> args = qivpak::command_line_args(argc, argv);
        qivpak::Console console = qivpak::Console::for_stdout();
        qivpak::install_interrupt_handlers();
        const int status = qivpak::run_qivpak(args, console, stdin, std::getenv("QIVPAK_THREADS"));
        // Interrupted: end as the system ends a program by that signal, so the
        // shell sees how the run ended.
        if (status > 128 && status < 255) qivpak::end_by_interrupt(status - 128);
        return status;
    } catch (const std::exception& error) {
        // The run itself words its failures; this is what fails around it
        // (the command line cannot be read, memory runs out).
        std::printf("Error: %s\n", error.what());
        return 255;
    }
}
