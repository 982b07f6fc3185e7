// The partition table in the first sector of a unit, as the drive-layout query reports it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "host/host_types.h"

namespace kvx {

inline constexpr std::size_t kPartitionEntries = 4;

// The four entries of a master boot record, numbered 1 to 4. An empty entry (type 0) stays all
// zero, and so do all four when the sector is short or lacks the 55 AA signature. Entries are
// reported as written, also when they reach past the unit's end: judging them is the reader's
// business, as it is on a real disk.
std::vector<PartitionInfo> ParsePartitionTable(std::span<const std::uint8_t> sector);

// What a volume's partition query reports: its first partition, or the whole unit (`whole`) when
// the unit has no partition table; nullopt when the table could not be read.
std::optional<PartitionInfo> VolumePartition(
    const std::optional<std::vector<PartitionInfo>>& layout, const PartitionInfo& whole);

}  // namespace kvx
