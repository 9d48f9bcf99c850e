// error.hpp - the one exception type that the qivpak library throws
#pragma once

#include <stdexcept>

namespace qivpak {

// Every failure of pack(), unpack() and QivReader is an Error (or derives from
// it). what() is the message the command-line tool prints for the same
// failure, without its final newline, for instance
// "Input is not a valid QIV file." or "Error: cannot open input file disc.iso".
class Error : public std::runtime_error {
    using runtime_error::runtime_error;
};

// Thrown by pack() and unpack() when their should_stop callback said so:
// the run ended early, at a frame boundary, on the caller's request.
// what() is "Stopped.".
class Stopped : public Error {
public:
    Stopped() : Error("Stopped.") {}
};

}  // namespace qivpak
