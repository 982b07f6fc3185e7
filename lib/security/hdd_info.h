// What kind of medium the bridge fronts: capability words, media type, AES engine, size, and on
// hard disks the drive's unique identifier.
#pragma once

#include <cstdint>

#include "frame/device_state.h"
#include "frame/errors.h"
#include "frame/log.h"

namespace kvx {

// Capability word bits (vendor command 0x80).
inline constexpr std::uint32_t kCapFlash = 1u << 9;
inline constexpr std::uint32_t kCapPasswordOn = 1u << 16;
inline constexpr std::uint32_t kCapOpen = 1u << 17;
inline constexpr std::uint32_t kCapExtended = 1u << 31;
// Extended capability word bit (vendor command 0xBB).
inline constexpr std::uint32_t kExtCapAesEngine = 1u << 22;

inline constexpr std::uint8_t kMediaHardDisk = 1;
inline constexpr std::uint8_t kMediaFlash = 2;

// Error codes of the capability queries.

struct MediumInfo {
    std::uint32_t sizeMb = 0;
    std::uint32_t totalSectors = 0;
    std::uint32_t sectorSize = 0;
    std::uint8_t mediaType = 0;
    bool aesEngine = false;

    bool IsHardDisk() const { return (mediaType & kMediaHardDisk) != 0; }
};

// The capability word; nullopt when the command failed.
std::optional<std::uint32_t> ReadCapabilities(DeviceState& state);

// The verify count (remaining tries); nullopt when the command failed.
std::optional<std::uint8_t> QueryVerifyCount(DeviceState& state);

// Queries the medium. Media type and AES engine are known as soon as the capability words were
// read, even when the sizes then fail. False without a code for a medium under 2048 sectors.
// On flash media the unique identifier is cleared; on hard disks it is captured.
bool GetHddInfo(DeviceState& state, const DiagnosticLog& log, std::uint8_t& errorByte,
                MediumInfo& info);

}  // namespace kvx
