// qivpak_main.cpp - banner, dispatch to the drivers, and the closing steps of quit
#include "cli/qivpak_main.hpp"

#include "cli/interrupt.hpp"
#include "cli/options.hpp"
#include "cli/run_context.hpp"
#include "cli/same_file.hpp"
#include "compress/compressor.hpp"
#include "compress/nc_analysis.hpp"
#include "decompress/decompressor.hpp"
#include "iso/media_areas.hpp"
#include "pipeline/ordered_pipeline.hpp"

#include <exception>
#include <filesystem>
#include <new>
#include <unistd.h>

namespace qivpak {

namespace {

// Refuses a run that would overwrite its own input, and drops an info file
// that would overwrite the input or the output. Nothing has been opened yet.
void check_same_files(RunContext& ctx, Options& opt) {
    if (same_existing_file(opt.input, opt.output)) {
        if (opt.decompress)
            ctx.console.print("Output file %s is the input file\n", opt.output.c_str());
        else
            ctx.console.print("Error: output file %s is the input file\n", opt.output.c_str());
        ctx.quit(-1);
    }
    if (opt.info && (same_existing_file(*opt.info, opt.input) ||
                     same_file_or_path(*opt.info, opt.output))) {
        ctx.console.print("Warning: info file %s is the input or output file; no info file is written\n",
                          opt.info->c_str());
        opt.info.reset();
    }
}

void dispatch(RunContext& ctx, const std::vector<std::string>& args) {
    ctx.console.write("QIV Creator 0.3 (by Brenlo)\n\n");
    if (args.size() < 2) print_usage(ctx);
    Options opt = parse_options(ctx, args);
    check_same_files(ctx, opt);

    if (opt.decompress) decompress_file(ctx, opt.input, opt.output);

    int nc_count = 0;
    if (opt.nc_search) {
        const std::filesystem::path output_dir = std::filesystem::path(opt.output).parent_path();
        ctx.trial_dir = (output_dir.empty() ? std::filesystem::path(".") : output_dir).string();
        int media_count = 0;
        if (opt.want_video || opt.want_audio)
            media_count = find_media_areas(ctx, opt.input, opt.want_video, opt.want_audio);
        nc_count = analyze_nc_areas(ctx, opt.input, opt.info, opt.level, media_count,
                                    static_cast<std::uint32_t>(opt.threshold));
    }
    compress_file(ctx, opt.input, opt.output, opt.info, opt.level, nc_count);
}

}  // namespace

int run_qivpak(const std::vector<std::string>& args, Console& console, std::FILE* key_input) {
    RunContext ctx(console);
    ctx.threads = worker_count();
    int code = 0;
    try {
        dispatch(ctx, args);
    } catch (const QuitRequest& request) {
        code = request.code;
    } catch (const Interrupted& interrupted) {
        // Nothing half-written stays behind: the temporary file has no name,
        // and the output is removed. No key is awaited.
        ctx.release();
        if (!ctx.output_path.empty()) ::unlink(ctx.output_path.c_str());
        return 128 + interrupted.signal;
    } catch (const std::bad_alloc&) {
        console.write("Error: out of memory\n");
        code = -1;
    }
    ctx.release();
    if (ctx.wait_for_key) console.wait_for_key(key_input);
    return code & 0xFF;
}

}  // namespace qivpak
