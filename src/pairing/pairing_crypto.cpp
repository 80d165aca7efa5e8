#include "pairing/pairing_crypto.hpp"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>

namespace velk::pairing_crypto {

namespace {

constexpr const char* curveName = "prime256v1";

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* handle) const { Free(handle); }
};
using BigNum = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_clear_free>>;
using BigNumContext = std::unique_ptr<BN_CTX, Deleter<BN_CTX, BN_CTX_free>>;
using Group = std::unique_ptr<EC_GROUP, Deleter<EC_GROUP, EC_GROUP_free>>;
using Point = std::unique_ptr<EC_POINT, Deleter<EC_POINT, EC_POINT_free>>;
using ParamBuilder = std::unique_ptr<OSSL_PARAM_BLD, Deleter<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, Deleter<OSSL_PARAM, OSSL_PARAM_free>>;
using PKeyContext = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using Signature = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, ECDSA_SIG_free>>;

[[noreturn]] void fail(const char* what) { throw PairingCryptoError(what); }

// Builds an EC key from OSSL parameters: the group, the public point and, for a key pair, the scalar.
PKey fromData(std::span<const std::uint8_t> point, const BIGNUM* scalar) {
    ParamBuilder builder(OSSL_PARAM_BLD_new());
    if (!builder) return {};
    if (OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, curveName, 0) != 1) return {};
    if (OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()) != 1)
        return {};
    if (scalar && OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_PRIV_KEY, scalar) != 1) return {};
    Params params(OSSL_PARAM_BLD_to_param(builder.get()));
    PKeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1) return {};
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_fromdata(context.get(), &key, scalar ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params.get()) != 1)
        return {};
    return PKey(key);
}

// The uncompressed public point of a scalar on P-256; empty when the scalar is out of range.
Bytes publicPoint(const BIGNUM* scalar) {
    Group group(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1));
    BigNumContext context(BN_CTX_new());
    if (!group || !context) fail("Cannot prepare the P-256 group.");
    if (BN_is_zero(scalar) || BN_is_negative(scalar) || BN_cmp(scalar, EC_GROUP_get0_order(group.get())) >= 0) return {};
    Point point(EC_POINT_new(group.get()));
    if (!point || EC_POINT_mul(group.get(), point.get(), scalar, nullptr, nullptr, context.get()) != 1)
        fail("Cannot compute the P-256 public key.");
    Bytes out(publicKeyBytes);
    if (EC_POINT_point2oct(group.get(), point.get(), POINT_CONVERSION_UNCOMPRESSED, out.data(), out.size(),
                           context.get()) != publicKeyBytes)
        fail("Cannot encode the P-256 public key.");
    return out;
}

} // namespace

void PKeyFree::operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }

SigningKey SigningKey::generate() {
    PKey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    if (!key) fail("Cannot make a P-256 key.");
    BIGNUM* scalar = nullptr;
    if (EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &scalar) != 1) fail("Cannot read the P-256 key.");
    BigNum owned(scalar);
    Bytes raw(rawKeyBytes);
    if (BN_bn2binpad(owned.get(), raw.data(), static_cast<int>(raw.size())) != static_cast<int>(rawKeyBytes))
        fail("Cannot read the P-256 key.");
    SigningKey made = fromRaw(raw);
    OPENSSL_cleanse(raw.data(), raw.size());
    return made;
}

SigningKey SigningKey::fromRaw(std::span<const std::uint8_t> raw) {
    if (raw.size() != rawKeyBytes) fail("The P-256 key is not 32 bytes long.");
    BigNum scalar(BN_bin2bn(raw.data(), static_cast<int>(raw.size()), nullptr));
    if (!scalar) fail("Cannot read the P-256 key.");
    Bytes point = publicPoint(scalar.get());
    if (point.empty()) fail("The P-256 key is not a valid scalar.");
    PKey key = fromData(point, scalar.get());
    if (!key) fail("Cannot load the P-256 key.");
    return SigningKey(std::shared_ptr<EVP_PKEY>(key.release(), PKeyFree{}), std::move(point));
}

Bytes SigningKey::rawRepresentation() const {
    BIGNUM* scalar = nullptr;
    if (EVP_PKEY_get_bn_param(m_key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &scalar) != 1) fail("Cannot read the P-256 key.");
    BigNum owned(scalar);
    Bytes raw(rawKeyBytes);
    if (BN_bn2binpad(owned.get(), raw.data(), static_cast<int>(raw.size())) != static_cast<int>(rawKeyBytes))
        fail("Cannot read the P-256 key.");
    return raw;
}

Bytes SigningKey::sign(std::span<const std::uint8_t> message) const {
    DigestContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, m_key.get()) != 1)
        fail("Cannot start a P-256 signature.");
    std::size_t length = 0;
    if (EVP_DigestSign(context.get(), nullptr, &length, message.data(), message.size()) != 1) fail("Cannot sign.");
    Bytes signature(length);
    if (EVP_DigestSign(context.get(), signature.data(), &length, message.data(), message.size()) != 1) fail("Cannot sign.");
    signature.resize(length);
    return signature;
}

std::optional<PKey> publicKey(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != publicKeyBytes || bytes[0] != 0x04) return std::nullopt;
    // Importing the point checks that it lies on the curve; P-256 has cofactor 1, so that is
    // the whole public-key check.
    PKey key = fromData(bytes, nullptr);
    if (!key) return std::nullopt;
    return key;
}

bool isStrictDERSignature(std::span<const std::uint8_t> signature) {
    if (signature.empty()) return false;
    const unsigned char* cursor = signature.data();
    Signature parsed(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(signature.size())));
    if (!parsed || cursor != signature.data() + signature.size()) return false;
    unsigned char* encoded = nullptr;
    const int length = i2d_ECDSA_SIG(parsed.get(), &encoded);
    if (length <= 0) return false;
    const bool same = static_cast<std::size_t>(length) == signature.size() &&
                      std::equal(signature.begin(), signature.end(), encoded);
    OPENSSL_free(encoded);
    return same;
}

bool verify(EVP_PKEY* key, std::span<const std::uint8_t> signature, std::span<const std::uint8_t> message) {
    DigestContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key) != 1) return false;
    return EVP_DigestVerify(context.get(), signature.data(), signature.size(), message.data(), message.size()) == 1;
}

Sha256::Digest hmacSHA256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message) {
    Sha256::Digest out{};
    std::size_t length = 0;
    static const std::uint8_t empty = 0;
    if (!EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, key.empty() ? &empty : key.data(), key.size(),
                   message.empty() ? &empty : message.data(), message.size(), out.data(), out.size(), &length) ||
        length != out.size())
        fail("Cannot compute HMAC-SHA256.");
    return out;
}

bool constantTimeEqual(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    if (a.size() != b.size()) return false;
    return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace velk::pairing_crypto
