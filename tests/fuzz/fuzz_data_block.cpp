// Block-region sectors as a device returns them: the signature scan, deciphering under either
// key, the stored hint and the capacity fields.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

#include "security/data_block.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kvx;
    FuzzedDataProvider in(data, size);
    std::array<std::uint8_t, 16> key{};
    const auto keyBytes = in.ConsumeBytes<std::uint8_t>(key.size());
    std::copy(keyBytes.begin(), keyBytes.end(), key.begin());
    const bool decipher = in.ConsumeBool();
    // A region is whole sectors; the device may have sent any number of them (at most ten).
    const std::size_t sectors = in.ConsumeIntegralInRange<std::size_t>(0, 10);
    std::vector<std::uint8_t> region = in.ConsumeBytes<std::uint8_t>(sectors * kBlockSize);
    region.resize(sectors * kBlockSize, 0);
    if (decipher) {
        ProtectRegion(region, key, 1);
    }
    const std::optional<std::size_t> index = FindSignature(region);
    if (!index) {
        return 0;
    }
    if ((*index + 1) * kBlockSize > region.size()) {
        std::abort();  // a found block lies wholly inside the region
    }
    const std::span<const std::uint8_t> block(region.data() + *index * kBlockSize, kBlockSize);
    std::uint8_t hint[block::kHintCapacity];
    const std::size_t hintLength = std::min<std::size_t>(block[block::kHintLength], sizeof hint);
    UnscrambleHint(block.subspan(block::kHint, hintLength), block[block::kHintKey],
                   std::span<std::uint8_t>(hint, hintLength));
    (void)ReadBe32(block, block::kCdSectors);
    (void)ReadBe32(block, block::kFirstSize);
    (void)ReadBe32(block, block::kSecondSize);
    (void)ReadBe16(block, block::kSpareCdMb);
    return 0;
}
