// Where the secure partition goes, and the small inputs both writers share.
#include <algorithm>
#include <string>

#include "host/sectors.h"
#include "media/writers.h"
#include "security/data_block.h"

namespace kvx::media {
namespace {

// The FAT16 writer's limit: above it a flash medium gets FAT32 (FAT16 clusters run out).
constexpr std::uint32_t kFat16LimitMb = 2048;
// Other than flash media, the partition starts after the CD room's megabytes taken modulo this:
// the layouts already on devices were placed so.
constexpr std::uint64_t kCdRoomWrapMb = 4096;

bool Overlaps(std::uint64_t a, std::uint64_t aCount, std::uint64_t b, std::uint64_t bCount) {
    return a < b + bCount && b < a + aCount;
}

}  // namespace

bool UsesFat16(const MediumInfo& medium) {
    return (medium.mediaType & kMediaFlash) != 0 && medium.sizeMb <= kFat16LimitMb;
}

std::optional<PartitionPlan> PlanSecurePartition(const DeviceState& state,
                                                 const QdaRequest& request,
                                                 const MediumInfo& medium,
                                                 std::span<const std::uint8_t> dataBlock) {
    PartitionInputs in;
    in.sizeMb = request.secureSizeMb;
    in.hardDisk = medium.IsHardDisk();
    in.chipFlag = state.chipFlag != 0;
    in.chipListFlag = state.chipListFlag != 0;
    if (in.sizeMb == 0) {
        return std::nullopt;
    }
    const std::uint64_t shift = ShiftedBy16(in) ? kCdShiftSectors : 0;
    PartitionPlan plan;
    if (UsesFat16(medium)) {
        // Flash media start the partition where the data block says; others after the CD area's
        // whole room (CD size and spare megabytes).
        const std::uint64_t start =
            (medium.mediaType & kMediaFlash) != 0
                ? ReadBe32(dataBlock, block::kFirstStart)
                : ((std::uint64_t{request.spareCdMb} + request.cdSizeMb) % kCdRoomWrapMb) *
                      kSectorsPerMb;
        plan.base = start + (in.chipListFlag ? kCdShiftSectors : 0);
        plan.fat16 = Fat16Geometry(in.sizeMb, Fat16PartitionSectors(in));
        if (!plan.fat16) {
            return std::nullopt;
        }
        plan.sectors = plan.fat16->partitionSectors;
    } else {
        plan.base = ReadBe32(dataBlock, block::kFirstStart) + shift;
        plan.fat32 = Fat32Geometry(in.sizeMb, Fat32PartitionSectors(in));
        if (!plan.fat32) {
            return std::nullopt;
        }
        plan.sectors = plan.fat32->partitionSectors;
    }
    if (plan.base + plan.sectors > medium.totalSectors) {
        return std::nullopt;
    }
    // Never over the CD area the data block records ...
    const std::uint64_t cdStart = shift;
    const std::uint64_t cdSectors =
        std::uint64_t{ReadBe32(dataBlock, block::kCdSectors)} * kSectorsPerCdBlock;
    if (cdSectors != 0 && Overlaps(plan.base, plan.sectors, cdStart, cdSectors)) {
        return std::nullopt;
    }
    // ... nor over the block region when it lies on the ordinary medium.
    const RegionPlace region = BlockRegionPlace(medium);
    if (!region.hidden && Overlaps(plan.base, plan.sectors, region.start, region.sectors)) {
        return std::nullopt;
    }
    return plan;
}

std::optional<LabelName> VolumeLabelName(Host& host, std::u16string_view label) {
    if (label.empty()) {
        return std::nullopt;
    }
    const std::string ansi = host.ToAnsi(label);
    LabelName name;
    name.fill(' ');
    std::copy_n(ansi.begin(), std::min<std::size_t>(ansi.size(), name.size()), name.begin());
    return name;
}

VolumeSerial MakeVolumeSerial(Host& host) {
    host.SeedRandom(static_cast<std::uint32_t>(host.Time()));
    const int first = host.Random();
    const int second = host.Random();
    return {static_cast<std::uint8_t>(first >> 8), static_cast<std::uint8_t>(first),
            static_cast<std::uint8_t>(second >> 8), static_cast<std::uint8_t>(second)};
}

std::u16string WriterProgressText(const QdaRequest& request) {
    if (request.changeOp != 3 && request.changeOp != 4) {
        return {};
    }
    return request.passwordSupported != 0 ? u"Writing the file system into Secure partition..."
                                          : u"Writing the file system into Public partition...";
}

}  // namespace kvx::media
