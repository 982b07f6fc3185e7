#include "host/passthrough_buffer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace kvx {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A vendor command block and eight bytes of data to carry.
constexpr std::array<std::uint8_t, 10> kVendorCdb = {0x20, 0x11, 0x22, 0x33, 0x44,
                                                     0x55, 0x66, 0x77, 0x88, 0x99};
constexpr std::array<std::uint8_t, 8> kPayload = {0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7};

ScsiCommand Command(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> data,
                    DataDirection direction, std::uint32_t timeout = 20) {
    ScsiCommand command;
    command.cdb = cdb;
    command.data = data;
    command.direction = direction;
    command.timeoutSeconds = timeout;
    return command;
}

Bytes Append(Bytes bytes, std::span<const std::uint8_t> more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
}

// The 44-byte header, 18 sense bytes and the data of a 32-bit process, written out field by field.
TEST(PassThroughBuffer, Layout32DataOutByteForByte) {
    Bytes data(kPayload.begin(), kPayload.end());
    const auto buffer = BuildPassThroughBuffer(kPassThroughLayout32,
                                               Command(kVendorCdb, data, DataDirection::kOut));
    ASSERT_TRUE(buffer.has_value());

    const Bytes header = {
        44,   0,              // Length
        0,                    // ScsiStatus
        0,    0,    0,        // PathId, TargetId, Lun
        10,                   // CdbLength
        18,                   // SenseInfoLength
        0,                    // DataIn: data out
        0,    0,    0,        // alignment
        8,    0,    0,    0,  // DataTransferLength
        20,   0,    0,    0,  // TimeOutValue
        62,   0,    0,    0,  // DataBufferOffset
        44,   0,    0,    0,  // SenseInfoOffset
        0x20, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0, 0, 0, 0, 0, 0,  // Cdb
    };
    ASSERT_EQ(header.size(), 44u);
    const Bytes expected = Append(Append(header, Bytes(18, 0)), kPayload);
    EXPECT_EQ(Bytes(buffer->begin(), buffer->end()), expected);
    EXPECT_EQ(buffer->size(), 44u + 18u + 8u);
}

// The 56-byte header of a 64-bit process: the pointer-sized DataBufferOffset moves to 24 and
// pushes SenseInfoOffset and Cdb along; the sense follows at 56, the data at 74.
TEST(PassThroughBuffer, Layout64DataOutByteForByte) {
    Bytes data(kPayload.begin(), kPayload.end());
    const auto buffer = BuildPassThroughBuffer(kPassThroughLayout64,
                                               Command(kVendorCdb, data, DataDirection::kOut));
    ASSERT_TRUE(buffer.has_value());

    const Bytes header = {
        56,   0,                                      // Length
        0,                                            // ScsiStatus
        0,    0,    0,                                // PathId, TargetId, Lun
        10,                                           // CdbLength
        18,                                           // SenseInfoLength
        0,                                            // DataIn: data out
        0,    0,    0,                                // alignment
        8,    0,    0,    0,                          // DataTransferLength
        20,   0,    0,    0,                          // TimeOutValue
        0,    0,    0,    0,                          // alignment of the pointer-sized field
        74,   0,    0,    0,    0,    0,    0,    0,  // DataBufferOffset
        56,   0,    0,    0,                          // SenseInfoOffset
        0x20, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0, 0, 0, 0, 0, 0,  // Cdb
        0,    0,    0,    0,  // tail padding
    };
    ASSERT_EQ(header.size(), 56u);
    const Bytes expected = Append(Append(header, Bytes(18, 0)), kPayload);
    EXPECT_EQ(Bytes(buffer->begin(), buffer->end()), expected);
}

struct DirectionCase {
    DataDirection direction;
    std::uint8_t dataInCode;
    std::uint32_t transferLength;
};

class PassThroughDirection : public ::testing::TestWithParam<DirectionCase> {};

// Whatever the caller's buffer holds, only data out is copied in; without a data phase the
// request moves nothing even when a buffer is given.
TEST_P(PassThroughDirection, CodeLengthAndDataArea) {
    const DirectionCase& param = GetParam();
    for (const PassThroughLayout* layout : {&kPassThroughLayout32, &kPassThroughLayout64}) {
        Bytes data(kPayload.begin(), kPayload.end());
        const auto buffer =
            BuildPassThroughBuffer(*layout, Command(kVendorCdb, data, param.direction));
        ASSERT_TRUE(buffer.has_value());
        const Bytes b(buffer->begin(), buffer->end());
        ASSERT_EQ(b.size(), layout->dataAt() + param.transferLength);
        EXPECT_EQ(b[8], param.dataInCode);
        EXPECT_EQ(b[12], param.transferLength);
        EXPECT_EQ(b[13] | b[14] | b[15], 0);
        const Bytes area(b.begin() + static_cast<std::ptrdiff_t>(layout->dataAt()), b.end());
        if (param.direction == DataDirection::kOut) {
            EXPECT_EQ(area, Bytes(kPayload.begin(), kPayload.end()));
        } else {
            EXPECT_EQ(area, Bytes(param.transferLength, 0));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Directions, PassThroughDirection,
                         ::testing::Values(DirectionCase{DataDirection::kIn, 1, 8},
                                           DirectionCase{DataDirection::kOut, 0, 8},
                                           DirectionCase{DataDirection::kNone, 2, 0}));

TEST(PassThroughBuffer, CdbLengthsAndTimeOut) {
    Bytes none;
    const std::array<std::uint8_t, 17> cdb = {0x12, 1,  2,  3,  4,  5,  6,  7, 8,
                                              9,    10, 11, 12, 13, 14, 15, 16};
    const std::span<const std::uint8_t> all(cdb);

    EXPECT_FALSE(BuildPassThroughBuffer(kPassThroughLayout32,
                                        Command(all.first(0), none, DataDirection::kNone)));
    EXPECT_FALSE(
        BuildPassThroughBuffer(kPassThroughLayout32, Command(all, none, DataDirection::kNone)));

    const auto six = BuildPassThroughBuffer(kPassThroughLayout32,
                                            Command(all.first(6), none, DataDirection::kNone, 60));
    ASSERT_TRUE(six.has_value());
    EXPECT_EQ((*six)[6], 6);
    EXPECT_EQ((*six)[16], 60);
    EXPECT_EQ(Bytes(six->begin() + 28, six->begin() + 44),
              Bytes({0x12, 1, 2, 3, 4, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    const auto sixteen = BuildPassThroughBuffer(kPassThroughLayout64,
                                                Command(all.first(16), none, DataDirection::kNone));
    ASSERT_TRUE(sixteen.has_value());
    EXPECT_EQ((*sixteen)[6], 16);
    EXPECT_EQ(Bytes(sixteen->begin() + 36, sixteen->begin() + 52),
              Bytes(cdb.begin(), cdb.begin() + 16));
    EXPECT_EQ(Bytes(sixteen->begin() + 52, sixteen->end()), Bytes(4 + 18, 0));
}

// A returned block as a driver leaves it: status, sense, a short transfer and the data.
Bytes Returned(const PassThroughLayout& layout, std::uint32_t transferred, std::size_t dataLength) {
    Bytes data(dataLength, 0);
    auto buffer = BuildPassThroughBuffer(layout, Command(kVendorCdb, data, DataDirection::kIn));
    Bytes b(buffer->begin(), buffer->end());
    b[2] = 0x02;  // CHECK CONDITION
    for (std::size_t i = 0; i < kSenseLength; ++i) {
        b[layout.senseAt() + i] = static_cast<std::uint8_t>(0x70 + i);
    }
    for (std::size_t i = 0; i < 4; ++i) {
        b[12 + i] = static_cast<std::uint8_t>(transferred >> (8 * i));
    }
    for (std::size_t i = 0; i < dataLength; ++i) {
        b[layout.dataAt() + i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    return b;
}

TEST(PassThroughParse, StatusSenseTransferAndData) {
    for (const PassThroughLayout* layout : {&kPassThroughLayout32, &kPassThroughLayout64}) {
        const Bytes returned = Returned(*layout, 5, 12);
        Bytes data(12, 0xEE);
        const PassThroughReply reply = ParsePassThroughBuffer(*layout, returned, data);
        EXPECT_EQ(reply.scsiStatus, 0x02);
        for (std::size_t i = 0; i < kSenseLength; ++i) {
            EXPECT_EQ(reply.sense[i], 0x70 + i) << "sense byte " << i;
        }
        EXPECT_EQ(reply.transferred, 5u);
        for (std::size_t i = 0; i < data.size(); ++i) {
            EXPECT_EQ(data[i], 0xA0 + i) << "data byte " << i;
        }
    }
}

struct BoundCase {
    std::size_t bufferSize;  // bytes of the 32-bit block the parser is given
    std::size_t senseBytes;  // of them in the sense area
    std::uint32_t transferred;
    std::size_t dataBytes;  // of them in the data area
};

class PassThroughParseBound : public ::testing::TestWithParam<BoundCase> {};

// A block cut short anywhere never lets the parser read past it; what is missing comes back zero,
// and a transfer length larger than the data area is not believed.
TEST_P(PassThroughParseBound, ReadsOnlyWhatTheBufferHolds) {
    const BoundCase& param = GetParam();
    Bytes returned = Returned(kPassThroughLayout32, 400, 12);
    returned.resize(param.bufferSize);
    Bytes data(16, 0xEE);  // larger than the data area: its tail must come back zero
    const PassThroughReply reply = ParsePassThroughBuffer(kPassThroughLayout32, returned, data);

    EXPECT_EQ(reply.scsiStatus, param.bufferSize > 2 ? 0x02 : 0);
    for (std::size_t i = 0; i < kSenseLength; ++i) {
        EXPECT_EQ(reply.sense[i], i < param.senseBytes ? 0x70 + i : 0) << "sense byte " << i;
    }
    EXPECT_EQ(reply.transferred, param.transferred);
    for (std::size_t i = 0; i < data.size(); ++i) {
        EXPECT_EQ(data[i], i < param.dataBytes ? 0xA0 + i : 0) << "data byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, PassThroughParseBound,
                         ::testing::Values(BoundCase{0, 0, 0, 0}, BoundCase{15, 0, 0, 0},
                                           BoundCase{16, 0, 0, 0}, BoundCase{50, 6, 0, 0},
                                           BoundCase{62, 18, 0, 0}, BoundCase{65, 18, 3, 3},
                                           BoundCase{74, 18, 12, 12}));

}  // namespace
}  // namespace kvx
