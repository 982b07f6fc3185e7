// Disk and file-system geometry of the secure partition: pure functions from the partition size
// to plain values, shared by the FAT32 and FAT16 writers and the format's size checks.
#pragma once

#include <cstdint>
#include <optional>

namespace kvx::media {

// What decides where the partition starts and how many sectors it claims.
struct PartitionInputs {
    std::uint32_t sizeMb = 0;  // the record's secure partition size
    bool hardDisk = false;
    bool chipFlag = false;      // the special chip was seen
    bool chipListFlag = false;  // the chip code is a configured one
};

// Whether the CD area (and so every address the writers use) is shifted by 16 sectors.
bool ShiftedBy16(const PartitionInputs& in);
inline constexpr std::uint64_t kCdShiftSectors = 16;

// Both file systems keep two copies of the FAT.
inline constexpr std::uint32_t kFatCopies = 2;

// FAT32 partition: N = size x 2048, less 56 on hard disks of the ordinary chip, else less 16 on a
// listed chip.
std::uint64_t Fat32PartitionSectors(const PartitionInputs& in);
// FAT16 partition: N = size x 2048 - 10, less 16 more on a listed chip.
std::uint64_t Fat16PartitionSectors(const PartitionInputs& in);

struct Fat32Layout {
    std::uint32_t partitionSectors = 0;  // N, from the master boot record to the partition's end
    std::uint32_t heads = 0;             // 0 above 8192 MB
    std::uint32_t sectorsPerTrack = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t fatSectors = 0;
    std::uint32_t hiddenSectors = 0;  // master boot record to boot sector
    std::uint32_t clusters = 0;       // as the geometry passes counted them
    std::uint32_t endCylinder = 0;
    std::uint8_t partitionType = 0;  // 0x0B, or 0x0C above 15,952,545 sectors

    static constexpr std::uint32_t kReservedSectors = 32;
    // Sectors from the master boot record to the first data sector.
    std::uint32_t DataStart() const {
        return hiddenSectors + kReservedSectors + kFatCopies * fatSectors;
    }
    // Sectors the writer counts for its progress: the system area and one FAT's worth more.
    std::uint32_t ProgressTotal() const {
        return hiddenSectors + kReservedSectors + (kFatCopies + 1) * fatSectors;
    }
};

// nullopt when no FAT32 layout exists: 32 MB or less, or too few sectors for 65,525 clusters.
std::optional<Fat32Layout> Fat32Geometry(std::uint32_t sizeMb, std::uint64_t partitionSectors);

struct Fat16Layout {
    std::uint32_t sizeMb = 0;
    std::uint32_t partitionSectors = 0;  // N after the cut to 1023 cylinders
    std::uint32_t heads = 0;
    std::uint32_t sectorsPerTrack = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t alignment = 0;  // sectors
    bool fat12 = false;
    std::uint32_t fatSectors = 0;
    std::uint32_t hiddenSectors = 0;
    std::uint32_t clusters = 0;
    std::uint32_t cylinders = 0;     // at most 1023
    std::uint8_t partitionType = 0;  // 0x01, 0x04 or 0x06

    static constexpr std::uint32_t kReservedSectors = 1;
    static constexpr std::uint32_t kRootEntries = 512;
    static constexpr std::uint32_t kRootSectors = 32;
    // The system area the writer streams: table sector, gap, boot sector, FATs, root directory.
    std::uint32_t ImageSectors() const {
        return hiddenSectors + kReservedSectors + kFatCopies * fatSectors + kRootSectors;
    }
};

// nullopt for 0 MB, above 2048 MB, or a size with no valid layout.
std::optional<Fat16Layout> Fat16Geometry(std::uint32_t sizeMb, std::uint64_t partitionSectors);

}  // namespace kvx::media
