// Sector writes of the media writers: each write up to four attempts, runs of zeros 128 sectors
// a time from one zeroed 64 KB block, and a count of what went out for the progress display.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "frame/device_state.h"
#include "media/layout.h"

namespace kvx::media {

inline constexpr std::uint16_t kBlockSectors = 128;  // one 64 KB transfer

class SectorStream {
  public:
    explicit SectorStream(DeviceState& state)
        : state_(state), block_(kBlockSectors * kSectorSize, 0) {}

    // One sector image.
    bool WriteOne(std::uint64_t lba, const SectorImage& sector);
    // count sectors of a buffer (at most 128).
    bool WriteSectors(std::uint64_t lba, std::span<const std::uint8_t> data);
    // count zero sectors, the first one replaced by `first` when given: 128 at a time while at
    // least 128 remain, then one at a time. `afterWrite` runs after each write.
    template <typename After>
    bool WriteZeros(std::uint64_t lba, std::uint64_t count, const SectorImage* first,
                    After&& afterWrite);

    // Sectors written so far.
    std::uint64_t written() const { return written_; }

  private:
    DeviceState& state_;
    std::vector<std::uint8_t> block_;
    SectorImage zero_{};
    std::uint64_t written_ = 0;
};

template <typename After>
bool SectorStream::WriteZeros(std::uint64_t lba, std::uint64_t count, const SectorImage* first,
                              After&& afterWrite) {
    bool firstPending = first != nullptr;
    while (count > 0) {
        const bool whole = count >= kBlockSectors;
        bool ok = false;
        if (whole) {
            if (firstPending) {
                std::copy(first->begin(), first->end(), block_.begin());
            }
            ok = WriteSectors(lba, block_);
            if (firstPending) {
                std::fill_n(block_.begin(), kSectorSize, std::uint8_t{0});
            }
        } else {
            ok = WriteOne(lba, firstPending ? *first : zero_);
        }
        if (!ok) {
            return false;
        }
        firstPending = false;
        const std::uint64_t n = whole ? kBlockSectors : 1;
        lba += n;
        count -= n;
        afterWrite();
    }
    return true;
}

}  // namespace kvx::media
