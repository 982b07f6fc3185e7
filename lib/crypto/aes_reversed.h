// AES-128 on one block in the bridge firmware's byte order.
#pragma once

#include <cstdint>

namespace kvx {

inline constexpr int kAesEncrypt = 0;
inline constexpr int kAesDecrypt = 1;

// Transforms the 16 bytes of block in place under the 16-byte key, with key, input and output
// each taken in reversed byte order: mode kAesEncrypt gives
// reverse(AES-128-Encrypt(reverse(key), reverse(block))), kAesDecrypt its inverse.
// Returns 1; 0, with the block untouched, for another mode or a null buffer.
int AesBlockReversed(const std::uint8_t key[16], std::uint8_t block[16], int mode);

}  // namespace kvx
