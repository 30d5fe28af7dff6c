// The vendor's signing step for the simulated update host: ECDSA P-256 over the SHA-256 of a whole
// UF2 file, written as 128 lowercase hexadecimal digits (r then s). It signs with the development
// release key (tests/keys, test-only) or with a key made on the spot that nobody trusts.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tw::sim {

class ReleaseSigner {
 public:
  // The development release key, the one test builds trust.
  static ReleaseSigner development();
  // A fresh key: signatures that no build trusts.
  static ReleaseSigner stranger();

  ReleaseSigner(ReleaseSigner&&) noexcept;
  ReleaseSigner& operator=(ReleaseSigner&&) noexcept;
  ~ReleaseSigner();

  std::string signHex(const std::uint8_t* data, std::size_t size) const;
  std::string signHex(const std::vector<std::uint8_t>& file) const {
    return signHex(file.data(), file.size());
  }
  // The public half as a CNG "ECS1" blob.
  std::array<std::uint8_t, 72> publicBlob() const;

  // SHA-256 as 64 lowercase hexadecimal digits, as a release list publishes it.
  static std::string sha256Hex(const std::uint8_t* data, std::size_t size);

 private:
  struct Key;
  explicit ReleaseSigner(std::unique_ptr<Key> key);
  std::unique_ptr<Key> key_;
};

}  // namespace tw::sim
