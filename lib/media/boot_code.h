// The loader code the format lays down (sources and generator in lib/media/boot/).
#pragma once

#include <array>
#include <cstdint>

#include "host/sectors.h"

namespace kvx::media {

// Code and messages of the master boot record (bytes 0 on; the rest of its 446 bytes is zero).
extern const std::array<std::uint8_t, 218> kMbrCode;
// The whole FAT32 boot sector with an empty parameter block (the format fills bytes 11-89).
extern const std::array<std::uint8_t, kSectorSize> kFat32BootSector;
// The third boot sector, continuing the boot sector's code.
extern const std::array<std::uint8_t, kSectorSize> kFat32ThirdSector;

}  // namespace kvx::media
