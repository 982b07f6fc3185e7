// Hex text of byte strings, as the emulator's state and log files keep them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvx::sim {

// Lower-case hex digits, two per byte.
std::string ToHex(std::span<const std::uint8_t> bytes);

// Hex digits of either case back into bytes; nullopt for an odd count or any other character.
std::optional<std::vector<std::uint8_t>> FromHex(std::string_view text);

}  // namespace kvx::sim
