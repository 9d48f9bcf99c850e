// options.cpp - option parsing, defaults and the usage text
#include "cli/options.hpp"

#include <qivpak/pack.hpp>

#include <cctype>
#include <cstdint>
#include <cstdlib>

namespace qivpak {

namespace {

constexpr const char* USAGE_LINES[] = {
    "Usage: qivpak [OPTIONS] inputfile outputfile [infofile]\n\n",
    "infofile: optional text file to be created with information",
    " about the compression of each frame.\n\n",
    "OPTIONS are: \n\n",
    "-d: decompress the inputfile to outputfile.\n",
    "    If not set, default operation is to compress inputfile to outputfile.\n",
    "-ln: where n is a number from [0-9]. Specifies the zlib compression level.\n",
    "    0=default compromise between speed and compression.\n",
    "    1=compress faster, but worse.\n",
    "    9=compress slower, but better.\n",
    "-an: where n is a number between 0-8192 or nothing.\n",
    "     It activate the search of not compressed (NC) areas.\n",
    "     n indicates the limit from which consider that a frame is not\n",
    "     enough compressed, and making it a candidate to form part of a NC area.\n",
    "     If n is not specified or if it's zero, then the value 8192 is used,\n",
    "     which is the same size that the frame size of the qiv format, meaning\n",
    "     that only frames that not were compressed at all, not even a single byte,\n",
    "     will be candidates to be part of a NC area.\n",
    "-v: it searchs for video files in the input file and forced them\n",
    "    to be part of NC areas without analyzing if they could be compressed.\n",
    "    After that, the search of other NC areas will be done, even if\n",
    "    \"-a\" was not specified.\n",
    "-s: it searchs for audio files in the input file and forced them\n",
    "    to be part of NC areas without analyzing if they could be compressed.\n",
    "    After that, the search of other NC areas will be done, even if\n",
    "    \"-a\" was not specified.\n",
    "-w: if this option is set, the program will wait for user input\n",
    "    before exiting.\n",
};

// Decimal text to integer as the C library's atoi reads it (leading blanks,
// an optional sign, digits up to the first other character; none gives 0),
// except that it cannot overflow: the result saturates far outside the
// 32-bit range, where every caller treats it as out of range.
std::int64_t parse_decimal(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    std::int64_t value = 0;
    constexpr std::int64_t CEILING = std::int64_t{1} << 40;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (value < CEILING) value = value * 10 + (*text - '0');
    }
    return negative ? -value : value;
}

}  // namespace

unsigned threads_from_setting(const char* setting, Console& console) {
    if (setting == nullptr) return 0;
    char* end = nullptr;
    const long value = std::strtol(setting, &end, 10);
    if (end != setting && *end == '\0' && value >= 1 && value <= static_cast<long>(MAX_REQUESTED_THREADS))
        return static_cast<unsigned>(value);
    console.print("Warning: QIVPAK_THREADS=\"%s\" is not a number from 1 to %u; the default is used\n", setting,
                  MAX_REQUESTED_THREADS);
    return 0;
}

void print_usage(Console& console) {
    for (const char* line : USAGE_LINES) console.write(line);
    throw UsageError{};
}

void parse_options(const std::vector<std::string>& args, Options& opt, Console& console) {
    opt = Options{};
    if (args.size() < 2) print_usage(console);
    std::size_t next = 0;
    for (; next < args.size() && !args[next].empty() && args[next][0] == '-'; ++next) {
        const std::string& arg = args[next];
        const char letter = arg.size() > 1 ? arg[1] : '\0';
        const bool known_range = static_cast<unsigned>(letter - 'A') <= 54u;
        switch (known_range ? std::tolower(static_cast<unsigned char>(letter)) : 0) {
        case 'a': {
            const std::int64_t value = parse_decimal(arg.c_str() + 2);
            // Negative values and values past 8192 are refused; compared as a
            // 32-bit unsigned number, a negative value is huge.
            if (value < 0 || value > 8192) print_usage(console);
            opt.threshold = static_cast<int>(value);
            opt.nc_search = true;
            break;
        }
        case 'd':
            if (arg.size() > 2) print_usage(console);
            opt.decompress = true;
            break;
        case 'l':
            if (arg.size() > 3 || arg.find_first_of("0123456789") == std::string::npos)
                print_usage(console);
            opt.level = static_cast<int>(parse_decimal(arg.c_str() + 2));
            break;
        case 's':
            if (arg.size() > 2) print_usage(console);
            opt.nc_search = true;
            opt.want_audio = true;
            break;
        case 'v':
            if (arg.size() > 2) print_usage(console);
            opt.nc_search = true;
            opt.want_video = true;
            break;
        case 'w':
            if (arg.size() > 2) print_usage(console);
            opt.wait_for_key = true;
            break;
        default:
            console.print("Warning: unknown option \"%s\"\n", arg.c_str());
            break;
        }
    }

    const std::size_t positionals = args.size() - next;
    if (positionals != 2 && positionals != 3) print_usage(console);

    opt.input = args[next];
    opt.output = args[next + 1];
    if (positionals == 3 && !opt.decompress) opt.info = args[next + 2];
}

}  // namespace qivpak
