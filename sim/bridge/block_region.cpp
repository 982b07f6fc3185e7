#include "sim/bridge/block_region.h"

#include <algorithm>

#include "crypto/rijndael.h"
#include "crypto/wipe.h"
#include "sim/bridge/identity.h"
#include "sim/bridge/medium.h"

namespace kvx::sim {
namespace {

constexpr std::uint32_t kFlashRegionSectors = 10;
constexpr std::uint64_t kFlashRegionFromEnd = 10;
constexpr std::uint32_t kDiskRegionSectors = 6;
constexpr std::uint64_t kDiskRegionFromEnd = 40;
constexpr std::size_t kPiece = 16;
constexpr std::size_t kSerialAt = 20;

// AES-128 under the key in its stored order, on each 16-byte piece taken in reversed byte order
// and put back reversed.
void Transform(std::span<std::uint8_t> bytes, const std::array<std::uint8_t, 16>& key,
               bool encipher) {
    CRijndael aes;
    aes.SetKey(key.data(), nullptr, 16, 16);
    for (std::size_t at = 0; at + kPiece <= bytes.size(); at += kPiece) {
        std::uint8_t piece[kPiece];
        std::reverse_copy(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                          bytes.begin() + static_cast<std::ptrdiff_t>(at + kPiece), piece);
        if (encipher) {
            aes.EncryptOneBlock(piece, piece);
        } else {
            aes.DecryptOneBlock(piece, piece);
        }
        std::reverse_copy(piece, piece + kPiece, bytes.begin() + static_cast<std::ptrdiff_t>(at));
        SecureWipe(piece, sizeof piece);
    }
}

}  // namespace

RegionSpan BlockRegionOf(const BridgeState& state) {
    RegionSpan span;
    span.hidden = state.aesEngine;
    if (state.media == Media::kFlash) {
        span.sectors = kFlashRegionSectors;
        span.start = state.sectors - kFlashRegionFromEnd;
    } else {
        span.sectors = kDiskRegionSectors;
        span.start = state.sectors - kDiskRegionFromEnd;
    }
    return span;
}

std::array<std::uint8_t, 20> UniqueIdentifier(const BridgeState& state) {
    const auto identify = AtaIdentifyData(state);
    std::array<std::uint8_t, 20> id{};
    std::copy_n(identify.begin() + kSerialAt, id.size(), id.begin());
    return id;
}

std::array<std::uint8_t, 16> BlockRegionKey(const BridgeState& state) {
    std::array<std::uint8_t, 16> key{};
    if (state.media == Media::kHdd) {
        const auto id = UniqueIdentifier(state);
        std::copy_n(id.begin(), key.size(), key.begin());
    }
    return key;
}

void EncipherRegion(std::span<std::uint8_t> bytes, const std::array<std::uint8_t, 16>& key) {
    Transform(bytes, key, true);
}

void DecipherRegion(std::span<std::uint8_t> bytes, const std::array<std::uint8_t, 16>& key) {
    Transform(bytes, key, false);
}

std::optional<StoredRegion> LoadBlockRegion(const BridgeState& state, const DevicePaths& paths) {
    StoredRegion region;
    region.span = BlockRegionOf(state);
    region.plain.assign(std::size_t{region.span.sectors} * datablock::kSize, 0);
    if (!ReadSectors(region.span.hidden ? paths.hidden : paths.medium, region.span.start,
                     region.plain)) {
        return std::nullopt;
    }
    DecipherRegion(region.plain, BlockRegionKey(state));
    for (std::size_t i = 0; i < region.span.sectors; ++i) {
        const std::uint8_t* sector = region.plain.data() + i * datablock::kSize;
        if (sector[datablock::kSignature] == 0xC3 && sector[datablock::kSignature + 1] == 0xB6) {
            region.index = i;
            break;
        }
    }
    return region;
}

bool StoreBlockRegion(const BridgeState& state, const DevicePaths& paths,
                      std::span<const std::uint8_t> plain) {
    const RegionSpan span = BlockRegionOf(state);
    if (plain.size() != std::size_t{span.sectors} * datablock::kSize) {
        return false;
    }
    WipedBytes stored(plain.begin(), plain.end());
    EncipherRegion(stored, BlockRegionKey(state));
    return WriteSectors(span.hidden ? paths.hidden : paths.medium, span.start, stored);
}

bool HasMarker(std::span<const std::uint8_t> block, std::size_t at) {
    return block[at] == 0xB6 && block[at + 1] == 0xC3;
}

std::uint32_t BlockBe32(std::span<const std::uint8_t> block, std::size_t at) {
    return (std::uint32_t{block[at]} << 24) | (std::uint32_t{block[at + 1]} << 16) |
           (std::uint32_t{block[at + 2]} << 8) | std::uint32_t{block[at + 3]};
}

void PutBlockBe32(std::span<std::uint8_t> block, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        block[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
}

}  // namespace kvx::sim
