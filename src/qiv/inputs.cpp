// inputs.cpp - folders given as inputs, turned into their files of the kind the command takes
#include "qiv/inputs.hpp"

#include "qiv/paths.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace qiv {

namespace {

namespace fs = std::filesystem;

bool ends_with_ascii_nocase(const std::string& name, const std::string& suffix) {
    if (name.size() < suffix.size()) return false;
    return std::equal(suffix.begin(), suffix.end(), name.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                      [](char s, char n) { return s == (n >= 'A' && n <= 'Z' ? n + 32 : n); });
}

bool of_kind(const std::string& name, FileKind kind) {
    if (kind == FileKind::containers) return ends_with_ascii_nocase(name, ".qiv");
    return ends_with_ascii_nocase(name, ".iso") || ends_with_ascii_nocase(name, ".bin") ||
           ends_with_ascii_nocase(name, ".img");
}

// The files of `kind` in `folder` (below it too when `recursive`), as paths relative to it with "/"
// between folders, sorted; false with the system's reason in `why` when the folder cannot be read.
template <typename Iterator>
bool files_in(const fs::path& folder, FileKind kind, std::vector<std::string>& found, std::string& why) {
    std::error_code error;
    Iterator it(folder, error), end;
    for (; !error && it != end; it.increment(error)) {
        std::error_code ignored;
        const std::string name = to_utf8(it->path().filename());
        if (!of_kind(name, kind) || !it->is_regular_file(ignored)) continue;
        const std::u8string relative = it->path().lexically_relative(folder).generic_u8string();
        found.emplace_back(relative.begin(), relative.end());
    }
    if (error) why = error.message();
    std::sort(found.begin(), found.end());
    return !error;
}

}  // namespace

bool expand_inputs(std::vector<std::string>& names, FileKind kind, bool recursive, std::FILE* err) {
    std::vector<std::string> expanded;
    bool all_well = true;
    for (const std::string& name : names) {
        std::error_code error;
        const fs::path folder = to_path(name);
        if (!fs::is_directory(folder, error)) {
            expanded.push_back(name);
            continue;
        }
        std::vector<std::string> found;
        std::string why;
        const bool read = recursive ? files_in<fs::recursive_directory_iterator>(folder, kind, found, why)
                                    : files_in<fs::directory_iterator>(folder, kind, found, why);
        if (!read) {
            std::fprintf(err, "qiv: %s: cannot read the folder: %s\n", name.c_str(), why.c_str());
        } else if (found.empty()) {
            std::fprintf(err, "qiv: %s: no %s in this folder\n", name.c_str(),
                         kind == FileKind::containers ? "containers" : "images");
        }
        if (!read || found.empty()) {
            all_well = false;
            continue;
        }
        const bool has_separator = name.ends_with('/') || name.ends_with('\\');
        for (const std::string& file : found) expanded.push_back(name + (has_separator ? "" : "/") + file);
    }
    names = std::move(expanded);
    return all_well;
}

}  // namespace qiv
