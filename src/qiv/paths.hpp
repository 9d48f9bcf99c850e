// paths.hpp - file names as qiv keeps them (UTF-8 strings) and as std::filesystem takes them
#pragma once

#include <filesystem>
#include <string>

namespace qiv {

// A UTF-8 name as a path (std::filesystem::path(std::string) would read it in the ANSI code page on Windows).
inline std::filesystem::path to_path(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string to_utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The output for `input`: its file name with the extension (the last dot on) replaced by `extension`
// ("game.iso" and ".qiv" give "game.qiv", "a.b.bin" "a.b.qiv", "game" "game.qiv"), in `folder`, or
// beside the input when `folder` is empty. The folder part is kept as written.
inline std::string output_for(const std::string& input, const std::string& folder, const std::string& extension) {
    const std::filesystem::path name = to_path(input).filename();
    const std::string stem = to_utf8(name.stem()) + extension;
    if (folder.empty()) return input.substr(0, input.size() - to_utf8(name).size()) + stem;
    return folder + (to_path(folder).has_filename() ? "/" : "") + stem;
}

}  // namespace qiv
