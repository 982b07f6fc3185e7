// The secure partition's layout writers and the placement checks the format makes before any
// sector is written.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "frame/errors.h"
#include "frame/export_frame.h"
#include "media/geometry.h"
#include "media/layout.h"
#include "security/hdd_info.h"

namespace kvx::media {

// Where the partition goes and what it claims: sectors [base, base + sectors).
struct PartitionPlan {
    std::uint64_t base = 0;  // the sector of its master boot record or partition table
    std::uint64_t sectors = 0;
    std::optional<Fat32Layout> fat32;
    std::optional<Fat16Layout> fat16;
};

// Whether the FAT16 writer serves this medium (flash of at most 2048 MB).
bool UsesFat16(const MediumInfo& medium);

// The plan for the record's size on this medium, or nullopt when the size has no valid layout,
// the partition would run past the medium, over the CD area, or (on the ordinary medium) over
// the password data block region.
std::optional<PartitionPlan> PlanSecurePartition(const DeviceState& state,
                                                 const QdaRequest& request,
                                                 const MediumInfo& medium,
                                                 std::span<const std::uint8_t> dataBlock);

// The label's first eleven bytes in the ANSI code page, padded with spaces; nullopt when empty.
std::optional<LabelName> VolumeLabelName(Host& host, std::u16string_view label);

// A serial from the C runtime generator seeded with the time.
VolumeSerial MakeVolumeSerial(Host& host);

// The progress text of the writers for the record's mode.
std::u16string WriterProgressText(const QdaRequest& request);

// Lay an empty FAT32 or FAT16/FAT12 file system on the partition the plan describes; 1 or 0
// with a code in the record.
int OnWriteFAT32HDDSecFS(ExportFrame& frame, const PartitionPlan& plan, std::u16string_view label);
int OnWriteFAT16FlashSecFS(ExportFrame& frame, const PartitionPlan& plan,
                           std::u16string_view label);

// Writes zeros over [start, start + count), 128 sectors a write, with progress; false when a
// write failed four times.
bool ZeroFill(ExportFrame& frame, std::uint64_t start, std::uint64_t count,
              std::u16string progressText);

}  // namespace kvx::media
