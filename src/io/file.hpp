// file.hpp - one open file with 64-bit positions and exact read/write contracts
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
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

// Output at given offsets, where a sink allows it (a regular file).
class RandomAccessSink {
public:
    virtual ~RandomAccessSink() = default;
    // Writes len bytes at `offset`, past the end too (the gap reads as zeros).
    // Safe from many threads at once for ranges that do not overlap. false on
    // failure (a failed write leaves what it covers undefined).
    virtual bool write_at(std::uint64_t offset, const void* buf, std::size_t len) = 0;
    // Cuts the data back (or extends it with zeros) to `size` bytes. false on failure.
    virtual bool truncate(std::uint64_t size) = 0;
};

// Output written in order, a file being written or a buffer in memory, with
// one step back allowed: a writer may seek to an earlier position and write
// over what it wrote there (the container's index over its placeholders).
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
    // The same data written at given offsets instead, when the sink can
    // (nothing queued by write_all may be pending then); nullptr when it
    // cannot (a pipe, a device).
    virtual RandomAccessSink* random_access() { return nullptr; }
};

// Owns one open file of the system (a descriptor, or a handle on Windows).
// Writes are buffered; an error is sticky, so once a write or flush has failed
// every later write, flush and close fails too. Only read_at and write_at may
// be called from several threads at once; everything else is not safe for
// concurrent use. A regular file opened for writing is also a RandomAccessSink
// (write_at bypasses the queue and leaves the position alone).
class File : public ByteSource, public ByteSink, public RandomAccessSink {
public:
    enum class Mode {
        read,           // existing file, read only
        truncate,       // create or empty, write only
        truncate_text,  // as truncate, for text: on Windows every "\n" is written as "\r\n"
        append_text,    // create if missing, write only, every write at the end; text as above
    };

    // Opens path (UTF-8); std::nullopt on failure.
    static std::optional<File> open(const std::string& path, Mode mode);
    // A file for reading and writing in `directory` that the system deletes
    // however the process ends: nameless from the start where the file system
    // allows it, else named and deleted at once (POSIX) or deleted on close
    // (Windows). std::nullopt when none can be made there.
    static std::optional<File> temporary_in(const std::string& directory);

    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() override;  // closes; errors are lost, call close() to see them

    // Reads len bytes from the current position, retrying interrupted and
    // partial reads. Returns len, or fewer at end of file or on error.
    std::size_t read_full(void* buf, std::size_t len);
    // Positional read that leaves the current position alone; safe from many
    // threads at once on one File (while nothing else is called on it).
    std::size_t read_at(std::uint64_t offset, void* buf, std::size_t len) override;

    // Queues len bytes for writing. false when this or an earlier write failed.
    bool write_all(const void* buf, std::size_t len) override;
    // Writes out what is queued. false on any write error, now or earlier.
    bool flush() override;
    // Flushes, then closes. false when anything failed.
    bool close();

    // Moves the position (after flushing queued writes). false on failure.
    bool seek(std::uint64_t position) override;

    // this for a regular file opened for writing, else nullptr.
    RandomAccessSink* random_access() override { return regular_ && writable() ? this : nullptr; }
    bool write_at(std::uint64_t offset, const void* buf, std::size_t len) override;
    bool truncate(std::uint64_t size) override;

    // The system's words for the first write that failed ("No space left on
    // device"); empty when none did, or the system gave no reason.
    std::string failure() const;

    // Size of the file in bytes, queued writes included; 0 when it cannot be
    // told (a caller to whom that matters asks stat_size).
    std::uint64_t size() const override;
    // The size the system gives for the file, without queued writes: for a
    // disc drive or another block device the size of its medium (POSIX);
    // std::nullopt when it cannot be told.
    std::optional<std::uint64_t> stat_size() const;

private:
    // The system's file: a descriptor (POSIX) or a HANDLE (Windows); -1 is none on both.
    using Native = std::intptr_t;
    static constexpr Native NO_FILE = -1;

    File(Native native, bool writable, bool crlf);
    bool writable() const { return pending_.capacity() != 0; }
    // Adds bytes to the queue, writing it out when full; writes of at least
    // DIRECT_SIZE bytes go out at once, without a copy into the queue.
    bool queue(const unsigned char* data, std::size_t len);
    // The system-specific halves, in file_posix.cpp and file_win.cpp.
    bool write_direct(const unsigned char* data, std::size_t len);
    bool close_native();

    Native native_ = NO_FILE;
    // Records the system's error number of a failed write, unless one is recorded already.
    void note_failure(int code);
    // The system's words for an error number (errno, or GetLastError on Windows).
    static std::string reason_of(int code);

    bool failed_ = false;                  // a write or flush went wrong
    std::atomic<int> failure_{0};          // the first failed write's error number; 0: none (write_at is concurrent)
    bool crlf_ = false;                    // write_all turns "\n" into "\r\n" (text modes on Windows)
    bool append_ = false;                  // every write goes to the end (Windows; POSIX asks the descriptor)
    bool regular_ = false;                 // a regular file (not a pipe, terminal or device)
    std::uint64_t position_ = 0;           // where read_full and writes go (Windows, whose reads are all positional)
    std::vector<unsigned char> pending_;   // queued writes, capacity BUFFER_SIZE when writable
    static constexpr std::size_t BUFFER_SIZE = 1 << 18;
    static constexpr std::size_t DIRECT_SIZE = 1 << 16;
};

// What a path names, as far as reading it as an image goes: a regular file;
// a block device (a disc drive, a loop device: POSIX), read as one of its
// size; anything else (a folder, a pipe, a terminal, /dev/zero, a socket),
// which has no size to read up to; or nothing that can be looked at.
enum class InputKind { regular, block_device, other, unknown };
InputKind input_kind(const std::string& path);

// Removes the file `path` (UTF-8). false when it could not be removed.
bool remove_file(const std::string& path);

// The directory of `path` (UTF-8), where a file beside it goes: what comes
// before its last separator ("/"; on Windows also "\" and a drive's ":"),
// the separator kept when it is the root; "." when there is none.
std::string directory_of(const std::string& path);

// How an operation on files by their names ended: done, or failed, with the
// system's reason in words for the person ("No space left on device") and
// whether it failed because a file of the name it was to make exists.
class IoStatus {
public:
    IoStatus() = default;  // done
    static IoStatus failed(std::string reason, bool name_taken) { return IoStatus(std::move(reason), name_taken); }

    bool ok() const { return ok_; }
    bool name_taken() const { return name_taken_; }
    const std::string& reason() const { return reason_; }  // empty when done

private:
    IoStatus(std::string reason, bool name_taken) : ok_(false), name_taken_(name_taken), reason_(std::move(reason)) {}

    bool ok_ = true;
    bool name_taken_ = false;
    std::string reason_;
};

// The steps that put a finished output in place under its name. Paths are UTF-8.

// A new file that this process claims for as long as the object lives: other
// processes may open, write and rename it, but is_abandoned() tells them it is
// in use. The claim ends with the process however it ends (SIGKILL, a power
// cut), so a file still claimed is never one a dead run left behind. POSIX: an
// flock held on a descriptor; Windows: a handle kept open.
class ClaimedFile {
public:
    // Creates `path` as a new, empty, claimed file; std::nullopt, with why in
    // `status`, when it cannot (status.name_taken(): the name exists).
    static std::optional<ClaimedFile> create(const std::string& path, IoStatus& status);
    ClaimedFile(ClaimedFile&& other) noexcept : native_(std::exchange(other.native_, -1)) {}
    // Takes other's claim; the one held before goes with other.
    ClaimedFile& operator=(ClaimedFile&& other) noexcept {
        std::swap(native_, other.native_);
        return *this;
    }
    ClaimedFile(const ClaimedFile&) = delete;
    ~ClaimedFile();

private:
    explicit ClaimedFile(std::intptr_t native) : native_(native) {}
    std::intptr_t native_;  // the descriptor or HANDLE that holds the claim
};

// A new file in a folder that has no name until it is given one, so that a
// process killed before (SIGKILL, a power cut) leaves nothing behind
// (Linux's O_TMPFILE). Meanwhile it is opened, written, flushed and has its
// mode and times set through path(), as any file.
class UnnamedFile {
public:
    // std::nullopt where the system or the folder's file system has no such files.
    static std::optional<UnnamedFile> create_in(const std::string& folder);
    UnnamedFile(UnnamedFile&& other) noexcept : native_(std::exchange(other.native_, -1)), path_(std::move(other.path_)) {}
    UnnamedFile& operator=(UnnamedFile&& other) noexcept {
        std::swap(native_, other.native_);
        std::swap(path_, other.path_);
        return *this;
    }
    UnnamedFile(const UnnamedFile&) = delete;
    UnnamedFile& operator=(const UnnamedFile&) = delete;
    ~UnnamedFile();  // a file never named is gone with it

    // A name the system opens the file by while it has none ("/proc/self/fd/N").
    const std::string& path() const { return path_; }
    // Gives the file the name `to`, in its folder; never replaces a file of that
    // name (fails with name_taken). The file keeps any name it had before.
    IoStatus name_as(const std::string& to) const;

private:
    UnnamedFile(std::intptr_t native, std::string path) : native_(native), path_(std::move(path)) {}
    std::intptr_t native_;
    std::string path_;
};

// An exclusive lock on a lock file that processes agree on, held for as long
// as the object lives and released however the process ends (flock on POSIX,
// LockFileEx on Windows).
class FileLock {
public:
    // Opens or creates `path` and waits until this process holds its lock;
    // std::nullopt, with why in `status`, when the file cannot be opened.
    static std::optional<FileLock> acquire(const std::string& path, IoStatus& status);
    FileLock(FileLock&& other) noexcept : native_(std::exchange(other.native_, -1)) {}
    FileLock& operator=(FileLock&&) = delete;
    FileLock(const FileLock&) = delete;
    ~FileLock();

private:
    explicit FileLock(std::intptr_t native) : native_(native) {}
    std::intptr_t native_;  // the descriptor or HANDLE that holds the lock
};

// Whether the file `path` was left by a process that no longer claims it
// (see ClaimedFile): true only when it exists and nobody holds it.
bool is_abandoned(const std::string& path);

// Writes every byte of the closed file `path` that the system still holds in
// memory to the device, so that it survives a crash once renamed (fsync;
// FlushFileBuffers on Windows).
IoStatus flush_to_device(const std::string& path);

// Gives the file `from` the name `to` in the same directory, in one step: a
// reader of `to` sees either what was there before or the whole new file.
// Without `replace` a file already named `to` is never replaced (the call
// fails with name_taken and leaves both as they are); with it, it is
// replaced. On POSIX the directory is then flushed to the device too, so that
// the new name survives a crash.
IoStatus rename_into_place(const std::string& from, const std::string& to, bool replace);

}  // namespace qivpak
