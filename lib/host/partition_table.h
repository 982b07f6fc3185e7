// The partition table in the first sector of a unit, as the drive-layout query reports it.
#pragma once

#include <cstddef>
#include <cstdint>
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

}  // namespace kvx
