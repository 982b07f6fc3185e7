#include "transport/dispatcher.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/scripted_host.h"
#include "transport/wrapping.h"

namespace kvx {
namespace {

using test::CheckCondition;
using test::Good;
using test::SentCommand;

constexpr HostHandle kDrive = 0x77;

class DispatcherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        state_.osType = kOsNt5OrLater;
        state_.drive = kDrive;
    }
    CommandOutcome Send(const std::uint8_t* cdb, std::uint8_t length, std::uint8_t* data,
                        std::uint32_t dataLength, std::uint8_t direction) {
        return SendCdb(state_, StateTarget(state_), cdb, length, data, dataLength, direction);
    }

    test::ScriptedHost host_;
    ScopedHostOverride use_{host_};
    DeviceState state_;
};

TEST_F(DispatcherTest, AtapiRewriteWidensShortTransfersAndReturnsExactlyWhatWasAskedFor) {
    state_.atapiRewrite = kAtapiRewriteOn;
    host_.device = [](const SentCommand&, std::span<std::uint8_t> data) {
        for (std::size_t i = 0; i < data.size(); ++i) {
            data[i] = static_cast<std::uint8_t>(0xA0 + i);
        }
        return Good(static_cast<std::uint32_t>(data.size()));
    };
    const std::uint8_t cdb[16] = {0x20, 0x80, 0, 0, 0, 0, 0, 0, 0, 0};
    std::uint8_t callerCdb[16];
    std::memcpy(callerCdb, cdb, sizeof cdb);
    std::uint8_t data[8];
    std::memset(data, 0xEE, sizeof data);

    const CommandOutcome outcome = Send(callerCdb, 10, data, 4, kDirIn);
    ASSERT_TRUE(outcome);
    // The device moved six bytes; the caller asked for and got four.
    EXPECT_EQ(outcome.delivered, 4u);
    ASSERT_EQ(host_.sent.size(), 1u);
    const SentCommand& out = host_.sent[0];
    EXPECT_EQ(out.cdb, (std::vector<std::uint8_t>{0x21, 0x00, 0, 0, 0, 0, 0, 0, 0, 0x80}));
    EXPECT_EQ(out.transferLength, 6u);
    EXPECT_EQ(out.direction, DataDirection::kIn);
    EXPECT_EQ(std::vector<std::uint8_t>(data, data + 8),
              (std::vector<std::uint8_t>{0xA0, 0xA1, 0xA2, 0xA3, 0xEE, 0xEE, 0xEE, 0xEE}));
    // The caller's CDB is left as it was.
    EXPECT_EQ(0, std::memcmp(callerCdb, cdb, sizeof cdb));
}

TEST_F(DispatcherTest, AtapiRewriteLeavesStandardCommandsAlone) {
    state_.atapiRewrite = kAtapiRewriteOn;
    const std::uint8_t inquiry[16] = {0x12, 0, 0, 0, 36, 0};
    std::uint8_t data[36];
    ASSERT_TRUE(Send(inquiry, 10, data, sizeof data, kDirIn));
    EXPECT_EQ(host_.sent[0].cdb[0], 0x12);
    EXPECT_EQ(host_.sent[0].transferLength, 36u);
}

TEST_F(DispatcherTest, SenseKeyDecidesFailureNotTheWholeByte) {
    const struct {
        ScsiOutcome outcome;
        bool ok;
    } cases[] = {
        {Good(36), true},
        {CheckCondition(0x00), true},   // NO SENSE
        {CheckCondition(0x01), true},   // RECOVERED ERROR
        {CheckCondition(0x20), true},   // NO SENSE with ILI
        {CheckCondition(0x02), false},  // NOT READY
        {CheckCondition(0x05), false},  // ILLEGAL REQUEST
        {CheckCondition(0x25), false},  // ILLEGAL REQUEST with ILI
        {CheckCondition(0x22), false},  // NOT READY with ILI
        {CheckCondition(0x03), false},  // MEDIUM ERROR
        {CheckCondition(0x04), false},  // HARDWARE ERROR
        {[] {
             ScsiOutcome busy = Good(0);
             busy.scsiStatus = 0x08;
             return busy;
         }(),
         false},
        {ScsiOutcome{}, false},  // not sent
    };
    const std::uint8_t cdb[16] = {0x12, 0, 0, 0, 36, 0};
    for (const auto& c : cases) {
        host_.device = [&](const SentCommand&, std::span<std::uint8_t>) { return c.outcome; };
        std::uint8_t data[36];
        const CommandOutcome got = Send(cdb, 10, data, sizeof data, kDirIn);
        EXPECT_EQ(got.accepted, c.ok)
            << "status " << int(c.outcome.scsiStatus) << " sense " << int(c.outcome.sense[2]);
        // The device's own answer comes back with the verdict.
        EXPECT_EQ(got.answer.sent, c.outcome.sent);
        EXPECT_EQ(got.answer.scsiStatus, c.outcome.scsiStatus);
        EXPECT_EQ(got.answer.sense[2], c.outcome.sense[2]);
    }
}

TEST_F(DispatcherTest, UnitAttentionIsAnsweredByOneRepeat) {
    for (const bool secondOk : {true, false}) {
        host_.sent.clear();
        host_.device = [&](const SentCommand&, std::span<std::uint8_t> data) {
            if (host_.sent.size() == 1) {
                return CheckCondition(0x06);
            }
            if (!secondOk) {
                return CheckCondition(0x06);
            }
            data[0] = 0x42;
            return Good(static_cast<std::uint32_t>(data.size()));
        };
        const std::uint8_t cdb[16] = {0x12, 0, 0, 0, 36, 0};
        std::uint8_t data[36];
        const CommandOutcome got = Send(cdb, 10, data, sizeof data, kDirIn);
        EXPECT_EQ(got.accepted, secondOk);
        EXPECT_EQ(got.delivered, secondOk ? sizeof data : 0u);
        EXPECT_EQ(host_.sent.size(), 2u);
        EXPECT_EQ(data[0], secondOk ? 0x42 : 0x00);
    }
}

TEST_F(DispatcherTest, DataComesBackEvenFromAFailedCommandAndShortTransfersLeaveZeros) {
    host_.device = [](const SentCommand&, std::span<std::uint8_t> data) {
        std::memset(data.data(), 0x5A, 10);
        ScsiOutcome outcome = CheckCondition(0x05);
        outcome.transferred = 10;
        return outcome;
    };
    std::uint8_t data[512];
    std::memset(data, 0xEE, sizeof data);
    const std::uint8_t cdb[16] = {0x20, 0xCF, 0, 0, 0, 0, 1, 0, 1, 0};
    const CommandOutcome got = Send(cdb, 10, data, sizeof data, kDirIn);
    EXPECT_FALSE(got);
    EXPECT_TRUE(got.answer.sent);
    EXPECT_EQ(got.answer.scsiStatus, 0x02);
    EXPECT_EQ(got.delivered, 10u);
    EXPECT_EQ(data[0], 0x5A);
    EXPECT_EQ(data[9], 0x5A);
    EXPECT_EQ(data[10], 0x00);
    EXPECT_EQ(data[511], 0x00);
}

TEST_F(DispatcherTest, DataOutCarriesTheCallersBytes) {
    std::uint8_t sector[512];
    for (std::size_t i = 0; i < sizeof sector; ++i) {
        sector[i] = static_cast<std::uint8_t>(i * 7);
    }
    const std::uint8_t cdb[16] = {0x20, 0xCF, 0, 0, 0, 0, 0, 0, 1, 0};
    ASSERT_TRUE(Send(cdb, 10, sector, sizeof sector, kDirOut));
    EXPECT_EQ(host_.sent[0].direction, DataDirection::kOut);
    EXPECT_EQ(host_.sent[0].dataOut, std::vector<std::uint8_t>(sector, sector + 512));
}

TEST_F(DispatcherTest, NothingIsSentWithoutATransport) {
    const std::uint8_t cdb[16] = {0x12, 0, 0, 0, 36, 0};
    std::uint8_t data[36];
    for (const OsTypeCode osType :
         {kOsUnknown, kOsWin95, kOsWin95Later, kOsWin98, kOsWinMe, kOsNt4}) {
        state_.osType = osType;
        const CommandOutcome got = Send(cdb, 10, data, sizeof data, kDirIn);
        EXPECT_FALSE(got) << int(osType);
        EXPECT_FALSE(got.answer.sent) << int(osType);
    }
    state_.osType = kOsNt5OrLater;
    state_.drive = kInvalidHandle;
    const CommandOutcome got = Send(cdb, 10, data, sizeof data, kDirIn);
    EXPECT_FALSE(got);
    EXPECT_FALSE(got.answer.sent);
    EXPECT_EQ(got.answer.osError, kErrorInvalidHandle);
    EXPECT_TRUE(host_.sent.empty());
}

TEST_F(DispatcherTest, RefusesMalformedCalls) {
    const std::uint8_t cdb[16] = {0x12};
    std::uint8_t data[4];
    EXPECT_FALSE(Send(cdb, 0, data, 4, kDirIn));
    EXPECT_FALSE(Send(cdb, 17, data, 4, kDirIn));
    EXPECT_FALSE(Send(nullptr, 10, data, 4, kDirIn));
    EXPECT_FALSE(Send(cdb, 10, nullptr, 4, kDirIn));
    EXPECT_FALSE(Send(cdb, 10, data, 4, 3));  // no such direction
    EXPECT_EQ(Send(cdb, 10, data, 4, 3).answer.osError, kErrorInvalidParameter);
    EXPECT_FALSE(Send(cdb, 0, data, 4, kDirIn).answer.sent);
    EXPECT_TRUE(host_.sent.empty());
}

TEST_F(DispatcherTest, DirectionCodesMapToThePassThroughDirections) {
    const struct {
        std::uint8_t code;
        DataDirection direction;
    } cases[] = {{8, DataDirection::kIn},
                 {1, DataDirection::kIn},
                 {16, DataDirection::kOut},
                 {0, DataDirection::kNone},
                 {2, DataDirection::kNone}};
    for (const auto& c : cases) {
        host_.sent.clear();
        const std::uint8_t cdb[16] = {0x00};
        std::uint8_t data[4] = {};
        ASSERT_TRUE(Send(cdb, 6, data, c.direction == DataDirection::kNone ? 0 : 4, c.code));
        EXPECT_EQ(host_.sent[0].direction, c.direction) << int(c.code);
    }
}

}  // namespace
}  // namespace kvx
