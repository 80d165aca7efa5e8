#include "base/sha256.hpp"

#include <algorithm>
#include <climits>
#include <stdexcept>

#include <openssl/evp.h>
#include <openssl/rand.h>

namespace velk {

struct Sha256::Context {
    struct Free {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> handle;
};

Sha256::Sha256() : m_context(std::make_unique<Context>()) {
    m_context->handle.reset(EVP_MD_CTX_new());
    if (!m_context->handle || EVP_DigestInit_ex(m_context->handle.get(), EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("Cannot start a SHA-256 digest.");
    }
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::update(const void* data, std::size_t size) {
    if (!m_context || !m_context->handle) throw std::logic_error("SHA-256 digest updated after it was finished or moved.");
    if (size == 0) return;
    if (EVP_DigestUpdate(m_context->handle.get(), data, size) != 1) throw std::runtime_error("Cannot update a SHA-256 digest.");
}

Sha256::Digest Sha256::finish() {
    if (!m_context || !m_context->handle) throw std::logic_error("SHA-256 digest finished twice or after it was moved.");
    Digest digest{};
    unsigned int length = 0;
    int ok = EVP_DigestFinal_ex(m_context->handle.get(), digest.data(), &length);
    m_context->handle.reset();
    if (ok != 1 || length != digest.size()) throw std::runtime_error("Cannot finish a SHA-256 digest.");
    return digest;
}

Sha256::Digest Sha256::of(std::string_view data) {
    Sha256 hasher;
    hasher.update(data);
    return hasher.finish();
}

Sha256::Digest Sha256::of(std::span<const std::uint8_t> data) {
    Sha256 hasher;
    hasher.update(data.data(), data.size());
    return hasher.finish();
}

std::string Sha256::hexOf(std::string_view data) { return hexLower(of(data)); }

std::string hexLower(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0x0F];
    }
    return out;
}

Bytes randomBytes(std::size_t count) {
    Bytes out(count);
    for (std::size_t done = 0; done < count;) {
        int chunk = static_cast<int>(std::min<std::size_t>(count - done, INT_MAX));
        if (RAND_bytes(out.data() + done, chunk) != 1) throw std::runtime_error("The system could not provide random bytes.");
        done += static_cast<std::size_t>(chunk);
    }
    return out;
}

} // namespace velk
