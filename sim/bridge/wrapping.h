// The firmware side of the secure wrapping. A device that offers wrapping (INQUIRY capability
// bit 26; bit 22 = the AES form, else the scrambled form) takes vendor commands hidden in the
// wrapper opcodes:
//   0x22 + 0x24   the two halves of a 16-byte block enciphered with AES (reversed byte order)
//                 under the session key; the 0x24 carries the command's data phase
//   0x24 alone    on a scrambled-form device: bytes 1-9 scrambled under one key byte
// It hands out session keys (request 0xF8 inside the wrapping, under the wrap constant when a new
// session starts or under the current key when the renewal after four commands is due), counts
// the wrapped commands of a session and refuses, with ILLEGAL REQUEST, anything under a wrong or
// stale key, a command when the renewal is due, and a second half without its first.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "sim/bridge/commands.h"

namespace kvx::sim {

inline constexpr std::uint8_t kWrapFirstHalf = 0x22;
inline constexpr std::uint8_t kWrapSecondHalf = 0x24;
inline constexpr std::uint8_t kSessionKeyRequest = 0xF8;
inline constexpr std::uint8_t kEndOfSession = 0xF9;
// Wrapped commands a session key serves (the key request included); then it must be renewed.
inline constexpr std::uint8_t kWrappedPerSession = 4;

bool IsWrapperOpcode(std::uint8_t opcode);

// What the firmware made of a command in a wrapper opcode: either it answered it itself (a first
// half kept, a session key handed out, a refusal), or it found a vendor command to carry out.
struct WrapReceipt {
    std::optional<Outcome> settled;
    std::array<std::uint8_t, 10> plain{};  // the vendor command in its 0x20 form
    std::string note;                      // what the log says about the wrapped command
};

// Takes one command in a wrapper opcode on the pass-through. `hostData` and `direction` are the
// host's data phase (the session key's 16 bytes go there).
WrapReceipt ReceiveWrapped(BridgeState& state, std::span<const std::uint8_t> cdb,
                           std::span<std::uint8_t> hostData, DataDirection direction,
                           bool& changed);

// A first half waits only for the command right after it: anything else makes the firmware forget
// it.
void ForgetFirstHalf(BridgeState& state, std::uint8_t opcode, bool& changed);

// Whether a plain vendor command is refused: the device offers wrapping and requires it.
bool PlainVendorRefused(const BridgeState& state, std::uint8_t opcode);

// Counts a wrapped vendor command the device carried out.
void CountWrapped(BridgeState& state);

// Ends the session.
void EndWrapSession(BridgeState& state);

// The vendor command 0xF9, end of session: byte 8 = 0x10, 16 bytes in (zeros; the host discards
// them).
Shape EndSessionShape(const BridgeState& state, std::span<const std::uint8_t, 10> cdb);
Outcome EndSessionRun(CommandContext& context);

// The fold of bytes to one scrambling key: XOR in each byte that is non-zero and differs from the
// running value.
std::uint8_t FoldKey(std::span<const std::uint8_t> bytes);

}  // namespace kvx::sim
