#include "firmware/sha256.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <random>
#include <string>
#include <vector>

namespace tw {
namespace {

std::string hexOf(const std::string& text) {
  char out[65];
  sha256Hex(text.data(), text.size(), out);
  return out;
}

std::string toHex(const std::uint8_t* digest) {
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (int i = 0; i < 32; ++i) {
    hex += digits[digest[i] >> 4];
    hex += digits[digest[i] & 15];
  }
  return hex;
}

TEST(Sha256, KnownVectors) {
  EXPECT_EQ(hexOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hexOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(hexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(hexOf("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopq"
                  "klmnopqrlmnopqrsmnopqrstnopqrstu"),
            "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
  EXPECT_EQ(hexOf(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, PaddingBoundaries) {
  // 55, 56 and 64 bytes put the length into the same block, the next one, or a block of its own.
  EXPECT_EQ(hexOf(std::string(55, 'a')),
            "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
  EXPECT_EQ(hexOf(std::string(56, 'a')),
            "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
  EXPECT_EQ(hexOf(std::string(64, 'a')),
            "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

TEST(Sha256, AgreesWithOpenSslInAnyPieces) {
  std::mt19937 random(20250314);
  for (int round = 0; round < 200; ++round) {
    std::vector<std::uint8_t> bytes(random() % 5000);
    for (auto& b : bytes) b = std::uint8_t(random());
    std::uint8_t expected[32];
    SHA256(bytes.data(), bytes.size(), expected);

    // Fed in random pieces, including empty ones, so every buffer fill level is met.
    Sha256 context;
    sha256Init(context);
    std::size_t at = 0;
    while (at < bytes.size()) {
      std::size_t piece = std::min<std::size_t>(random() % 150, bytes.size() - at);
      sha256Update(context, bytes.data() + at, piece);
      at += piece;
    }
    std::uint8_t digest[32];
    sha256Final(context, digest);
    ASSERT_EQ(toHex(digest), toHex(expected)) << "length " << bytes.size();

    char hex[65];
    sha256Hex(bytes.data(), bytes.size(), hex);
    ASSERT_EQ(std::string(hex), toHex(expected));
  }
}

}  // namespace
}  // namespace tw
