// The format's settled rules: sizes checked before any write, the partition never over the block
// region, a reset leaves nothing of the old partition readable, four attempts per write, and the
// AES engine programmed from the data block.
#include <gtest/gtest.h>

#include <string>

#include "sim/bridge/aes_engine.h"
#include "sim/bridge/export.h"
#include "tests/media/media_test_util.h"

namespace kvx::test {
namespace {

std::vector<SectorCommand> Writes(const DeviceFixture& fx, std::size_t from, bool goodOnly) {
    std::vector<SectorCommand> out;
    for (const auto& e : fx.Log(from)) {
        const auto s = AsSectorCommand(e);
        if (s && s->write && (!goodOnly || e.status == 0)) {
            out.push_back(*s);
        }
    }
    return out;
}

std::vector<std::uint8_t> SubCommands(const DeviceFixture& fx, std::size_t from) {
    std::vector<std::uint8_t> out;
    for (const auto& e : fx.Log(from)) {
        if (const auto env = sim::VendorEnvelope(e.cdb)) {
            out.push_back((*env)[1]);
        }
    }
    return out;
}

TEST(FormatSizes, BadSizesFailWithElevenBeforeAnyWrite) {
    struct Case {
        const char* why;
        sim::Media media;
        bool aes;
        std::uint32_t recordMb;
    };
    const Case cases[] = {
        {"zero size", sim::Media::kHdd, false, 0},
        {"FAT32 of 32 MB", sim::Media::kHdd, false, 32},
        {"past the medium", sim::Media::kHdd, true, 200},
        {"over the block region (hard disk)", sim::Media::kHdd, false, 42},
        {"over the block region (flash)", sim::Media::kFlash, false, 42},
        {"past the medium (flash)", sim::Media::kFlash, true, 60},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        // A 40 MB partition with only 64 sectors after it: the block region follows closely.
        DeviceFixture fx(SecureLayout(c.media, 40, c.aes, 2048, 64));
        const std::size_t before = fx.LogSize();
        QdaRequest used{};
        EXPECT_EQ(Format(fx, c.recordMb, 3, &used), 0);
        EXPECT_EQ(used.errorCode, 11);
        EXPECT_TRUE(Writes(fx, before, false).empty());
        // Nor was the engine touched.
        for (const std::uint8_t sub : SubCommands(fx, before)) {
            EXPECT_TRUE(sub != 0xF0 && sub != 0xF1 && sub != 0xF2 && sub != 0xF4) << int(sub);
        }
    }
}

TEST(FormatSizes, TheLargestPartitionEndsBeforeTheBlockRegion) {
    for (const sim::Media media : {sim::Media::kHdd, sim::Media::kFlash}) {
        DeviceFixture fx(SecureLayout(media, 40, false, 2048, 64));
        const std::size_t before = fx.LogSize();
        ASSERT_EQ(Format(fx, 40), 1);
        const sim::BridgeState s = fx.State();
        const std::uint64_t regionStart = s.sectors - (media == sim::Media::kHdd ? 40 : 10);
        for (const auto& w : Writes(fx, before, true)) {
            EXPECT_LE(std::uint64_t{w.lba} + w.count, regionStart);
        }
    }
}

TEST(FormatSizes, MissingDataBlockFailsWith32BeforeAnyWrite) {
    DeviceSpec spec = SecureLayout(sim::Media::kHdd, 40, true);
    spec.password.reset();
    DeviceFixture fx(spec);
    const std::size_t before = fx.LogSize();
    QdaRequest used{};
    EXPECT_EQ(Format(fx, 40, 3, &used), 0);
    EXPECT_EQ(used.errorCode, 32);
    EXPECT_TRUE(Writes(fx, before, false).empty());
}

TEST(FormatEngine, ProgrammedFromTheDataBlockInOrder) {
    for (const sim::Media media : {sim::Media::kHdd, sim::Media::kFlash}) {
        DeviceFixture fx(SecureLayout(media, 40, true));
        const std::size_t before = fx.LogSize();
        ASSERT_EQ(Format(fx, 40), 1);
        std::vector<std::uint8_t> engine;
        for (const std::uint8_t sub : SubCommands(fx, before)) {
            if (sub >= 0xF0 && sub <= 0xF4) {
                engine.push_back(sub);
            }
        }
        EXPECT_EQ(engine, (std::vector<std::uint8_t>{0xF2, 0xF2, 0xF0, 0xF4, 0xF1}));
        // The key is the data block's unlock value, last byte first.
        const auto block = fx.Region();
        const auto settings = sim::LoadEngine(fx.State());
        ASSERT_TRUE(settings.Active());
        for (std::size_t i = 0; i < 16; ++i) {
            EXPECT_EQ((*settings.key)[i], block.Block()[302 + 15 - i]);
        }
        if (media == sim::Media::kFlash) {
            // Flash: the identifier of bytes 258-269, zero-extended.
            for (std::size_t i = 0; i < 12; ++i) {
                EXPECT_EQ((*settings.iv)[i], block.Block()[258 + i]);
            }
        }
    }
}

TEST(FormatEngine, NoEngineNoAesCommands) {
    DeviceFixture fx(SecureLayout(sim::Media::kFlash, 40, false));
    const std::size_t before = fx.LogSize();
    ASSERT_EQ(Format(fx, 40), 1);
    for (const std::uint8_t sub : SubCommands(fx, before)) {
        EXPECT_TRUE(sub < 0xF0 || sub > 0xF4) << int(sub);
    }
}

TEST(FormatHubMode, RefusedWith30BeforeAnyWrite) {
    struct Case {
        const char* why;
        sim::Media media;
        bool aes;
        std::uint8_t changeOp;  // 4: a reset, which erases first on a device without an engine
    };
    const Case cases[] = {
        {"FAT32 with the engine", sim::Media::kHdd, true, 3},
        {"FAT32, reset erase", sim::Media::kHdd, false, 4},
        {"FAT16 with the engine", sim::Media::kFlash, true, 4},
        {"FAT16, reset erase", sim::Media::kFlash, false, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        DeviceFixture fx(BehindHub(SecureLayout(c.media, 40, c.aes)));
        EnterHubMode(fx);
        const std::size_t before = fx.LogSize();
        QdaRequest used{};
        EXPECT_EQ(Format(fx, 40, c.changeOp, &used), 0);
        EXPECT_EQ(used.errorCode, 30);
        // The data block was read through the side channel; nothing was written, no key sent.
        EXPECT_FALSE(fx.Log(before).empty());
        EXPECT_TRUE(Writes(fx, before, false).empty());
        for (const std::uint8_t sub : SubCommands(fx, before)) {
            EXPECT_TRUE(sub < 0xF0 || sub > 0xF4) << int(sub);
            EXPECT_NE(sub, 0x88);
        }
    }
}

TEST(FormatRetries, FourAttemptsPerWrite) {
    for (const std::uint32_t failures : {3u, 4u}) {
        SCOPED_TRACE(failures);
        DeviceFixture fx(SecureLayout(sim::Media::kHdd, 40, false));
        fx.Update([failures](sim::BridgeState& s) {
            sim::Fault f;
            f.kind = sim::FaultKind::kFail;
            f.match = "write";
            f.count = failures;
            s.faults.push_back(f);
        });
        const std::size_t before = fx.LogSize();
        QdaRequest used{};
        const int result = Format(fx, 40, 3, &used);
        const auto tried = Writes(fx, before, false);
        ASSERT_GE(tried.size(), 4u);
        if (failures == 3) {
            EXPECT_EQ(result, 1);
            // The master boot record went out on the fourth attempt.
            EXPECT_EQ(tried[3].lba, tried[0].lba);
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(used.errorCode, 12);
            EXPECT_EQ(tried.size(), 4u);  // nothing after the failed write
        }
    }
}

// A reset (password change mode 4, then the format) leaves nothing of the old partition readable:
// neither through the device nor in the raw medium image.
class FormatReset : public ::testing::TestWithParam<std::pair<sim::Media, bool>> {};

TEST_P(FormatReset, OldContentIsGone) {
    const auto [media, aes] = GetParam();
    const std::uint32_t mb = 40;
    DeviceFixture fx(SecureLayout(media, mb, aes));
    ASSERT_EQ(Format(fx, mb), 1);
    const auto base = static_cast<std::uint32_t>(PartitionBase(fx));
    // A marker in the old partition, written through the device, far past the system area.
    std::vector<std::uint8_t> marker(512);
    const std::string text = "the old secret of the secure partition";
    for (std::size_t i = 0; i < marker.size(); ++i) {
        marker[i] = static_cast<std::uint8_t>(text[i % text.size()]);
    }
    const std::uint32_t at = base + 30000;
    {
        QdaRequest w = fx.Request();
        w.startSector = at;
        w.sectorCount = 1;
        w.writeFlag = 1;
        ASSERT_EQ(QDARdWrDirect(&w, marker.data()), 1);
    }
    ASSERT_EQ(ReadDirect(fx, at, 1), marker);
    const std::vector<std::uint8_t> needle(text.begin(), text.end());
    EXPECT_EQ(FileContains(fx.Paths().medium, needle), !aes);

    QdaRequest change = fx.Request();
    SetPassword(change, u"Neu-Pass9");
    SetHint(change, u"new hint");
    change.changeOp = 4;
    ASSERT_EQ(QDAChangePassWord(&change), 1) << int(change.errorCode);
    // The application passes on what the password change left in the record.
    QdaRequest format = change;
    format.secureSizeMb = mb;
    format.passwordSupported = 1;
    ASSERT_EQ(QDAFormatHDD(&format), 1) << int(format.errorCode);

    EXPECT_NE(ReadDirect(fx, at, 1), marker);
    EXPECT_FALSE(FileContains(fx.Paths().medium, needle));
    // The fresh file system is there.
    const auto table = ReadDirect(fx, base, 1);
    EXPECT_EQ(table[510], 0x55);
    EXPECT_EQ(table[511], 0xAA);
}

INSTANTIATE_TEST_SUITE_P(Devices, FormatReset,
                         ::testing::Values(std::pair{sim::Media::kHdd, true},
                                           std::pair{sim::Media::kFlash, true},
                                           std::pair{sim::Media::kHdd, false}),
                         [](const auto& param) {
                             return std::string(param.param.first == sim::Media::kHdd ? "hdd"
                                                                                      : "flash") +
                                    (param.param.second ? "_aes" : "_plain");
                         });

}  // namespace
}  // namespace kvx::test
