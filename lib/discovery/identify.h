// Proof that a drive letter belongs to the device, and the transport modes the device asks for.
#pragma once

#include <cstdint>
#include <string>

#include "discovery/inquiry.h"
#include "frame/config.h"
#include "frame/device_state.h"
#include "frame/errors.h"

namespace kvx {

// Error codes of the identification.

// Checks the unit at `letter` against the configured models and opens it as the state's drive.
// Refreshes the wrapping mode, the ATAPI rewrite and the chip flags for the device it matched.
bool IdentifyDevice(DeviceState& state, std::uint8_t letter, std::uint8_t& errorByte);

// "\\.\X:" for a letter.
std::u16string VolumeName(char16_t letter);

// Opens a volume for reading and writing, shared for reading and writing, then shared for reading
// only. The system error of the last attempt comes back with an invalid handle.
OpenResult OpenVolume(Host& host, char16_t letter);

// 2 or 4 when the configuration allows wrapping ("AES" = "YES" exactly) and the device offers it
// (capability bit 26; bit 22 chooses AES), else 0.
WrapMode WrapModeFor(const Config& config, std::uint32_t capabilities);

// Whether the chip code is one of the configured "ChipNum" entries (the list ends at the first
// absent entry).
bool ChipCodeListed(const Config& config, std::u16string_view chipCode);

// Whether the chip code is the one of the special chip ("8A1C", any letter case).
bool IsSpecialChip(std::u16string_view chipCode);

}  // namespace kvx
