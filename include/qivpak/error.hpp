// error.hpp - the one exception type that the qivpak library throws
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace qivpak {

// Every failure of pack(), unpack() and QivReader is an Error (or derives from
// it). what() is the message the command-line tool prints for the same
// failure, without its final newline, for instance
// "Input is not a valid QIV file." or "Error: cannot open input file disc.iso".
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message, std::string reason = {})
        : runtime_error(message), reason_(std::move(reason)) {}
    // The system's words for what failed beneath the message, where the
    // message is the tool's own and does not say it ("No space left on
    // device" under "I/O write error."); empty when there is none.
    const std::string& reason() const { return reason_; }

private:
    std::string reason_;
};

// Thrown by pack() and unpack() when their should_stop callback said so:
// the run ended early, at a frame boundary, on the caller's request.
// what() is "Stopped.".
class Stopped : public Error {
public:
    Stopped() : Error("Stopped.") {}
};

}  // namespace qivpak
