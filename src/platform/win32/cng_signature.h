// ECDSA P-256 signature checks through CNG.
#pragma once

#include "platform/crypto.h"

namespace tw {

class CngSignatureVerifier : public SignatureVerifier {
 public:
  std::int32_t verifyEcdsaP256(const std::uint8_t publicKeyBlob[ECC_P256_PUBLIC_BLOB_SIZE],
                               const std::uint8_t digest[SHA256_DIGEST_SIZE],
                               const std::uint8_t signature[ECDSA_P256_SIGNATURE_SIZE]) override;
};

}  // namespace tw
