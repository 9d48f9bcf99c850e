// file_stamp_win.cpp - size, time, volume serial and file index from the handle; %LOCALAPPDATA%
#include "io/file_stamp.hpp"

#include "io/utf16_win.hpp"

#include <cstdlib>
#include <windows.h>

namespace qivpak {

std::optional<FileStamp> file_stamp(const std::string& path) {
    // Attributes alone are asked for: a file opened elsewhere for writing opens too.
    HANDLE handle = ::CreateFileW(utf8_to_utf16(path).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = ::GetFileInformationByHandle(handle, &info) != 0 && ::GetFileType(handle) == FILE_TYPE_DISK &&
                    (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    ::CloseHandle(handle);
    if (!ok) return std::nullopt;
    const auto join = [](DWORD high, DWORD low) { return (std::uint64_t{high} << 32) | low; };
    // FILETIME counts 100 ns from 1601; 11644473600 seconds lie between 1601 and 1970.
    const auto ticks = static_cast<std::int64_t>(join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime));
    return FileStamp{join(info.nFileSizeHigh, info.nFileSizeLow), (ticks - 116444736000000000) * 100,
                     info.dwVolumeSerialNumber, join(info.nFileIndexHigh, info.nFileIndexLow)};
}

std::string user_cache_folder() {
    const wchar_t* local = ::_wgetenv(L"LOCALAPPDATA");
    return local && local[0] != L'\0' ? utf16_to_utf8(local) : std::string();
}

}  // namespace qivpak
