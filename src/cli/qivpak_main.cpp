// qivpak_main.cpp - the front end: banner, options, one run rendered on the console, its exit status
#include "cli/qivpak_main.hpp"

#include "cli/options.hpp"
#include "cli/run_report.hpp"
#include "engine/run.hpp"
#include "io/interrupt.hpp"

#include <exception>
#include <new>
#include <optional>

namespace qivpak {

namespace {

constexpr int EXIT_FAILED = 255;  // the usage text, or any error

void print_report(Console& console, InfoFile& info, std::uint64_t image_size, std::uint64_t container_size) {
    const std::uint64_t in_kb = image_size >> 10;
    const std::uint64_t out_kb = container_size / 1024;
    const std::uint64_t ratio = in_kb == 0 ? 0 : out_kb * 100 / in_kb;
    const char* format = "Report: %d KB -> %d KB (%d%%)\n\n";
    console.print(format, static_cast<int>(in_kb), static_cast<int>(out_kb), static_cast<int>(ratio));
    info.print(format, static_cast<int>(in_kb), static_cast<int>(out_kb), static_cast<int>(ratio));
}

PackOptions pack_options(const Options& opt, unsigned threads) {
    PackOptions options;
    options.level = opt.level;
    options.analyze = opt.nc_search;
    options.threshold = static_cast<std::uint32_t>(opt.threshold);
    options.movies = opt.want_video;
    options.audio = opt.want_audio;
    options.threads = threads;
    return options;
}

}  // namespace

int run_qivpak(const std::vector<std::string>& args, Console& console, std::FILE* key_input,
               const char* threads_setting) {
    console.write("QIV Creator 0.3 (by Brenlo)\n\n");
    const unsigned threads = threads_from_setting(threads_setting, console);
    Options opt;
    std::optional<InfoFile> info;
    std::optional<ConsoleReporter> reporter;
    int status = 0;
    try {
        parse_options(args, opt, console);
        info.emplace(console, opt.info);
        reporter.emplace(console, *info, opt.input, opt.output);
        if (opt.decompress) {
            unpack_file(opt.input, opt.output, threads, *reporter);
            console.write("Finished.\n\n");
        } else {
            const PackResult result = pack_file(opt.input, opt.output, pack_options(opt, threads), *reporter);
            console.write("Finished.\n\n");
            print_report(console, *info, result.image_size, result.container_size);
            info->close();
        }
    } catch (const UsageError&) {
        status = EXIT_FAILED;
    } catch (const Stopped&) {
        // Every file of the run is closed by now; nothing half-written stays
        // behind (the analysis's temporary file has no name). No key is awaited.
        if (reporter && reporter->output_created_here()) remove_file(opt.output);
        return 128 + pending_interrupt();
    } catch (const Error& error) {
        console.print("%s\n", error.what());
        status = EXIT_FAILED;
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
