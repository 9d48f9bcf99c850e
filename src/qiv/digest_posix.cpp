// digest_posix.cpp - MD5 and SHA-1 through OpenSSL's EVP interface
#include "qiv/digest.hpp"

#include <openssl/evp.h>

#include <stdexcept>

namespace qiv {

struct Digest::Impl {
    struct FreeContext {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, FreeContext> context;
};

Digest::Digest(DigestKind kind) : impl_(std::make_unique<Impl>()) {
    impl_->context.reset(EVP_MD_CTX_new());
    const EVP_MD* algorithm = kind == DigestKind::md5 ? EVP_md5() : EVP_sha1();
    if (!impl_->context || EVP_DigestInit_ex(impl_->context.get(), algorithm, nullptr) != 1)
        throw std::runtime_error("the cryptographic library cannot compute MD5 or SHA-1");
}

Digest::~Digest() = default;
Digest::Digest(Digest&&) noexcept = default;
Digest& Digest::operator=(Digest&&) noexcept = default;

void Digest::update(const void* data, std::size_t length) {
    if (EVP_DigestUpdate(impl_->context.get(), data, length) != 1)
        throw std::runtime_error("the cryptographic library failed to hash");
}

std::string Digest::hex() {
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(impl_->context.get(), value, &length) != 1)
        throw std::runtime_error("the cryptographic library failed to hash");
    return to_hex(value, length);
}

}  // namespace qiv
