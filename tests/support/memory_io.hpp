// memory_io.hpp - in-memory images and containers for core tests, a reporter that logs every event,
// and how a run ended
#pragma once

#include "events/messages.hpp"
#include "events/reporter.hpp"
#include "io/file.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace qivtest {

using Bytes = std::vector<std::uint8_t>;

// An image or container in memory. `short_from`: reads at or past this offset deliver nothing.
struct MemorySource : qivpak::ByteSource {
    explicit MemorySource(Bytes b) : bytes(std::move(b)) {}
    Bytes bytes;
    std::uint64_t short_from = UINT64_MAX;
    std::size_t read_at(std::uint64_t offset, void* buf, std::size_t len) override {
        const std::uint64_t end = std::min<std::uint64_t>(bytes.size(), short_from);
        if (offset >= end || len == 0) return 0;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(len, end - offset));
        std::memcpy(buf, bytes.data() + offset, n);
        return n;
    }
    std::uint64_t size() const override { return bytes.size(); }
};

// A file being written, in memory; with `random`, one that also takes writes
// at given offsets, as a regular file does. It fails on purpose: a write that
// would pass byte `fail_at`, and any seek when `seek_fails`. Errors are sticky.
struct MemorySink : qivpak::ByteSink, qivpak::RandomAccessSink {
    Bytes bytes;
    std::uint64_t position = 0;
    std::uint64_t fail_at = UINT64_MAX;
    bool seek_fails = false;
    bool random = false;
    bool failed = false;
    std::mutex mutex;  // write_at comes from many threads
    bool write_all(const void* buf, std::size_t len) override {
        if (!write_at(position, buf, len)) return false;
        position += len;
        return true;
    }
    bool write_at(std::uint64_t at, const void* buf, std::size_t len) override {
        std::lock_guard lock(mutex);
        if (failed || at + len > fail_at) return !(failed = true);
        if (len == 0) return true;
        if (bytes.size() < at + len) bytes.resize(at + len);
        std::memcpy(bytes.data() + at, buf, len);
        return true;
    }
    bool truncate(std::uint64_t size) override {
        bytes.resize(size);
        return true;
    }
    qivpak::RandomAccessSink* random_access() override { return random ? this : nullptr; }
    bool flush() override { return !failed; }
    bool seek(std::uint64_t to) override {
        if (failed || seek_fails) return !(failed = true);
        position = to;
        return true;
    }
};

// Logs events as short words ("sized 3", "start packing 3", "frame 0 25", "raw 1",
// "end packing", "media NAME 2048 4", "areas analysis 0+2 ..."), and asks to stop
// before frame `stop_before`.
struct LogReporter : qivpak::Reporter {
    std::vector<std::string> log;
    std::uint32_t stop_before = UINT32_MAX;
    std::uint32_t asked = 0;
    static std::string name(qivpak::Stage s) {
        return std::array{"media_scan", "analysis", "packing", "unpacking"}[static_cast<int>(s)];
    }
    void container_sized(std::uint32_t n) override { log.push_back("sized " + std::to_string(n)); }
    void stage_started(qivpak::Stage s, std::uint32_t n) override {
        log.push_back("start " + name(s) + " " + std::to_string(n));
    }
    void frame_done(std::uint32_t i, std::uint32_t len, bool raw) override {
        log.push_back((raw ? "raw " : "frame ") + std::to_string(i) + (raw ? "" : " " + std::to_string(len)));
    }
    void stage_finished(qivpak::Stage s) override { log.push_back("end " + name(s)); }
    void media_file_found(const qivpak::MediaFile& f) override {
        log.push_back("media " + f.name + " " + std::to_string(f.offset) + " " + std::to_string(f.size));
    }
    void areas_decided(qivpak::Stage s, std::span<const qivpak::NcArea> areas) override {
        std::string line = "areas " + name(s);
        for (const auto& a : areas) line += " " + std::to_string(a.frame_start) + "+" + std::to_string(a.num_frames);
        log.push_back(line);
    }
    bool should_stop() override { return asked++ >= stop_before; }
};

// How a run in memory ended: "done", "cancelled", or the tool's message for its fault
// (the files named "in" and "out").
template <class Run>
std::string ending(Run run) {
    try {
        run();
        return "done";
    } catch (const qivpak::Stopped&) {
        return "cancelled";
    } catch (const qivpak::RunError& error) {
        return qivpak::fault_text(error, "in", "out");
    }
}

}  // namespace qivtest
