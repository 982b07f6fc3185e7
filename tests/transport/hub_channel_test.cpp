#include "transport/hub_channel.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/scripted_host.h"
#include "transport/dispatcher.h"
#include "transport/wrapping.h"

namespace kvx {
namespace {

std::uint16_t Le16(const std::vector<std::uint8_t>& r, std::size_t at) {
    return static_cast<std::uint16_t>(r[at] | (r[at + 1] << 8));
}

TEST(HubRequest, HeaderIsTheDescriptorRequestLayout) {
    const auto r = BuildHubRequest(HubPiece::kFirstCdb, 0x01020304, 0xBBAA, 0xDDCC);
    ASSERT_EQ(r.size(), 171u);
    EXPECT_EQ(
        std::vector<std::uint8_t>(r.begin(), r.begin() + 12),
        (std::vector<std::uint8_t>{0x04, 0x03, 0x02, 0x01, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD, 159, 0}));
    EXPECT_TRUE(std::all_of(r.begin() + 12, r.end(), [](std::uint8_t b) { return b == 0; }));
    const struct {
        HubPiece piece;
        std::size_t size;
    } sizes[] = {{HubPiece::kFirstCdb, 171},
                 {HubPiece::kMoreCdb, 155},
                 {HubPiece::kDataOut, 155},
                 {HubPiece::kDataIn, 219},
                 {HubPiece::kFinal, 187}};
    for (const auto& s : sizes) {
        const auto request = BuildHubRequest(s.piece, 1, 0, 0);
        EXPECT_EQ(request.size(), s.size);
        EXPECT_EQ(Le16(request, 10), s.size - 12);
    }
}

TEST(HubRequest, CountsPiecesPerDirection) {
    constexpr DataDirection kIn = DataDirection::kIn;
    constexpr DataDirection kOut = DataDirection::kOut;
    constexpr DataDirection kNone = DataDirection::kNone;
    const struct {
        std::uint32_t length;
        DataDirection direction;
        std::size_t count;
    } cases[] = {{0, kNone, 5}, {0, kIn, 6},    {1, kIn, 6},   {64, kIn, 6}, {65, kIn, 7},
                 {100, kIn, 7}, {512, kIn, 13}, {0, kOut, 6},  {3, kOut, 6}, {4, kOut, 6},
                 {5, kOut, 7},  {32, kOut, 13}, {16, kNone, 5}};
    for (const auto& c : cases) {
        EXPECT_EQ(HubRequestCount(c.length, c.direction), c.count)
            << c.length << " dir " << int(c.direction);
    }
}

TEST(HubRequest, SequenceCarriesCdbAndDataOutInWords) {
    std::uint8_t cdb[16];
    for (int i = 0; i < 16; ++i) {
        cdb[i] = static_cast<std::uint8_t>(0x10 + i);
    }
    const std::uint8_t out[6] = {1, 2, 3, 4, 5, 6};
    const auto seq =
        BuildHubSequence(std::span<const std::uint8_t, 16>(cdb), out, 6, DataDirection::kOut, 3);
    ASSERT_EQ(seq.size(), 7u);
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(Le16(seq[k], 6), cdb[4 * k] | (cdb[4 * k + 1] << 8)) << k;
        EXPECT_EQ(Le16(seq[k], 8), cdb[4 * k + 2] | (cdb[4 * k + 3] << 8)) << k;
        EXPECT_EQ(seq[k][0], 3);
    }
    EXPECT_EQ(Le16(seq[4], 6), 0x0201);
    EXPECT_EQ(Le16(seq[4], 8), 0x0403);
    EXPECT_EQ(Le16(seq[5], 6), 0x0605);
    EXPECT_EQ(Le16(seq[5], 8), 0x0000);  // past the data: zero
    EXPECT_EQ(seq[6].size(), 187u);
}

class HubModeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        state_.osType = kOsNt5OrLater;
        state_.hubMode = kHubModeOn;
        record_.port = 2;
        std::strcpy(record_.hubDevicePath,
                    "\\\\.\\USB#ROOT_HUB20#4&1b2c3d&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}");
        state_.current = &record_;
    }

    test::ScriptedHost host_;
    ScopedHostOverride use_{host_};
    DeviceState state_;
    UsbDeviceRecord record_;
};

// A device end that answers data-in pieces with a counting pattern and the final one with `status`.
std::function<std::optional<std::size_t>(std::span<std::uint8_t>)> Device(std::uint8_t status,
                                                                          int* dataPieces) {
    return [status, dataPieces](std::span<std::uint8_t> buffer) -> std::optional<std::size_t> {
        if (buffer.size() == 219) {
            for (std::size_t i = 12; i < buffer.size(); ++i) {
                buffer[i] = static_cast<std::uint8_t>(*dataPieces * 64 + (i - 12));
            }
            ++*dataPieces;
        } else if (buffer.size() == 187) {
            buffer[12] = 0;
            buffer[13] = status;
        }
        return buffer.size();
    };
}

TEST_F(HubModeTest, DataInOfHundredBytesTakesSevenRequestsAndStoresExactlyHundred) {
    int pieces = 0;
    host_.hub = Device(0, &pieces);
    const std::uint8_t cdb[16] = {0x12, 0, 0, 0, 100, 0};
    std::uint8_t data[128];
    std::memset(data, 0xEE, sizeof data);
    const CommandOutcome outcome = SendCdb(state_, StateTarget(state_), cdb, 10, data, 100, kDirIn);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome.delivered, 100u);
    ASSERT_EQ(host_.hubRequests.size(), 7u);
    const std::size_t sizes[] = {171, 155, 155, 155, 219, 219, 187};
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(host_.hubRequests[i].size(), sizes[i]) << i;
    }
    EXPECT_EQ(Le16(host_.hubRequests[0], 6), 0x0012);
    EXPECT_EQ(Le16(host_.hubRequests[1], 6), 100);  // CDB bytes 4-5
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(data[i], static_cast<std::uint8_t>(i)) << i;
    }
    EXPECT_EQ(data[100], 0xEE);
    EXPECT_EQ(host_.opened.back(),
              u"\\\\.\\USB#ROOT_HUB20#4&1b2c3d&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}");
    EXPECT_TRUE(host_.sent.empty());
}

TEST_F(HubModeTest, FinalStatusOneFailsWithAndWithoutData) {
    int pieces = 0;
    host_.hub = Device(1, &pieces);
    const std::uint8_t tur[16] = {0x00};
    EXPECT_FALSE(SendCdb(state_, StateTarget(state_), tur, 6, nullptr, 0, kDirNone));
    EXPECT_EQ(host_.hubRequests.size(), 5u);
    std::uint8_t data[36];
    const std::uint8_t inquiry[16] = {0x12, 0, 0, 0, 36, 0};
    const CommandOutcome refused =
        SendCdb(state_, StateTarget(state_), inquiry, 10, data, sizeof data, kDirIn);
    EXPECT_FALSE(refused);
    // The device answered, and said no: nothing counts as delivered.
    EXPECT_TRUE(refused.answer.sent);
    EXPECT_EQ(refused.delivered, 0u);
}

TEST_F(HubModeTest, VendorCommandsAreNeverWrappedOrRewritten) {
    int pieces = 0;
    host_.hub = Device(0, &pieces);
    state_.wrapMode = kWrapAes;
    state_.atapiRewrite = kAtapiRewriteOn;
    const std::uint8_t caps[16] = {0x20, 0x80};
    std::uint8_t data[4];
    ASSERT_TRUE(SendCdb(state_, StateTarget(state_), caps, 10, data, sizeof data, kDirIn));
    EXPECT_EQ(host_.hubRequests.size(), 6u);
    EXPECT_EQ(Le16(host_.hubRequests[0], 6), 0x8020);
    EXPECT_EQ(state_.wrapCounter, 0);
}

TEST_F(HubModeTest, FailedExchangeIsRestartedAtMostTwice) {
    int calls = 0;
    host_.hub = [&](std::span<std::uint8_t>) -> std::optional<std::size_t> {
        ++calls;
        return std::nullopt;
    };
    const std::uint8_t tur[16] = {0x00};
    const CommandOutcome refused =
        SendCdb(state_, StateTarget(state_), tur, 6, nullptr, 0, kDirNone);
    EXPECT_FALSE(refused);
    EXPECT_FALSE(refused.answer.sent);
    EXPECT_EQ(calls, 3);

    // One failure in the middle: the exchange starts again from the first CDB piece and succeeds.
    host_.hubRequests.clear();
    int count = 0;
    host_.hub = [&](std::span<std::uint8_t> b) -> std::optional<std::size_t> {
        if (++count == 3) {
            return std::nullopt;
        }
        if (b.size() == 187) {
            b[13] = 0;
        }
        return b.size();
    };
    EXPECT_TRUE(SendCdb(state_, StateTarget(state_), tur, 6, nullptr, 0, kDirNone));
    EXPECT_EQ(host_.hubRequests.size(), 3u + 5u);
    EXPECT_EQ(host_.hubRequests[3].size(), 171u);
}

TEST_F(HubModeTest, ShortAnswersFailCleanly) {
    for (const std::size_t returned :
         {std::size_t{0}, std::size_t{5}, std::size_t{12}, std::size_t{13}}) {
        host_.hub = [&](std::span<std::uint8_t>) -> std::optional<std::size_t> { return returned; };
        std::uint8_t data[100];
        const std::uint8_t inquiry[16] = {0x12, 0, 0, 0, 100, 0};
        EXPECT_FALSE(SendCdb(state_, StateTarget(state_), inquiry, 10, data, sizeof data, kDirIn))
            << returned;
    }
    // A count larger than the buffer is refused too.
    host_.hub = [&](std::span<std::uint8_t> b) -> std::optional<std::size_t> {
        return b.size() + 100;
    };
    const std::uint8_t tur[16] = {0x00};
    EXPECT_FALSE(SendCdb(state_, StateTarget(state_), tur, 6, nullptr, 0, kDirNone));
}

TEST_F(HubModeTest, NoCurrentRecordSendsNothing) {
    state_.current = nullptr;
    const std::uint8_t tur[16] = {0x00};
    EXPECT_FALSE(SendCdb(state_, StateTarget(state_), tur, 6, nullptr, 0, kDirNone));
    EXPECT_TRUE(host_.hubRequests.empty());
}

}  // namespace
}  // namespace kvx
