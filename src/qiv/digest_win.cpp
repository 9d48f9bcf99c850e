// digest_win.cpp - MD5 and SHA-1 through the system's BCrypt hash providers
#include "qiv/digest.hpp"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <vector>

namespace qiv {

namespace {

bool succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

struct Digest::Impl {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::vector<UCHAR> object;  // the hash object's memory, owned here as BCrypt asks
    ~Impl() {
        if (hash) ::BCryptDestroyHash(hash);
        if (algorithm) ::BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

Digest::Digest(DigestKind kind) : impl_(std::make_unique<Impl>()) {
    const wchar_t* name = kind == DigestKind::md5 ? BCRYPT_MD5_ALGORITHM : BCRYPT_SHA1_ALGORITHM;
    DWORD object_size = 0;
    ULONG got = 0;
    if (!succeeded(::BCryptOpenAlgorithmProvider(&impl_->algorithm, name, nullptr, 0)) ||
        !succeeded(::BCryptGetProperty(impl_->algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&object_size),
                                       sizeof object_size, &got, 0)))
        throw std::runtime_error("the cryptographic library cannot compute MD5 or SHA-1");
    impl_->object.resize(object_size);
    if (!succeeded(::BCryptCreateHash(impl_->algorithm, &impl_->hash, impl_->object.data(), object_size, nullptr, 0, 0)))
        throw std::runtime_error("the cryptographic library cannot compute MD5 or SHA-1");
}

Digest::~Digest() = default;
Digest::Digest(Digest&&) noexcept = default;
Digest& Digest::operator=(Digest&&) noexcept = default;

void Digest::update(const void* data, std::size_t length) {
    auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));  // BCrypt reads them only
    while (length > 0) {
        const ULONG part = static_cast<ULONG>(std::min<std::size_t>(length, std::numeric_limits<ULONG>::max()));
        if (!succeeded(::BCryptHashData(impl_->hash, bytes, part, 0)))
            throw std::runtime_error("the cryptographic library failed to hash");
        bytes += part;
        length -= part;
    }
}

std::string Digest::hex() {
    DWORD size = 0;
    ULONG got = 0;
    if (!succeeded(::BCryptGetProperty(impl_->algorithm, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&size), sizeof size,
                                       &got, 0)))
        throw std::runtime_error("the cryptographic library failed to hash");
    std::vector<UCHAR> value(size);
    if (!succeeded(::BCryptFinishHash(impl_->hash, value.data(), size, 0)))
        throw std::runtime_error("the cryptographic library failed to hash");
    return to_hex(value.data(), value.size());
}

}  // namespace qiv
