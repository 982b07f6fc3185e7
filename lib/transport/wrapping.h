// Secure wrapping of vendor commands: AES-enciphered halves (opcodes 0x22 and 0x24) or a
// byte-scrambled command (opcode 0x24), under a session key that the device hands out and that is
// renewed every fourth wrapped command.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "crypto/byte_scramble.h"
#include "transport/dispatcher.h"

namespace kvx {

inline constexpr std::uint8_t kAesFirstHalfOpcode = 0x22;
inline constexpr std::uint8_t kSecondHalfOpcode = 0x24;  // also the scrambled command's opcode
inline constexpr std::uint8_t kSessionKeyRequest = 0xF8;
inline constexpr std::uint8_t kEndSession = 0xF9;
// Wrapped commands per session; the next one renews the key first.
inline constexpr std::uint8_t kCommandsPerSession = 4;

// XOR of the distinct non-zero bytes in order: each byte that is non-zero and differs from the
// running value is XORed into it.
std::uint8_t FoldBytes(std::span<const std::uint8_t> bytes);

// The session-key request as a 16-byte block: 0x20 0xF8 0 0 0 0 0 0 0x10 0, then zeros.
std::array<std::uint8_t, 16> SessionKeyRequestBlock();

// Sends a vendor command by the state's wrapping mode (2 or 4); establishes or renews the session
// when needed. Session key and counter change only when an exchange or the command succeeded.
// The outcome is the one of the command's own send, or of the exchange that failed before it.
CommandOutcome SendWrapped(DeviceState& state, const CommandTarget& target, const std::uint8_t* cdb,
                           std::uint8_t cdbLength, std::uint8_t* data, std::uint32_t dataLength,
                           DataDirection direction);

}  // namespace kvx
