// file.hpp - one open file with 64-bit positions and exact read/write contracts
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qivpak {

// Random-access, read-only view of bytes: an open image or a buffer in memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to len bytes starting at offset. Returns the count read: len, or
    // fewer only at the end of the data or on a read error. Never throws.
    virtual std::size_t read_at(std::uint64_t offset, void* buf, std::size_t len) = 0;
    // Total number of bytes.
    virtual std::uint64_t size() const = 0;
};

// Sequential output: a file being written, or a buffer in memory.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Queues len bytes. false when this or an earlier write failed (errors are
    // sticky: once false, every later write, flush and seek fails too).
    virtual bool write_all(const void* buf, std::size_t len) = 0;
    // Writes out what is queued. false on any write error, now or earlier.
    virtual bool flush() = 0;
    // Moves the write position (after flushing). false on failure.
    virtual bool seek(std::uint64_t position) = 0;
};

// Owns one file descriptor. Writes are buffered; an error is sticky, so once a
// write or flush has failed every later write, flush and close fails too.
// Not safe for concurrent use, except read_at: any number of threads may call
// read_at on one File at the same time (it reads at an offset of its own and
// never moves the file position), while nothing writes to it.
class File : public ByteSource, public ByteSink {
public:
    enum class Mode {
        read,      // existing file, read only
        truncate,  // create or empty, write only
        append,    // create if missing, write only, every write at the end
        truncate_text,  // as truncate, for text: where the system ends lines with CR LF, "\n" is written so
        append_text,    // as append, for text
    };

    // Opens path; std::nullopt on failure (errno tells why).
    static std::optional<File> open(const std::string& path, Mode mode);
    // A nameless file for reading and writing in `directory`: it has no name
    // from the start, so it disappears however the process ends.
    static std::optional<File> temporary_in(const std::string& directory);

    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() override;  // closes; errors are lost, call close() to see them

    // Reads len bytes from the current position, retrying interrupted and
    // partial reads. Returns len, or fewer at end of file or on error.
    std::size_t read_full(void* buf, std::size_t len);
    // Positional read that leaves the current position alone. Safe from many threads at once.
    std::size_t read_at(std::uint64_t offset, void* buf, std::size_t len) override;

    // Queues len bytes for writing. false when this or an earlier write failed.
    bool write_all(const void* buf, std::size_t len) override;
    // Writes out what is queued. false on any write error, now or earlier.
    bool flush() override;
    // Flushes, then closes. false when anything failed.
    bool close();

    // Moves the position (after flushing queued writes). false on failure.
    bool seek(std::uint64_t position) override;

    // Size of the file in bytes, queued writes included; 0 when it cannot be told.
    std::uint64_t size() const override;

private:
    explicit File(int fd, bool writable);
    bool write_direct(const unsigned char* data, std::size_t len);

    int fd_ = -1;
    bool failed_ = false;                  // a write or flush went wrong
    std::vector<unsigned char> pending_;   // queued writes, capacity kBufferSize when writable
    static constexpr std::size_t kBufferSize = 1 << 18;
};

}  // namespace qivpak
