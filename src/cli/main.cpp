// main.cpp - process entry: hands the command line to the tool's front end
#include "io/args.hpp"
#include "cli/console.hpp"
#include "io/interrupt.hpp"
#include "cli/qivpak_main.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// QIVPAK_THREADS=N (1 to 1024) sets the number of workers; anything else
// leaves it to the CPUs the process may run on.
unsigned threads_from_environment() {
    const char* text = std::getenv("QIVPAK_THREADS");
    if (text == nullptr) return 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value >= 1 && value <= 1024 ? static_cast<unsigned>(value) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args = qivpak::command_line_args(argc, argv);
    qivpak::Console console = qivpak::Console::for_stdout();
    qivpak::install_interrupt_handlers();
    const int status = qivpak::run_qivpak(args, console, stdin, threads_from_environment());
    // Interrupted: end as the system ends a program by that signal, so the
    // shell sees how the run ended.
    if (status > 128 && status < 255) qivpak::end_by_interrupt(status - 128);
    return status;
}
