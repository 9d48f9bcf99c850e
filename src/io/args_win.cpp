// args_win.cpp - the command line from the system's UTF-16 copy, split as Windows programs split it
#include "io/args.hpp"

#include "io/utf16_win.hpp"

#include <memory>
#include <shellapi.h>
#include <windows.h>

namespace qivpak {

std::vector<std::string> command_line_args(int /*argc*/, char** /*argv*/) {
    int count = 0;
    wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (words == nullptr) return {};
    const std::unique_ptr<wchar_t*, decltype(&::LocalFree)> owner(words, &::LocalFree);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(utf16_to_utf8(words[i]));
    return args;
}

}  // namespace qivpak
