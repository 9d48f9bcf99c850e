// digest.hpp - running MD5 and SHA-1 digests, computed by the system's cryptographic library
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qiv {

enum class DigestKind { md5, sha1 };

// One running digest: bytes go in with update(), in order; hex() ends it.
// The work is the library's (OpenSSL's libcrypto on POSIX systems, BCrypt on
// Windows); nothing here hashes by itself.
//
// Thread safety: a Digest is used by one thread at a time; different threads
// may use different Digests at the same time.
class Digest {
public:
    // Throws std::runtime_error when the library cannot provide the algorithm.
    explicit Digest(DigestKind kind);
    ~Digest();
    Digest(Digest&&) noexcept;
    Digest& operator=(Digest&&) noexcept;

    // Adds `length` bytes at `data` to the digest. Throws std::runtime_error
    // when the library fails. Not allowed after hex().
    void update(const void* data, std::size_t length);

    // Ends the digest and returns it in lower-case hex (32 digits for MD5, 40
    // for SHA-1). Called once; throws std::runtime_error when the library fails.
    std::string hex();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The CRC-32 (zlib's, as DAT files give it) of `length` bytes at `data`
// following the bytes `crc` is the CRC-32 of (0 for none): libdeflate's where
// the build found it, else zlib's; both give the same values. Thread safe.
std::uint32_t crc32_update(std::uint32_t crc, const void* data, std::size_t length);

// Lower-case hex of `length` bytes at `bytes`.
inline std::string to_hex(const unsigned char* bytes, std::size_t length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

}  // namespace qiv
