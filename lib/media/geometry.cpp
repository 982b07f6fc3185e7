#include "media/geometry.h"

#include <algorithm>
#include <limits>

#include "host/sectors.h"

namespace kvx::media {
namespace {

// FAT32 needs at least this many clusters; fewer would be read as FAT16.
constexpr std::uint32_t kMinFat32Clusters = 65525;
// At most this many clusters a FAT16 writer halves the cluster size for: a FAT with fewer
// clusters than this is read as FAT12.
constexpr std::uint32_t kMaxFat12Clusters = 4085;
// Above this many sectors the partition needs the LBA type.
constexpr std::uint64_t kLargestChsFat32 = 0xF36AA1;
// A FAT32 entry takes four bytes; a FAT16 or FAT12 entry 16 or 12 bits.
constexpr std::uint32_t kFat32EntriesPerSector = kSectorSize / 4;  // 128
constexpr std::uint64_t kBitsPerSector = kSectorSize * 8;          // 4096
// The FAT32 system area is aligned to this many sectors (a flash erase block).
constexpr std::uint32_t kFat32Alignment = 256;
// Sectors kept free at the end of the medium: the password data block's region (the last 10
// sectors of flash; 40 from the end of a hard disk) and, on a hard disk, the 16-sector shift.
constexpr std::uint64_t kFlashBlockRoom = 10;
constexpr std::uint64_t kHardDiskTailRoom = 56;
// The layouts on devices were computed with the system area's sector count and the FAT16 size
// in 16 bits; they wrap alike here.
constexpr std::uint64_t kSixteenBits = 0x10000;
// Partition types: FAT12, FAT16 under 32 MB, FAT16, FAT32 (CHS) and FAT32 (LBA).
constexpr std::uint8_t kTypeFat12 = 0x01;
constexpr std::uint8_t kTypeFat16Small = 0x04;
constexpr std::uint8_t kTypeFat16 = 0x06;
constexpr std::uint8_t kTypeFat32 = 0x0B;
constexpr std::uint8_t kTypeFat32Lba = 0x0C;
// The largest cylinder a CHS address can hold (ten bits).
constexpr std::uint32_t kMaxCylinders = 1023;
// FAT12 partition type below this many sectors, FAT16 (0x04) up to 65,535, then 0x06.
constexpr std::uint64_t kSmallFat12Sectors = 0x7FA8;
constexpr std::uint64_t kLargeFat16Sectors = 0x10000;

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) {
    return (a + b - 1) / b;
}

struct Chs {
    std::uint32_t heads;
    std::uint32_t sectorsPerTrack;
};

Chs Fat32Chs(std::uint32_t mb) {
    if (mb < 16)
        return {2, 32};
    if (mb <= 32)
        return {4, 32};
    if (mb <= 128)
        return {8, 32};
    if (mb <= 256)
        return {16, 32};
    if (mb <= 512)
        return {16, 63};
    if (mb <= 1024)
        return {32, 63};
    if (mb <= 2048)
        return {64, 63};
    if (mb <= 4096)
        return {128, 63};
    if (mb <= 8192)
        return {255, 63};
    return {0, 0};
}

std::uint32_t Fat32InitialCluster(std::uint32_t mb) {
    if (mb <= 32)
        return 0;
    if (mb <= 260)
        return 1;
    if (mb <= 8192)
        return 8;
    if (mb <= 16384)
        return 16;
    if (mb <= 32768)
        return 32;
    return 64;
}

struct Fat16Row {
    std::uint32_t upToMb;
    std::uint32_t heads;
    std::uint32_t sectorsPerTrack;
    std::uint32_t sectorsPerCluster;
    std::uint32_t alignment;
    bool fat12;
};

constexpr Fat16Row kFat16Rows[] = {
    {32, 4, 32, 32, 128, true},     {63, 8, 32, 32, 128, true},     {128, 8, 32, 32, 128, false},
    {256, 16, 32, 32, 128, false},  {504, 16, 63, 32, 256, false},  {512, 32, 63, 32, 256, false},
    {1008, 32, 63, 64, 256, false}, {2016, 64, 63, 64, 256, false}, {2048, 128, 63, 64, 256, false},
};

// The first hidden-sector count that aligns boot sector + system sectors to `unit`: between
// unit and 2 x unit - 1.
std::uint32_t AlignedHidden(std::uint32_t systemSectors, std::uint32_t unit) {
    const std::uint32_t x = unit - systemSectors % unit;  // 1 .. unit
    return x == unit ? unit : x + unit;
}

}  // namespace

bool ShiftedBy16(const PartitionInputs& in) {
    return (in.hardDisk && !in.chipFlag) || in.chipListFlag;
}

std::uint64_t Fat32PartitionSectors(const PartitionInputs& in) {
    const std::uint64_t n = std::uint64_t{in.sizeMb} * kSectorsPerMb;
    const std::uint64_t less = (in.hardDisk && !in.chipFlag) ? kHardDiskTailRoom
                               : in.chipListFlag             ? kCdShiftSectors
                                                             : 0;
    return n > less ? n - less : 0;
}

std::uint64_t Fat16PartitionSectors(const PartitionInputs& in) {
    const std::uint64_t n = std::uint64_t{in.sizeMb} * kSectorsPerMb;
    const std::uint64_t less = kFlashBlockRoom + (in.chipListFlag ? kCdShiftSectors : 0);
    return n > less ? n - less : 0;
}

std::optional<Fat32Layout> Fat32Geometry(std::uint32_t sizeMb, std::uint64_t n) {
    std::uint32_t spc = Fat32InitialCluster(sizeMb);
    if (spc == 0 || n == 0 || n > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    Fat32Layout g;
    const Chs chs = Fat32Chs(sizeMb);
    g.heads = chs.heads;
    g.sectorsPerTrack = chs.sectorsPerTrack;
    g.partitionSectors = static_cast<std::uint32_t>(n);

    // One 4-byte entry per cluster, 128 entries per FAT sector. The alignment of the first pass
    // is kept by later passes, which only halve the cluster size.
    std::uint64_t fat = 0;
    std::uint64_t clusters = 0;
    std::uint32_t hidden = 0;
    for (bool first = true;; first = false) {
        fat = CeilDiv(n, std::uint64_t{spc} * kFat32EntriesPerSector);
        const std::uint32_t sys = static_cast<std::uint32_t>(
            (Fat32Layout::kReservedSectors + kFatCopies * fat) % kSixteenBits);
        if (first) {
            hidden = AlignedHidden(sys, kFat32Alignment);
        }
        if (n <= std::uint64_t{sys} + hidden) {
            return std::nullopt;
        }
        clusters = (n - sys - hidden) / spc;
        if (clusters >= kMinFat32Clusters) {
            break;
        }
        spc /= 2;
        if (spc == 0) {
            return std::nullopt;
        }
    }
    const std::uint64_t refined = CeilDiv(clusters + 1, kFat32EntriesPerSector);
    if (refined != fat) {
        fat = refined;
        if (hidden != kFat32Alignment) {
            hidden += kFat32Alignment;
        }
    }
    // A FAT that shrank leaves room for more clusters than it counted; it grows again until it
    // describes every cluster of the data area (fsck.fat refuses a FAT short of entries).
    for (;;) {
        const std::uint64_t system =
            std::uint64_t{hidden} + Fat32Layout::kReservedSectors + kFatCopies * fat;
        if (system >= n) {
            return std::nullopt;
        }
        const std::uint64_t actual = (n - system) / spc;
        // Entries 0 and 1 are reserved: the FAT describes clusters 2 to actual + 1.
        const std::uint64_t needed = CeilDiv(actual + 2, kFat32EntriesPerSector);
        if (needed <= fat) {
            break;
        }
        fat = needed;
    }
    g.sectorsPerCluster = spc;
    g.fatSectors = static_cast<std::uint32_t>(fat);
    g.hiddenSectors = hidden;
    g.clusters = static_cast<std::uint32_t>(clusters);
    const std::uint64_t perCylinder = std::uint64_t{g.heads} * g.sectorsPerTrack;
    g.endCylinder =
        perCylinder == 0
            ? 0
            : static_cast<std::uint32_t>(std::min<std::uint64_t>(n / perCylinder, kMaxCylinders));
    g.partitionType = n > kLargestChsFat32 ? kTypeFat32Lba : kTypeFat32;
    return g;
}

std::optional<Fat16Layout> Fat16Geometry(std::uint32_t sizeMb, std::uint64_t n) {
    const Fat16Row* row = nullptr;
    for (const Fat16Row& r : kFat16Rows) {
        if (sizeMb <= r.upToMb) {
            row = &r;
            break;
        }
    }
    if (row == nullptr || sizeMb == 0 || n == 0) {
        return std::nullopt;
    }
    Fat16Layout g;
    g.sizeMb = sizeMb;
    g.heads = row->heads;
    g.sectorsPerTrack = row->sectorsPerTrack;
    g.alignment = row->alignment;
    g.fat12 = row->fat12;
    const std::uint64_t width = g.fat12 ? 12 : 16;
    std::uint32_t spc = row->sectorsPerCluster;

    std::uint64_t fat = 0;
    std::uint64_t clusters = 0;
    std::uint32_t hidden = 0;
    for (bool first = true;; first = false) {
        fat = CeilDiv((n / spc) * width, kBitsPerSector) % kSixteenBits;
        const std::uint32_t sys = static_cast<std::uint32_t>(
            (Fat16Layout::kReservedSectors + kFatCopies * fat + Fat16Layout::kRootSectors) %
            kSixteenBits);
        if (first) {
            hidden = AlignedHidden(sys, g.alignment);
        }
        if (n <= std::uint64_t{sys} + hidden) {
            return std::nullopt;
        }
        clusters = (n - hidden - sys) / spc;
        if (g.fat12 || clusters > kMaxFat12Clusters) {
            break;
        }
        spc /= 2;
        if (spc == 0) {
            return std::nullopt;
        }
    }
    const std::uint64_t refined = CeilDiv((clusters + 1) * width, kBitsPerSector);
    if (refined != fat) {
        fat = refined;
        if (hidden != g.alignment) {
            hidden += g.alignment;
        }
    }
    g.sectorsPerCluster = spc;
    g.fatSectors = static_cast<std::uint32_t>(fat);
    g.hiddenSectors = hidden;
    g.clusters = static_cast<std::uint32_t>(clusters);

    const std::uint64_t perCylinder = std::uint64_t{g.heads} * g.sectorsPerTrack;
    std::uint64_t cylinders = n / perCylinder;
    if (cylinders > kMaxCylinders) {
        cylinders = kMaxCylinders;
        n = kMaxCylinders * perCylinder;
    }
    g.cylinders = static_cast<std::uint32_t>(cylinders);
    g.partitionSectors = static_cast<std::uint32_t>(n);
    if (n <= g.ImageSectors()) {
        return std::nullopt;
    }
    const std::uint64_t size = n - hidden;
    g.partitionType = size < kSmallFat12Sectors    ? kTypeFat12
                      : size >= kLargeFat16Sectors ? kTypeFat16
                                                   : kTypeFat16Small;
    return g;
}

}  // namespace kvx::media
