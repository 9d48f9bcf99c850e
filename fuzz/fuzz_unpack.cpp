// fuzz_unpack.cpp - any bytes as a container: the unpacker at one and at three threads, and the reader, agree
//
// Input: the container. The unpacker runs in memory with one worker and with
// three; both must end alike (the same refusal, or success) with the same
// bytes written. The random-access reader must refuse what the unpacker
// refuses for its index, and otherwise give the same bytes frame by frame, or
// refuse the frame at which the unpacker stopped.
#include "decompress/decompressor.hpp"
#include "fuzz_check.hpp"
#include "support/memory_io.hpp"

#include <qivpak/reader.hpp>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <unistd.h>

namespace {

struct Outcome {
    std::optional<qivpak::ContainerFault> fault;
    qivtest::Bytes image;
    bool index_ok = false;  // the header and tables were accepted
};

Outcome unpack(const qivtest::Bytes& container, unsigned threads) {
    qivtest::MemorySource source(container);
    qivtest::MemorySink sink;
    qivtest::LogReporter log;
    Outcome outcome;
    try {
        qivpak::decompress_file(source, sink, threads, log);
    } catch (const qivpak::RunError& error) {
        outcome.fault = error.container;
    }
    outcome.image = sink.bytes;
    outcome.index_ok = log.log.size() >= 2;  // sized, then started
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const qivtest::Bytes container(data, data + size);
    const Outcome one = unpack(container, 1);
    const Outcome three = unpack(container, 3);
    check(one.fault == three.fault && one.image == three.image, "one and three threads differ");

    char path[] = "/tmp/fuzz-unpack-XXXXXX";
    const int fd = mkstemp(path);
    check(fd >= 0 && write(fd, data, size) == static_cast<ssize_t>(size), "temporary file");
    close(fd);
    try {
        const qivpak::QivReader reader(path);
        check(one.index_ok, "the reader accepts an index the unpacker refuses");
        qivtest::Bytes frame(8192);
        for (std::uint64_t at = 0; at < reader.size(); at += 8192) {
            const std::size_t got = reader.read(at, frame.data(), frame.size());
            check(at + got <= one.image.size(), "the reader restores a frame the unpacker refuses");
            check(std::equal(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(got),
                             one.image.begin() + static_cast<std::ptrdiff_t>(at)),
                  "the reader and the unpacker restore different bytes");
        }
        check(!one.fault, "the reader reads what the unpacker refuses");
    } catch (const qivpak::QivFormatError& error) {
        check(one.fault && error.fault() == *one.fault, "the reader and the unpacker refuse differently");
    }
    unlink(path);
    return 0;
}
