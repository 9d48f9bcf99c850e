// extract.cpp - qiv extract: the files, folders and symlinks of the disc inside a container, written under one folder
//
// A disc is untrusted, so nothing is written outside the folder: names that
// cannot be file names (or, on Windows, names Windows cannot hold), symlinks
// that lead out of the folder, and entries whose way passes through a symlink
// (one this run made, or one that was there) are refused with a message, and
// the rest goes on. Every folder on the way to an entry is looked at without
// following symlinks just before the entry is written. Each file is written
// under a temporary name and renamed into place when complete
// (PendingOutput), as qiv unpack writes images, so a file is never seen half
// written; folders get their modes and times once what they hold is written.
#include "io/cpu_count.hpp"
#include "io/file.hpp"
#include "io/interrupt.hpp"
#include "io/permissions.hpp"
#include "io/terminal.hpp"
#include "qiv/batch_display.hpp"
#include "pipeline/worker_group.hpp"
#include "qiv/commands.hpp"
#include "qiv/disc_names.hpp"
#include "qiv/failure.hpp"
#include "qiv/paths.hpp"
#include "qiv/pending_output.hpp"
#include "qiv/utf8.hpp"

#include <qivpak/disc.hpp>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

namespace qiv {

namespace {

namespace fs = std::filesystem;
using qivpak::DiscEntry;
using qivpak::EntryKind;

constexpr std::size_t kChunk = std::size_t{1} << 20;  // bytes per read: 128 whole frames
constexpr std::size_t kNone = SIZE_MAX;

// What became of an entry. A folder that was there already is `found`: what it holds may go in it, but it
// counts as no entry extracted.
enum class Result { pending, extracted, found, skipped, refused, failed, interrupted };

// One entry of the disc to extract.
struct Item {
    DiscEntry entry;
    std::size_t parent;       // the item of its folder; kNone for an entry named on the command line
    std::string rel;          // its path below the output folder, names joined by "/"; "" for the root
    std::size_t depth;        // names in rel
    Result result = Result::pending;
};

// Reads the chunks of one file at a time on helper threads, up to two a helper ahead of the writer, which
// takes them in order. One mutex guards the slots and the file being read; one condition variable carries
// every change; no lock is held while a chunk is read. With no helper (--threads 1, or the system granted
// none) the writer reads each chunk itself.
class AheadReader {
public:
    AheadReader(const qivpak::DiscTree& tree, unsigned helpers)
        : tree_(tree), slots_(std::max(2 * helpers, 1u)),
          group_(helpers, [this](unsigned) { help(); }, [this] {
              std::lock_guard lock(mutex_);
              stop_ = true;
              changed_.notify_all();
          }) {}

    // Starts on `file` (which outlives the reads), once no helper still reads the one before.
    void begin(const DiscEntry& file) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return reading_ == 0; });
        file_ = &file;
        count_ = static_cast<std::size_t>((file.size + kChunk - 1) / kChunk);
        next_ = released_ = 0;
        for (Slot& slot : slots_) slot = {std::move(slot.bytes), kNone, 0, {}};
        changed_.notify_all();
    }

    // Chunk `index` of the file begun, taken in order from 0: its bytes and their count, fewer than asked
    // for where the image ends inside the file. Throws what the read threw. Holds until release(index).
    const std::uint8_t* take(std::size_t index, std::size_t& got) {
        Slot& slot = slots_[index % slots_.size()];
        if (group_.started() == 0) {
            read(slot, index);
        } else {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return slot.index == index; });
        }
        if (slot.error) std::rethrow_exception(slot.error);
        got = slot.got;
        return slot.bytes.data();
    }

    void release(std::size_t index) {
        std::lock_guard lock(mutex_);
        released_ = index + 1;
        changed_.notify_all();
    }

    // The bytes chunk `index` asks for.
    std::size_t length(std::size_t index) const {
        return static_cast<std::size_t>(std::min<std::uint64_t>(file_->size - std::uint64_t{index} * kChunk, kChunk));
    }

private:
    struct Slot {
        std::vector<std::uint8_t> bytes;
        std::size_t index = kNone;  // the chunk it holds, once read
        std::size_t got = 0;
        std::exception_ptr error;
    };

    void read(Slot& slot, std::size_t index) {
        slot.bytes.resize(kChunk);
        try {
            slot.got = tree_.read(*file_, std::uint64_t{index} * kChunk, slot.bytes.data(), length(index));
        } catch (...) {
            slot.error = std::current_exception();
        }
        slot.index = index;
    }

    // A helper: the next chunk whose slot the writer has released, until stopped.
    void help() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            if (next_ >= count_ || next_ >= released_ + slots_.size()) {
                changed_.wait(lock);
                continue;
            }
            const std::size_t index = next_++;
            Slot& slot = slots_[index % slots_.size()];
            ++reading_;
            Slot done{std::move(slot.bytes), kNone, 0, {}};
            lock.unlock();
            read(done, index);
            lock.lock();
            slot = std::move(done);
            --reading_;
            changed_.notify_all();
        }
    }

    const qivpak::DiscTree& tree_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Slot> slots_;       // chunk i in slot i % size
    const DiscEntry* file_ = nullptr;
    std::size_t count_ = 0;         // chunks of the file
    std::size_t next_ = 0;          // the first chunk no helper has taken
    std::size_t released_ = 0;      // chunks the writer is done with
    std::size_t reading_ = 0;       // helpers reading now
    bool stop_ = false;
    qivpak::WorkerGroup group_;     // last: its threads stop before the rest goes
};

// Splits "a/b/c" at its slashes.
std::vector<std::string> names_of(const std::string& rel) {
    std::vector<std::string> names;
    for (std::size_t at = 0; at < rel.size();) {
        const std::size_t end = std::min(rel.find('/', at), rel.size());
        names.push_back(rel.substr(at, end - at));
        at = end + 1;
    }
    return names;
}

class Extraction {
public:
    Extraction(const ExtractArgs& args, const qivpak::DiscTree& tree, Streams& io, std::string out_dir)
        : args_(args), tree_(tree), io_(io), out_dir_(std::move(out_dir)), display_(io, 1, false),
          reader_(tree, args.threads == 1 ? 0 : args.threads == 0 ? qivpak::available_cpus() : args.threads) {}

    // Adds the entry at `path` of the disc, and everything below it when it is a folder.
    void select(const std::string& path) {
        std::optional<DiscEntry> entry;
        try {
            entry = tree_.find(path);
        } catch (const std::exception& error) {
            fail_whole(error);
            return;
        }
        if (!entry) {
            say(shown(path), "no such file or folder");
            ++missing_;
            return;
        }
        const std::string rel = entry->path == "/" ? "" : entry->path.substr(1);
        items_.push_back({*entry, kNone, rel, names_of(rel).size()});
        if (entry->kind != EntryKind::folder) return;
        // walk() goes depth first, so the folder of an entry is the last folder met one level up.
        const auto level = [](const DiscEntry& e) { return e.ancestors ? e.ancestors->size() : 0; };
        std::vector<std::size_t> folder_at(level(*entry) + 2, kNone);
        folder_at[level(*entry) + 1] = items_.size() - 1;
        try {
            tree_.walk(*entry, [&](const DiscEntry& e) {
                const std::size_t parent = folder_at.at(level(e));
                const Item& above = items_[parent];
                std::string below = above.rel.empty() ? e.name : above.rel + "/" + e.name;
                const std::size_t depth = above.depth + 1;
                items_.push_back({e, parent, std::move(below), depth});
                if (e.kind != EntryKind::folder) return;
                if (folder_at.size() < level(e) + 2) folder_at.resize(level(e) + 2, kNone);
                folder_at[level(e) + 1] = items_.size() - 1;
            });
        } catch (const std::exception& error) {
            fail_whole(error);
        }
    }

    // Writes what was selected; then the modes and times of the folders, and the summary line.
    int run() {
        for (const Item& item : items_)
            if (item.entry.kind == EntryKind::file) total_ += item.entry.size;
        std::error_code error;
        if (!items_.empty() && !fs::is_directory(to_path(out_dir_), error) && !fs::create_directories(to_path(out_dir_), error)) {
            std::fprintf(io_.err, "qiv: %s: cannot create the folder %s: %s\n", args_.container.c_str(), out_dir_.c_str(),
                         error ? error.message().c_str() : "a file has its name");
            return EXIT_SOME_FAILED;
        }
        if (io_.out_is_terminal) display_.started(0, {args_.container, out_dir_, {}, {}, {}, Outcome::not_started, {}});
        for (Item& item : items_) {
            if (qivpak::pending_interrupt() != 0) break;
            item.result = extract(item);
        }
        for (auto it = items_.rbegin(); it != items_.rend(); ++it)  // the deepest folders first
            if (it->entry.kind == EntryKind::folder && placed(*it) && !it->rel.empty() &&
                fs::is_directory(fs::symlink_status(to_path(out_path(it->rel)), error)))
                keep_mode_and_time(*it, out_path(it->rel));
        display_.clear();
        return summary();
    }

private:
    Result extract(Item& item) {
        if (item.parent != kNone && !placed(items_[item.parent])) return items_[item.parent].result;  // said of its folder
        const DiscEntry& e = item.entry;
        if (e.kind == EntryKind::symlink && qivpak::windows_file_rules()) {
            say(shown(e.path), "a symlink, which qiv does not make on Windows; skipped");
            return Result::skipped;
        }
        if (const std::string refusal = refusal_of(item); !refusal.empty()) {
            say(shown(e.path), refusal + "; not extracted");
            return Result::refused;
        }
        const std::string path = out_path(item.rel);
        try {
            if (const std::string blocked = make_way(item); !blocked.empty()) {
                say(shown(e.path), blocked + "; not extracted");
                return Result::refused;
            }
            if (item.rel.empty()) return Result::found;  // the output folder itself
            std::error_code error;
            const fs::file_status there = fs::symlink_status(to_path(path), error);
            const bool exists = fs::exists(there);
            if (e.kind == EntryKind::folder) {
                if (fs::is_directory(there)) return Result::found;
                if (exists && !args_.force) return skipped_existing();
                if (exists && !fs::remove(to_path(path), error))
                    throw InputFailed("cannot replace " + path + " with a folder: " + error.message());
                if (!fs::create_directory(to_path(path), error))
                    throw InputFailed("cannot create the folder " + path + ": " + error.message());
                return Result::extracted;
            }
            if (exists && !args_.force) return skipped_existing();
            if (e.kind == EntryKind::symlink) return make_symlink(item, path, fs::is_directory(there));
            return write_file(item, path);
        } catch (const std::exception& failure) {
            say(shown(e.path), shown(failure_text(failure)));  // it may name the file, with the disc's bytes
            return Result::failed;
        }
    }

    // Why the entry is not to be written at all; empty when it may be.
    std::string refusal_of(const Item& item) const {
        const DiscEntry& e = item.entry;
        if (e.unsafe_name) return "a name no file can have";
        if (qivpak::windows_file_rules()) {
            const std::vector<std::string> names = item.parent == kNone ? names_of(item.rel) : std::vector{e.name};
            for (const std::string& name : names)
                if (windows_cannot_hold(name)) return "a name Windows cannot hold";
        }
        if (e.kind == EntryKind::symlink && symlink_leaves(item.depth - 1, e.target))
            return "a symlink that leads out of the folder (-> " + shown(e.target) + ")";
        return "";
    }

    // Makes sure that every folder from the output folder down to the entry's own is a folder, never a
    // symlink, making those that are missing. Returns why the way is blocked ("" when it is open);
    // throws InputFailed when a folder cannot be made.
    std::string make_way(const Item& item) {
        std::error_code error;
        std::vector<std::string> names = names_of(item.rel);
        if (!names.empty()) names.pop_back();
        std::string at = out_dir_;
        for (const std::string& name : names) {
            at += "/" + name;
            const fs::file_status status = fs::symlink_status(to_path(at), error);
            if (fs::is_symlink(status)) return "its way passes through the symlink " + shown(at);
            if (fs::is_directory(status)) continue;
            if (fs::exists(status) || !fs::create_directory(to_path(at), error))
                throw InputFailed("cannot create the folder " + at + (error ? ": " + error.message() : ": a file has its name"));
        }
        return "";
    }

    Result write_file(const Item& item, const std::string& path) {
        PendingOutput pending(path);
        std::optional<qivpak::File> file = qivpak::File::open(pending.temp_path(), qivpak::File::Mode::truncate);
        if (!file) throw InputFailed("cannot open a temporary file beside " + path);
        reader_.begin(item.entry);
        for (std::size_t index = 0; std::uint64_t{index} * kChunk < item.entry.size; ++index) {
            if (qivpak::pending_interrupt() != 0) return Result::interrupted;  // the temporary file goes with `pending`
            std::size_t got = 0;
            const std::uint8_t* bytes = reader_.take(index, got);
            if (got < reader_.length(index)) throw InputFailed("the image ends inside the file");
            const bool written = file->write_all(bytes, got);
            reader_.release(index);
            if (!written) break;  // the failure is told by close()
            done_ += got;
            display_.progress({qivpak::Stage::unpacking, done_ / qivpak::FRAME_SIZE, total_ / qivpak::FRAME_SIZE});
        }
        if (!file->close()) throw InputFailed("cannot write " + path + ": " + file->failure());
        keep_mode_and_time(item, pending.temp_path());
        pending.put_in_place(args_.force);
        return Result::extracted;
    }

    Result make_symlink(const Item& item, const std::string& path, bool folder_there) {
        std::error_code error;
        if (folder_there) throw InputFailed("cannot replace the folder " + path + " with a symlink");
        if (fs::exists(fs::symlink_status(to_path(path), error)) && !fs::remove(to_path(path), error))
            throw InputFailed("cannot replace " + path + ": " + error.message());
        fs::create_symlink(to_path(item.entry.target), to_path(path), error);
        if (error) throw InputFailed("cannot create the symlink " + path + ": " + error.message());
        if (std::string why; !qivpak::set_link_time(path, item.entry.mtime, why))
            say(shown(item.entry.path), "cannot keep its time: " + why);
        return Result::extracted;
    }

    // Gives `path` the entry's mode (Rock Ridge) and time; a file system that keeps neither still takes the
    // file, with a word.
    void keep_mode_and_time(const Item& item, const std::string& path) {
        if (std::string why; !qivpak::set_mode_and_time(path, item.entry.mode, item.entry.mtime, why))
            say(shown(item.entry.path), "cannot keep its mode and time: " + why);
    }

    static bool placed(const Item& folder) { return folder.result == Result::extracted || folder.result == Result::found; }

    Result skipped_existing() {
        ++skipped_existing_;
        return Result::skipped;
    }

    // "12 extracted, 1 skipped, 2 refused" and where, on standard output; the exit status.
    int summary() {
        std::size_t counts[7] = {};
        for (const Item& item : items_) ++counts[static_cast<std::size_t>(item.result)];
        std::string line = shown(args_.container) + " -> " + shown(out_dir_) + ": " +
                           std::to_string(counts[static_cast<std::size_t>(Result::extracted)]) + " extracted";
        const std::pair<Result, const char*> others[] = {
            {Result::skipped, " skipped"}, {Result::refused, " refused"}, {Result::failed, " failed"}};
        for (const auto& [result, word] : others)
            if (const std::size_t n = counts[static_cast<std::size_t>(result)]; n > 0) line += ", " + std::to_string(n) + word;
        if (skipped_existing_ > 0) line += " (" + std::to_string(skipped_existing_) + " existing: --force replaces them)";
        if (const int signal = qivpak::pending_interrupt(); signal != 0) {
            std::fprintf(io_.out, "%s; interrupted\n", line.c_str());
            io_.interrupted = signal;
            return with_output_checked(io_, EXIT_INTERRUPTED);
        }
        std::fprintf(io_.out, "%s\n", line.c_str());
        const bool all_well = missing_ + whole_failed_ + counts[static_cast<std::size_t>(Result::refused)] +
                                  counts[static_cast<std::size_t>(Result::failed)] ==
                              0;
        return with_output_checked(io_, all_well ? EXIT_ALL_WELL : EXIT_SOME_FAILED);
    }

    std::string out_path(const std::string& rel) const { return rel.empty() ? out_dir_ : out_dir_ + "/" + rel; }

    // "qiv: CONTAINER: WHERE: WHAT" on the error stream, the progress bar out of its way.
    void say(const std::string& where, const std::string& what) {
        display_.clear();
        std::fflush(io_.out);
        std::fprintf(io_.err, "qiv: %s: %s: %s\n", args_.container.c_str(), where.c_str(), what.c_str());
    }

    // A folder of the disc that cannot be read: what came before it is still extracted.
    void fail_whole(const std::exception& error) {
        print_disc_failure(io_.err, args_.container, error);
        ++whole_failed_;
    }

    const ExtractArgs& args_;
    const qivpak::DiscTree& tree_;
    Streams& io_;
    std::string out_dir_;
    BatchDisplay display_;               // the progress bar, on a terminal
    std::vector<Item> items_;            // in walk order: a folder before what it holds
    std::uint64_t total_ = 0, done_ = 0; // bytes of the files to extract, and written
    std::size_t missing_ = 0;            // paths asked for that the disc lacks
    std::size_t whole_failed_ = 0;       // folders that could not be read
    std::size_t skipped_existing_ = 0;   // files left as they were, not replaced
    AheadReader reader_;                 // last: its helpers stop first
};

}  // namespace

int extract_command(const ExtractArgs& args, Streams& io) {
    std::string out_dir = args.out_dir.empty() ? output_for(args.container, "", "") : args.out_dir;
    while (out_dir.size() > 1 && out_dir.ends_with('/')) out_dir.pop_back();
    if (out_dir == args.container) {
        std::fprintf(io.err, "qiv: %s: has no extension to drop for the folder to extract to: name one with -o\n",
                     args.container.c_str());
        return EXIT_USAGE;
    }
    qivpak::keep_running_when_a_pipe_closes();
    std::optional<qivpak::QivReader> reader;
    std::optional<qivpak::DiscTree> tree;
    if (!open_disc(args.container, reader, tree, io.err)) return EXIT_SOME_FAILED;
    Extraction extraction(args, *tree, io, out_dir);
    if (args.paths.empty()) extraction.select("/");
    for (const std::string& path : args.paths) extraction.select(path);
    return extraction.run();
}

}  // namespace qiv
