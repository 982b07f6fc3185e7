#include "host/passthrough_buffer.h"

#include <algorithm>
#include <limits>

namespace kvx {
namespace {

// Windows structures are little-endian whatever the machine building them.
void PutLittleEndian(WipedBytes& buffer, std::size_t at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        buffer[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t GetLittleEndian32(std::span<const std::uint8_t> buffer, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(buffer[at + i]) << (8 * i);
    }
    return value;
}

}  // namespace

std::uint8_t PassThroughDataInCode(DataDirection direction) {
    switch (direction) {
        case DataDirection::kIn:
            return kScsiIoctlDataIn;
        case DataDirection::kOut:
            return kScsiIoctlDataOut;
        case DataDirection::kNone:
            break;
    }
    return kScsiIoctlDataUnspecified;
}

std::size_t PassThroughTransferLength(const ScsiCommand& command) {
    return command.direction == DataDirection::kNone ? 0 : command.data.size();
}

std::optional<WipedBytes> BuildPassThroughBuffer(const PassThroughLayout& layout,
                                                 const ScsiCommand& command) {
    if (command.cdb.empty() || command.cdb.size() > PassThroughLayout::kMaxCdbLength) {
        return std::nullopt;
    }
    const std::size_t length = PassThroughTransferLength(command);
    // The whole block's size goes to DeviceIoControl as a 32-bit count.
    if (length > std::numeric_limits<std::uint32_t>::max() - layout.dataAt()) {
        return std::nullopt;
    }

    WipedBytes buffer(layout.dataAt() + length, 0);
    PutLittleEndian(buffer, PassThroughLayout::kLengthAt, layout.headerSize, 2);
    buffer[PassThroughLayout::kCdbLengthAt] = static_cast<std::uint8_t>(command.cdb.size());
    buffer[PassThroughLayout::kSenseInfoLengthAt] = static_cast<std::uint8_t>(kSenseLength);
    buffer[PassThroughLayout::kDataInAt] = PassThroughDataInCode(command.direction);
    PutLittleEndian(buffer, PassThroughLayout::kDataTransferLengthAt, length, 4);
    PutLittleEndian(buffer, PassThroughLayout::kTimeOutValueAt, command.timeoutSeconds, 4);
    PutLittleEndian(buffer, layout.dataBufferOffsetAt, layout.dataAt(),
                    layout.dataBufferOffsetWidth);
    PutLittleEndian(buffer, layout.senseInfoOffsetAt, layout.senseAt(), 4);
    std::copy(command.cdb.begin(), command.cdb.end(), buffer.begin() + layout.cdbAt);
    if (command.direction == DataDirection::kOut) {
        std::copy(command.data.begin(), command.data.end(), buffer.begin() + layout.dataAt());
    }
    return buffer;
}

PassThroughReply ParsePassThroughBuffer(const PassThroughLayout& layout,
                                        std::span<const std::uint8_t> buffer,
                                        std::span<std::uint8_t> dataIn) {
    PassThroughReply reply;
    if (buffer.size() > PassThroughLayout::kScsiStatusAt) {
        reply.scsiStatus = buffer[PassThroughLayout::kScsiStatusAt];
    }
    if (buffer.size() > layout.senseAt()) {
        const std::size_t senseBytes = std::min(kSenseLength, buffer.size() - layout.senseAt());
        std::copy_n(buffer.begin() + layout.senseAt(), senseBytes, reply.sense);
    }

    const std::size_t dataArea =
        buffer.size() > layout.dataAt() ? buffer.size() - layout.dataAt() : 0;
    if (buffer.size() >= PassThroughLayout::kDataTransferLengthAt + 4) {
        const std::uint32_t reported =
            GetLittleEndian32(buffer, PassThroughLayout::kDataTransferLengthAt);
        reply.transferred = static_cast<std::uint32_t>(std::min<std::size_t>(reported, dataArea));
    }

    const std::size_t copied = std::min(dataIn.size(), dataArea);
    if (copied > 0) {
        std::copy_n(buffer.begin() + layout.dataAt(), copied, dataIn.begin());
    }
    std::fill(dataIn.begin() + copied, dataIn.end(), std::uint8_t{0});
    return reply;
}

}  // namespace kvx
