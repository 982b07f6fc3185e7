// The firmware's view of its password data block: one 512-byte sector in a small region near the
// end of the medium (flash: the last 10 sectors; hard disks: 6 sectors from total - 40), in the
// hidden area when the bridge has the AES engine, else on the medium itself. The region is stored
// enciphered in 16-byte pieces with AES-128, each piece taken in reversed byte order, under the
// first 16 bytes of the ATA serial field in their order (hard disks) or the all-zero key (flash).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "crypto/wipe.h"
#include "sim/bridge/bridge_state.h"
#include "sim/bridge/device_dir.h"

namespace kvx::sim {

// Offsets of the data block's fields (multi-byte numbers big-endian).
namespace datablock {
inline constexpr std::size_t kSize = 512;
inline constexpr std::size_t kSignature = 4;  // 0xC3 0xB6
inline constexpr std::size_t kCdMark = 8;
inline constexpr std::size_t kCdState = 9;
inline constexpr std::size_t kCdSectors = 10;  // 2048-byte sectors
inline constexpr std::size_t kCdMinutes = 14;  // 16-bit
inline constexpr std::size_t kCdSeconds = 16;
inline constexpr std::size_t kCdFrames = 17;
inline constexpr std::size_t kFirstSize = 18;   // 512-byte sectors
inline constexpr std::size_t kFirstStart = 22;  // first sector of the secure partition
inline constexpr std::size_t kSecondSize = 26;
inline constexpr std::size_t kHiddenBase = 30;
inline constexpr std::size_t kPasswordMarker = 34;  // 0xB6 0xC3
inline constexpr std::size_t kPasswordDigest = 36;  // eight state words, least significant first
inline constexpr std::size_t kIdMarker = 68;
inline constexpr std::size_t kIdDigest = 70;
inline constexpr std::size_t kDigestSize = 32;
inline constexpr std::size_t kSpareCdMb = 104;  // 16-bit
inline constexpr std::size_t kHintLength = 106;
inline constexpr std::size_t kHintKey = 107;
inline constexpr std::size_t kHint = 108;
inline constexpr std::size_t kHintCapacity = 150;
inline constexpr std::size_t kFlashId = 258;
inline constexpr std::size_t kFlashIdSize = 12;
inline constexpr std::size_t kUnlock = 302;
inline constexpr std::size_t kUnlockSize = 16;
}  // namespace datablock

// The stamp sector the CD update keeps in the hidden area of hard disks.
inline constexpr std::uint64_t kStampFromEnd = 33;

struct RegionSpan {
    std::uint64_t start = 0;
    std::uint32_t sectors = 0;
    bool hidden = false;  // in the hidden area (bridges with the AES engine)

    bool Overlaps(std::uint64_t lba, std::uint64_t count, bool inHidden) const {
        return inHidden == hidden && lba < start + sectors && start < lba + count;
    }
};

RegionSpan BlockRegionOf(const BridgeState& state);

// The drive's unique identifier: bytes 20-39 of its ATA IDENTIFY data (the serial field as the
// host receives it). Hard disks only.
std::array<std::uint8_t, 20> UniqueIdentifier(const BridgeState& state);

// The key the region is stored under: identifier bytes 0-15 on hard disks, zero on flash.
std::array<std::uint8_t, 16> BlockRegionKey(const BridgeState& state);

// Enciphers or deciphers a region buffer in place, 16 bytes at a time.
void EncipherRegion(std::span<std::uint8_t> bytes, const std::array<std::uint8_t, 16>& key);
void DecipherRegion(std::span<std::uint8_t> bytes, const std::array<std::uint8_t, 16>& key);

struct StoredRegion {
    RegionSpan span;
    WipedBytes plain;                  // the whole region, deciphered
    std::optional<std::size_t> index;  // the first sector whose bytes 4-5 are 0xC3 0xB6

    std::span<std::uint8_t> Block() {
        return std::span(plain).subspan(*index * datablock::kSize, datablock::kSize);
    }
    std::span<const std::uint8_t> Block() const {
        return std::span(plain).subspan(*index * datablock::kSize, datablock::kSize);
    }
};

// Reads and deciphers the region; nullopt when the image cannot be read.
std::optional<StoredRegion> LoadBlockRegion(const BridgeState& state, const DevicePaths& paths);

// Enciphers the plaintext of a whole region and writes it in place.
bool StoreBlockRegion(const BridgeState& state, const DevicePaths& paths,
                      std::span<const std::uint8_t> plain);

// Whether the two bytes at `at` are the marker 0xB6 0xC3 of a stored digest.
bool HasMarker(std::span<const std::uint8_t> block, std::size_t at);

std::uint32_t BlockBe32(std::span<const std::uint8_t> block, std::size_t at);
void PutBlockBe32(std::span<std::uint8_t> block, std::size_t at, std::uint32_t value);

}  // namespace kvx::sim
