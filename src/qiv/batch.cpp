// batch.cpp - qiv pack and qiv unpack: many inputs, each to one output that appears only when complete
#include "io/interrupt.hpp"
#include "io/terminal.hpp"
#include "qiv/batch_display.hpp"
#include "qiv/commands.hpp"
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
    // Writes the output of `input` to the file `output` (which exists, empty); throws qivpak::Error.
    std::function<void(const std::string& input, const std::string& output, const ProgressFn&, const StopFn&)> convert;
};

std::optional<std::uint64_t> size_of(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(to_path(path), error);
    return error ? std::nullopt : std::optional<std::uint64_t>(size);
}

// The one name of a file that two spellings of it share: absolute, with links and ".." resolved as far as it exists.
std::string identity_of(const std::string& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(to_path(path), error);
    const fs::path resolved = fs::weakly_canonical(absolute, error);
    return to_utf8(error ? absolute.lexically_normal() : resolved);
}

// Runs the inputs one after the other; each has its outcome in `items_` when it ends.
class BatchRun {
public:
    BatchRun(const Batch& batch, Streams& io) : batch_(batch), display_(io, batch.inputs.size(), batch.packing) {
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
            PendingOutput pending(item.output);
            display_.started(index, item);  // its temporary file exists from here on
            batch_.convert(
                item.input, pending.temp_path(), [this](const qivpak::Progress& p) { display_.progress(p); },
                [] { return qivpak::pending_interrupt() != 0; });
            if (qivpak::pending_interrupt() != 0) throw qivpak::Stopped();  // came after the last frame
            item.out_size = size_of(pending.temp_path());
            pending.put_in_place(batch_.force);
            item.outcome = Outcome::done;
        } catch (const qivpak::Stopped&) {
            item.outcome = Outcome::interrupted;
        } catch (const std::exception& failure) {
            item.outcome = Outcome::failed;
            item.why = failure.what();
        }
        item.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    // Why the input is not to be converted at all; empty when it is.
    std::string refusal_of(const BatchItem& item) {
        std::error_code error;
        if (fs::is_directory(to_path(item.input), error)) return item.input + " is a folder";
        if (fs::equivalent(to_path(item.input), to_path(item.output), error))
            return "the output " + item.output + " is the input itself";
        const auto [first, fresh] = claimed_.emplace(identity_of(item.output), item.input);
        if (!fresh) return "the output " + item.output + " is also the output of " + first->second;
        return "";
    }

    const Batch& batch_;
    BatchDisplay display_;
    std::vector<BatchItem> items_;
    std::map<std::string, std::string> claimed_;  // the identity of each output named so far -> its input
};

int run_batch(const Batch& batch, Streams& io) {
    qivpak::keep_running_when_a_pipe_closes();
    std::error_code error;
    if (!batch.out_dir.empty() && !fs::is_directory(to_path(batch.out_dir)) &&
        !fs::create_directories(to_path(batch.out_dir), error)) {
        std::fprintf(io.err, "qiv: %s: cannot create the folder: %s\n", batch.out_dir.c_str(), error.message().c_str());
        return EXIT_SOME_FAILED;
    }
    const bool all_well = BatchRun(batch, io).run();
    if (const int signal = qivpak::pending_interrupt(); signal != 0) {
        io.interrupted = signal;
        return EXIT_INTERRUPTED;
    }
    return all_well ? EXIT_ALL_WELL : EXIT_SOME_FAILED;
}

}  // namespace

int pack_command(const PackArgs& args, Streams& io) {
    const auto convert = [&args](const std::string& image, const std::string& container, const ProgressFn& progress,
                                 const StopFn& stop) {
        qivpak::PackOptions options;
        options.level = args.level;
        options.analyze = args.analyze;
        options.threshold = args.threshold;
        options.movies = args.movies;
        options.audio = args.audio;
        options.threads = args.threads;
        options.progress = progress;
        options.should_stop = stop;
        qivpak::pack(image, container, options);
    };
    return run_batch({args.images, args.out_dir, args.force, true, convert}, io);
}

int unpack_command(const UnpackArgs& args, Streams& io) {
    const auto convert = [&args](const std::string& container, const std::string& image, const ProgressFn& progress,
                                 const StopFn& stop) {
        qivpak::unpack(container, image, {args.threads, progress, stop});
    };
    return run_batch({args.containers, args.out_dir, args.force, false, convert}, io);
}

}  // namespace qiv
