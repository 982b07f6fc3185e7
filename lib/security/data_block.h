// The password data block: one 512-byte sector in a small region at the end of the medium,
// surrounded by random filler, stored enciphered in 16-byte pieces (hard disks under the drive's
// unique identifier, flash media under the all-zero key). Every reader and writer of the region
// goes through LocateDataBlock and RewriteRegion, so a device holds one stored form.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "crypto/wipe.h"
#include "frame/device_state.h"
#include "frame/errors.h"
#include "security/hdd_info.h"

namespace kvx {

inline constexpr std::size_t kBlockSize = 512;

// Fields of the data block (offsets; numbers big-endian unless stated).
namespace block {
inline constexpr std::size_t kSignature = 4;   // 0xC3 0xB6
inline constexpr std::size_t kCdMark = 8;      // 0xFF
inline constexpr std::size_t kCdState = 9;     // 0xFD updating, 0xF8 done, 0xFC format flag
inline constexpr std::size_t kCdSectors = 10;  // CD size in 2048-byte sectors
inline constexpr std::size_t kCdMinutes = 14;
inline constexpr std::size_t kCdSeconds = 16;
inline constexpr std::size_t kCdFrames = 17;
inline constexpr std::size_t kFirstSize = 18;   // secure partition, 512-byte sectors
inline constexpr std::size_t kFirstStart = 22;  // first sector of the secure file system area
inline constexpr std::size_t kSecondSize = 26;
inline constexpr std::size_t kHiddenBase = 30;      // first sector of the hidden-area space
inline constexpr std::size_t kPasswordMarker = 34;  // 0xB6 0xC3 when a password is set
inline constexpr std::size_t kPasswordDigest = 36;  // 32 bytes
inline constexpr std::size_t kIdMarker = 68;        // 0xB6 0xC3
inline constexpr std::size_t kIdDigest = 70;        // 32 bytes
inline constexpr std::size_t kSpareCdMb = 104;      // 16-bit
inline constexpr std::size_t kHintLength = 106;
inline constexpr std::size_t kHintKey = 107;
inline constexpr std::size_t kHint = 108;  // 150 scrambled bytes
inline constexpr std::size_t kHintCapacity = 150;
inline constexpr std::size_t kFlashId = 258;  // 12 bytes
inline constexpr std::size_t kFlashIdLength = 12;
inline constexpr std::size_t kUnlock = 302;  // 16 bytes
inline constexpr std::size_t kUnlockLength = 16;
}  // namespace block

// Where the region lies: flash total-10 .. total-1, hard disks total-40 .. total-35; in the hidden
// area when the bridge has an AES engine.
struct RegionPlace {
    std::uint32_t start = 0;
    std::uint16_t sectors = 0;
    bool hidden = false;
};
RegionPlace BlockRegionPlace(const MediumInfo& medium);

struct BlockRegion {
    RegionPlace place;
    WipedBytes bytes;                  // plaintext of the whole region
    std::optional<std::size_t> index;  // sector of the data block within the region

    std::span<std::uint8_t> Block() {
        return std::span<std::uint8_t>(bytes).subspan(*index * kBlockSize, kBlockSize);
    }
    std::span<const std::uint8_t> Block() const {
        return std::span<const std::uint8_t>(bytes).subspan(*index * kBlockSize, kBlockSize);
    }
};

// The AES key of the block region: the unique identifier's first 16 bytes on hard disks, zero on
// flash.
std::array<std::uint8_t, 16> RegionKey(const DeviceState& state, const MediumInfo& medium);

// Enciphers (mode 0) or deciphers (mode 1) a region in 16-byte pieces under the key.
void ProtectRegion(std::span<std::uint8_t> bytes, const std::array<std::uint8_t, 16>& key,
                   int mode);

// The first 512-byte sector whose bytes 4-5 are 0xC3 0xB6.
std::optional<std::size_t> FindSignature(std::span<const std::uint8_t> bytes);

// Reads and deciphers the region and finds the block. False (error 32) when the read failed; a
// region without a block succeeds with no index.
bool LocateDataBlock(DeviceState& state, const MediumInfo& medium, BlockRegion& region,
                     std::uint8_t& errorByte);

// Enciphers a copy of the region and writes it back, each write attempted up to four times
// (error 27 when all fail).
bool RewriteRegion(DeviceState& state, const MediumInfo& medium, const BlockRegion& region,
                   std::uint8_t& errorByte);

// Writes sectors with up to four attempts.
bool WriteSectorsWithRetry(DeviceState& state, std::uint32_t lba, std::uint16_t count, bool hidden,
                           const std::uint8_t* data);

// Hint scrambling of the stored hint (key byte at offset 107).
void ScrambleHint(std::span<const std::uint8_t> hint, std::uint8_t key,
                  std::span<std::uint8_t> out);
void UnscrambleHint(std::span<const std::uint8_t> stored, std::uint8_t key,
                    std::span<std::uint8_t> out);

// A stored password: its digest and the hint (at most kHintCapacity bytes, scrambled with KEY),
// and on hard disks the digest of the device's unique identifier, each behind its marker.
void PutPasswordRecord(const DeviceState& state, const MediumInfo& medium,
                       std::span<std::uint8_t> image, std::span<const std::uint8_t, 32> digest,
                       std::span<const std::uint8_t> hint, std::uint8_t key);

// Big-endian field access.
std::uint32_t ReadBe32(std::span<const std::uint8_t> bytes, std::size_t at);
std::uint16_t ReadBe16(std::span<const std::uint8_t> bytes, std::size_t at);
void WriteBe32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value);
void WriteBe16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value);

}  // namespace kvx
