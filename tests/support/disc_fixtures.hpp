// disc_fixtures.hpp - discs made by xorriso from folders written here, packed by the built qivpak, and xorriso's own listing of them
#pragma once

#include "support/support.hpp"

#include <map>
#include <regex>
#include <sstream>

namespace qivtest {

inline const std::string kXorriso = "/usr/bin/xorriso";

// Whether xorriso can be run here (never from a Windows program).
inline bool have_xorriso() {
#ifdef _WIN32
    return false;
#else
    return fs::exists(kXorriso);
#endif
}

// The bytes of Docs/Deep/data.bin: 20000 bytes over three frames.
inline Bytes deep_data() { return make_image("tn", 20000, 7); }

// The folders the discs are made of, in dir/tree (Rock Ridge and level 1) and dir/jtree (Joliet):
//   tree: Docs/ Docs/readme.txt ("hello\n", 2024-03-05 06:07:08 UTC) Docs/Deep/ Docs/Deep/data.bin
//         empty.bin private.txt ("secret", mode 0640) link -> Docs/readme.txt; everything else
//         2023-01-02 03:04:05 UTC, files 0644 and folders 0755
//   jtree: café.txt ("a") 日本語.txt ("bb") Ünï/ Ünï/note.txt ("ccc")
//   dtree: a/b/c/d/e/f/g/h/i/j/k.txt ("deep\n"), ten folders deep
// and the discs: rr.iso (-R), l1.iso (-iso-level 1, no Rock Ridge), j.iso (-J, no Rock Ridge),
// deep.iso (-R, the folders past the eighth level relocated to RR_MOVED), each packed into
// NAME.qiv. Returns "" or what failed.
inline std::string make_discs(const TempDir& dir) {
    const fs::path tree = dir / "tree", jtree = dir / "jtree";
    fs::create_directories(tree / "Docs" / "Deep");
    write_file(tree / "Docs" / "readme.txt", std::string("hello\n"));
    write_file(tree / "Docs" / "Deep" / "data.bin", deep_data());
    write_file(tree / "empty.bin", std::string());
    write_file(tree / "private.txt", std::string("secret"));
    fs::create_symlink("Docs/readme.txt", tree / "link");
    for (const char* file : {"Docs/readme.txt", "Docs/Deep/data.bin", "empty.bin"})
        fs::permissions(tree / file, fs::perms(0644));
    fs::permissions(tree / "private.txt", fs::perms(0640));
    for (const char* folder : {"", "Docs", "Docs/Deep"}) fs::permissions(tree / folder, fs::perms(0755));
    const auto touch = [](const std::string& when, std::vector<std::string> paths) {
        paths.insert(paths.begin(), {"/usr/bin/touch", "-h", "-d", when});
        return run_process(paths).status == 0;
    };
    const std::string t = tree.string();
    if (!touch("2023-01-02 03:04:05 UTC", {t + "/Docs/Deep/data.bin", t + "/empty.bin", t + "/private.txt",
                                          t + "/link", t + "/Docs/Deep", t + "/Docs", t}) ||
        !touch("2024-03-05 06:07:08 UTC", {t + "/Docs/readme.txt"}))
        return "touch failed";
    fs::create_directories(jtree / "Ünï");
    write_file(jtree / "café.txt", std::string("a"));
    write_file(jtree / "日本語.txt", std::string("bb"));
    write_file(jtree / "Ünï" / "note.txt", std::string("ccc"));
    const fs::path deep = dir / "dtree" / "a/b/c/d/e/f/g/h/i/j";
    fs::create_directories(deep);
    write_file(deep / "k.txt", std::string("deep\n"));
    const std::pair<const char*, std::vector<std::string>> discs[] = {
        {"rr.iso", {"-R", t}}, {"l1.iso", {"-iso-level", "1", "--norock", t}},
        {"j.iso", {"-J", "--norock", jtree.string()}}, {"deep.iso", {"-R", (dir / "dtree").string()}}};
    for (const auto& [name, options] : discs) {
        std::vector<std::string> argv = {kXorriso, "-as", "mkisofs", "-quiet", "-o", (dir / name).string()};
        if (std::string(name) == "deep.iso")
            argv.insert(argv.begin() + 1, {"-compliance", "deep_paths_off", "-rr_reloc_dir", "RR_MOVED"});
        argv.insert(argv.end(), options.begin(), options.end());
        const ProcessResult made = run_process(argv);
        if (made.status != 0) return std::string("xorriso failed on ") + name + ": " + made.err;
        const std::string stem = std::string(name).substr(0, std::string(name).size() - 4);
        if (run_tool(dir, {name, stem + ".qiv"}).status != 0) return std::string("qivpak failed on ") + name;
    }
    return "";
}

// One line of xorriso's listing.
struct XorrisoEntry {
    std::string mode;    // "-rw-r-----"
    std::uint64_t size;  // 0 for folders
    std::string target;  // of a symlink
};

// xorriso's own reading of `image` (-find / -exec lsdl): path relative to the root (folders ending in
// "/") to entry, the root left out.
inline std::map<std::string, XorrisoEntry> xorriso_listing(const fs::path& image) {
    const ProcessResult r = run_process({kXorriso, "-indev", image.string(), "-find", "/", "-exec", "lsdl", "--"});
    std::map<std::string, XorrisoEntry> entries;
    const std::regex line(R"(^(\S{10})\s+\d+\s+\S+\s+\S+\s+(\d+)\s+\S+\s+\S+\s+\S+\s+'/(.*?)'(?: -> '(.*)')?$)");
    std::istringstream lines(r.out);
    for (std::string text; std::getline(lines, text);) {
        std::smatch m;
        if (!std::regex_match(text, m, line) || m[3].str().empty()) continue;
        entries[m[3].str() + (m[1].str()[0] == 'd' ? "/" : "")] = {m[1].str(), std::stoull(m[2].str()), m[4].str()};
    }
    return entries;
}

}  // namespace qivtest
