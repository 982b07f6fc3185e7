// The medium's units, one definition for the library, the host backends and the emulator.
#pragma once

#include <cstdint>

namespace kvx {

// A sector of the disk or flash medium, as the bridge's vendor sector command moves it.
inline constexpr std::uint32_t kSectorSize = 512;
// The CD partition's block (an ISO 9660 logical sector): four medium sectors.
inline constexpr std::uint32_t kCdBlockSize = 2048;
inline constexpr std::uint32_t kSectorsPerCdBlock = kCdBlockSize / kSectorSize;
// Sizes in the data block and the request record count binary megabytes.
inline constexpr std::uint32_t kBytesPerMb = 1024 * 1024;
inline constexpr std::uint32_t kSectorsPerMb = kBytesPerMb / kSectorSize;    // 2048
inline constexpr std::uint32_t kCdBlocksPerMb = kBytesPerMb / kCdBlockSize;  // 512

}  // namespace kvx
