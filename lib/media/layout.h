// The sector images of a fresh secure partition: master boot record, FAT32 boot region, FAT16
// system area. Pure functions of a geometry, a volume serial and a label.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "host/sectors.h"
#include "media/geometry.h"

namespace kvx::media {

using SectorImage = std::array<std::uint8_t, kSectorSize>;

// The four serial bytes in the order they are stored (two generator values, high byte first).
using VolumeSerial = std::array<std::uint8_t, 4>;
// The eleven bytes of a volume label directory entry's name.
using LabelName = std::array<std::uint8_t, 11>;

// Master boot record: loader code, one active entry covering the FAT32 partition.
SectorImage Fat32MasterBootRecord(const Fat32Layout& g);
// FAT32 boot sector ("DBR1"); its label field repeats the label (eleven spaces without one).
SectorImage Fat32BootSector(const Fat32Layout& g, const VolumeSerial& serial,
                            const std::optional<LabelName>& label);
// FSInfo sector ("DBR2").
SectorImage Fat32FsInfo();
// Third boot sector ("DBR3").
SectorImage Fat32ThirdSector();
// First sector of each FAT: the media byte entry, the reserved entry and, on FAT32, the root
// directory's end-of-chain mark.
enum class FatKind { kFat12, kFat16, kFat32 };
SectorImage FirstFatSector(FatKind kind);
// First sector of the root directory: the label entry, or all zero without a label.
SectorImage RootDirectorySector(const std::optional<LabelName>& label);

// The FAT16/FAT12 system area as streamed: partition table sector, gap, boot sector, both FATs
// and the root directory.
SectorImage Fat16PartitionTable(const Fat16Layout& g);
SectorImage Fat16BootSector(const Fat16Layout& g, const VolumeSerial& serial,
                            const std::optional<LabelName>& label);
std::vector<std::uint8_t> Fat16SystemArea(const Fat16Layout& g, const VolumeSerial& serial,
                                          const std::optional<LabelName>& label);

}  // namespace kvx::media
