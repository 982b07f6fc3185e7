// The device's image stamp: a 32-byte value kept in a stamp record in the hidden area of hard
// disks, which a CD update can write into the new image after the marker "C3B655AA".
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "frame/device_state.h"
#include "host/sectors.h"

namespace kvx::media {

using ImageStamp = std::array<std::uint8_t, 32>;

// Layout of the stamp record (little-endian lengths): magic B6 C3 AA 55 at 0, 2 at byte 10 when
// the body from byte 16 on is enciphered, the record length L at 12; a trailer at L with B6 C3 at
// L + 12, 0x80 at L + 16, 1 at L + 18, the stamp's length at L + 50 and its offset at L + 52.
namespace stamp_record {
inline constexpr std::size_t kEnciphered = 10;
inline constexpr std::size_t kLength = 12;
inline constexpr std::size_t kBody = 16;
inline constexpr std::size_t kTrailerMarker = 12;
inline constexpr std::size_t kTrailerFlag = 16;
inline constexpr std::size_t kTrailerVersion = 18;
inline constexpr std::size_t kTrailerStampLength = 50;
inline constexpr std::size_t kTrailerStampOffset = 52;
inline constexpr std::size_t kTrailerSize = 54;
// Longest record the library reads (so the read stays one transfer).
inline constexpr std::size_t kMaxLength = 60 * kSectorSize;
// 16-byte pieces the enciphered body spans.
inline constexpr std::size_t Pieces(std::size_t length) {
    return (length + 47) / 16 + 1;
}
}  // namespace stamp_record

// The stamp from a record as read (enciphered body deciphered under `key`, the unique
// identifier's first 16 bytes); nullopt when the record is not well formed.
std::optional<ImageStamp> ParseStampRecord(std::span<std::uint8_t> record,
                                           const std::array<std::uint8_t, 16>& key);

// Reads the stamp record at hidden sector `sector`; false without an AES engine (no hidden area)
// or when the record cannot be read or is not well formed.
bool ReadImageStamp(DeviceState& state, bool aesPresent, std::uint32_t sector, ImageStamp& stamp);

// Writes the stamp into a stream of image pieces: after the first occurrence of the eight ASCII
// bytes "C3B655AA" the next 32 bytes become the stamp, wherever pieces split them.
class StampWriter {
  public:
    explicit StampWriter(const ImageStamp& stamp) : stamp_(stamp) {}
    // The next piece of the stream, changed in place.
    void Apply(std::span<std::uint8_t> piece);
    bool found() const { return found_; }

  private:
    ImageStamp stamp_;
    std::size_t matched_ = 0;  // marker bytes matched so far
    bool found_ = false;
    std::size_t written_ = 0;  // stamp bytes written after the marker
};

}  // namespace kvx::media
