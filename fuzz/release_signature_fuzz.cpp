// The release's signature text and the cache file name made from its version, over arbitrary
// bytes: a signature is read only from exactly 128 hexadecimal digits and decodes back to them;
// only such a text ever reaches the system's cryptography; a cache name holds nothing but letters,
// digits, "-" and "." taken in order from the version, at most 63 of them.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "firmware/firmware_cache.h"
#include "firmware/release_signature.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

class AcceptingVerifier : public tw::SignatureVerifier {
 public:
  std::int32_t verifyEcdsaP256(const std::uint8_t*, const std::uint8_t*,
                               const std::uint8_t*) override {
    ++calls;
    return tw::CRYPTO_STATUS_SUCCESS;
  }
  int calls = 0;
};

bool allHex(const std::string& text) {
  for (unsigned char c : text) {
    if (!std::isxdigit(c)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const char* cText = text.c_str();  // stops at the first zero byte, as a field would
  const std::string field(cText);

  std::uint8_t signature[64];
  const bool read = tw::parseReleaseSignature(cText, signature);
  check(read == (field.size() == 128 && allHex(field)));
  if (read) {
    char again[3];
    for (int i = 0; i < 64; ++i) {
      std::snprintf(again, sizeof again, "%02x", signature[i]);
      check(std::tolower(static_cast<unsigned char>(field[2 * i])) == again[0] &&
            std::tolower(static_cast<unsigned char>(field[2 * i + 1])) == again[1]);
    }
  }

  AcceptingVerifier verifier;
  std::string reason;
  const std::uint8_t key[72] = {'E', 'C', 'S', '1', 32};
  const bool accepted = tw::checkReleaseSignature(verifier, key, data, size, cText, reason);
  check(accepted == read && verifier.calls == (read ? 1 : 0));
  check(accepted ? reason.empty()
                 : reason == (field.empty() ? "it arrived without a Tarnwick signature"
                                            : "it isn't signed by Tarnwick"));

  const std::string name = tw::cacheVersionText(cText);
  check(name.size() <= 63);
  std::size_t from = 0;
  for (char c : name) {
    check(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.');
    from = field.find(c, from);
    check(from != std::string::npos);
    ++from;
  }
  return 0;
}
