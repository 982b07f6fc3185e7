#include "media/sector_stream.h"

#include "security/data_block.h"

namespace kvx::media {

bool SectorStream::WriteOne(std::uint64_t lba, const SectorImage& sector) {
    return WriteSectors(lba, sector);
}

bool SectorStream::WriteSectors(std::uint64_t lba, std::span<const std::uint8_t> data) {
    const std::size_t count = data.size() / kSectorSize;
    if (count == 0 || count > kBlockSectors || lba + count > 0x100000000ull) {
        return false;
    }
    if (!WriteSectorsWithRetry(state_, static_cast<std::uint32_t>(lba),
                               static_cast<std::uint16_t>(count), false, data.data())) {
        return false;
    }
    written_ += count;
    return true;
}

}  // namespace kvx::media
