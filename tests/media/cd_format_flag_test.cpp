// The CD format flag: byte 9 of the data block becomes 0xFC, and with the write-password flag a
// fresh password digest, hint and identifier digest go into the block, written once where it was.
#include <gtest/gtest.h>

#include <string>

#include "sim/bridge/block_region.h"
#include "tests/media/media_test_util.h"

namespace kvx::test {
namespace {

std::vector<std::uint8_t> BlockOf(const DeviceFixture& fx) {
    const auto region = fx.Region();
    return {region.Block().begin(), region.Block().end()};
}

std::size_t RegionWrites(const DeviceFixture& fx, std::size_t from) {
    std::size_t n = 0;
    for (const auto& e : fx.Log(from)) {
        const auto s = AsSectorCommand(e);
        n += s && s->write ? 1 : 0;
    }
    return n;
}

TEST(CdFormatFlag, WithoutPasswordOnlyByteNineChanges) {
    for (const bool empty : {false, true}) {
        DeviceFixture fx(SecureLayout(sim::Media::kHdd, 40, true));
        const auto before = BlockOf(fx);
        const std::size_t log = fx.LogSize();
        QdaRequest r = fx.Request();
        r.writePasswordFlag = empty ? 1 : 0;  // an empty password counts as none
        SetHint(r, u"ignored");
        ASSERT_EQ(QDAWriteCDFormatFlag(&r), 1) << int(r.errorCode);
        auto after = BlockOf(fx);
        EXPECT_EQ(after[9], 0xFC);
        after[9] = before[9];
        EXPECT_EQ(after, before);
        EXPECT_EQ(RegionWrites(fx, log), 1u);  // once, never zeroed first
    }
}

TEST(CdFormatFlag, StoresAPasswordTheDeviceThenAccepts) {
    for (const sim::Media media : {sim::Media::kHdd, sim::Media::kFlash}) {
        SCOPED_TRACE(media == sim::Media::kHdd ? "hdd" : "flash");
        DeviceFixture fx(SecureLayout(media, 40, false));
        const auto before = BlockOf(fx);
        QdaRequest r = fx.Request();
        r.writePasswordFlag = 1;
        SetPassword(r, u"Flag-Pw42");
        SetHint(r, std::u16string(150, u'h'));
        ASSERT_EQ(QDAWriteCDFormatFlag(&r), 1) << int(r.errorCode);
        const auto after = BlockOf(fx);
        EXPECT_EQ(after[9], 0xFC);
        EXPECT_EQ(after[34], 0xB6);
        EXPECT_EQ(after[35], 0xC3);
        EXPECT_EQ(after[106], 150);
        EXPECT_NE(std::vector<std::uint8_t>(after.begin() + 36, after.begin() + 68),
                  std::vector<std::uint8_t>(before.begin() + 36, before.begin() + 68));
        if (media == sim::Media::kFlash) {
            // The identifier area keeps its values on flash.
            EXPECT_EQ(std::vector<std::uint8_t>(after.begin() + 68, after.begin() + 102),
                      std::vector<std::uint8_t>(before.begin() + 68, before.begin() + 102));
        }
        // The emulated device checks the new password against the block.
        fx.Replug();
        QdaRequest login = fx.Request();
        SetPassword(login, u"Flag-Pw42");
        EXPECT_EQ(QDASHA2Auth(&login), 1) << int(login.errorCode);
        QdaRequest hint = fx.Request();
        hint.changeOp = 2;
        ASSERT_EQ(QDAChangePassWord(&hint), 1) << int(hint.errorCode);
        EXPECT_EQ(HintOf(hint), std::u16string(150, u'h'));
    }
}

TEST(CdFormatFlag, MissingBlockFailsWith32AndAFailedRewriteWith27) {
    {
        DeviceSpec spec = SecureLayout(sim::Media::kFlash, 40, false);
        spec.password.reset();
        DeviceFixture fx(spec);
        QdaRequest r = fx.Request();
        EXPECT_EQ(QDAWriteCDFormatFlag(&r), 0);
        EXPECT_EQ(r.errorCode, 32);
    }
    {
        DeviceFixture fx(SecureLayout(sim::Media::kFlash, 40, false));
        const auto before = BlockOf(fx);
        fx.Update([](sim::BridgeState& s) {
            sim::Fault f;
            f.match = "write";
            f.count = 4;
            s.faults.push_back(f);
        });
        QdaRequest r = fx.Request();
        EXPECT_EQ(QDAWriteCDFormatFlag(&r), 0);
        EXPECT_EQ(r.errorCode, 27);
        EXPECT_EQ(BlockOf(fx), before);  // the block was never zeroed
    }
}

}  // namespace
}  // namespace kvx::test
