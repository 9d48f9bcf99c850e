// run_context.cpp - ending a run: quit() and the release of what the run holds
#include "cli/run_context.hpp"

#include "format/qiv_format.hpp"

namespace qivpak {

void RunContext::quit(int code) { throw QuitRequest{code}; }

void RunContext::release() {
    image_file.reset();
    container_file.reset();
    info_file.reset();
    trial.reset();
    offset_table = {};
    length_table = {};
}

std::uint64_t open_input_image(RunContext& ctx, const std::string& path) {
    ctx.image_file = File::open(path, File::Mode::read);
    if (!ctx.image_file) {
        ctx.console.print("Error: cannot open input file %s\n", path.c_str());
        ctx.quit(-1);
    }
    std::uint64_t size = ctx.image_file->size();
    if (size > MAX_IMAGE_SIZE) {
        ctx.console.print("Error: input file %s is larger than 4294967295 bytes\n", path.c_str());
        ctx.quit(-1);
    }
    return size;
}

}  // namespace qivpak
