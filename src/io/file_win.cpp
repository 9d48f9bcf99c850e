// file_win.cpp - the Windows half of the file wrapper: handles, positional I/O, delete-on-close temporaries, renames
#include "io/file.hpp"

#include "io/utf16_win.hpp"

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <utility>
#include <windows.h>

namespace qivpak {

// Every read and write names its offset in an OVERLAPPED record, on a handle
// opened for synchronous I/O: the system's own file pointer is never used, so
// read_at needs no lock and many threads may call it at once. read_full and
// the writes go to position_, which seek() sets.

namespace {

HANDLE handle_of(std::intptr_t native) { return reinterpret_cast<HANDLE>(native); }
std::intptr_t native_of(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

OVERLAPPED at_offset(std::uint64_t offset) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return where;
}

// The most one ReadFile or WriteFile call is asked to move.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

// Reads up to len bytes at offset; the count read (fewer at the end of the file or on error).
std::size_t read_at_offset(HANDLE handle, std::uint64_t offset, unsigned char* out, std::size_t len) {
    std::size_t done = 0;
    while (done < len) {
        OVERLAPPED where = at_offset(offset + done);
        DWORD got = 0;
        const auto want = static_cast<DWORD>(std::min(len - done, kMaxChunk));
        if (!::ReadFile(handle, out + done, want, &got, &where) || got == 0) break;
        done += got;
    }
    return done;
}

HANDLE create(const std::string& path, DWORD access, DWORD disposition, DWORD flags) {
    // Others may read, write and delete the file meanwhile, as POSIX allows.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return ::CreateFileW(utf8_to_utf16(path).c_str(), access, share, nullptr, disposition, flags, nullptr);
}

// Whether the system's error code says that a file of the name exists.
bool names_a_file_that_exists(DWORD error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

// The system's words for an error code, without the line end they come with.
std::string words_of(DWORD error) {
    std::string reason = std::system_category().message(static_cast<int>(error));
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ')) reason.pop_back();
    return reason;
}

// The failure of the call that just failed, from GetLastError, in the system's words.
IoStatus last_failure() {
    const DWORD error = ::GetLastError();
    return IoStatus::failed(words_of(error), names_a_file_that_exists(error));
}

// An open handle (or INVALID_HANDLE_VALUE), closed when it goes.
struct Handle {
    explicit Handle(HANDLE opened) : handle(opened) {}
    ~Handle() {
        if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    const HANDLE handle;
};

}  // namespace

std::optional<File> File::open(const std::string& path, Mode mode) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    const bool append = mode == Mode::append_text;
    switch (mode) {
    case Mode::read:
        handle = create(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
        break;
    case Mode::truncate:
    case Mode::truncate_text:
        handle = create(path, GENERIC_WRITE, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
        break;
    case Mode::append_text:
        handle = create(path, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
        break;
    }
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    const bool text = mode == Mode::truncate_text || mode == Mode::append_text;
    File file(native_of(handle), mode != Mode::read, text);
    file.append_ = append;
    file.regular_ = ::GetFileType(handle) == FILE_TYPE_DISK;
    return file;
}

std::optional<File> File::temporary_in(const std::string& directory) {
    std::string dir = directory.empty() ? "." : directory;
    if (dir.back() != '/' && dir.back() != '\\' && dir.back() != ':') dir += '\\';
    // A fresh name in the directory; the system deletes the file when its one
    // handle closes, which also happens when the process is killed.
    const DWORD flags = FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE;
    const unsigned long long stamp = ::GetTickCount64();
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, ".qivpak-%lu-%llx-%u", ::GetCurrentProcessId(), stamp, attempt);
        HANDLE handle = ::CreateFileW(utf8_to_utf16(dir + name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                      FILE_SHARE_DELETE, nullptr, CREATE_NEW, flags, nullptr);
        if (handle != INVALID_HANDLE_VALUE) return File(native_of(handle), true, false);
        if (!names_a_file_that_exists(::GetLastError())) return std::nullopt;
    }
    return std::nullopt;
}

std::size_t File::read_full(void* buf, std::size_t len) {
    const std::size_t got = read_at_offset(handle_of(native_), position_, static_cast<unsigned char*>(buf), len);
    position_ += got;
    return got;
}

std::size_t File::read_at(std::uint64_t offset, void* buf, std::size_t len) {
    return read_at_offset(handle_of(native_), offset, static_cast<unsigned char*>(buf), len);
}

bool File::write_direct(const unsigned char* data, std::size_t len) {
    while (len > 0) {
        // Offset all ones: at the end of the file, for append modes.
        OVERLAPPED where = at_offset(append_ ? ~std::uint64_t{0} : position_);
        DWORD put = 0;
        const auto want = static_cast<DWORD>(std::min(len, kMaxChunk));
        if (!::WriteFile(handle_of(native_), data, want, &put, &where) || put == 0) {
            note_failure(static_cast<int>(::GetLastError()));
            failed_ = true;
            return false;
        }
        position_ += put;
        data += put;
        len -= put;
    }
    return true;
}

bool File::write_at(std::uint64_t offset, const void* buf, std::size_t len) {
    const auto* data = static_cast<const unsigned char*>(buf);
    while (len > 0) {
        OVERLAPPED where = at_offset(offset);
        DWORD put = 0;
        const auto want = static_cast<DWORD>(std::min(len, kMaxChunk));
        if (!::WriteFile(handle_of(native_), data, want, &put, &where) || put == 0) {
            note_failure(static_cast<int>(::GetLastError()));
            return false;
        }
        data += put;
        offset += put;
        len -= put;
    }
    return true;
}

bool File::truncate(std::uint64_t size) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFileInformationByHandle(handle_of(native_), FileEndOfFileInfo, &end, sizeof end) != 0;
}

bool File::close_native() { return ::CloseHandle(handle_of(std::exchange(native_, NO_FILE))) != 0; }

bool File::seek(std::uint64_t position) {
    if (!flush()) return false;
    position_ = position;
    return true;
}

std::optional<std::uint64_t> File::stat_size() const {
    LARGE_INTEGER size{};
    if (native_ == NO_FILE || !::GetFileSizeEx(handle_of(native_), &size) || size.QuadPart < 0) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

InputKind input_kind(const std::string& path) {
    // Devices (\\.\D:, pipes, NUL, CON) are refused, not read as images: a volume must be read in
    // whole sectors, and the others have no size.
    if (path.starts_with("\\\\.\\") || path.starts_with("//./")) return InputKind::other;
    HANDLE handle = ::CreateFileW(utf8_to_utf16(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return InputKind::unknown;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool disk_file = ::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileInformationByHandle(handle, &info) &&
                           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    ::CloseHandle(handle);
    return disk_file ? InputKind::regular : InputKind::other;
}

std::string File::reason_of(int code) { return words_of(static_cast<DWORD>(code)); }

bool remove_file(const std::string& path) { return ::DeleteFileW(utf8_to_utf16(path).c_str()) != 0; }

std::string directory_of(const std::string& path) {
    const std::size_t cut = path.find_last_of("/\\:");
    if (cut == std::string::npos) return ".";
    // "C:name" is in the current directory of drive C:, "C:" names it.
    if (path[cut] == ':') return path.substr(0, cut + 1);
    // "\name" and "C:\name" are in a root, which keeps its separator.
    const bool root = cut == 0 || (cut == 2 && path[1] == ':');
    return path.substr(0, root ? cut + 1 : cut);
}

std::optional<ClaimedFile> ClaimedFile::create(const std::string& path, IoStatus& status) {
    // The handle kept open is the claim: others may still read, write, rename and delete the file.
    const HANDLE handle = qivpak::create(path, GENERIC_READ, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (handle == INVALID_HANDLE_VALUE) {
        status = last_failure();
        return std::nullopt;
    }
    status = {};
    return ClaimedFile(reinterpret_cast<std::intptr_t>(handle));
}

ClaimedFile::~ClaimedFile() {
    if (native_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(native_));
}

// Windows has no files without a name: callers use a claimed named file instead.
std::optional<UnnamedFile> UnnamedFile::create_in(const std::string&) { return std::nullopt; }

UnnamedFile::~UnnamedFile() = default;

IoStatus UnnamedFile::name_as(const std::string&) const {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return last_failure();
}

bool is_abandoned(const std::string& path) {
    // Opened sharing nothing: that succeeds only while no other handle is open on it.
    const HANDLE handle = ::CreateFileW(utf8_to_utf16(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(handle);
    return true;
}

IoStatus flush_to_device(const std::string& path) {
    const Handle file{create(path, GENERIC_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL)};
    if (file.handle == INVALID_HANDLE_VALUE) return last_failure();
    return ::FlushFileBuffers(file.handle) ? IoStatus{} : last_failure();
}

IoStatus rename_into_place(const std::string& from, const std::string& to, bool replace) {
    // MoveFileExW replaces nothing without MOVEFILE_REPLACE_EXISTING;
    // WRITE_THROUGH returns only once the new name is on the device.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    return ::MoveFileExW(utf8_to_utf16(from).c_str(), utf8_to_utf16(to).c_str(), flags) ? IoStatus{} : last_failure();
}

std::optional<FileLock> FileLock::acquire(const std::string& path, IoStatus& status) {
    HANDLE handle = ::CreateFileW(utf8_to_utf16(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        status = IoStatus::failed(words_of(::GetLastError()), false);
        return std::nullopt;
    }
    OVERLAPPED at{};
    if (!::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
        status = IoStatus::failed(words_of(::GetLastError()), false);
        ::CloseHandle(handle);
        return std::nullopt;
    }
    return FileLock(reinterpret_cast<std::intptr_t>(handle));
}

FileLock::~FileLock() {
    if (native_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(native_));  // the lock goes with the handle
}

}  // namespace qivpak
