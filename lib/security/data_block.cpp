#include "security/data_block.h"

#include <algorithm>
#include <cstring>

#include "crypto/aes_reversed.h"
#include "crypto/byte_scramble.h"
#include "crypto/sha256.h"
#include "crypto/wipe.h"
#include "frame/export_frame.h"
#include "security/authenticate.h"
#include "transport/vendor.h"

namespace kvx {
namespace {

constexpr std::uint16_t kFlashRegionSectors = 10;
constexpr std::uint32_t kFlashRegionFromEnd = 10;
constexpr std::uint16_t kDiskRegionSectors = 6;
constexpr std::uint32_t kDiskRegionFromEnd = 40;
constexpr int kWriteAttempts = 4;
constexpr std::size_t kPiece = 16;

}  // namespace

RegionPlace BlockRegionPlace(const MediumInfo& medium) {
    RegionPlace place;
    place.hidden = medium.aesEngine;
    if (medium.IsHardDisk()) {
        place.sectors = kDiskRegionSectors;
        place.start = medium.totalSectors - kDiskRegionFromEnd;
    } else {
        place.sectors = kFlashRegionSectors;
        place.start = medium.totalSectors - kFlashRegionFromEnd;
    }
    return place;
}

std::array<std::uint8_t, 16> RegionKey(const DeviceState& state, const MediumInfo& medium) {
    std::array<std::uint8_t, 16> key{};
    if (medium.IsHardDisk()) {
        std::memcpy(key.data(), state.uniqueId, key.size());
    }
    return key;
}

void ProtectRegion(std::span<std::uint8_t> bytes, const std::array<std::uint8_t, 16>& key,
                   int mode) {
    // The cipher takes its key reversed; handing it the reversed identifier runs AES under the
    // identifier bytes in their stored order.
    std::uint8_t reversed[16];
    std::reverse_copy(key.begin(), key.end(), reversed);
    for (std::size_t at = 0; at + kPiece <= bytes.size(); at += kPiece) {
        AesBlockReversed(reversed, bytes.data() + at, mode);
    }
    SecureWipe(reversed, sizeof reversed);
}

std::optional<std::size_t> FindSignature(std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; (i + 1) * kBlockSize <= bytes.size(); ++i) {
        const std::uint8_t* sector = bytes.data() + i * kBlockSize;
        if (sector[block::kSignature] == 0xC3 && sector[block::kSignature + 1] == 0xB6) {
            return i;
        }
    }
    return std::nullopt;
}

bool LocateDataBlock(DeviceState& state, const MediumInfo& medium, BlockRegion& region,
                     std::uint8_t& errorByte) {
    region.place = BlockRegionPlace(medium);
    region.bytes.assign(std::size_t{region.place.sectors} * kBlockSize, 0);
    region.index.reset();
    if (!ReadWriteSectors(state, region.place.start, region.place.sectors, region.place.hidden,
                          true, region.bytes.data())) {
        SetErrorOnce(errorByte, kErrBlockNotRead);
        return false;
    }
    std::array<std::uint8_t, 16> key = RegionKey(state, medium);
    ProtectRegion(region.bytes, key, kAesDecrypt);
    SecureWipe(key.data(), key.size());
    region.index = FindSignature(region.bytes);
    return true;
}

bool WriteSectorsWithRetry(DeviceState& state, std::uint32_t lba, std::uint16_t count, bool hidden,
                           const std::uint8_t* data) {
    // The command helper wants a writable buffer; the data-out phase only reads it.
    std::uint8_t* buffer = const_cast<std::uint8_t*>(data);
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        if (ReadWriteSectors(state, lba, count, hidden, false, buffer)) {
            return true;
        }
    }
    return false;
}

bool RewriteRegion(DeviceState& state, const MediumInfo& medium, const BlockRegion& region,
                   std::uint8_t& errorByte) {
    WipedBytes stored(region.bytes);
    std::array<std::uint8_t, 16> key = RegionKey(state, medium);
    ProtectRegion(stored, key, kAesEncrypt);
    SecureWipe(key.data(), key.size());
    const bool ok = WriteSectorsWithRetry(state, region.place.start, region.place.sectors,
                                          region.place.hidden, stored.data());
    if (!ok) {
        SetErrorOnce(errorByte, kErrRewriteFailed);
    }
    return ok;
}

void PutPasswordRecord(const DeviceState& state, const MediumInfo& medium,
                       std::span<std::uint8_t> image, std::span<const std::uint8_t, 32> digest,
                       std::span<const std::uint8_t> hint, std::uint8_t key) {
    constexpr std::uint8_t kMarker[] = {0xB6, 0xC3};
    std::copy(std::begin(kMarker), std::end(kMarker), image.begin() + block::kPasswordMarker);
    std::copy(digest.begin(), digest.end(), image.begin() + block::kPasswordDigest);

    const std::size_t n = std::min(hint.size(), block::kHintCapacity);
    std::fill_n(image.begin() + block::kHint, block::kHintCapacity, std::uint8_t{0});
    ScrambleHint(hint.first(n), key, image.subspan(block::kHint, block::kHintCapacity));
    image[block::kHintLength] = static_cast<std::uint8_t>(n);
    image[block::kHintKey] = key;

    if (medium.IsHardDisk()) {
        std::uint8_t idDigest[kDigestSize];
        (void)HashSecret(SecretBytes(state.uniqueId, sizeof state.uniqueId), idDigest, nullptr,
                         false);
        std::copy(std::begin(kMarker), std::end(kMarker), image.begin() + block::kIdMarker);
        std::copy(std::begin(idDigest), std::end(idDigest), image.begin() + block::kIdDigest);
    }
}

void ScrambleHint(std::span<const std::uint8_t> hint, std::uint8_t key,
                  std::span<std::uint8_t> out) {
    for (std::size_t i = 0; i < hint.size() && i < out.size(); ++i) {
        out[i] = ScrambleByte(hint[i], key);
    }
}

void UnscrambleHint(std::span<const std::uint8_t> stored, std::uint8_t key,
                    std::span<std::uint8_t> out) {
    for (std::size_t i = 0; i < stored.size() && i < out.size(); ++i) {
        out[i] = UnscrambleByte(stored[i], key);
    }
}

std::uint32_t ReadBe32(std::span<const std::uint8_t> b, std::size_t at) {
    return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
           (std::uint32_t{b[at + 2]} << 8) | std::uint32_t{b[at + 3]};
}

std::uint16_t ReadBe16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

void WriteBe32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
}

void WriteBe16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t value) {
    b[at] = static_cast<std::uint8_t>(value >> 8);
    b[at + 1] = static_cast<std::uint8_t>(value);
}

}  // namespace kvx
