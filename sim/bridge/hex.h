// Hex text of byte strings, as the emulator's state and log files keep them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvx::sim {

// The value of one hex digit of either case, or -1.
int HexDigit(char c);

// Lower-case hex digits, two per byte.
std::string ToHex(std::span<const std::uint8_t> bytes);

// Hex digits of either case back into bytes; nullopt for an odd count or any other character.
std::optional<std::vector<std::uint8_t>> FromHex(std::string_view text);
// The same straight into `out`, whose size the text must match (two digits per byte); nothing is
// allocated, so a key read this way leaves no copy behind. False leaves `out` partly written.
bool HexInto(std::string_view text, std::span<std::uint8_t> out);

}  // namespace kvx::sim
