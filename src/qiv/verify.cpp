// verify.cpp - qiv verify: every frame read, the image's hashes, and the DAT files' verdict
#include "io/interrupt.hpp"
#include "qiv/commands.hpp"
#include "qiv/container_hashes.hpp"
#include "qiv/dat_files.hpp"
#include "qiv/failure.hpp"
#include "qiv/json.hpp"
#include "qiv/paths.hpp"

#include <qivpak/pack.hpp>
#include <qivpak/reader.hpp>

namespace qiv {

namespace {

const char* verdict_name(DatVerdict::Kind kind) {
    switch (kind) {
    case DatVerdict::Kind::verified: return "verified";
    case DatVerdict::Kind::mismatch: return "mismatch";
    case DatVerdict::Kind::not_listed: break;
    }
    return "not_listed";
}

// The human line of one container: its hashes, or with DATs the verdict.
void print_result(std::FILE* out, const std::string& file, std::uint64_t size, const ImageHashes& hashes,
                  const std::optional<DatVerdict>& verdict) {
    if (!verdict) {
        std::fprintf(out, "%s: %llu bytes, crc32 %s, md5 %s, sha1 %s\n", file.c_str(),
                     static_cast<unsigned long long>(size), crc_hex(hashes.crc32).c_str(), hashes.md5.c_str(),
                     hashes.sha1.c_str());
    } else if (verdict->kind == DatVerdict::Kind::not_listed) {
        std::fprintf(out, "%s: not in the DAT files\n", file.c_str());
    } else {
        // A rom without a SHA-1 is verified by weaker hashes alone, and that is said.
        const std::string weak = weak_hashes(*verdict->rom);
        const std::string result = verdict->kind != DatVerdict::Kind::verified ? "hash mismatch"
                                   : weak.empty()                              ? "verified"
                                                                               : "verified (" + weak + " only)";
        std::fprintf(out, "%s: %s: game \"%s\", rom \"%s\"\n", file.c_str(), result.c_str(),
                     verdict->rom->game.c_str(), verdict->rom->name.c_str());
    }
}

JsonObject result_json(const std::string& file, std::uint64_t size, const ImageHashes& hashes,
                       const std::optional<DatVerdict>& verdict) {
    JsonObject object;
    object.add_name("file", file).add("size", size).add("crc32", crc_hex(hashes.crc32)).add("md5", hashes.md5).add("sha1", hashes.sha1);
    if (verdict) {
        object.add("result", verdict_name(verdict->kind));
        if (verdict->rom) object.add("game", verdict->rom->game).add("rom", verdict->rom->name);
        if (verdict->kind == DatVerdict::Kind::verified && !weak_hashes(*verdict->rom).empty())
            object.add("verified_by", weak_hashes(*verdict->rom));
    }
    return object;
}

}  // namespace

int verify_command(const VerifyArgs& args, Streams& io) {
    std::vector<DatRom> roms;
    if (!read_dats(args.dats, roms, io.err)) return EXIT_SOME_FAILED;

    int status = EXIT_ALL_WELL;
    std::optional<JsonArrayWriter> json;
    if (args.json) json.emplace(io.out);
    const auto report = [&](const std::string& file, const ContainerHashes* hashed, const std::exception* failure) {
        if (failure) {
            status = EXIT_SOME_FAILED;
            if (json) json->add(failure_json(file, *failure));
            else print_failure(io.err, file, *failure);
        } else {
            std::optional<DatVerdict> verdict;
            if (!args.dats.empty()) verdict = find_image(roms, hashed->size, hashed->hashes, file);
            if (verdict && verdict->kind != DatVerdict::Kind::verified) status = EXIT_SOME_FAILED;
            if (json) json->add(result_json(file, hashed->size, hashed->hashes, verdict));
            else print_result(io.out, file, hashed->size, hashed->hashes, verdict);
        }
        std::fflush(io.out);
    };
    try {
        hash_containers(args.containers, {args.threads, !args.no_cache, io.err}, report);
    } catch (const qivpak::Stopped&) {
        io.interrupted = qivpak::pending_interrupt();
        return EXIT_INTERRUPTED;
    }
    if (json) json->close();
    return with_output_checked(io, status);
}

}  // namespace qiv
