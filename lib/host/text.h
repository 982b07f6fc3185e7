// Small UTF-16 text helpers shared by the hosts and the library.
#pragma once

#include <cstddef>
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

// Fixed-capacity, zero-terminated UTF-16 arrays, such as the request record's fields.
//
// The record is packed, so its arrays may sit at odd addresses: pass them as pointer and
// capacity, e.g. ReadFixedUtf16(request.logPath, std::extent_v<decltype(request.logPath)>).
// Binding such a field to a span or reference of uint16_t is undefined behaviour.

// The text of an array of `capacity` units at any address; an array without a terminator
// yields all of its units.
std::u16string ReadFixedUtf16(const void* array, std::size_t capacity);

// Stores text into an array of `capacity` units at any address, truncated to capacity - 1 units
// (never splitting a surrogate pair) and zero-terminated; the rest of the array is zeroed. A zero
// capacity leaves it alone.
void WriteFixedUtf16(std::u16string_view text, void* array, std::size_t capacity);

// The same for naturally aligned arrays only (never a packed record field).
std::u16string ReadFixedUtf16(std::span<const std::uint16_t> array);
void WriteFixedUtf16(std::u16string_view text, std::span<std::uint16_t> array);

}  // namespace kvx
