// same_file_win.cpp - same-file tests by volume serial number and file index, and by full path
#include "io/same_file.hpp"

#include "io/utf16_win.hpp"

#include <optional>
#include <vector>
#include <windows.h>

namespace qivpak {

namespace {

struct FileIdentity {
    DWORD volume;
    DWORD index_high;
    DWORD index_low;
};

std::optional<FileIdentity> identity_of(const std::string& path) {
    // No access to the contents is asked for; directories open too.
    HANDLE handle = ::CreateFileW(utf8_to_utf16(path).c_str(), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = ::GetFileInformationByHandle(handle, &info) != 0;
    ::CloseHandle(handle);
    if (!ok) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// The absolute path with "." and ".." resolved and "/" turned into "\".
std::optional<std::wstring> full_path(const std::string& path) {
    const std::wstring wide = utf8_to_utf16(path);
    if (wide.empty()) return std::nullopt;
    const DWORD need = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (need == 0) return std::nullopt;
    std::vector<wchar_t> full(need);
    const DWORD len = ::GetFullPathNameW(wide.c_str(), need, full.data(), nullptr);
    if (len == 0 || len >= need) return std::nullopt;
    return std::wstring(full.data(), len);
}

}  // namespace

bool same_existing_file(const std::string& a, const std::string& b) {
    const auto id_a = identity_of(a);
    const auto id_b = identity_of(b);
    return id_a && id_b && id_a->volume == id_b->volume && id_a->index_high == id_b->index_high &&
           id_a->index_low == id_b->index_low;
}

std::string path_identity(const std::string& path) {
    std::optional<std::wstring> full = full_path(path);
    if (!full) return path;
    // Letter case folded as the file systems fold it: ordinal, upper case.
    ::CharUpperBuffW(full->data(), static_cast<DWORD>(full->size()));
    return utf16_to_utf8(*full);
}

}  // namespace qivpak
