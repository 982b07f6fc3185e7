// The steps of the bridge's challenge-response authentication (vendor command 0xC8).
#pragma once

#include <cstdint>
#include <span>

#include "frame/device_state.h"
#include "frame/errors.h"

namespace kvx {

// Step 1: a fresh 16-byte challenge; `uniqueId` selects the identifier variant (byte 3 = 1).
bool GetChallenge(DeviceState& state, bool uniqueId, std::uint8_t (&challenge)[16]);
// Step 2: the 32-byte response.
bool SendResponse(DeviceState& state, bool uniqueId, const std::uint8_t (&response)[32]);
// Step 3: the device checks the response.
bool TriggerAuthentication(DeviceState& state, bool uniqueId);
// Step 5: the device presents its unlocked partition.
bool LaunchSecurePartition(DeviceState& state);

// A secret as the hash takes it: its bytes up to the first zero, at most `capacity` bytes.
std::span<const std::uint8_t> SecretBytes(const std::uint8_t* bytes, std::size_t capacity);

}  // namespace kvx
