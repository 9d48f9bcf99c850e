// commands.hpp - the subcommands of qiv, each a function from its parsed arguments to an exit status
//
// qiv works on containers only through the public library API
// (qivpak/pack.hpp, qivpak/reader.hpp, qivpak/disc.hpp). Every command writes its results to
// `out` and its messages (one line each, naming the file) to `err`, and
// returns one of the exit statuses below; an interruption (Ctrl-C, SIGTERM)
// is noticed between frames, cleaned up after, and reported as
// EXIT_INTERRUPTED with the signal in Streams::interrupted.
#pragma once

#include <qivpak/pack.hpp>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qiv {

inline constexpr int EXIT_ALL_WELL = 0;     // every file went well
inline constexpr int EXIT_SOME_FAILED = 1;  // some file failed, or did not verify
inline constexpr int EXIT_USAGE = 2;        // the command line was wrong
inline constexpr int EXIT_INTERRUPTED = 3;  // stopped by an interruption; the signal is in Streams::interrupted

// Where a command writes, and what it may know about it.
struct Streams {
    std::FILE* out;             // results (text; on Windows "\n" goes out as "\r\n" except for cat)
    std::FILE* err;             // messages, one line each
    bool out_is_terminal;       // out is a terminal (a tty, or a Windows console)
    int interrupted = 0;        // set with EXIT_INTERRUPTED: the signal that stopped the command
};

struct InfoArgs {
    std::vector<std::string> containers;
    bool json = false;
};

struct VerifyArgs {
    std::vector<std::string> containers;
    std::vector<std::string> dats;  // DAT files (Logiqx XML) to find the images in
    bool json = false;
    unsigned threads = 0;           // 0: every CPU the process may run on
    bool no_cache = false;          // neither read nor write the hash cache
};

struct PackArgs {
    std::vector<std::string> images;
    std::string out_dir;            // empty: each output beside its input
    bool force = false;             // replace outputs that exist
    qivpak::PackOptions options;    // as given: the library normalizes them
};

struct UnpackArgs {
    std::vector<std::string> containers;
    std::string out_dir;
    bool force = false;
    unsigned threads = 0;
};

struct ReportArgs {
    std::vector<std::string> containers;
    std::vector<std::string> dats;       // DAT files (Logiqx XML) whose roms are looked for
    bool json = false;
    std::optional<std::string> fixdat;   // where to write a DAT of the roms no container holds
    unsigned threads = 0;
    bool no_cache = false;               // neither read nor write the hash cache
};

struct RenameArgs {
    std::vector<std::string> containers;
    std::vector<std::string> dats;
    bool dry_run = false;                // say what would be renamed, rename nothing
    unsigned threads = 0;
    bool no_cache = false;               // neither read nor write the hash cache
};

struct CatArgs {
    std::string container;
    std::uint64_t offset = 0;
    std::optional<std::uint64_t> length;  // none: to the end of the image (or of the file)
    std::optional<std::string> path;      // a file on the disc inside, the range counted in it; none: the image
};

struct LsArgs {
    std::string container;
    std::vector<std::string> paths;  // files and folders of the disc; none: all of it
    bool long_format = false;        // --long: mode, size, time, path, symlink target
    bool json = false;
};

struct ExtractArgs {
    std::string container;
    std::vector<std::string> paths;  // files and folders of the disc, each with all below it; none: all of it
    std::string out_dir;             // empty: beside the container, named after it without its extension
    bool force = false;              // replace files and symlinks that exist
    unsigned threads = 0;            // reading the files; 0: every CPU the process may run on
};

int info_command(const InfoArgs& args, Streams& io);
int verify_command(const VerifyArgs& args, Streams& io);
int pack_command(const PackArgs& args, Streams& io);
int unpack_command(const UnpackArgs& args, Streams& io);
int report_command(const ReportArgs& args, Streams& io);
int rename_command(const RenameArgs& args, Streams& io);
int cat_command(const CatArgs& args, Streams& io);
int ls_command(const LsArgs& args, Streams& io);
int extract_command(const ExtractArgs& args, Streams& io);

// The file name a rom's name becomes (rename): every character that Windows
// refuses in a file name (< > : " / \ | ? * and the control characters)
// replaced by "_", as is a dot or space at its end, and "_" after a device
// name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, in any case, with any
// extension), on every system, so that a collection moves between them.
std::string safe_file_name(std::string_view name);

// Parses the command line (the arguments after the program name, UTF-8) and
// runs the command it names. --help and --version print to io.out and return
// EXIT_ALL_WELL; a wrong command line prints its error and a hint to io.err
// and returns EXIT_USAGE.
int run_qiv(const std::vector<std::string>& args, Streams& io);

}  // namespace qiv
