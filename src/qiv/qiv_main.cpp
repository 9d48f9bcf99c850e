// qiv_main.cpp - process entry of qiv: the command line in UTF-8, interruptions recorded, the exit status
#include "io/args.hpp"
#include "io/interrupt.hpp"
#include "io/terminal.hpp"
#include "qiv/commands.hpp"

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> args =
            qivpak::with_wildcards_expanded(qivpak::command_line_args(argc, argv));
        qivpak::install_interrupt_handlers();
        qiv::Streams io{stdout, stderr, qivpak::is_terminal(stdout)};
        const int status = qiv::run_qiv(args, io);
        // Interrupted: what the command made is cleaned up; end as the system ends
        // a program by that signal, so the shell sees how it ended.
        if (status == qiv::EXIT_INTERRUPTED) qivpak::end_by_interrupt(io.interrupted);
        return status;
    } catch (const std::exception& error) {
        // Whatever a command did not expect (a name the system refuses, memory
        // running out) ends it with its reason; the temporary files of the
        // command are gone by now, their owners unwound.
        std::fprintf(stderr, "qiv: %s\n", error.what());
        return qiv::EXIT_SOME_FAILED;
    }
}
