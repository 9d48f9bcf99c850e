// crc32.cpp - CRC-32 by libdeflate where the build has it (several times zlib's speed), else by zlib
#include "qiv/digest.hpp"

#if QIVPAK_HAVE_LIBDEFLATE
#include <libdeflate.h>
#else
#include <zlib.h>
#endif

namespace qiv {

std::uint32_t crc32_update(std::uint32_t crc, const void* data, std::size_t length) {
#if QIVPAK_HAVE_LIBDEFLATE
    return libdeflate_crc32(crc, data, length);
#else
    return static_cast<std::uint32_t>(::crc32_z(crc, static_cast<const unsigned char*>(data), length));
#endif
}

}  // namespace qiv
