// SHA-256 in the bridge firmware's conventions.
//
// A secret of at most 55 bytes is packed into one padded block; the hash may be chained with a
// 16-byte challenge by a second compression; digest words are stored least significant byte
// first (so an unchained digest is the standard one with each group of four bytes reversed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kvx {

// Longest secret that fits one block beside the 0x80 marker and the 64-bit length.
inline constexpr std::size_t kMaxHashSecretLength = 55;
inline constexpr std::size_t kDigestSize = 32;
inline constexpr std::size_t kChallengeSize = 16;

// The SHA-256 compression function: state += compression of block (message words W0..W15).
void Sha256Compress(std::uint32_t state[8], const std::uint32_t block[16]);

// Packs secret as the single padded block of its SHA-256 message: bytes most significant first,
// then 0x80, zeros, W14 = 0 and W15 = length in bits. Zero bytes inside the secret are data.
// A secret over kMaxHashSecretLength bytes is refused: false, block all zero.
[[nodiscard]] bool BuildHashBlock(std::span<const std::uint8_t> secret, std::uint32_t block[16]);

// Block of the chaining step: c as four words least significant byte first, W4 = 0x80000000,
// W15 = 128 (the padding of a 16-byte message).
void BuildChainedBlock(const std::uint8_t c[16], std::uint32_t block[16]);

// Compresses block from the SHA-256 initial value and, when chained, the chained block of
// challenge on top; writes the eight state words least significant byte first into digest.
// chained without a challenge is refused: false, digest all zero.
[[nodiscard]] bool Sha256Core(const std::uint32_t block[16], std::uint8_t digest[32],
                              const std::uint8_t* challenge, bool chained);

// BuildHashBlock followed by Sha256Core. challenge (16 bytes) is read only when chained.
// Refused (false, digest all zero): a secret over 55 bytes, or chained without a challenge.
[[nodiscard]] bool HashSecret(std::span<const std::uint8_t> secret, std::uint8_t digest[32],
                              const std::uint8_t* challenge, bool chained);

// Session key of the command wrapping: one compression of the chained block of answer, starting
// from constant read as eight words least significant byte first; out = the resulting words,
// least significant byte first.
void DeriveSessionKey(const std::uint8_t answer[16], const std::uint8_t constant[32],
                      std::uint8_t out[32]);

}  // namespace kvx
