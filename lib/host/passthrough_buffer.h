// The NT SCSI pass-through request as one byte block: the SCSI_PASS_THROUGH header, the sense
// area right after it and the data area right after the sense.
//
// The header's size and some field offsets depend on the pointer width of the process (the data
// buffer offset is pointer-sized), so the block is described by a layout: 44-byte header with the
// data at 62 for 32-bit processes, 56-byte header with the data at 74 for 64-bit ones. The code
// is portable so that both layouts can be built and checked on any machine; the Windows backend
// verifies the native layout against the system's own structure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "crypto/wipe.h"
#include "host/host.h"

namespace kvx {

// Field positions of one SCSI_PASS_THROUGH variant and of the areas that follow it.
struct PassThroughLayout {
    std::size_t headerSize;             // sizeof(SCSI_PASS_THROUGH), also the Length field
    std::size_t dataBufferOffsetAt;     // DataBufferOffset (pointer-sized)
    std::size_t dataBufferOffsetWidth;  // 4 or 8
    std::size_t senseInfoOffsetAt;      // SenseInfoOffset
    std::size_t cdbAt;                  // Cdb[16]

    // Fields at the same place in every variant.
    static constexpr std::size_t kLengthAt = 0;
    static constexpr std::size_t kScsiStatusAt = 2;
    static constexpr std::size_t kPathIdAt = 3;
    static constexpr std::size_t kTargetIdAt = 4;
    static constexpr std::size_t kLunAt = 5;
    static constexpr std::size_t kCdbLengthAt = 6;
    static constexpr std::size_t kSenseInfoLengthAt = 7;
    static constexpr std::size_t kDataInAt = 8;
    static constexpr std::size_t kDataTransferLengthAt = 12;
    static constexpr std::size_t kTimeOutValueAt = 16;
    static constexpr std::size_t kMaxCdbLength = 16;

    constexpr std::size_t senseAt() const { return headerSize; }
    constexpr std::size_t dataAt() const { return headerSize + kSenseLength; }
};

inline constexpr PassThroughLayout kPassThroughLayout32{44, 20, 4, 24, 28};
inline constexpr PassThroughLayout kPassThroughLayout64{56, 24, 8, 32, 36};

// The layout of the running process.
inline constexpr const PassThroughLayout& NativePassThroughLayout() {
    return sizeof(void*) == 8 ? kPassThroughLayout64 : kPassThroughLayout32;
}

// DataIn codes of the pass-through header.
inline constexpr std::uint8_t kScsiIoctlDataOut = 0;
inline constexpr std::uint8_t kScsiIoctlDataIn = 1;
inline constexpr std::uint8_t kScsiIoctlDataUnspecified = 2;

std::uint8_t PassThroughDataInCode(DataDirection direction);

// Bytes of data the request moves: the data span's size, or 0 without a data phase.
std::size_t PassThroughTransferLength(const ScsiCommand& command);

// Builds the request block for `command`: header filled (path, target and LUN 0, sense length
// 18, time-out from the command), sense and data areas zeroed, data-out bytes copied in.
// nullopt when the CDB is empty or longer than 16 bytes, or the data does not fit a 32-bit length.
// The block carries the command's data (a key, too) and is wiped when it goes.
std::optional<WipedBytes> BuildPassThroughBuffer(const PassThroughLayout& layout,
                                                 const ScsiCommand& command);

// What the device answered, read out of a returned block.
struct PassThroughReply {
    std::uint8_t scsiStatus = 0;
    std::uint8_t sense[kSenseLength] = {};
    std::uint32_t transferred = 0;  // DataTransferLength, never more than the data area holds
};

// Reads status, sense and transfer length out of `buffer` and copies its data area into
// `dataIn` (pass an empty span unless the command was data-in). Every read is bounded by the
// buffer's size; whatever the buffer does not cover is returned as zero.
PassThroughReply ParsePassThroughBuffer(const PassThroughLayout& layout,
                                        std::span<const std::uint8_t> buffer,
                                        std::span<std::uint8_t> dataIn);

}  // namespace kvx
