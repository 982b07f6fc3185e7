// Hex text of the emulator's state and log files.
#include "sim/bridge/hex.h"

#include <gtest/gtest.h>

#include "sim/bridge/command_log.h"
#include "sim/bridge/wrap_session.h"

namespace kvx::sim {
namespace {

TEST(SimHex, BytesRoundTripInLowerCase) {
    const std::vector<std::uint8_t> bytes = {0x00, 0x0f, 0xa5, 0xff, 0x10};
    EXPECT_EQ(ToHex(bytes), "000fa5ff10");
    EXPECT_EQ(FromHex("000FA5ff10"), bytes);
    EXPECT_EQ(FromHex(""), std::vector<std::uint8_t>{});
}

TEST(SimHex, RejectsOddCountsAndOtherCharacters) {
    for (const char* text : {"0", "abc", "0g", "g0", "0x12", " 12", "12 ", "-"}) {
        EXPECT_FALSE(FromHex(text).has_value()) << text;
    }
}

TEST(SimHex, LogFieldsWriteEmptyAsDash) {
    EXPECT_EQ(HexBytes({}), "-");
    EXPECT_EQ(ParseHexBytes("-"), std::vector<std::uint8_t>{});
    EXPECT_EQ(ParseHexBytes("2a00"), (std::vector<std::uint8_t>{0x2a, 0x00}));
    EXPECT_FALSE(ParseHexBytes("2a0").has_value());
}

TEST(SimHex, SessionValuesFillExactlyTheirField) {
    std::array<std::uint8_t, 4> key{1, 2, 3, 4};
    EXPECT_TRUE(ParseSessionHex("deadBEEF", key));
    EXPECT_EQ(key, (std::array<std::uint8_t, 4>{0xde, 0xad, 0xbe, 0xef}));
    // A value of another length leaves the field as it was.
    EXPECT_FALSE(ParseSessionHex("deadbe", key));
    EXPECT_FALSE(ParseSessionHex("deadbeef00", key));
    EXPECT_EQ(SessionHex(key), "deadbeef");
}

}  // namespace
}  // namespace kvx::sim
