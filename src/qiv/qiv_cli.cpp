// qiv_cli.cpp - qiv's command line: subcommands and GNU-style long options, parsed with CLI11
#include "qiv/commands.hpp"
#include "qiv/inputs.hpp"
#include "qiv/hash_cache.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>

namespace qiv {

namespace {

constexpr const char* VERSION = "qiv 0.3";

// Every number on the command line is decimal: digits only, leading zeros
// being zeros (never octal), no sign, no "0x", nothing empty, and no more than
// a 64-bit count. The text is handed on without its leading zeros, so that the
// conversion after it cannot read it any other way.
const CLI::Validator DECIMAL(
    [](std::string& text) -> std::string {
        const bool digits =
            !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits) return "Value '" + text + "' is not a decimal number";
        std::uint64_t value = 0;
        if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc())
            return "Value " + text + " is too large";
        text = std::to_string(value);
        return "";
    },
    "", "decimal");

// Options every command that reads or writes many frames takes.
void add_threads(CLI::App& command, unsigned& threads) {
    command.add_option("--threads", threads, "worker threads (0: every CPU the process may run on)")
        ->transform(DECIMAL)
        ->check(CLI::Range(0u, qivpak::MAX_REQUESTED_THREADS));
}

// The flag of every command that hashes containers.
// --dat FILE: one file each time, so that the names after it stay containers.
CLI::Option* add_dats(CLI::App& command, std::vector<std::string>& dats, const std::string& help) {
    return command.add_option("--dat", dats, help)->allow_extra_args(false);
}

void add_no_cache(CLI::App& command, bool& no_cache) {
    command.add_flag("--no-cache", no_cache, "read every container, and keep no hashes in the hash cache");
}

// The value of pack's --analyze is optional, and taken only when attached (--analyze=N, -aN), as
// getopt takes optional values: a bare --analyze or -a becomes --analyze=0 (the default) here, so that
// the image after it stays an image.
std::vector<std::string> with_bare_analyze_valued(std::vector<std::string> args) {
    if (args.empty() || args[0] != "pack") return args;
    for (std::string& arg : args) {
        if (arg == "--") break;
        if (arg == "-a" || arg == "--analyze") arg = "--analyze=0";
    }
    return args;
}

// -r, for the commands whose inputs may be folders.
void add_recursive(CLI::App& command, bool& recursive) {
    command.add_flag("-r,--recursive", recursive, "take the files of the folders given, and of every folder below them");
}

}  // namespace

int run_qiv(const std::vector<std::string>& args, Streams& io) {
    CLI::App app("qiv: information, verification, batch packing and unpacking of QIV containers", "qiv");
    app.set_version_flag("--version", VERSION);
    app.require_subcommand(1);
    app.fallthrough(false);
    // Options are GNU-style on every system: on Windows too "/DATA/README.TXT" is a disc's path, never an
    // option (set before the subcommands, which inherit it).
    app.allow_windows_style_options(false);
    const std::string cache = HashCache::default_path();
    app.footer(cache.empty() ? "Hash cache: none (no cache folder is set), so every container is read.\n"
                             : "Hash cache: " + cache + "\n  verify, report and rename find the hashes of a container there while its size,\n"
                               "  time and identity stay the same, without reading it; delete the file at any\n"
                               "  time, or give them --no-cache.\n");

    InfoArgs info;
    CLI::App* info_cmd = app.add_subcommand("info", "what containers hold: sizes, frames, NC areas, version");
    info_cmd->add_option("containers", info.containers, "QIV containers, or folders of them")->required();
    info_cmd->add_flag("--json", info.json, "one JSON document for scripts");
    bool recursive = false;
    add_recursive(*info_cmd, recursive);

    VerifyArgs verify;
    CLI::App* verify_cmd =
        app.add_subcommand("verify", "read every frame and compute CRC32, MD5 and SHA-1 of each image");
    verify_cmd->add_option("containers", verify.containers, "QIV containers, or folders of them")->required();
    add_dats(*verify_cmd, verify.dats, "DAT file (Logiqx XML) to find the images in; may repeat");
    verify_cmd->add_flag("--json", verify.json, "one JSON document for scripts");
    add_threads(*verify_cmd, verify.threads);
    add_recursive(*verify_cmd, recursive);
    add_no_cache(*verify_cmd, verify.no_cache);

    PackArgs pack;
    std::optional<std::uint32_t> analyze;
    bool media = false;
    CLI::App* pack_cmd = app.add_subcommand("pack", "pack disc images into QIV containers, each IMAGE to IMAGE.qiv");
    pack_cmd->add_option("images", pack.images, "disc images, or folders of them")->required();
    pack_cmd->add_option("-o,--output-dir", pack.out_dir, "folder for the containers (default: beside each image)");
    pack_cmd->add_flag("-f,--force", pack.force, "replace containers that exist");
    pack_cmd->add_option("-l,--level", pack.options.level, "zlib level, 1..9 (0: zlib's default)")->transform(DECIMAL)->check(CLI::Range(0, 9));
    pack_cmd->add_option("-a,--analyze", analyze,
                         "store runs of frames that compress to N bytes or more raw (default 8192: not at all)")
        ->default_str("8192")
        ->transform(DECIMAL)
        ->check(CLI::Range(0u, qivpak::FRAME_SIZE));
    pack_cmd->add_flag("--movies", pack.options.movies, "store the movie files (PSMF) of an ISO 9660 image raw");
    pack_cmd->add_flag("--audio", pack.options.audio, "store the audio files (RIFF) of an ISO 9660 image raw");
    pack_cmd->add_flag("--media", media, "--movies and --audio");
    add_threads(*pack_cmd, pack.options.threads);
    add_recursive(*pack_cmd, recursive);

    UnpackArgs unpack;
    CLI::App* unpack_cmd =
        app.add_subcommand("unpack", "restore the images of QIV containers, each CONTAINER to CONTAINER.iso");
    unpack_cmd->add_option("containers", unpack.containers, "QIV containers, or folders of them")->required();
    unpack_cmd->add_option("-o,--output-dir", unpack.out_dir, "folder for the images (default: beside each container)");
    unpack_cmd->add_flag("-f,--force", unpack.force, "replace images that exist");
    add_threads(*unpack_cmd, unpack.threads);
    add_recursive(*unpack_cmd, recursive);

    ReportArgs report;
    CLI::App* report_cmd = app.add_subcommand(
        "report", "which roms of DAT files the containers hold, which are missing or bad, and which containers are extra");
    report_cmd->add_option("containers", report.containers, "QIV containers, or folders of them")->required();
    add_dats(*report_cmd, report.dats, "DAT file (Logiqx XML) whose roms are looked for; may repeat")->required();
    report_cmd->add_flag("--json", report.json, "one JSON document for scripts");
    report_cmd->add_option("--fixdat", report.fixdat, "write a DAT of the roms that no container holds to this file");
    add_threads(*report_cmd, report.threads);
    add_no_cache(*report_cmd, report.no_cache);
    add_recursive(*report_cmd, recursive);

    RenameArgs rename;
    CLI::App* rename_cmd =
        app.add_subcommand("rename", "name each container that holds a rom of DAT files after that rom");
    rename_cmd->add_option("containers", rename.containers, "QIV containers, or folders of them")->required();
    add_dats(*rename_cmd, rename.dats, "DAT file (Logiqx XML) to find the images in; may repeat")->required();
    rename_cmd->add_flag("--dry-run", rename.dry_run, "say what would be renamed, and rename nothing");
    add_threads(*rename_cmd, rename.threads);
    add_no_cache(*rename_cmd, rename.no_cache);
    add_recursive(*rename_cmd, recursive);

    CatArgs cat;
    std::optional<std::uint64_t> length;
    CLI::App* cat_cmd = app.add_subcommand("cat", "write the plain image, or a file on its disc, or a byte range of either, to standard output");
    cat_cmd->add_option("container", cat.container, "QIV container")->required();
    cat_cmd->add_option("path", cat.path, "a file on the disc inside (default: the whole image)");
    cat_cmd->add_option("--offset", cat.offset, "first byte (default 0)")->transform(DECIMAL);
    cat_cmd->add_option("--length", length, "bytes (default: to the end of the image)")->transform(DECIMAL);

    LsArgs ls;
    CLI::App* ls_cmd = app.add_subcommand("ls", "list the files and folders of the ISO 9660 disc inside a container");
    ls_cmd->add_option("container", ls.container, "QIV container")->required();
    ls_cmd->add_option("paths", ls.paths, "files and folders of the disc (default: all of it)");
    ls_cmd->add_flag("-l,--long", ls.long_format, "mode, size, modification time (UTC), path, symlink target");
    ls_cmd->add_flag("--json", ls.json, "one JSON document for scripts");

    ExtractArgs extract;
    CLI::App* extract_cmd = app.add_subcommand(
        "extract", "write the files, folders and symlinks of the disc inside a container under a folder");
    extract_cmd->add_option("container", extract.container, "QIV container")->required();
    extract_cmd->add_option("paths", extract.paths, "files and folders of the disc, each with all below it (default: all of it)");
    extract_cmd->add_option("-o,--output-dir", extract.out_dir,
                            "folder to write them under (default: beside the container, named after it without its extension)");
    extract_cmd->add_flag("-f,--force", extract.force, "replace files and symlinks that exist");
    add_threads(*extract_cmd, extract.threads);

    // A first word that names no command is said to be one, rather than
    // taken for a stray argument of qiv itself.
    CLI::App* const commands[] = {info_cmd, verify_cmd, pack_cmd, unpack_cmd, report_cmd, rename_cmd, cat_cmd, ls_cmd, extract_cmd};
    const auto names_a_command = [&](const std::string& word) {
        return std::any_of(std::begin(commands), std::end(commands), [&](CLI::App* c) { return c->check_name(word); });
    };
    if (!args.empty() && !args[0].starts_with("-") && !names_a_command(args[0])) {
        std::fprintf(io.err,
                     "qiv: '%s' is not a command: info, verify, pack, unpack, report, rename, cat, ls or extract\n"
                     "Run qiv --help for more information.\n",
                     args[0].c_str());
        return EXIT_USAGE;
    }
    const std::vector<std::string> given = with_bare_analyze_valued(args);
    std::vector<std::string> reversed(given.rbegin(), given.rend());  // CLI11 takes them last first
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), io.out);  // the help of the command named, if any
        return EXIT_ALL_WELL;
    } catch (const CLI::CallForVersion&) {
        std::fprintf(io.out, "%s\n", VERSION);
        return EXIT_ALL_WELL;
    } catch (const CLI::ParseError& error) {
        std::fprintf(io.err, "qiv: %s\nRun qiv --help for more information.\n", error.what());
        return EXIT_USAGE;
    }

    // Folders among the inputs become their files here, for every command alike: a folder without any
    // is said and left out, the others go on, and the run fails at the end (or at once, when nothing is left).
    const auto expanded = [&](std::vector<std::string>& inputs, FileKind kind, const auto& command) {
        const bool all_well = expand_inputs(inputs, kind, recursive, io.err);
        if (inputs.empty()) return EXIT_SOME_FAILED;
        const int status = command();
        return status == EXIT_ALL_WELL && !all_well ? EXIT_SOME_FAILED : status;
    };
    constexpr FileKind containers = FileKind::containers;
    if (*info_cmd) return expanded(info.containers, containers, [&] { return info_command(info, io); });
    if (*verify_cmd) return expanded(verify.containers, containers, [&] { return verify_command(verify, io); });
    if (*report_cmd) return expanded(report.containers, containers, [&] { return report_command(report, io); });
    if (*rename_cmd) return expanded(rename.containers, containers, [&] { return rename_command(rename, io); });
    if (*pack_cmd) {
        if (analyze) {
            pack.options.analyze = true;
            pack.options.threshold = *analyze;
        }
        pack.options.movies = pack.options.movies || media;
        pack.options.audio = pack.options.audio || media;
        return expanded(pack.images, FileKind::images, [&] { return pack_command(pack, io); });
    }
    if (*unpack_cmd) return expanded(unpack.containers, containers, [&] { return unpack_command(unpack, io); });
    if (*ls_cmd) return ls_command(ls, io);
    if (*extract_cmd) return extract_command(extract, io);
    cat.length = length;
    return cat_command(cat, io);
}

}  // namespace qiv
