// cat.cpp - qiv cat: the plain image, or one file of the disc inside, or a byte range of either, to standard output
#include "io/interrupt.hpp"
#include "io/terminal.hpp"
#include "qiv/commands.hpp"
#include "qiv/failure.hpp"
#include "qiv/utf8.hpp"

#include <qivpak/disc.hpp>
#include <qivpak/reader.hpp>

#include <algorithm>
#include <vector>

namespace qiv {

namespace {

constexpr std::uint64_t kChunk = std::uint64_t{1} << 20;  // bytes per read: 128 whole frames

bool write_out(std::FILE* out, const std::uint8_t* bytes, std::size_t length) {
    return std::fwrite(bytes, 1, length, out) == length;
}

int cannot_write(Streams& io) {
    std::fputs("qiv: cannot write to standard output\n", io.err);
    return EXIT_SOME_FAILED;
}

// The end of the byte range of --offset and --length within `size` bytes of `what` ("image", "file"), or
// nothing after a message naming `where` when it passes their end.
std::optional<std::uint64_t> range_end(const CatArgs& args, std::uint64_t size, const std::string& where,
                                       const char* what, Streams& io) {
    if (args.offset > size || (args.length && *args.length > size - args.offset)) {
        std::fprintf(io.err, "qiv: %s: the range passes the end of the %s (%llu bytes)\n", where.c_str(), what,
                     static_cast<unsigned long long>(size));
        return std::nullopt;
    }
    return args.length ? args.offset + *args.length : size;
}

// Whether an interruption came; its signal is then in io.interrupted.
bool interrupted(Streams& io) {
    io.interrupted = qivpak::pending_interrupt();
    return io.interrupted != 0;
}

// After a read from `at` on met `damage`: the bytes from `at` up to the
// damaged frame are good, so they go out before the message.
int write_until_damage(const qivpak::QivReader& reader, std::uint64_t at, const qivpak::QivFormatError& damage,
                       std::vector<std::uint8_t>& buffer, Streams& io, const std::string& container) {
    const std::uint64_t good = damage.frame() ? std::max(at, std::uint64_t{*damage.frame()} * qivpak::FRAME_SIZE) - at : 0;
    try {
        if (good > 0 && !(reader.read(at, buffer.data(), static_cast<std::size_t>(good)) == good &&
                          write_out(io.out, buffer.data(), static_cast<std::size_t>(good))))
            return cannot_write(io);
    } catch (const std::exception& error) {
        print_failure(io.err, container, error);
        return EXIT_SOME_FAILED;
    }
    if (std::fflush(io.out) != 0) return cannot_write(io);
    print_failure(io.err, container, damage);
    return EXIT_SOME_FAILED;
}

// One file of the disc: its bytes from the range's start on, in chunks; any
// failure (a damaged frame) ends it with the message after the good bytes.
int cat_disc_file(const qivpak::QivReader& reader, const CatArgs& args, Streams& io) {
    const std::string where = args.container + ": " + shown(*args.path);
    std::optional<qivpak::DiscTree> tree;
    std::optional<qivpak::DiscEntry> file;
    try {
        tree.emplace(reader);
        file = tree->find(*args.path);
    } catch (const std::exception& error) {
        print_disc_failure(io.err, args.container, error);
        return EXIT_SOME_FAILED;
    }
    if (!file) {
        std::fprintf(io.err, "qiv: %s: no such file or folder\n", where.c_str());
        return EXIT_SOME_FAILED;
    }
    if (file->kind == qivpak::EntryKind::folder) {
        std::fprintf(io.err, "qiv: %s: is a folder\n", where.c_str());
        return EXIT_SOME_FAILED;
    }
    const std::optional<std::uint64_t> end = range_end(args, file->size, where, "file", io);
    if (!end) return EXIT_SOME_FAILED;
    qivpak::set_binary(io.out);
    std::vector<std::uint8_t> buffer(kChunk);
    for (std::uint64_t at = args.offset; at < *end;) {
        if (interrupted(io)) return EXIT_INTERRUPTED;
        const auto length = static_cast<std::size_t>(std::min(*end - at, kChunk));
        std::size_t got = 0;
        try {
            got = tree->read(*file, at, buffer.data(), length);
        } catch (const std::exception& error) {
            if (std::fflush(io.out) != 0) return cannot_write(io);
            print_disc_failure(io.err, args.container, error);
            return EXIT_SOME_FAILED;
        }
        if (!write_out(io.out, buffer.data(), got)) return cannot_write(io);
        if (got < length) {
            std::fprintf(io.err, "qiv: %s: the image ends inside the file\n", where.c_str());
            return EXIT_SOME_FAILED;
        }
        at += length;
    }
    if (std::fflush(io.out) != 0) return cannot_write(io);
    return EXIT_ALL_WELL;
}

}  // namespace

int cat_command(const CatArgs& args, Streams& io) {
    if (io.out_is_terminal) {
        std::fputs("qiv: standard output is a terminal: redirect it to a file or a pipe\n", io.err);
        return EXIT_USAGE;
    }
    std::optional<qivpak::QivReader> reader;
    try {
        reader.emplace(open_container(args.container));
    } catch (const std::exception& error) {
        print_failure(io.err, args.container, error);
        return EXIT_SOME_FAILED;
    }
    if (args.path) return cat_disc_file(*reader, args, io);
    const std::optional<std::uint64_t> range = range_end(args, reader->size(), args.container, "image", io);
    if (!range) return EXIT_SOME_FAILED;
    const std::uint64_t end = *range;

    qivpak::set_binary(io.out);
    std::vector<std::uint8_t> buffer(kChunk);
    // Reads end on the chunk grid, so that after the first every frame is
    // inflated straight into the buffer.
    for (std::uint64_t at = args.offset; at < end;) {
        if (interrupted(io)) return EXIT_INTERRUPTED;
        const auto length = static_cast<std::size_t>(std::min(end, (at / kChunk + 1) * kChunk) - at);
        std::optional<qivpak::QivFormatError> damage;
        try {
            reader->read(at, buffer.data(), length);
        } catch (const qivpak::QivFormatError& error) {
            damage = error;
        }
        if (damage) return write_until_damage(*reader, at, *damage, buffer, io, args.container);
        if (!write_out(io.out, buffer.data(), length)) return cannot_write(io);
        at += length;
    }
    if (std::fflush(io.out) != 0) return cannot_write(io);
    return EXIT_ALL_WELL;
}

}  // namespace qiv
