// qivpak_main.cpp - the front end: banner, options, the files of one run, its closing lines and exit status
#include "cli/qivpak_main.hpp"

#include "io/interrupt.hpp"
#include "cli/options.hpp"
#include "cli/run_report.hpp"
#include "engine/pack_chain.hpp"
#include "format/qiv_format.hpp"
#include "io/same_file.hpp"

#include <cstdio>
#include <exception>
#include <new>

namespace qivpak {

namespace {

constexpr int EXIT_FAILED = 255;  // the usage text, or any error

// The output this run created, removed when the run is interrupted before
// it is finished. Empty until the output is opened.
struct CleanUp {
    std::string output;
};

// The run is interrupted by `signal`.
struct Interrupted {
    int signal;
};

// Until "Finished." is printed the output is unfinished: a signal that
// arrived by then interrupts the run, however far it got.
void check_interrupt() {
    if (const int signal = pending_interrupt()) throw Interrupted{signal};
}

// Refuses a run that would overwrite its own input, and drops an info file
// that would overwrite the input or the output. Nothing has been opened yet.
void check_same_files(Console& console, Options& opt) {
    if (same_existing_file(opt.input, opt.output))
        throw RunError{opt.decompress ? Fault::image_is_container : Fault::output_is_input};
    if (opt.info && (same_existing_file(*opt.info, opt.input) || same_file_or_path(*opt.info, opt.output))) {
        console.print("Warning: info file %s is the input or output file; no info file is written\n",
                      opt.info->c_str());
        opt.info.reset();
    }
}

void print_report(Console& console, InfoFile& info, std::uint32_t total_size, std::uint64_t container_size) {
    const std::uint32_t in_kb = total_size >> 10;
    const std::uint64_t out_kb = container_size / 1024;
    const std::uint64_t ratio = in_kb == 0 ? 0 : out_kb * 100 / in_kb;
    const char* format = "Report: %d KB -> %d KB (%d%%)\n\n";
    console.print(format, static_cast<int>(in_kb), static_cast<int>(out_kb), static_cast<int>(ratio));
    info.print(format, static_cast<int>(in_kb), static_cast<int>(out_kb), static_cast<int>(ratio));
}

void pack(const Options& opt, unsigned threads, Console& console, CleanUp& clean_up) {
    InfoFile info(console, opt.info);
    ConsoleReporter reporter(console, info);
    OpenImage image = open_image(opt.input);
    const PackSettings settings{opt.level,      opt.nc_search,  static_cast<std::uint32_t>(opt.threshold),
                                opt.want_video, opt.want_audio, threads};
    File container = pack_image(image, settings, opt.output, reporter, [&](const NcPlan& plan) {
        clean_up.output = opt.output;
        // With NC areas the analysis has written its section: keep it.
        info.open(plan.count != 0, "Warning: cannot open/create info file %s\n");
    });
    const std::uint32_t n = frame_count(image.size);
    console.print("Table size: %d+%d=%d\n", static_cast<int>(4 * n), static_cast<int>(2 * n),
                  static_cast<int>(6 * n));
    const std::uint64_t container_size = close_container(container);
    check_interrupt();
    console.write("Finished.\n\n");
    print_report(console, info, image.size, container_size);
    info.close();
}

void unpack(const Options& opt, unsigned threads, Console& console, CleanUp& clean_up) {
    InfoFile no_info(console, std::nullopt);
    ConsoleReporter reporter(console, no_info);
    unpack_container(opt.input, opt.output, threads, reporter, [&] { clean_up.output = opt.output; });
    check_interrupt();
    console.write("Finished.\n\n");
}

}  // namespace

int run_qivpak(const std::vector<std::string>& args, Console& console, std::FILE* key_input, unsigned threads) {
    console.write("QIV Creator 0.3 (by Brenlo)\n\n");
    Options opt;
    CleanUp clean_up;
    int status = 0;
    try {
        parse_options(args, opt, console);
        check_same_files(console, opt);
        if (opt.decompress)
            unpack(opt, threads, console, clean_up);
        else
            pack(opt, threads, console, clean_up);
    } catch (const UsageError&) {
        status = EXIT_FAILED;
    } catch (const RunError& error) {
        console.print("%s\n", fault_text(error, opt.input, opt.output).c_str());
        status = EXIT_FAILED;
    } catch (const Cancelled&) {
        // Every file of the run is closed by now; nothing half-written stays
        // behind (the analysis's temporary file has no name). No key is awaited.
        if (!clean_up.output.empty()) remove_file(clean_up.output);
        return 128 + pending_interrupt();
    } catch (const Interrupted& interrupted) {
        if (!clean_up.output.empty()) remove_file(clean_up.output);
        return 128 + interrupted.signal;
    } catch (const std::bad_alloc&) {
        console.write("Error: out of memory\n");
        status = EXIT_FAILED;
    } catch (const std::exception& error) {
        console.print("Error: %s\n", error.what());
        status = EXIT_FAILED;
    }
    if (opt.wait_for_key) console.wait_for_key(key_input);
    // A signal after "Finished." (during the key prompt, say) ends the process
    // by that signal; the finished output stays.
    if (const int signal = pending_interrupt()) return 128 + signal;
    return status;
}

}  // namespace qivpak
