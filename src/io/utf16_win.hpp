// utf16_win.hpp - UTF-8 inside the program, UTF-16 at the Windows system calls
#pragma once

#include <string>
#include <string_view>
#include <windows.h>

namespace qivpak {

// UTF-16 of a UTF-8 text; bytes that are not UTF-8 become U+FFFD.
inline std::wstring utf8_to_utf16(std::string_view text) {
    if (text.empty()) return {};
    const int len = static_cast<int>(text.size());
    const int wide_len = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), len, nullptr, 0);
    if (wide_len <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(wide_len), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), len, wide.data(), wide_len);
    return wide;
}

// UTF-8 of a UTF-16 text; unpaired surrogates become U+FFFD.
inline std::string utf16_to_utf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int len = static_cast<int>(wide.size());
    const int narrow_len = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), len, nullptr, 0, nullptr, nullptr);
    if (narrow_len <= 0) return {};
    std::string narrow(static_cast<std::size_t>(narrow_len), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), len, narrow.data(), narrow_len, nullptr, nullptr);
    return narrow;
}

}  // namespace qivpak
