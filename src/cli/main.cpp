// main.cpp - process entry: hands the command line to the tool's front end
#include "cli/console.hpp"
#include "cli/qivpak_main.hpp"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    qivpak::Console console = qivpak::Console::for_stdout();
    return qivpak::run_qivpak(args, console, stdin);
}
