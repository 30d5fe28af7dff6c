// The release signature check with the Linux adapter (OpenSSL) behind the crypto port, and the
// keys the builds trust: signatures made by the simulated host with the development key hold;
// none, malformed, another key's or another file's do not, and a product build's key refuses
// what the development key signed.
#include "firmware/release_signature.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "platform/host/openssl_signature.h"
#include "release_key_development.h"
#include "release_key_release.h"
#include "sim/release_signer.h"
#include "trusted_release_key.h"

namespace tw {
namespace {

// Counts the calls that reach the system's cryptography.
class CountingVerifier : public SignatureVerifier {
 public:
  std::int32_t verifyEcdsaP256(const std::uint8_t* key, const std::uint8_t* digest,
                               const std::uint8_t* signature) override {
    ++calls;
    return inner.verifyEcdsaP256(key, digest, signature);
  }
  OpenSslSignatureVerifier inner;
  int calls = 0;
};

std::vector<std::uint8_t> fileOf(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> file(size);
  for (std::size_t i = 0; i < size; ++i) file[i] = static_cast<std::uint8_t>(i * 31 + seed);
  return file;
}

TEST(ReleaseSignature, AcceptsOnlyAValidSignatureOfTheWholeFileByTheTrustedKey) {
  const sim::ReleaseSigner developer = sim::ReleaseSigner::development();
  const sim::ReleaseSigner stranger = sim::ReleaseSigner::stranger();
  const std::vector<std::uint8_t> file = fileOf(4096, 1);
  const std::string good = developer.signHex(file);
  std::string upper = good;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string nonHex = good;
  nonHex[77] = 'g';
  std::string flippedSignature = good;
  flippedSignature[10] = flippedSignature[10] == '0' ? '1' : '0';
  std::vector<std::uint8_t> flippedFile = file;
  flippedFile[2000] ^= 0x01;
  std::vector<std::uint8_t> longer = file;
  longer.push_back(0);

  constexpr const char* kNone = "it arrived without a Tarnwick signature";
  constexpr const char* kNotOurs = "it isn't signed by Tarnwick";
  struct Case {
    const char* name;
    std::string sig;
    const std::vector<std::uint8_t>* data;
    const char* reason;  // nullptr: accepted
    bool reachesCrypto;
  };
  const Case cases[] = {
      {"valid", good, &file, nullptr, true},
      {"valid in capitals", upper, &file, nullptr, true},
      {"none", "", &file, kNone, false},
      {"127 digits", good.substr(0, 127), &file, kNotOurs, false},
      {"129 digits", good + "0", &file, kNotOurs, false},
      {"a non-hexadecimal digit", nonHex, &file, kNotOurs, false},
      {"another key", stranger.signHex(file), &file, kNotOurs, true},
      {"another file's", developer.signHex(fileOf(4096, 2)), &file, kNotOurs, true},
      {"a flipped signature digit", flippedSignature, &file, kNotOurs, true},
      {"a flipped byte in the file", good, &flippedFile, kNotOurs, true},
      {"one byte more in the file", good, &longer, kNotOurs, true},
      {"all zeros", std::string(128, '0'), &file, kNotOurs, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CountingVerifier verifier;
    std::string reason = "untouched";
    const bool ok = checkReleaseSignature(verifier, build::kTrustedReleaseKey, c.data->data(),
                                          c.data->size(), c.sig.c_str(), reason);
    EXPECT_EQ(ok, c.reason == nullptr);
    EXPECT_EQ(reason, c.reason == nullptr ? "untouched" : c.reason);
    EXPECT_EQ(verifier.calls, c.reachesCrypto ? 1 : 0);
  }
}

TEST(ReleaseSignature, ReadsExactly128HexadecimalDigits) {
  std::uint8_t out[64];
  const std::string digits = "00ff7F80" + std::string(120, 'a');
  ASSERT_TRUE(parseReleaseSignature(digits.c_str(), out));
  EXPECT_EQ(out[0], 0x00);
  EXPECT_EQ(out[1], 0xff);
  EXPECT_EQ(out[2], 0x7f);
  EXPECT_EQ(out[3], 0x80);
  EXPECT_EQ(out[63], 0xaa);
  for (const std::string& bad :
       {std::string(), std::string(126, 'a'), std::string(127, 'a'), std::string(129, 'a'),
        std::string(127, 'a') + " ", " " + std::string(127, 'a'), std::string(128, 'x'),
        std::string(64, 'a') + "-" + std::string(63, 'a')}) {
    EXPECT_FALSE(parseReleaseSignature(bad.c_str(), out)) << bad;
  }
  EXPECT_FALSE(parseReleaseSignature(nullptr, out));
}

TEST(ReleaseKeys, TestBuildsTrustTheDevelopmentKeyWhichTheSimulatedHostSignsWith) {
  EXPECT_STREQ(build::kTrustedReleaseKeyName, "development");
  const auto blob = sim::ReleaseSigner::development().publicBlob();
  EXPECT_EQ(0, std::memcmp(blob.data(), build::kTrustedReleaseKey, 72));
}

TEST(ReleaseKeys, TheProductKeyNeverAcceptsWhatTheDevelopmentKeySigned) {
  const std::uint8_t* product = release_keys::kRelease;
  const std::uint8_t* development = release_keys::kDevelopment;
  const std::uint8_t header[8] = {'E', 'C', 'S', '1', 32, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(product, header, 8));
  EXPECT_NE(0, std::memcmp(product + 8, development + 8, 64));

  const std::vector<std::uint8_t> file = fileOf(2048, 9);
  const std::string sig = sim::ReleaseSigner::development().signHex(file);
  OpenSslSignatureVerifier verifier;
  std::string reason;
  EXPECT_TRUE(
      checkReleaseSignature(verifier, development, file.data(), file.size(), sig.c_str(), reason));
  EXPECT_FALSE(
      checkReleaseSignature(verifier, product, file.data(), file.size(), sig.c_str(), reason));
  EXPECT_EQ(reason, "it isn't signed by Tarnwick");

  // The product key is a real point on the curve: it is imported and the signature weighed.
  std::uint8_t digest[32] = {}, signature[64] = {};
  signature[31] = signature[63] = 1;
  EXPECT_EQ(verifier.verifyEcdsaP256(product, digest, signature), CRYPTO_STATUS_INVALID_SIGNATURE);
}

TEST(ReleaseKeys, TheLinuxAdapterRefusesKeysAsCngDoes) {
  std::uint8_t digest[32] = {}, signature[64] = {};
  signature[31] = signature[63] = 1;
  OpenSslSignatureVerifier verifier;
  std::uint8_t blob[72];
  std::memcpy(blob, release_keys::kDevelopment, 72);
  blob[3] = '5';  // "ECS5": a P-521 private blob's magic
  EXPECT_EQ(verifier.verifyEcdsaP256(blob, digest, signature), CRYPTO_STATUS_INVALID_PARAMETER);
  std::memcpy(blob, release_keys::kDevelopment, 72);
  blob[4] = 48;  // another key length
  EXPECT_EQ(verifier.verifyEcdsaP256(blob, digest, signature), CRYPTO_STATUS_INVALID_PARAMETER);
  std::memcpy(blob, release_keys::kDevelopment, 72);
  blob[71] ^= 0x01;  // off the curve
  EXPECT_EQ(verifier.verifyEcdsaP256(blob, digest, signature), CRYPTO_STATUS_INVALID_PARAMETER);
}

}  // namespace
}  // namespace tw
