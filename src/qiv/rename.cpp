// rename.cpp - qiv rename: each container that holds a rom of the DAT files named after that rom
#include "io/file.hpp"
#include "io/interrupt.hpp"
#include "io/same_file.hpp"
#include "qiv/commands.hpp"
#include "qiv/container_hashes.hpp"
#include "qiv/dat_files.hpp"
#include "qiv/failure.hpp"
#include "qiv/paths.hpp"

#include <filesystem>
#include <map>
#include <system_error>

namespace qiv {

std::string safe_file_name(std::string_view name) {
    std::string safe;
    for (const char c : name) {
        const bool refused = static_cast<unsigned char>(c) < 0x20 || std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos;
        safe += refused ? '_' : c;
    }
    while (!safe.empty() && (safe.back() == '.' || safe.back() == ' ')) safe.back() = '_';
    // A device name stays one whatever extension follows it ("con.qiv"), in any case.
    std::string base = safe.substr(0, safe.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char& c : base) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    const bool numbered = base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) && base[3] >= '1' &&
                          base[3] <= '9';
    if (numbered || base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") safe.insert(base.size(), "_");
    return safe;
}

namespace {

// A container that holds a rom, and the name it is to have.
struct Rename {
    std::string from, to;
    const DatRom* rom;
    bool made_safe;  // the rom's name had characters that file names cannot hold
};

// The name for `rom` in the folder of `container`: the rom's name with its extension replaced by ".qiv".
Rename rename_of(const std::string& container, const DatRom& rom) {
    const std::size_t dot = rom.name.rfind('.');
    const std::string wanted = (dot == std::string::npos || dot == 0 ? rom.name : rom.name.substr(0, dot)) + ".qiv";
    const std::string safe = safe_file_name(wanted);
    const std::string file = to_utf8(to_path(container).filename());
    return {container, container.substr(0, container.size() - file.size()) + safe, &rom, safe != wanted};
}

// Whether renaming `from` to `to` would find the name taken: by a file other than `from` itself (a
// name that differs in case alone names the same file where names are compared without it).
bool name_taken(const std::string& from, const std::string& to) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(to_path(to), error)) &&
           !qivpak::same_existing_file(from, to);
}

}  // namespace

int rename_command(const RenameArgs& args, Streams& io) {
    std::vector<DatRom> roms;
    if (!read_dats(args.dats, roms, io.err)) return EXIT_SOME_FAILED;
    int status = EXIT_ALL_WELL;
    std::vector<Rename> renames;
    const auto each = [&](const std::string& file, const ContainerHashes* hashed, const std::exception* failure) {
        if (failure) {
            print_failure(io.err, file, *failure);
            status = EXIT_SOME_FAILED;
            return;
        }
        const DatVerdict verdict = find_image(roms, hashed->size, hashed->hashes, file);
        if (verdict.kind == DatVerdict::Kind::verified) renames.push_back(rename_of(file, *verdict.rom));
    };
    try {
        hash_containers(args.containers, {args.threads, !args.no_cache, io.err}, each);
    } catch (const qivpak::Stopped&) {
        io.interrupted = qivpak::pending_interrupt();
        return EXIT_INTERRUPTED;
    }
    std::map<std::string, std::vector<const Rename*>> by_target;
    for (const Rename& rename : renames) by_target[rename.to].push_back(&rename);
    for (const Rename& rename : renames) {
        const std::vector<const Rename*>& sharing = by_target[rename.to];
        if (sharing.size() > 1) {
            if (sharing.front() != &rename) continue;  // said once, for all of them
            std::string names;
            for (const Rename* other : sharing) names += (names.empty() ? "" : ", ") + other->from;
            std::fprintf(io.err, "qiv: %s: %s rom \"%s\"; none renamed\n", names.c_str(),
                         sharing.size() == 2 ? "both are" : "all are", rename.rom->name.c_str());
            status = EXIT_SOME_FAILED;
            continue;
        }
        if (rename.from == rename.to) {
            std::fprintf(io.out, "%s: already named\n", rename.from.c_str());
            continue;
        }
        if (rename.made_safe)
            std::fprintf(io.out, "%s: rom \"%s\" named with \"_\" for what file names cannot hold\n", rename.from.c_str(),
                         rename.rom->name.c_str());
        qivpak::IoStatus renamed;
        if (args.dry_run && name_taken(rename.from, rename.to)) renamed = qivpak::IoStatus::failed("", true);
        else if (!args.dry_run) renamed = qivpak::rename_into_place(rename.from, rename.to, false);
        if (renamed.ok()) {
            std::fprintf(io.out, "%s -> %s%s\n", rename.from.c_str(), rename.to.c_str(), args.dry_run ? " (dry run)" : "");
        } else {
            status = EXIT_SOME_FAILED;
            if (renamed.name_taken())
                std::fprintf(io.err, "qiv: %s: not renamed: %s exists\n", rename.from.c_str(), rename.to.c_str());
            else
                std::fprintf(io.err, "qiv: %s: cannot rename to %s: %s\n", rename.from.c_str(), rename.to.c_str(),
                             renamed.reason().c_str());
        }
        std::fflush(io.out);
    }
    return with_output_checked(io, status);
}

}  // namespace qiv
