#include "platform/win32/cng_signature.h"

#include <windows.h>
#include <bcrypt.h>

namespace tw {

std::int32_t CngSignatureVerifier::verifyEcdsaP256(
    const std::uint8_t publicKeyBlob[ECC_P256_PUBLIC_BLOB_SIZE],
    const std::uint8_t digest[SHA256_DIGEST_SIZE],
    const std::uint8_t signature[ECDSA_P256_SIGNATURE_SIZE]) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  NTSTATUS status =
      BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
  if (status != 0) return status;
  BCRYPT_KEY_HANDLE key = nullptr;
  // CNG takes the buffers as non-const but only reads them.
  status = BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key,
                               const_cast<PUCHAR>(publicKeyBlob), ECC_P256_PUBLIC_BLOB_SIZE, 0);
  if (status == 0) {
    status = BCryptVerifySignature(key, nullptr, const_cast<PUCHAR>(digest), SHA256_DIGEST_SIZE,
                                   const_cast<PUCHAR>(signature), ECDSA_P256_SIGNATURE_SIZE, 0);
    BCryptDestroyKey(key);
  }
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return status;
}

}  // namespace tw
