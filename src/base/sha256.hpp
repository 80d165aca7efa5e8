#pragma once
// SHA-256 over OpenSSL, and the hexadecimal text used for digests everywhere.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velk {

using Bytes = std::vector<std::uint8_t>;

class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;
    Sha256();
    ~Sha256();
    Sha256(Sha256&&) noexcept;
    Sha256& operator=(Sha256&&) noexcept;
    void update(const void* data, std::size_t size);
    void update(std::string_view data) { update(data.data(), data.size()); }
    // Finishes the digest; the hasher must not be updated afterwards.
    Digest finish();

    static Digest of(std::string_view data);
    static Digest of(std::span<const std::uint8_t> data);
    static std::string hexOf(std::string_view data);

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

// Two lower-case hexadecimal characters per byte, no separators.
std::string hexLower(std::span<const std::uint8_t> bytes);
// Cryptographically random bytes (OpenSSL RAND_bytes); throws std::runtime_error on failure.
Bytes randomBytes(std::size_t count);

} // namespace velk
