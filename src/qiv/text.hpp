// text.hpp - how qiv writes sizes, ratios and durations for people
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qiv {

// Decimal megabytes with one decimal: "258.2 MB" (10^6 bytes to the MB, as MB/s counts).
inline std::string megabytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

// `part` as a percentage of `whole` with one decimal: "46.5%"; "-" when whole is 0.
inline std::string percent(std::uint64_t part, std::uint64_t whole) {
    if (whole == 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", 100.0 * static_cast<double>(part) / static_cast<double>(whole));
    return text;
}

// A duration in seconds as "0:42" or "1:02:03".
inline std::string clock_time(double seconds) {
    const auto s = static_cast<std::uint64_t>(seconds < 0 ? 0 : seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(s / 3600),
                      static_cast<unsigned long long>(s / 60 % 60), static_cast<unsigned long long>(s % 60));
    else
        std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(s / 60),
                      static_cast<unsigned long long>(s % 60));
    return text;
}

}  // namespace qiv
