// The worked values of the two layout writers, read back through the library's direct sector
// access from freshly formatted emulated devices.
#include <gtest/gtest.h>

#include <string>

#include "tests/media/media_test_util.h"

namespace kvx::test {
namespace {

struct Fat32Case {
    const char* name;
    sim::Media media;
    std::uint32_t mb;
    std::uint32_t hidden;
    std::uint32_t size;  // N - hidden
    std::uint8_t endHead;
    std::uint8_t endSectorByte;
    std::uint8_t endCylinderLow;
    std::uint8_t type;
    std::uint32_t heads;
    std::uint32_t spt;
    std::uint32_t spc;
    std::uint32_t fat;
};

class Fat32WorkedValues : public ::testing::TestWithParam<Fat32Case> {};

TEST_P(Fat32WorkedValues, ReadBackThroughTheDevice) {
    const Fat32Case& c = GetParam();
    DeviceFixture fx(SecureLayout(c.media, c.mb, false));
    QdaRequest used{};
    ASSERT_EQ(Format(fx, c.mb, 3, &used), 1) << "error " << int(used.errorCode);
    const auto base = static_cast<std::uint32_t>(PartitionBase(fx));

    const auto mbr = ReadDirect(fx, base, 1);
    const std::size_t e = 446;
    EXPECT_EQ(mbr[e], 0x80);
    EXPECT_EQ(mbr[e + 1], 1);
    EXPECT_EQ(mbr[e + 2], 1);
    EXPECT_EQ(mbr[e + 3], 0);
    EXPECT_EQ(mbr[e + 4], c.type);
    EXPECT_EQ(mbr[e + 5], c.endHead);
    EXPECT_EQ(mbr[e + 6], c.endSectorByte);
    EXPECT_EQ(mbr[e + 7], c.endCylinderLow);
    EXPECT_EQ(Le32At(mbr, e + 8), c.hidden);
    EXPECT_EQ(Le32At(mbr, e + 12), c.size);
    EXPECT_EQ(mbr[510], 0x55);
    EXPECT_EQ(mbr[511], 0xAA);

    const auto boot = ReadDirect(fx, base + c.hidden, 1);
    EXPECT_EQ(boot[13], c.spc);
    EXPECT_EQ(Le16At(boot, 14), 32);
    EXPECT_EQ(Le16At(boot, 24), c.spt);
    EXPECT_EQ(Le16At(boot, 26), c.heads);
    EXPECT_EQ(Le32At(boot, 28), c.hidden);
    EXPECT_EQ(Le32At(boot, 32), c.size);
    EXPECT_EQ(Le32At(boot, 36), c.fat);
    EXPECT_EQ(Le32At(boot, 44), 2u);
    EXPECT_EQ(std::string(boot.begin() + 82, boot.begin() + 90), "FAT32   ");

    // The backup boot sector equals the boot sector; both FATs start alike.
    EXPECT_EQ(ReadDirect(fx, base + c.hidden + 6, 1), boot);
    const auto fat1 = ReadDirect(fx, base + c.hidden + 32, 1);
    EXPECT_EQ(ReadDirect(fx, base + c.hidden + 32 + c.fat, 1), fat1);
    EXPECT_EQ(Le32At(fat1, 8), 0x0FFFFFFFu);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, Fat32WorkedValues,
    ::testing::Values(
        // 2049 MB flash: 128 heads, 63 sectors, end cylinder 520 (bits 8-9 = 2 in byte 6).
        Fat32Case{"flash2049", sim::Media::kFlash, 2049, 732, 4195620, 127, 63 | (2 << 6),
                  520 & 0xFF, 0x0B, 128, 63, 8, 4090},
        // 76,000 MB hard disk: no CHS geometry.
        Fat32Case{"hdd76000", sim::Media::kHdd, 76000, 624, 155647944 - 624, 255, 0, 0, 0x0C, 0, 0,
                  64, 18996}),
    [](const auto& param) { return std::string(param.param.name); });

struct Fat16Case {
    const char* name;
    std::uint32_t mb;
    std::uint64_t cdSectors;
    std::uint64_t tail;
    bool fat12;
    std::uint32_t heads;
    std::uint32_t spt;
    std::uint32_t spc;
    std::uint32_t fat;
    std::uint32_t hidden;
    std::uint32_t image;
    std::uint8_t type;
};

class Fat16WorkedValues : public ::testing::TestWithParam<Fat16Case> {};

TEST_P(Fat16WorkedValues, ReadBackThroughTheDevice) {
    const Fat16Case& c = GetParam();
    DeviceFixture fx(SecureLayout(sim::Media::kFlash, c.mb, false, c.cdSectors, c.tail));
    const auto base = static_cast<std::uint32_t>(PartitionBase(fx));
    // What lies after the system area must survive the format.
    const std::vector<std::uint8_t> mark(512, 0x5A);
    fx.WriteImage(base + c.image, mark, false);
    ASSERT_EQ(Format(fx, c.mb), 1);

    const auto table = ReadDirect(fx, base, 1);
    EXPECT_TRUE(std::all_of(table.begin(), table.begin() + 446, [](auto b) { return b == 0; }));
    EXPECT_EQ(table[446], 0x80);
    EXPECT_EQ(table[446 + 4], c.type);
    EXPECT_EQ(Le32At(table, 446 + 8), c.hidden);
    const std::uint32_t n = c.mb * 2048 - 10;
    EXPECT_EQ(Le32At(table, 446 + 12), n - c.hidden);

    const auto boot = ReadDirect(fx, base + c.hidden, 1);
    EXPECT_EQ(boot[0], 0xEB);
    EXPECT_EQ(boot[13], c.spc);
    EXPECT_EQ(Le16At(boot, 14), 1);
    EXPECT_EQ(Le16At(boot, 17), 512);
    EXPECT_EQ(Le16At(boot, 22), c.fat);
    EXPECT_EQ(Le16At(boot, 24), c.spt);
    EXPECT_EQ(Le16At(boot, 26), c.heads);
    EXPECT_EQ(Le32At(boot, 28), c.hidden);
    EXPECT_EQ(std::string(boot.begin() + 54, boot.begin() + 62), c.fat12 ? "FAT12   " : "FAT16   ");
    const auto fat = ReadDirect(fx, base + c.hidden + 1, 1);
    EXPECT_EQ(fat[0], 0xF8);
    EXPECT_EQ(fat[2], 0xFF);
    EXPECT_EQ(fat[3], c.fat12 ? 0x00 : 0xFF);
    EXPECT_EQ(ReadDirect(fx, base + c.hidden + 1 + c.fat, 1), fat);
    // The root directory's first sector ends the image; the sector after it is untouched.
    const auto root = ReadDirect(fx, base + c.image - 32, 1);
    EXPECT_EQ(std::string(root.begin(), root.begin() + 11), "KVX Secure ");
    EXPECT_EQ(root[11], 0x08);
    EXPECT_EQ(ReadDirect(fx, base + c.image, 1), mark);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, Fat16WorkedValues,
    ::testing::Values(Fat16Case{"mb1000", 1000, 2048, 4096, false, 32, 63, 64, 125, 485, 768, 0x06},
                      // 2048 MB on a medium that still counts 2048 MB: a small CD area before it.
                      Fat16Case{"mb2048", 2048, 1024, 2047 - 1040, false, 128, 63, 64, 256, 479,
                                1024, 0x06},
                      Fat16Case{"mb16", 16, 2048, 4096, true, 4, 32, 32, 3, 217, 256, 0x01},
                      Fat16Case{"mb63", 63, 2048, 4096, true, 8, 32, 32, 12, 199, 256, 0x06},
                      Fat16Case{"mb64", 64, 2048, 4096, false, 8, 32, 32, 16, 191, 256, 0x06}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kvx::test
