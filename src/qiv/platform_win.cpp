// platform_win.cpp - qiv's system services on Windows: consoles, binary mode, files by their handles
#include "qiv/platform.hpp"

#include "io/utf16_win.hpp"

#include <fcntl.h>
#include <io.h>
#include <system_error>
#include <windows.h>

namespace qiv {

namespace {

// The outcome of a call that just failed, from GetLastError.
FileOutcome failed() {
    const DWORD error = ::GetLastError();
    std::string reason = std::system_category().message(static_cast<int>(error));
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ')) reason.pop_back();
    return {false, error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS, reason};
}

// An open handle, closed when it goes.
struct Handle {
    HANDLE handle;
    ~Handle() {
        if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    }
};

HANDLE handle_of(std::FILE* stream) { return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))); }

}  // namespace

bool is_terminal(std::FILE* stream) {
    DWORD mode = 0;
    return ::GetConsoleMode(handle_of(stream), &mode) != 0;
}

void set_binary(std::FILE* stream) { ::_setmode(::_fileno(stream), _O_BINARY); }

void keep_running_when_a_pipe_closes() {}

int terminal_columns(std::FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(handle_of(stream), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

FileOutcome create_new_file(const std::string& path) {
    const Handle file{::CreateFileW(qivpak::utf8_to_utf16(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)};
    return file.handle == INVALID_HANDLE_VALUE ? failed() : FileOutcome{};
}

FileOutcome flush_to_device(const std::string& path) {
    const Handle file{::CreateFileW(qivpak::utf8_to_utf16(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (file.handle == INVALID_HANDLE_VALUE) return failed();
    return ::FlushFileBuffers(file.handle) ? FileOutcome{} : failed();
}

FileOutcome rename_into_place(const std::string& from, const std::string& to, bool replace) {
    // MoveFileExW replaces nothing without MOVEFILE_REPLACE_EXISTING; WRITE_THROUGH returns only once
    // the new name is on the device.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    return ::MoveFileExW(qivpak::utf8_to_utf16(from).c_str(), qivpak::utf8_to_utf16(to).c_str(), flags) ? FileOutcome{} : failed();
}

}  // namespace qiv
