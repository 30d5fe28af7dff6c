#include "firmware/release_signature.h"

#include <cstring>

#include "firmware/sha256.h"

namespace tw {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool parseReleaseSignature(const char* text, std::uint8_t out[ECDSA_P256_SIGNATURE_SIZE]) {
  if (text == nullptr) return false;
  for (std::size_t i = 0; i < ECDSA_P256_SIGNATURE_SIZE; ++i) {
    // Reading pairwise stops at the terminator before looking past it.
    const int high = hexValue(text[2 * i]);
    if (high < 0) return false;
    const int low = hexValue(text[2 * i + 1]);
    if (low < 0) return false;
    out[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return text[RELEASE_SIGNATURE_DIGITS] == '\0';
}

bool checkReleaseSignature(SignatureVerifier& verifier, const std::uint8_t* releaseKey,
                           const std::uint8_t* data, std::size_t size, const char* signatureText,
                           std::string& reason) {
  std::uint8_t signature[ECDSA_P256_SIGNATURE_SIZE];
  bool valid = parseReleaseSignature(signatureText, signature);
  if (valid) {
    Sha256 context;
    sha256Init(context);
    sha256Update(context, data, size);
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256Final(context, digest);
    valid = verifier.verifyEcdsaP256(releaseKey, digest, signature) == CRYPTO_STATUS_SUCCESS;
  }
  if (valid) return true;
  const bool unsigned_ = signatureText == nullptr || signatureText[0] == '\0';
  reason = unsigned_ ? "it arrived without a Tarnwick signature" : "it isn't signed by Tarnwick";
  return false;
}

}  // namespace tw
