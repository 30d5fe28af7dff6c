#include "sim/release_signer.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "development_signing_key.h"

namespace tw::sim {
namespace {

// The simulated world has no way to go on without its keys: a failure here is a broken build.
[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "release signer: %s\n", what);
  std::abort();
}

void digestOf(const std::uint8_t* data, std::size_t size, unsigned char out[32]) {
  unsigned int length = 0;
  if (EVP_Digest(data, size, out, &length, EVP_sha256(), nullptr) != 1 || length != 32) {
    broken("SHA-256 failed");
  }
}

}  // namespace

struct ReleaseSigner::Key {
  EVP_PKEY* pkey = nullptr;
  ~Key() { EVP_PKEY_free(pkey); }
};

ReleaseSigner::ReleaseSigner(std::unique_ptr<Key> key) : key_(std::move(key)) {}
ReleaseSigner::ReleaseSigner(ReleaseSigner&&) noexcept = default;
ReleaseSigner& ReleaseSigner::operator=(ReleaseSigner&&) noexcept = default;
ReleaseSigner::~ReleaseSigner() = default;

ReleaseSigner ReleaseSigner::development() {
  auto key = std::make_unique<Key>();
  BIO* bio = BIO_new_mem_buf(kDevelopmentSigningKeyPem, -1);
  if (bio == nullptr) broken("no memory for the key");
  key->pkey = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  if (key->pkey == nullptr) broken("the development key does not load");
  return ReleaseSigner(std::move(key));
}

ReleaseSigner ReleaseSigner::stranger() {
  auto key = std::make_unique<Key>();
  key->pkey = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
  if (key->pkey == nullptr) broken("no key could be made");
  return ReleaseSigner(std::move(key));
}

std::string ReleaseSigner::signHex(const std::uint8_t* data, std::size_t size) const {
  unsigned char digest[32];
  digestOf(data, size, digest);
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key_->pkey, nullptr);
  unsigned char der[128];
  std::size_t derLength = sizeof der;
  if (context == nullptr || EVP_PKEY_sign_init(context) != 1 ||
      EVP_PKEY_sign(context, der, &derLength, digest, sizeof digest) != 1) {
    broken("signing failed");
  }
  EVP_PKEY_CTX_free(context);
  const unsigned char* p = der;
  ECDSA_SIG* pair = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(derLength));
  if (pair == nullptr) broken("the signature does not decode");
  unsigned char raw[64];
  if (BN_bn2binpad(ECDSA_SIG_get0_r(pair), raw, 32) != 32 ||
      BN_bn2binpad(ECDSA_SIG_get0_s(pair), raw + 32, 32) != 32) {
    broken("r or s is too long");
  }
  ECDSA_SIG_free(pair);
  std::string hex;
  char digits[3];
  for (unsigned char byte : raw) {
    std::snprintf(digits, sizeof digits, "%02x", byte);
    hex += digits;
  }
  return hex;
}

std::array<std::uint8_t, 72> ReleaseSigner::publicBlob() const {
  std::array<std::uint8_t, 72> blob{'E', 'C', 'S', '1', 32, 0, 0, 0};
  unsigned char point[65];
  std::size_t length = 0;
  if (EVP_PKEY_get_octet_string_param(key_->pkey, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point,
                                      &length) != 1) {
    broken("the public key cannot be read");
  }
  // Compressed or uncompressed as the key was stored: ask for the uncompressed form.
  if (length != 65 || point[0] != 0x04) {
    char format[] = "uncompressed";
    EVP_PKEY_set_utf8_string_param(key_->pkey, OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT, format);
    if (EVP_PKEY_get_octet_string_param(key_->pkey, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point,
                                        &length) != 1 ||
        length != 65) {
      broken("the public key has no uncompressed form");
    }
  }
  std::memcpy(blob.data() + 8, point + 1, 64);
  return blob;
}

std::string ReleaseSigner::sha256Hex(const std::uint8_t* data, std::size_t size) {
  unsigned char digest[32];
  digestOf(data, size, digest);
  std::string hex;
  char digits[3];
  for (unsigned char byte : digest) {
    std::snprintf(digits, sizeof digits, "%02x", byte);
    hex += digits;
  }
  return hex;
}

}  // namespace tw::sim
