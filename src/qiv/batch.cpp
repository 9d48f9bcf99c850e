// batch.cpp - qiv pack and qiv unpack: many inputs, each to one output that appears only when complete
#include "io/interrupt.hpp"
#include "io/permissions.hpp"
#include "io/same_file.hpp"
#include "io/terminal.hpp"
#include "qiv/batch_display.hpp"
#include "qiv/commands.hpp"
#include "qiv/failure.hpp"
#include "qiv/paths.hpp"
#include "qiv/pending_output.hpp"

#include <qivpak/pack.hpp>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <system_error>

namespace qiv {

namespace {

namespace fs = std::filesystem;

using ProgressFn = std::function<void(const qivpak::Progress&)>;
using StopFn = std::function<bool()>;

// One batch command: its inputs, where their outputs go, and the conversion of one input.
struct Batch {
    const std::vector<std::string>& inputs;
    const std::string& out_dir;  // empty: each output beside its input
    bool force;                  // replace outputs that exist
    bool packing;                // outputs are containers (".qiv"), else images (".iso")
    // Writes the output of `input` to the file `output` (which exists, empty), keeping any files of its
    // own in `folder` (the output's); throws qivpak::Error.
    std::function<void(const std::string& input, const std::string& output, const std::string& folder,
                       const ProgressFn&, const StopFn&)>
        convert;
};

std::optional<std::uint64_t> size_of(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(to_path(path), error);
    return error ? std::nullopt : std::optional<std::uint64_t>(size);
}

// Runs the inputs one after the other; each has its outcome in `items_` when it ends.
class BatchRun {
public:
    BatchRun(const Batch& batch, Streams& io)
        : batch_(batch), err_(io.err), display_(io, batch.inputs.size(), batch.packing) {
        for (const std::string& input : batch.inputs) {
            BatchItem& item = items_.emplace_back();
            item.input = input;
            item.output = output_for(input, batch.out_dir, batch.packing ? ".qiv" : ".iso");
            item.in_size = size_of(input);
        }
    }

    // Every input until the first interruption; then the summary. True when none failed.
    bool run() {
        for (std::size_t i = 0; i < items_.size() && qivpak::pending_interrupt() == 0; ++i) {
            run_one(i, items_[i]);
            display_.ended(i, items_[i]);
        }
        remove_unused_out_dir();
        display_.summary(items_);
        return std::none_of(items_.begin(), items_.end(), [](const BatchItem& item) { return item.outcome == Outcome::failed; });
    }

private:
    void run_one(std::size_t index, BatchItem& item) {
        if (const std::string refusal = refusal_of(item); !refusal.empty()) {
            item.outcome = Outcome::failed;
            item.why = refusal;
            return;
        }
        std::error_code error;
        if (!batch_.force && fs::exists(fs::symlink_status(to_path(item.output), error))) {
            item.outcome = Outcome::skipped;
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        try {
            make_out_dir();
            PendingOutput pending(item.output);
            for (const std::string& leftover : pending.removed_leftovers())
                std::fprintf(err_, "qiv: removed %s, left by a run of %s that did not finish\n", leftover.c_str(),
                             item.output.c_str());
            display_.started(index, item);  // its temporary file exists from here on
            batch_.convert(
                item.input, pending.temp_path(), pending.folder(),
                [this](const qivpak::Progress& p) { display_.progress(p); },
                [] { return qivpak::pending_interrupt() != 0; });
            item.out_size = size_of(pending.temp_path());
            // The output is the input in another form: it keeps who may read it and when it was made.
            // A folder whose file system keeps neither (a FAT stick) still takes the output, with a word.
            if (std::string why; !qivpak::copy_mode_and_time(item.input, pending.temp_path(), why))
                std::fprintf(err_, "qiv: %s: cannot keep the permissions and time of %s: %s\n", item.output.c_str(),
                             item.input.c_str(), why.c_str());
            pending.put_in_place(batch_.force);
            item.outcome = Outcome::done;
        } catch (const qivpak::Stopped&) {
            item.outcome = Outcome::interrupted;
        } catch (const std::exception& failure) {
            item.outcome = Outcome::failed;
            item.why = failure_text(failure);  // its frame and the system's reason, as verify and cat say them
        }
        item.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    // Makes the folder of the outputs when the first output is about to be written, so that a run whose
    // every input fails or is skipped makes none. Throws InputFailed when it cannot be made.
    void make_out_dir() {
        if (batch_.out_dir.empty() || out_dir_ready_) return;
        std::error_code error;
        // The folders this run makes, the deepest first, to be taken back if no output lands in them.
        for (fs::path at = to_path(batch_.out_dir); !at.empty() && !fs::exists(at, error); at = at.parent_path()) {
            made_.push_back(at);
            if (at == at.parent_path()) break;
        }
        if (!fs::is_directory(to_path(batch_.out_dir), error) && !fs::create_directories(to_path(batch_.out_dir), error)) {
            made_.clear();
            throw InputFailed("cannot create the folder " + batch_.out_dir + ": " + error.message());
        }
        out_dir_ready_ = true;
    }

    // Takes back the folders made for outputs when none was written into them.
    void remove_unused_out_dir() {
        if (std::any_of(items_.begin(), items_.end(), [](const BatchItem& item) { return item.outcome == Outcome::done; }))
            return;
        std::error_code error;
        for (const fs::path& folder : made_)
            if (!fs::remove(folder, error)) return;  // it takes an empty folder only
    }

    // Why the input is not to be converted at all; empty when it is. (A folder given as an input has
    // become its files before the batch starts.)
    std::string refusal_of(const BatchItem& item) {
        if (qivpak::same_existing_file(item.input, item.output))
            return "the output " + item.output + " is the input itself";
        const auto [first, fresh] = claimed_.emplace(qivpak::path_identity(item.output), item.input);
        if (!fresh) return "the output " + item.output + " is also the output of " + first->second;
        return "";
    }

    const Batch& batch_;
    std::FILE* err_;  // messages that are no input's outcome
    BatchDisplay display_;
    std::vector<BatchItem> items_;
    std::map<std::string, std::string> claimed_;  // the identity of each output named so far -> its input
    bool out_dir_ready_ = false;
    std::vector<fs::path> made_;  // folders made for the outputs, the deepest first
};

int run_batch(const Batch& batch, Streams& io) {
    qivpak::keep_running_when_a_pipe_closes();
    const bool all_well = BatchRun(batch, io).run();
    if (const int signal = qivpak::pending_interrupt(); signal != 0) {
        io.interrupted = signal;
        return EXIT_INTERRUPTED;
    }
    return all_well ? EXIT_ALL_WELL : EXIT_SOME_FAILED;
}

}  // namespace

int pack_command(const PackArgs& args, Streams& io) {
    const auto convert = [&args](const std::string& image, const std::string& container, const std::string& folder,
                                 const ProgressFn& progress, const StopFn& stop) {
        qivpak::PackOptions options = args.options;
        options.scratch_folder = folder.empty() ? "." : folder;
        options.progress = progress;
        options.should_stop = stop;
        if (qivpak::pack(image, container, options).image_grew)
            throw InputFailed("the image grew while it was packed; its container would lack the bytes added");
    };
    return run_batch({args.images, args.out_dir, args.force, true, convert}, io);
}

int unpack_command(const UnpackArgs& args, Streams& io) {
    const auto convert = [&args](const std::string& container, const std::string& image, const std::string&,
                                 const ProgressFn& progress, const StopFn& stop) {
        qivpak::unpack(container, image, {args.threads, progress, stop});
    };
    return run_batch({args.containers, args.out_dir, args.force, false, convert}, io);
}

}  // namespace qiv
