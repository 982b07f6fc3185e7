// The bridge's challenge-response login (vendor command 0xC8) and what the firmware derives from
// its data block: the response it expects for a challenge, without knowing the secret, by going
// on with the SHA-256 compression from the digest stored in the block; and the unlock value of a
// password change bound to a challenge.
//
// Steps (CDB byte 2): 1 a fresh 16-byte challenge, remembered per exchange (byte 3: 0 password,
// 1 identifier); 2 the 32-byte response to it; 3 the check; 4 the verify count (1 byte); 5 the
// launch, which presents the secure unit again once the password was verified.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "sim/bridge/auth_session.h"
#include "sim/bridge/commands.h"

namespace kvx::sim {

Shape AuthenticateShape(const BridgeState& state, std::span<const std::uint8_t, 10> cdb);
Outcome AuthenticateRun(CommandContext& context);

// The response to `challenge` that a host knowing the secret of `storedDigest` (eight SHA-256
// state words, least significant byte first) sends.
Response ExpectedResponse(std::span<const std::uint8_t, 32> storedDigest,
                          const Challenge& challenge);

// The unlock value a password change stores in bytes 302-317: the chained hash of the first 16
// bytes of the password digest with the challenge, its first 16 bytes in reversed order.
std::array<std::uint8_t, 16> UnlockValue(std::span<const std::uint8_t, 32> passwordDigest,
                                         const Challenge& challenge);

// Called after a 0xCF write: when it reached the block region, the firmware takes in the block
// as it now stands (protection bit from the password marker) and restores the verify count.
void NoteSectorWrite(CommandContext& context, std::uint64_t lba, std::uint32_t count, bool hidden);

// Random bytes of the firmware (challenges, factory filler).
void FirmwareRandom(std::span<std::uint8_t> out);

}  // namespace kvx::sim
