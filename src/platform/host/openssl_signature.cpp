#include "platform/host/openssl_signature.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <cstring>
#include <memory>

namespace tw {
namespace {

struct FreeKey {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct FreeContext {
  void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
struct FreeSignature {
  void operator()(ECDSA_SIG* signature) const { ECDSA_SIG_free(signature); }
};
struct FreeBytes {
  void operator()(unsigned char* bytes) const { OPENSSL_free(bytes); }
};

// The key from CNG's blob, refused as CNG refuses it: another magic or key length, or a point
// that is not on the curve.
std::unique_ptr<EVP_PKEY, FreeKey> importPublicBlob(const std::uint8_t* blob) {
  static const std::uint8_t kHeader[8] = {'E', 'C', 'S', '1', 32, 0, 0, 0};
  if (std::memcmp(blob, kHeader, sizeof kHeader) != 0) return nullptr;
  unsigned char point[65];
  point[0] = 0x04;  // uncompressed: X then Y
  std::memcpy(point + 1, blob + 8, 64);
  char group[] = "prime256v1";
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point),
      OSSL_PARAM_construct_end()};
  std::unique_ptr<EVP_PKEY_CTX, FreeContext> context(
      EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* key = nullptr;
  if (!context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params) != 1) {
    return nullptr;
  }
  std::unique_ptr<EVP_PKEY, FreeKey> owned(key);
  std::unique_ptr<EVP_PKEY_CTX, FreeContext> check(EVP_PKEY_CTX_new(key, nullptr));
  if (!check || EVP_PKEY_public_check(check.get()) != 1) return nullptr;
  return owned;
}

}  // namespace

std::int32_t OpenSslSignatureVerifier::verifyEcdsaP256(
    const std::uint8_t publicKeyBlob[ECC_P256_PUBLIC_BLOB_SIZE],
    const std::uint8_t digest[SHA256_DIGEST_SIZE],
    const std::uint8_t signature[ECDSA_P256_SIGNATURE_SIZE]) {
  std::unique_ptr<EVP_PKEY, FreeKey> key = importPublicBlob(publicKeyBlob);
  if (!key) return CRYPTO_STATUS_INVALID_PARAMETER;

  // libcrypto takes the signature DER-encoded; CNG takes r and s side by side.
  std::unique_ptr<ECDSA_SIG, FreeSignature> pair(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(signature, 32, nullptr);
  BIGNUM* s = BN_bin2bn(signature + 32, 32, nullptr);
  if (!pair || r == nullptr || s == nullptr || ECDSA_SIG_set0(pair.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return CRYPTO_STATUS_NO_MEMORY;
  }
  unsigned char* der = nullptr;
  const int derLength = i2d_ECDSA_SIG(pair.get(), &der);
  std::unique_ptr<unsigned char, FreeBytes> ownedDer(der);
  if (derLength <= 0) return CRYPTO_STATUS_NO_MEMORY;

  std::unique_ptr<EVP_PKEY_CTX, FreeContext> context(EVP_PKEY_CTX_new(key.get(), nullptr));
  if (!context || EVP_PKEY_verify_init(context.get()) != 1) return CRYPTO_STATUS_NO_MEMORY;
  const int verified = EVP_PKEY_verify(context.get(), der, static_cast<std::size_t>(derLength),
                                       digest, SHA256_DIGEST_SIZE);
  return verified == 1 ? CRYPTO_STATUS_SUCCESS : CRYPTO_STATUS_INVALID_SIGNATURE;
}

}  // namespace tw
