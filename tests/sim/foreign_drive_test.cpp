// The machine's own drives answer a probing program's INQUIRY and TEST UNIT READY, nothing else.
#include "sim/host/foreign_drive.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/bridge/sense.h"

namespace kvx::test {
namespace {

constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kRead10 = 0x28;
constexpr std::uint8_t kFill = 0xEE;

struct Case {
    const char* what;
    DriveType type;
    std::vector<std::uint8_t> cdb;
    DataDirection direction;
    std::size_t length;
    bool good;
    std::uint32_t transferred;
};

TEST(ForeignDrive, AnswersInquiryAndTestUnitReadyOnly) {
    const Case cases[] = {
        {"inquiry of the DVD drive",
         kDriveCdRom,
         {kInquiry, 0, 0, 0, 36, 0},
         DataDirection::kIn,
         36,
         true,
         36},
        {"inquiry into a large buffer",
         kDriveFixed,
         {kInquiry, 0, 0, 0, 96, 0},
         DataDirection::kIn,
         96,
         true,
         36},
        {"inquiry into a short buffer",
         kDriveFixed,
         {kInquiry, 0, 0, 0, 5, 0},
         DataDirection::kIn,
         5,
         true,
         5},
        {"inquiry without a data phase",
         kDriveFixed,
         {kInquiry, 0, 0, 0, 36, 0},
         DataDirection::kNone,
         0,
         false,
         0},
        {"test unit ready",
         kDriveCdRom,
         {kTestUnitReady, 0, 0, 0, 0, 0},
         DataDirection::kNone,
         0,
         true,
         0},
        {"a read",
         kDriveFixed,
         {kRead10, 0, 0, 0, 0, 0, 0, 0, 1, 0},
         DataDirection::kIn,
         512,
         false,
         0},
        {"an empty CDB", kDriveFixed, {}, DataDirection::kNone, 0, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> data(c.length, kFill);
        ScsiCommand command;
        command.cdb = c.cdb;
        command.data = data;
        command.direction = c.direction;
        const ScsiOutcome outcome = sim::ForeignDriveCommand(c.type, command);
        EXPECT_TRUE(outcome.sent);
        EXPECT_EQ(outcome.transferred, c.transferred);
        if (c.good) {
            EXPECT_EQ(outcome.scsiStatus, sim::kStatusGood);
        } else {
            EXPECT_EQ(outcome.scsiStatus, sim::kStatusCheckCondition);
            EXPECT_EQ(outcome.sense[2], sim::kInvalidOpcode.key);
            EXPECT_EQ(outcome.sense[12], sim::kInvalidOpcode.asc);
        }
        // Nothing past what was transferred is touched.
        for (std::size_t i = c.transferred; i < data.size(); ++i) {
            ASSERT_EQ(data[i], kFill) << i;
        }
    }
}

TEST(ForeignDrive, InquiryDataNamesTheKindOfDrive) {
    for (const DriveType type : {kDriveCdRom, kDriveFixed}) {
        const bool cd = type == kDriveCdRom;
        SCOPED_TRACE(cd ? "DVD drive" : "system disk");
        std::vector<std::uint8_t> data(36);
        const std::vector<std::uint8_t> cdb = {kInquiry, 0, 0, 0, 36, 0};
        ScsiCommand command;
        command.cdb = cdb;
        command.data = data;
        command.direction = DataDirection::kIn;
        ASSERT_EQ(sim::ForeignDriveCommand(type, command).transferred, 36u);
        EXPECT_EQ(data[0], cd ? 0x05 : 0x00);  // peripheral device type
        EXPECT_EQ(data[1], cd ? 0x80 : 0x00);  // removable medium
        EXPECT_EQ(data[4], 31);                // additional length
        const std::string text(data.begin() + 8, data.end());
        EXPECT_EQ(text.substr(8, 3), cd ? "DVD" : "SYS");
        EXPECT_EQ(sim::ForeignDriveBus(type), cd ? kBusAtapi : kBusAta);
    }
}

}  // namespace
}  // namespace kvx::test
