// Small UTF-16 text helpers shared by the hosts and the library.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kvx {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);

// UTF-8 to UTF-16; each malformed sequence becomes U+FFFD.
std::u16string FromUtf8(std::string_view text);

// Whether the bytes are well-formed UTF-8 (no overlongs, no surrogates, nothing past U+10FFFF).
bool IsValidUtf8(std::string_view text);

// 'a'..'z' to 'A'..'Z'; every other unit unchanged.
std::u16string UpperAscii(std::u16string_view text);

// The text of a zero-terminated UTF-16 array of fixed capacity; an array without a terminator
// yields all of its units.
std::u16string ReadFixedUtf16(std::span<const std::uint16_t> array);

// Stores text into a fixed array, truncated to capacity - 1 units (never splitting a surrogate
// pair) and zero-terminated; the rest of the array is zeroed. An empty array is left alone.
void WriteFixedUtf16(std::u16string_view text, std::span<std::uint16_t> array);

}  // namespace kvx
