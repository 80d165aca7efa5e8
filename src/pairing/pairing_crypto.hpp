#pragma once
// The cryptography of camera pairing over OpenSSL 3 (EVP only): the Director's P-256 signing key,
// kept as its 32-byte raw scalar; camera public keys in the 65-byte uncompressed form; strict DER
// ECDSA signatures over SHA-256; HMAC-SHA256 compared in constant time.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>

#include "base/sha256.hpp"

typedef struct evp_pkey_st EVP_PKEY;

namespace velk {

class PairingCryptoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace pairing_crypto {

inline constexpr std::size_t rawKeyBytes = 32;
inline constexpr std::size_t publicKeyBytes = 65;

struct PKeyFree {
    void operator()(EVP_PKEY* key) const;
};
using PKey = std::unique_ptr<EVP_PKEY, PKeyFree>;

// A P-256 signing key. Copies share the same immutable OpenSSL key.
class SigningKey {
public:
    // A new random key.
    static SigningKey generate();
    // From the 32-byte big-endian scalar; throws PairingCryptoError when it is not 32 bytes or not
    // a valid scalar (zero, or not below the group order).
    static SigningKey fromRaw(std::span<const std::uint8_t> raw);

    Bytes rawRepresentation() const;
    // The uncompressed X9.63 point (0x04 || X || Y), 65 bytes.
    const Bytes& publicKey() const { return m_publicKey; }
    // DER-encoded ECDSA over SHA-256 of `message`; throws PairingCryptoError.
    Bytes sign(std::span<const std::uint8_t> message) const;

private:
    SigningKey(std::shared_ptr<EVP_PKEY> key, Bytes publicKey)
        : m_key(std::move(key)), m_publicKey(std::move(publicKey)) {}
    std::shared_ptr<EVP_PKEY> m_key;
    Bytes m_publicKey;
};

// A P-256 public key from exactly 65 bytes in uncompressed form (first byte 0x04) that lie on the
// curve; none otherwise. The hybrid forms 0x06/0x07 that OpenSSL would take are refused here.
std::optional<PKey> publicKey(std::span<const std::uint8_t> bytes);
// True when the bytes are one DER ECDSA-Sig-Value and nothing else: parsing and re-encoding give
// the same bytes (no BER lengths, no padding of the integers, no trailing bytes).
bool isStrictDERSignature(std::span<const std::uint8_t> signature);
bool verify(EVP_PKEY* key, std::span<const std::uint8_t> signature, std::span<const std::uint8_t> message);

Sha256::Digest hmacSHA256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message);
bool constantTimeEqual(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);

} // namespace pairing_crypto
} // namespace velk
