// The bridge's byte scramble, used for the scrambled command wrapping and for the stored hint:
// b becomes swap-nibbles(NOT(b XOR k)).
#pragma once

#include <cstdint>

namespace kvx {

inline std::uint8_t ScrambleByte(std::uint8_t b, std::uint8_t key) {
    const auto inverted = static_cast<std::uint8_t>(~(b ^ key));
    return static_cast<std::uint8_t>((inverted << 4) | (inverted >> 4));
}

inline std::uint8_t UnscrambleByte(std::uint8_t b, std::uint8_t key) {
    const auto swapped = static_cast<std::uint8_t>((b << 4) | (b >> 4));
    return static_cast<std::uint8_t>(~swapped ^ key);
}

}  // namespace kvx
