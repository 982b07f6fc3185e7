// The CD partition update with ISO 9660 images made by xorriso: the new content read back through
// the device (stamped across a 64 KB boundary), the data block's marks and sizes, the backup of the
// old content, and the checks made before anything is written.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <type_traits>

#include "host/forwarding_host.h"
#include "host/text.h"
#include "sim/bridge/aes_engine.h"
#include "sim/bridge/block_region.h"
#include "sim/bridge/export.h"
#include "tests/media/media_test_util.h"

namespace kvx::test {
namespace {

constexpr std::uint64_t kCdStart = 16;
const std::string kMarker = "C3B655AA";

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::filesystem::path& p, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::size_t Find(const std::vector<std::uint8_t>& hay, const std::string& needle) {
    const auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end());
    return it == hay.end() ? std::string::npos : static_cast<std::size_t>(it - hay.begin());
}

// An ISO image holding one file of `size` pseudo-random bytes (seeded), optionally with the stamp
// marker so placed that it spans a 64 KB boundary of the image. Returns the image path.
std::filesystem::path MakeIso(const std::filesystem::path& dir, const std::string& name,
                              std::size_t size, unsigned seed, bool marker) {
    const auto tree = dir / (name + ".d");
    std::filesystem::create_directories(tree);
    std::vector<std::uint8_t> payload(size);
    std::mt19937 gen(seed);
    for (auto& b : payload) {
        b = static_cast<std::uint8_t>(gen() % 200 + 40);  // never the marker's "C" run by chance
    }
    const std::string tag = "PAYLOAD-TAG-" + std::to_string(seed);
    std::copy(tag.begin(), tag.end(), payload.begin());
    const auto iso = dir / (name + ".iso");
    const auto build = [&] {
        WriteFile(tree / "payload.bin", payload);
        std::string out;
        EXPECT_EQ(
            Shell("xorriso -as mkisofs -quiet -o '" + ToolPath(iso) + "' '" + ToolPath(tree) + "'",
                  &out),
            0)
            << out;
    };
    build();
    if (marker) {
        const std::size_t at = Find(ReadFile(iso), tag);
        EXPECT_NE(at, std::string::npos);
        const std::size_t boundary = (at / 65536 + 1) * 65536;
        const std::size_t p = boundary - 3 - at;  // marker bytes 0-2 before, 3-7 after
        EXPECT_LT(p + 40, size);
        std::copy(kMarker.begin(), kMarker.end(), payload.begin() + static_cast<std::ptrdiff_t>(p));
        build();
        EXPECT_EQ(Find(ReadFile(iso), kMarker), boundary - 3);
    }
    return iso;
}

struct CdDevice {
    explicit CdDevice(bool aes = true, sim::Media media = sim::Media::kHdd)
        : fx([&] {
              // CD area of 1 MB from sector 16 with 7 MB of spare room, then a 40 MB partition.
              DeviceSpec spec = SecureLayout(media, 40, aes, 8 * 2048);
              const auto inner = spec.change;
              spec.change = [inner](sim::BridgeState& s) {
                  inner(s);
                  s.cdSectors = 2048;
              };
              return spec;
          }()) {
        (void)sim::WriteStampRecord(fx.State(), fx.Paths());
    }
    DeviceFixture fx;
};

QdaImageRequest Images(const std::filesystem::path& backup, const std::filesystem::path& image,
                       bool stamp) {
    QdaImageRequest r{};
    WriteFixedUtf16(backup.u16string(), r.backupPath, std::extent_v<decltype(r.backupPath)>);
    WriteFixedUtf16(image.u16string(), r.imagePath, std::extent_v<decltype(r.imagePath)>);
    r.stampImage = stamp ? 1 : 0;
    return r;
}

// The spare room the block records (bytes 104-105), which an update tool passes in field 125.
std::uint16_t RecordedSpareMb(const DeviceFixture& fx) {
    const auto region = fx.Region();
    const auto block = region.Block();
    return static_cast<std::uint16_t>(block[104] << 8 | block[105]);
}

// A request as an update tool fills it: the device's letter and the spare room it reported.
QdaRequest UpdateRequest(const DeviceFixture& fx) {
    QdaRequest r = fx.Request();
    r.spareCdMb = RecordedSpareMb(fx);
    return r;
}

std::vector<std::uint8_t> Padded(std::vector<std::uint8_t> bytes) {
    bytes.resize((bytes.size() + 511) / 512 * 512, 0);
    return bytes;
}

class CdUpdate : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveTool("xorriso")) {
            GTEST_SKIP() << "xorriso is not installed";
        }
    }
    ScratchDir dir;
};

TEST_F(CdUpdate, NewImageStampedAcrossA64KbBoundaryAndBlockMarkedDone) {
    CdDevice dev;
    DeviceFixture& fx = dev.fx;
    const auto oldIso = MakeIso(dir.path(), "old", 300000, 1, false);
    const auto oldBytes = Padded(ReadFile(oldIso));
    fx.WriteImage(kCdStart, oldBytes, false);
    const auto oldArea = fx.ReadImage(kCdStart, 2048, false);
    const auto newIso = MakeIso(dir.path(), "new", 2'500'000, 2, true);
    auto expected = ReadFile(newIso);
    const std::size_t at = Find(expected, kMarker) + kMarker.size();
    const auto stamp = sim::DeviceImageStamp(fx.State());
    std::copy(stamp.begin(), stamp.end(), expected.begin() + static_cast<std::ptrdiff_t>(at));
    expected = Padded(expected);

    QdaRequest r = UpdateRequest(fx);
    auto images = Images(dir.path() / "backup.iso", newIso, true);
    ASSERT_EQ(QDAUpdateCDPart(&r, &images), 1) << int(r.errorCode);
    EXPECT_EQ(r.errorCode, 0);

    // The CD area read back through the device is the stamped image.
    const auto back = ReadDirect(fx, kCdStart, static_cast<std::uint16_t>(expected.size() / 512));
    EXPECT_TRUE(back == expected);
    // The backup holds the old CD area.
    EXPECT_TRUE(ReadFile(dir.path() / "backup.iso") == oldArea);
    // New size, the done mark, the spare megabytes that are left: old 1 + 7, new 3.
    const auto region = fx.Region();
    const auto block = region.Block();
    EXPECT_EQ(block[8], 0xFF);
    EXPECT_EQ(block[9], 0xF8);
    EXPECT_EQ(sim::BlockBe32(block, 10), 3u * 512);
    EXPECT_EQ((block[104] << 8) | block[105], 5);
    EXPECT_EQ(std::uint32_t{r.cdSizeMb}, 3u);
    EXPECT_EQ(int{r.spareCdMb}, 5);
    EXPECT_EQ(sim::BlockBe32(block, 10) / 4500, (block[14] << 8 | block[15]));

    // xorriso reads the exported CD area as an ISO 9660 file system with the stamped payload.
    const auto exported = dir.path() / "cd.iso";
    ASSERT_EQ(sim::ExportCdArea(fx.Paths(), exported), std::nullopt);
    std::string out;
    ASSERT_EQ(Shell("xorriso -osirrox on -indev '" + ToolPath(exported) +
                        "' -extract /payload.bin '" + ToolPath(dir.path() / "payload.out") + "'",
                    &out),
              0)
        << out;
    const auto payload = ReadFile(dir.path() / "payload.out");
    EXPECT_EQ(Find(payload, kMarker) + 8 + 32 <= payload.size(), true);
    const std::size_t inPayload = Find(payload, kMarker) + 8;
    EXPECT_TRUE(std::equal(stamp.begin(), stamp.end(),
                           payload.begin() + static_cast<std::ptrdiff_t>(inPayload)));
}

TEST_F(CdUpdate, ChecksComeBeforeAnyWrite) {
    struct Case {
        const char* why;
        bool aes;
        bool stamp;
        std::size_t imageBytes;  // 0: no image file
        std::uint8_t code;
    };
    const Case cases[] = {
        {"image missing", true, false, 0, 15},
        {"image larger than the room", true, false, 8 * 1048576, 7},
        {"stamp without an engine", false, true, 100000, 52},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        CdDevice dev(c.aes);
        DeviceFixture& fx = dev.fx;
        const auto image = dir.path() / "image.bin";
        std::filesystem::remove(image);
        if (c.imageBytes != 0) {
            WriteFile(image, std::vector<std::uint8_t>(c.imageBytes, 0x33));
        }
        const std::size_t before = fx.LogSize();
        QdaRequest r = UpdateRequest(fx);
        auto images = Images(dir.path() / "never.iso", image, c.stamp);
        EXPECT_EQ(QDAUpdateCDPart(&r, &images), 0);
        EXPECT_EQ(r.errorCode, c.code);
        for (const auto& e : fx.Log(before)) {
            const auto s = AsSectorCommand(e);
            EXPECT_FALSE(s && s->write);
        }
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "never.iso"));
    }
}

// The room check takes the spare room from the caller's field 125, and fields 93 and 125 hold
// the new sizes from the moment the image is found to fit, whatever happens after.
TEST_F(CdUpdate, RoomFromTheCallersSpareFieldAndSizesSetRightAfterTheCheck) {
    struct Case {
        const char* why;
        std::uint16_t spareIn;  // field 125 as the caller passes it (the block records 7)
        bool backupFolderExists;
        int result;
        std::uint8_t code;
        std::uint32_t cdMbOut;
        std::uint16_t spareOut;
    };
    // The image needs 3 MB (2.5 MB + 1) and must lie within the CD partition's 1 MB and all but
    // one of the spare megabytes.
    const Case cases[] = {
        {"no spare room given", 0, true, 0, 7, 1, 0},
        {"the image past the room", 2, true, 0, 7, 1, 2},
        {"just enough", 3, true, 1, 0, 3, 1},
        {"more than the block records", 10, true, 1, 0, 3, 8},
        {"a failure after the check", 4, false, 0, 41, 3, 2},
    };
    const auto newIso = MakeIso(dir.path(), "new", 2'500'000, 7, false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        CdDevice dev;
        DeviceFixture& fx = dev.fx;
        ASSERT_EQ(RecordedSpareMb(fx), 7);
        const std::size_t before = fx.LogSize();
        QdaRequest r = fx.Request();
        r.spareCdMb = c.spareIn;
        const auto backup = c.backupFolderExists ? dir.path() / "backup.iso"
                                                 : dir.path() / "missing" / "backup.iso";
        auto images = Images(backup, newIso, false);
        EXPECT_EQ(QDAUpdateCDPart(&r, &images), c.result);
        EXPECT_EQ(r.errorCode, c.code);
        EXPECT_EQ(std::uint32_t{r.cdSizeMb}, c.cdMbOut);
        EXPECT_EQ(int{r.spareCdMb}, int{c.spareOut});
        const auto block = fx.Block();
        if (c.result == 1) {
            EXPECT_EQ(sim::BlockBe32(block, 10), c.cdMbOut * 512);
            EXPECT_EQ((block[104] << 8) | block[105], int{c.spareOut});
        } else {
            EXPECT_TRUE(SectorWrites(fx, before).empty());
            EXPECT_EQ(sim::BlockBe32(block, 10), 512u);
            EXPECT_EQ((block[104] << 8) | block[105], 7);
        }
    }
}

TEST_F(CdUpdate, HubModeIsRefusedWith30BeforeAnyWrite) {
    DeviceSpec spec = BehindHub(SecureLayout(sim::Media::kHdd, 40, true, 8 * 2048));
    const auto inner = spec.change;
    spec.change = [inner](sim::BridgeState& s) {
        inner(s);
        s.cdSectors = 2048;
    };
    DeviceFixture fx(spec);
    EnterHubMode(fx);
    const auto newIso = MakeIso(dir.path(), "new", 1'500'000, 8, false);
    const std::vector<std::uint8_t> blockBefore = fx.Block();
    const std::size_t before = fx.LogSize();
    QdaRequest r = UpdateRequest(fx);
    auto images = Images(dir.path() / "backup.iso", newIso, false);
    EXPECT_EQ(QDAUpdateCDPart(&r, &images), 0);
    EXPECT_EQ(r.errorCode, 30);
    EXPECT_TRUE(SectorWrites(fx, before).empty());
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "backup.iso"));
    EXPECT_TRUE(fx.Block() == blockBefore);
}

// Every 64 KB read that comes after the first 64 KB write returns with its last byte changed:
// the device accepts the new image, but reading it back shows other content.
class ChangedReadBackHost : public ForwardingHost {
  public:
    using ForwardingHost::ForwardingHost;
    ScsiOutcome ScsiPassThrough(HostHandle drive, const ScsiCommand& command) override {
        ScsiOutcome outcome = ForwardingHost::ScsiPassThrough(drive, command);
        if (command.data.size() == 65536) {
            if (command.direction == DataDirection::kOut) {
                written_ = true;
            } else if (written_ && command.direction == DataDirection::kIn) {
                command.data.back() ^= 0x5A;
            }
        }
        return outcome;
    }

  private:
    bool written_ = false;
};

TEST_F(CdUpdate, ReadBackDifferenceFailsWith36AndLeavesTheUpdateMark) {
    CdDevice dev;
    DeviceFixture& fx = dev.fx;
    const auto newIso = MakeIso(dir.path(), "new", 1'500'000, 3, false);
    ChangedReadBackHost changing(fx.host());
    const ScopedHostOverride scope(changing);
    QdaRequest r = UpdateRequest(fx);
    auto images = Images(dir.path() / "backup.iso", newIso, false);
    EXPECT_EQ(QDAUpdateCDPart(&r, &images), 0);
    EXPECT_EQ(r.errorCode, 36);
    const auto region = fx.Region();
    EXPECT_EQ(region.Block()[9], 0xFD);
    EXPECT_EQ(sim::BlockBe32(region.Block(), 10), 512u);  // the old size stays
}

// A device that answers a sector read with less data than asked, and reports success: the
// update stops while saving the old content, before anything is written to the device.
TEST_F(CdUpdate, ShortSectorReadFailsBeforeAnyWrite) {
    CdDevice dev;
    DeviceFixture& fx = dev.fx;
    const auto newIso = MakeIso(dir.path(), "new", 1'500'000, 3, false);
    const std::uint8_t markBefore = fx.Region().Block()[9];
    // Every 64 KB read from now on loses its last sector.
    fx.Update([](sim::BridgeState& s) {
        sim::Fault f;
        f.kind = sim::FaultKind::kShort;
        f.match = "read";
        f.count = 100000;
        f.value = 65536 - 512;
        s.faults.push_back(f);
    });
    const std::size_t from = fx.LogSize();
    QdaRequest r = UpdateRequest(fx);
    auto images = Images(dir.path() / "backup.iso", newIso, false);
    EXPECT_EQ(QDAUpdateCDPart(&r, &images), 0);
    EXPECT_EQ(r.errorCode, 42);
    fx.Update([](sim::BridgeState& s) { s.faults.clear(); });
    EXPECT_TRUE(SectorWrites(fx, from).empty());
    const auto region = fx.Region();
    EXPECT_EQ(region.Block()[9], markBefore);
    EXPECT_EQ(sim::BlockBe32(region.Block(), 10), 512u);
}

TEST_F(CdUpdate, InterruptedUpdateLeavesTheMarkAndARestorableBackup) {
    const auto oldIso = MakeIso(dir.path(), "old", 300000, 4, false);
    const auto newIso = MakeIso(dir.path(), "new", 2'000'000, 5, false);
    // A first device shows where the new image's writes begin in the command stream.
    std::size_t firstImageWrite = 0;
    {
        CdDevice probe;
        probe.fx.WriteImage(kCdStart, Padded(ReadFile(oldIso)), false);
        const std::size_t before = probe.fx.LogSize();
        QdaRequest r = UpdateRequest(probe.fx);
        auto images = Images(dir.path() / "probe.iso", newIso, false);
        ASSERT_EQ(QDAUpdateCDPart(&r, &images), 1);
        const auto log = probe.fx.Log(before);
        bool marked = false;
        for (std::size_t i = 0; i < log.size(); ++i) {
            const auto s = AsSectorCommand(log[i]);
            if (s && s->write && s->hidden) {
                marked = true;
            } else if (marked && s && s->write) {
                firstImageWrite = i;
                break;
            }
        }
        ASSERT_GT(firstImageWrite, 0u);
    }
    CdDevice dev;
    DeviceFixture& fx = dev.fx;
    fx.WriteImage(kCdStart, Padded(ReadFile(oldIso)), false);
    const auto oldArea = fx.ReadImage(kCdStart, 2048, false);
    fx.Update([&](sim::BridgeState& s) {
        sim::Fault f;
        f.kind = sim::FaultKind::kUnplugAfter;
        f.count = static_cast<std::uint32_t>(firstImageWrite + 5);
        s.faults.push_back(f);
    });
    QdaRequest r = UpdateRequest(fx);
    auto images = Images(dir.path() / "backup.iso", newIso, false);
    EXPECT_EQ(QDAUpdateCDPart(&r, &images), 0);
    fx.Replug();
    const auto region = fx.Region();
    EXPECT_EQ(region.Block()[9], 0xFD);
    EXPECT_EQ(sim::BlockBe32(region.Block(), 10), 512u);
    // The backup restores the old CD area exactly.
    const auto backup = ReadFile(dir.path() / "backup.iso");
    EXPECT_TRUE(backup == oldArea);
    EXPECT_FALSE(fx.ReadImage(kCdStart, 2048, false) == oldArea);
}

TEST_F(CdUpdate, FlashNeverReadsAStamp) {
    CdDevice dev(true, sim::Media::kFlash);
    DeviceFixture& fx = dev.fx;
    const auto newIso = MakeIso(dir.path(), "new", 200000, 6, true);
    const std::size_t before = fx.LogSize();
    QdaRequest r = UpdateRequest(fx);
    auto images = Images(dir.path() / "backup.iso", newIso, true);
    ASSERT_EQ(QDAUpdateCDPart(&r, &images), 1) << int(r.errorCode);
    const std::uint64_t total = fx.State().sectors;
    for (const auto& e : fx.Log(before)) {
        const auto s = AsSectorCommand(e);
        EXPECT_FALSE(s && s->hidden && s->lba == total - 33);
    }
}

}  // namespace
}  // namespace kvx::test
