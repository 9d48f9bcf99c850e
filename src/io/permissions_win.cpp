// permissions_win.cpp - Windows files have no read bits to restrict; the modification time is kept
#include "io/permissions.hpp"

#include "io/utf16_win.hpp"

#include <windows.h>

#include <algorithm>

namespace qivpak {

namespace {

// Sets the last-write time of the file or folder `path`; false with why.
bool set_write_time(const std::string& path, const FILETIME& time, std::string& why) {
    // FILE_FLAG_BACKUP_SEMANTICS opens folders too.
    HANDLE file = ::CreateFileW(utf8_to_utf16(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        const bool set = ::SetFileTime(file, nullptr, nullptr, &time) != 0;
        ::CloseHandle(file);
        if (set) return true;
    }
    why = "the modification time cannot be set (error " + std::to_string(::GetLastError()) + ")";
    return false;
}

}  // namespace

void restrict_reading_to(const std::string&, const std::string&) {}

bool copy_mode_and_time(const std::string& from, const std::string& to, std::string& why) {
    WIN32_FILE_ATTRIBUTE_DATA source{};
    if (::GetFileAttributesExW(utf8_to_utf16(from).c_str(), GetFileExInfoStandard, &source))
        return set_write_time(to, source.ftLastWriteTime, why);
    why = "the modification time cannot be set (error " + std::to_string(::GetLastError()) + ")";
    return false;
}

bool set_mode_and_time(const std::string& path, std::optional<std::uint32_t>, std::int64_t mtime, std::string& why) {
    // FILETIME counts 100 ns from 1601-01-01, 11644473600 seconds before 1970.
    const auto ticks = static_cast<std::uint64_t>((std::max<std::int64_t>(mtime, -11644473600) + 11644473600) * 10000000);
    FILETIME time{};
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return set_write_time(path, time, why);
}

bool set_link_time(const std::string&, std::int64_t, std::string&) { return true; }

bool windows_file_rules() { return true; }

}  // namespace qivpak
