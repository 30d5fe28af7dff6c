// Cryptographic services of the operating system: random bytes, and checking an ECDSA P-256
// signature over a SHA-256 digest.
// Windows: the CryptoAPI random generator and CNG. Linux: getrandom and OpenSSL's libcrypto.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tw {

// What a fallback generator can be seeded with when the system generator fails.
struct EntropyHints {
  std::uint64_t performanceCounter = 0;
  std::uint64_t tickMs = 0;
  std::uint64_t processId = 0;
};

class RandomSource {
 public:
  virtual ~RandomSource() = default;
  // Fills `length` bytes from the system's cryptographic generator; false when it failed.
  virtual bool randomBytes(std::uint8_t* out, std::size_t length) = 0;
  virtual EntropyHints entropyHints() = 0;
};

// A P-256 public key as CNG takes it (BCRYPT_ECCPUBLIC_BLOB): the magic "ECS1", the key length 32
// as a little-endian u32, then X and Y, 32 bytes each, big-endian.
inline constexpr std::size_t ECC_P256_PUBLIC_BLOB_SIZE = 72;
inline constexpr std::size_t ECDSA_P256_SIGNATURE_SIZE = 64;  // r then s, big-endian
inline constexpr std::size_t SHA256_DIGEST_SIZE = 32;

// NTSTATUS values CNG answers with, which the Linux adapter answers with too.
inline constexpr std::int32_t CRYPTO_STATUS_SUCCESS = 0;
inline constexpr std::int32_t CRYPTO_STATUS_INVALID_SIGNATURE =
    static_cast<std::int32_t>(0xC000A000);
inline constexpr std::int32_t CRYPTO_STATUS_INVALID_PARAMETER =
    static_cast<std::int32_t>(0xC000000D);
inline constexpr std::int32_t CRYPTO_STATUS_NO_MEMORY = static_cast<std::int32_t>(0xC0000017);

class SignatureVerifier {
 public:
  virtual ~SignatureVerifier() = default;
  // Opens "ECDSA_P256", imports `publicKeyBlob` as "ECCPUBLICBLOB", verifies `signature` over
  // `digest` with flags 0, and lets go of the key and the algorithm. Returns the status of the
  // first call that failed, or CRYPTO_STATUS_SUCCESS when the signature holds.
  virtual std::int32_t verifyEcdsaP256(const std::uint8_t publicKeyBlob[ECC_P256_PUBLIC_BLOB_SIZE],
                                       const std::uint8_t digest[SHA256_DIGEST_SIZE],
                                       const std::uint8_t signature[ECDSA_P256_SIGNATURE_SIZE]) = 0;
};

}  // namespace tw
