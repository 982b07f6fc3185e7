#include "media/image_stamp.h"

#include <algorithm>
#include <vector>

#include "crypto/aes_reversed.h"
#include "crypto/wipe.h"
#include "security/data_block.h"
#include "transport/vendor.h"

namespace kvx::media {
namespace {

constexpr std::uint8_t kMagic[] = {0xB6, 0xC3, 0xAA, 0x55};
constexpr char kMarker[] = "C3B655AA";
constexpr std::size_t kMarkerLength = 8;

std::uint16_t Le16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

}  // namespace

std::optional<ImageStamp> ParseStampRecord(std::span<std::uint8_t> record,
                                           const std::array<std::uint8_t, 16>& key) {
    using namespace stamp_record;
    if (record.size() < kBody ||
        !std::equal(std::begin(kMagic), std::end(kMagic), record.begin())) {
        return std::nullopt;
    }
    const std::size_t length = Le16(record, kLength);
    if (length < kBody || length > kMaxLength || length + kTrailerSize > record.size()) {
        return std::nullopt;
    }
    if (record[kEnciphered] == 2) {
        const std::size_t bytes = Pieces(length) * 16;
        if (kBody + bytes > record.size()) {
            return std::nullopt;
        }
        ProtectRegion(record.subspan(kBody, bytes), key, kAesDecrypt);
    }
    const auto trailer = record.subspan(length);
    const std::size_t stampLength = Le16(trailer, kTrailerStampLength);
    const std::size_t offset = Le16(trailer, kTrailerStampOffset);
    if (trailer[kTrailerMarker] != 0xB6 || trailer[kTrailerMarker + 1] != 0xC3 ||
        trailer[kTrailerFlag] != 0x80 || trailer[kTrailerVersion] != 1 || stampLength == 0 ||
        offset == 0 || offset + std::tuple_size_v < ImageStamp >> record.size()) {
        return std::nullopt;
    }
    ImageStamp stamp;
    std::copy_n(record.begin() + static_cast<std::ptrdiff_t>(offset), stamp.size(), stamp.begin());
    return stamp;
}

bool ReadImageStamp(DeviceState& state, bool aesPresent, std::uint32_t sector, ImageStamp& stamp) {
    if (!aesPresent) {
        return false;
    }
    std::vector<std::uint8_t> record(kSectorSize, 0);
    if (!ReadWriteSectors(state, sector, 1, true, true, record.data())) {
        return false;
    }
    const std::size_t length = Le16(record, stamp_record::kLength);
    if (length > stamp_record::kMaxLength) {
        return false;
    }
    const std::size_t sectors = (length + kSectorSize - 1) / kSectorSize + 1;
    record.assign(sectors * kSectorSize, 0);
    if (!ReadWriteSectors(state, sector, static_cast<std::uint16_t>(sectors), true, true,
                          record.data())) {
        return false;
    }
    std::array<std::uint8_t, 16> key{};
    std::copy_n(state.uniqueId, key.size(), key.begin());
    const std::optional<ImageStamp> found = ParseStampRecord(record, key);
    SecureWipe(key.data(), key.size());
    SecureWipe(record.data(), record.size());
    if (!found) {
        return false;
    }
    stamp = *found;
    return true;
}

void StampWriter::Apply(std::span<std::uint8_t> piece) {
    for (std::uint8_t& byte : piece) {
        if (found_) {
            if (written_ == stamp_.size()) {
                return;
            }
            byte = stamp_[written_++];
            continue;
        }
        // The marker has no repeated prefix, so a mismatch restarts the match at this byte.
        if (byte == static_cast<std::uint8_t>(kMarker[matched_])) {
            ++matched_;
        } else {
            matched_ = byte == static_cast<std::uint8_t>(kMarker[0]) ? 1 : 0;
        }
        found_ = matched_ == kMarkerLength;
    }
}

}  // namespace kvx::media
