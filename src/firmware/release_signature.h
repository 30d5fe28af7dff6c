// The release signature: an ECDSA P-256 signature, made with the vendor's release key, over the
// SHA-256 digest of the whole UF2 file exactly as served.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/crypto.h"

namespace tw {

inline constexpr std::size_t RELEASE_SIGNATURE_DIGITS = 128;

// Reads exactly 128 hexadecimal digits (either case) into r then s; false for anything else.
bool parseReleaseSignature(const char* text, std::uint8_t out[ECDSA_P256_SIGNATURE_SIZE]);

// Accepts `data` only when `signatureText` is a valid signature of it under `releaseKey` (a
// 72-byte "ECS1" blob). Otherwise false with the reason: "it arrived without a Tarnwick
// signature" when there is no signature at all, else "it isn't signed by Tarnwick". A malformed
// signature is refused without asking the system's cryptography.
bool checkReleaseSignature(SignatureVerifier& verifier, const std::uint8_t* releaseKey,
                           const std::uint8_t* data, std::size_t size, const char* signatureText,
                           std::string& reason);

}  // namespace tw
