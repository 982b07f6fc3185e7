// What the format writes to the diagnostic log when the caller asks for one, and that a failed
// drive check writes nothing to the device.
#include <gtest/gtest.h>

#include <string>

#include "tests/media/media_test_util.h"

namespace kvx::test {
namespace {

TEST(FormatLog, StepsOfBothWritersAndTheEngine) {
    struct Case {
        sim::Media media;
        bool aes;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {sim::Media::kHdd,
         true,
         {"[QDAFormatHDD()]", "Volume Label for Secure Drive=KVX Secure", "AES Command Enable=PASS",
          "SET IV using PASSTHRU_AES_SET_IV=PASS", "CallingQDAFormatHDD()=PASS",
          "CallingOnWriteFAT32HDDSecFS()=PASS", "[QDAFormatHDD]", "Sec AES Command Enable=PASS",
          "[OnWriteFAT32HDDSecFS()]", "DRVHANDLE present=PASS",
          "No.of Sectors for Secure Partition=0x13ffc8", "Writing MBR of Filesystem Data=PASSED",
          "Writing DBR1 of Filesystem Data=PASSED",
          "Writing FileSystem Data to Secure Partition=Completed Successfully"}},
        {sim::Media::kFlash,
         false,
         {"CallingOnWriteFAT16FlashSecFS()=PASS", "[OnWriteFAT16FlashSecFS()]",
          "No.of Sectors for Secure Partition=0x13fff6",
          "Writing FAT 16 FileSystem Data to Secure Partition=Completed Successfully"}},
    };
    for (const Case& c : cases) {
        DeviceFixture fx(SecureLayout(c.media, 640, c.aes));
        QdaRequest r = fx.LoggedRequest();
        r.passwordSupported = 1;
        r.secureSizeMb = 640;
        r.changeOp = 3;
        ASSERT_EQ(QDAFormatHDD(&r), 1) << int(r.errorCode);
        const std::string log = fx.LogText();
        for (const std::string& line : c.lines) {
            EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
        }
        if (!c.aes) {
            EXPECT_EQ(log.find("AES Command Enable"), std::string::npos);
        }
    }
}

TEST(FormatLog, FailedDriveCheckWritesNothing) {
    DeviceFixture fx(SecureLayout(sim::Media::kHdd, 40, true));
    const std::size_t before = fx.LogSize();
    QdaRequest r = fx.Request();
    r.driveLetter = 'C';  // the machine's own disk
    r.secureSizeMb = 40;
    EXPECT_EQ(QDAFormatHDD(&r), 0);
    EXPECT_NE(r.errorCode, 0);
    for (const auto& e : fx.Log(before)) {
        const auto s = AsSectorCommand(e);
        EXPECT_FALSE(s && s->write);
    }
}

}  // namespace
}  // namespace kvx::test
