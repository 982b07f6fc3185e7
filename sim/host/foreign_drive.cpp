#include "sim/host/foreign_drive.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sim/bridge/sense.h"

namespace kvx::sim {
namespace {

constexpr std::uint8_t kOpTestUnitReady = 0x00;
constexpr std::uint8_t kOpInquiry = 0x12;

// Standard INQUIRY data: peripheral type, removable bit, SPC-3, response format 2, and the
// identification texts from byte 8 on.
constexpr std::size_t kInquirySize = 36;
constexpr std::uint8_t kTypeDisk = 0x00;
constexpr std::uint8_t kTypeCdRom = 0x05;
constexpr std::uint8_t kRemovable = 0x80;
constexpr std::uint8_t kVersionSpc3 = 0x05;
constexpr std::uint8_t kResponseFormat = 0x02;
constexpr std::uint8_t kAdditionalLength = kInquirySize - 5;
constexpr std::size_t kIdentificationOffset = 8;
constexpr std::string_view kCdRomIdentification = "SIMHOST DVD DRIVE       1.00";
constexpr std::string_view kDiskIdentification = "SIMHOST SYSTEM DISK     1.00";

// The system disk's one partition: NTFS, 64 GiB from 1 MiB on.
constexpr std::uint64_t kPartitionStart = std::uint64_t{1} << 20;
constexpr std::uint64_t kPartitionLength = std::uint64_t{64} << 30;
constexpr std::uint32_t kPartitionHiddenSectors = 2048;
constexpr std::uint8_t kTypeNtfs = 0x07;

ScsiOutcome Refused() {
    ScsiOutcome outcome;
    outcome.sent = true;
    outcome.scsiStatus = kStatusCheckCondition;
    const auto sense = FixedSense(kInvalidOpcode);
    std::copy(sense.begin(), sense.end(), outcome.sense);
    return outcome;
}

ScsiOutcome Inquiry(DriveType type, std::span<std::uint8_t> out) {
    const bool cd = type == kDriveCdRom;
    std::uint8_t data[kInquirySize] = {};
    data[0] = cd ? kTypeCdRom : kTypeDisk;
    data[1] = cd ? kRemovable : 0;
    data[2] = kVersionSpc3;
    data[3] = kResponseFormat;
    data[4] = kAdditionalLength;
    const std::string_view text = cd ? kCdRomIdentification : kDiskIdentification;
    std::copy(text.begin(), text.end(), data + kIdentificationOffset);
    const std::size_t n = std::min(out.size(), sizeof data);
    std::copy_n(data, n, out.begin());
    ScsiOutcome outcome;
    outcome.sent = true;
    outcome.transferred = static_cast<std::uint32_t>(n);
    return outcome;
}

}  // namespace

ScsiOutcome ForeignDriveCommand(DriveType type, const ScsiCommand& command) {
    if (command.cdb.empty()) {
        return Refused();
    }
    if (command.cdb[0] == kOpInquiry && command.direction == DataDirection::kIn) {
        return Inquiry(type, command.data);
    }
    if (command.cdb[0] == kOpTestUnitReady) {
        ScsiOutcome outcome;
        outcome.sent = true;
        return outcome;
    }
    return Refused();
}

StorageBus ForeignDriveBus(DriveType type) {
    return type == kDriveCdRom ? kBusAtapi : kBusAta;
}

PartitionInfo ForeignDrivePartition() {
    return PartitionInfo{
        kPartitionStart, kPartitionLength, kPartitionHiddenSectors, 1, kTypeNtfs, true, true};
}

}  // namespace kvx::sim
