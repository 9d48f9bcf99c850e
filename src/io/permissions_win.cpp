// permissions_win.cpp - Windows files have no read bits to restrict; the modification time is kept
#include "io/permissions.hpp"

#include "io/utf16_win.hpp"

#include <windows.h>

namespace qivpak {

void restrict_reading_to(const std::string&, const std::string&) {}

bool copy_mode_and_time(const std::string& from, const std::string& to, std::string& why) {
    WIN32_FILE_ATTRIBUTE_DATA source{};
    if (::GetFileAttributesExW(utf8_to_utf16(from).c_str(), GetFileExInfoStandard, &source)) {
        HANDLE file = ::CreateFileW(utf8_to_utf16(to).c_str(), FILE_WRITE_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            const bool set = ::SetFileTime(file, nullptr, nullptr, &source.ftLastWriteTime) != 0;
            ::CloseHandle(file);
            if (set) return true;
        }
    }
    why = "the modification time cannot be set (error " + std::to_string(::GetLastError()) + ")";
    return false;
}

}  // namespace qivpak
