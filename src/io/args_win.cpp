// args_win.cpp - the command line from the system's UTF-16 copy, split as Windows programs split it
#include "io/args.hpp"

#include "io/utf16_win.hpp"
#include "io/wildcard.hpp"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <shellapi.h>
#include <system_error>
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

namespace {

// The names in the folder of `pattern` that its file-name part matches, each after the folder part as
// written; none when the folder cannot be read.
std::vector<std::string> matches_of(const std::string& pattern) {
    const std::size_t split = pattern.find_last_of("/\\:");
    const std::string folder = split == std::string::npos ? "" : pattern.substr(0, split + 1);
    const std::string file = split == std::string::npos ? pattern : pattern.substr(split + 1);
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator it(folder.empty() ? std::filesystem::path(L".")
                                                          : std::filesystem::path(utf8_to_utf16(folder)),
                                           error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        const std::string name = utf16_to_utf8(it->path().filename().wstring());
        if (wildcard_matches(file, name)) names.push_back(folder + name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::vector<std::string> with_wildcards_expanded(std::vector<std::string> args) {
    std::vector<std::string> expanded;
    bool options_end = false;
    for (std::string& arg : args) {
        std::vector<std::string> names;
        if (!options_end && arg == "--") options_end = true;
        else if ((options_end || !arg.starts_with("-")) && is_file_pattern(arg)) names = matches_of(arg);
        if (names.empty()) expanded.push_back(std::move(arg));
        else expanded.insert(expanded.end(), names.begin(), names.end());
    }
    return expanded;
}

}  // namespace qivpak
