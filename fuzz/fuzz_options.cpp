// fuzz_options.cpp - libFuzzer target: the command-line parser fed arbitrary argument lists
//
// Input: the arguments (program name excluded), separated by zero bytes. The
// parser's result, its console text, its exit code and the key-wait flag are
// checked against a second reading of the option rules written here. No
// driver runs.
#include "cli/console.hpp"
#include "cli/options.hpp"
#include "cli/run_context.hpp"
#include "fuzz_support.hpp"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Model {
    bool usage = false;  // the command line is refused with the usage text
    bool wait = false;   // -w was read before the parse ended
    std::string warnings;
    qivpak::Options opt;
};

Model reference_parse(const std::vector<std::string>& args) {
    Model m;
    std::size_t next = 0;
    for (; next < args.size() && !args[next].empty() && args[next][0] == '-'; ++next) {
        const std::string& arg = args[next];
        const unsigned char letter = arg.size() > 1 ? static_cast<unsigned char>(arg[1]) : 0;
        char action = 0;
        if (letter >= 'A' && letter <= 'Z') action = static_cast<char>(letter - 'A' + 'a');
        if (letter >= 'a' && letter <= 'w') action = static_cast<char>(letter);
        if (action == 'a') {
            // strtoll saturates where atoi would overflow; both ends lie outside 0..8192.
            const long long value = std::strtoll(arg.c_str() + 2, nullptr, 10);
            m.usage = value < 0 || value > 8192;
            if (m.usage) return m;
            m.opt.threshold = static_cast<int>(value);
            m.opt.nc_search = true;
        } else if (action == 'l') {
            m.usage = arg.size() > 3 || arg.find_first_of("0123456789") == std::string::npos;
            if (m.usage) return m;
            m.opt.level = std::atoi(arg.c_str() + 2);
        } else if (action == 'd' || action == 's' || action == 'v' || action == 'w') {
            m.usage = arg.size() > 2;
            if (m.usage) return m;
            m.opt.decompress = m.opt.decompress || action == 'd';
            m.opt.want_audio = m.opt.want_audio || action == 's';
            m.opt.want_video = m.opt.want_video || action == 'v';
            m.opt.nc_search = m.opt.nc_search || action == 's' || action == 'v';
            m.wait = m.wait || action == 'w';
        } else {
            m.warnings += "Warning: unknown option \"" + arg + "\"\n";
        }
    }
    const std::size_t positionals = args.size() - next;
    m.usage = positionals != 2 && positionals != 3;
    if (m.usage) return m;
    if (m.opt.level == 0) m.opt.level = -1;
    if (m.opt.threshold == 0) m.opt.threshold = 8192;
    m.opt.input = args[next];
    m.opt.output = args[next + 1];
    if (positionals == 3 && !m.opt.decompress) m.opt.info = args[next + 2];
    return m;
}

// The usage text as the tool prints it.
const std::string& usage_text() {
    static const std::string text = [] {
        std::string out;
        qivpak::Console console(out, false);
        qivpak::RunContext ctx(console);
        try {
            qivpak::print_usage(ctx);
        } catch (const qivpak::QuitRequest&) {
        }
        return out;
    }();
    return text;
}

bool same_options(const qivpak::Options& a, const qivpak::Options& b) {
    return a.decompress == b.decompress && a.level == b.level && a.threshold == b.threshold &&
           a.nc_search == b.nc_search && a.want_video == b.want_video && a.want_audio == b.want_audio &&
           a.input == b.input && a.output == b.output && a.info == b.info;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    if (size > 0) {
        args.emplace_back();
        for (std::size_t k = 0; k < size; ++k) {
            if (data[k] == 0)
                args.emplace_back();
            else
                args.back().push_back(static_cast<char>(data[k]));
        }
    }

    std::string text;
    qivpak::Console console(text, false);
    qivpak::RunContext ctx(console);
    ctx.wait_for_key = true;  // the parse starts by clearing it
    qivpak::Options opt;
    bool refused = false;
    try {
        opt = qivpak::parse_options(ctx, args);
    } catch (const qivpak::QuitRequest& request) {
        qivfuzz::check(request.code == -1, "exit code of a refusal", std::to_string(request.code));
        refused = true;
    }

    const Model expected = reference_parse(args);
    qivfuzz::check(refused == expected.usage, "refused or accepted");
    qivfuzz::check(ctx.wait_for_key == expected.wait, "key wait");
    qivfuzz::check(text == expected.warnings + (refused ? usage_text() : std::string()), "console text", text);
    if (!refused) {
        qivfuzz::check(same_options(opt, expected.opt), "parsed options");
        qivfuzz::check(opt.level == -1 || (opt.level >= 1 && opt.level <= 9), "level out of range");
        qivfuzz::check(opt.threshold >= 1 && opt.threshold <= 8192, "threshold out of range");
    }
    return 0;
}
