#include "host/partition_table.h"

#include "host/sectors.h"

namespace kvx {
namespace {

constexpr std::size_t kTableOffset = 446;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kSignatureOffset = 510;
constexpr std::uint8_t kSignature[] = {0x55, 0xAA};

// Byte offsets inside one entry.
constexpr std::size_t kBootFlag = 0;
constexpr std::size_t kType = 4;
constexpr std::size_t kFirstSector = 8;
constexpr std::size_t kSectorCount = 12;
constexpr std::uint8_t kActive = 0x80;

std::uint32_t Le32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

}  // namespace

std::vector<PartitionInfo> ParsePartitionTable(std::span<const std::uint8_t> sector) {
    std::vector<PartitionInfo> entries(kPartitionEntries);
    if (sector.size() < kSectorSize || sector[kSignatureOffset] != kSignature[0] ||
        sector[kSignatureOffset + 1] != kSignature[1]) {
        return entries;
    }
    for (std::size_t i = 0; i < kPartitionEntries; ++i) {
        const auto entry = sector.subspan(kTableOffset + kEntrySize * i, kEntrySize);
        PartitionInfo& info = entries[i];
        info.partitionType = entry[kType];
        if (info.partitionType == 0) {
            continue;
        }
        const std::uint32_t first = Le32(entry, kFirstSector);
        info.bootIndicator = entry[kBootFlag] == kActive;
        info.hiddenSectors = first;
        info.startingOffset = std::uint64_t{first} * kSectorSize;
        info.length = std::uint64_t{Le32(entry, kSectorCount)} * kSectorSize;
        info.partitionNumber = static_cast<std::uint32_t>(i + 1);
        info.recognized = true;
    }
    return entries;
}

std::optional<PartitionInfo> VolumePartition(
    const std::optional<std::vector<PartitionInfo>>& layout, const PartitionInfo& whole) {
    if (!layout) {
        return std::nullopt;
    }
    if (!layout->empty() && (*layout)[0].partitionType != 0) {
        return (*layout)[0];
    }
    return whole;  // no partition table: the volume is the whole unit
}

}  // namespace kvx
