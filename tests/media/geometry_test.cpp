// Geometry of the secure partition: the worked values, and the FAT invariants over a sweep of
// sizes.
#include "media/geometry.h"

#include <gtest/gtest.h>

namespace kvx::media {
namespace {

struct Fat32Case {
    std::uint32_t mb;
    bool hardDisk;
    std::uint32_t n;
    std::uint32_t heads;
    std::uint32_t spt;
    std::uint32_t spc;
    std::uint32_t fat;
    std::uint32_t hidden;
    std::uint32_t endCylinder;
    std::uint8_t type;
};

TEST(Fat32Geometry, WorkedValues) {
    const Fat32Case cases[] = {
        // flash, no listed chip
        {2049, false, 4196352, 128, 63, 8, 4090, 732, 520, 0x0B},
        // hard disk, chip flag clear
        {76000, true, 155647944, 0, 0, 64, 18996, 624, 0, 0x0C},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mb);
        PartitionInputs in;
        in.sizeMb = c.mb;
        in.hardDisk = c.hardDisk;
        const std::uint64_t n = Fat32PartitionSectors(in);
        EXPECT_EQ(n, c.n);
        const auto g = Fat32Geometry(c.mb, n);
        ASSERT_TRUE(g);
        EXPECT_EQ(g->heads, c.heads);
        EXPECT_EQ(g->sectorsPerTrack, c.spt);
        EXPECT_EQ(g->sectorsPerCluster, c.spc);
        EXPECT_EQ(g->fatSectors, c.fat);
        EXPECT_EQ(g->hiddenSectors, c.hidden);
        EXPECT_EQ(g->endCylinder, c.endCylinder);
        EXPECT_EQ(g->partitionType, c.type);
    }
}

TEST(Fat32Geometry, PartitionSectorsFollowMediaAndChip) {
    struct Case {
        bool hardDisk, chip, chipList;
        std::uint64_t n;
    };
    const Case cases[] = {
        {true, false, false, 100 * 2048 - 56}, {true, true, false, 100 * 2048},
        {true, true, true, 100 * 2048 - 16},   {false, false, true, 100 * 2048 - 16},
        {false, false, false, 100 * 2048},     {true, false, true, 100 * 2048 - 56},
    };
    for (const auto& c : cases) {
        PartitionInputs in{100, c.hardDisk, c.chip, c.chipList};
        EXPECT_EQ(Fat32PartitionSectors(in), c.n);
        EXPECT_EQ(Fat16PartitionSectors(in), 100 * 2048 - 10 - (c.chipList ? 16 : 0));
        EXPECT_EQ(ShiftedBy16(in), (c.hardDisk && !c.chip) || c.chipList);
    }
}

TEST(Fat32Geometry, NoLayoutAt32MbOrLess) {
    for (std::uint32_t mb : {1u, 16u, 31u, 32u}) {
        EXPECT_FALSE(Fat32Geometry(mb, std::uint64_t{mb} * 2048));
    }
    EXPECT_TRUE(Fat32Geometry(33, 33 * 2048 - 56));
}

TEST(Fat32Geometry, AboveEightGigabytesHasNoChsGeometry) {
    const auto g = Fat32Geometry(8193, 8193ull * 2048);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->heads, 0u);
    EXPECT_EQ(g->sectorsPerTrack, 0u);
    EXPECT_EQ(g->endCylinder, 0u);
    EXPECT_EQ(g->partitionType, 0x0C);
    const auto below = Fat32Geometry(8192, 8192ull * 2048);
    ASSERT_TRUE(below);
    EXPECT_EQ(below->heads, 255u);
}

// Whatever the size, the layout is a FAT32 file system the FATs can describe.
TEST(Fat32Geometry, EverySizeMakesAValidFileSystem) {
    for (std::uint32_t mb = 33; mb <= 2'000'000; mb = mb < 600 ? mb + 1 : mb * 1.07) {
        for (const bool hardDisk : {false, true}) {
            PartitionInputs in{mb, hardDisk, false, false};
            const std::uint64_t n = Fat32PartitionSectors(in);
            const auto g = Fat32Geometry(mb, n);
            ASSERT_TRUE(g) << mb;
            const std::uint64_t size = n - g->hiddenSectors;
            const std::uint64_t data = size - 32 - 2ull * g->fatSectors;
            const std::uint64_t clusters = data / g->sectorsPerCluster;
            EXPECT_GE(clusters, 65525u) << mb;
            EXPECT_LE(clusters, 0x0FFFFFF5u) << mb;
            EXPECT_GE(std::uint64_t{g->fatSectors} * 128, clusters + 2) << mb;
            EXPECT_GE(g->hiddenSectors, 256u) << mb;
            EXPECT_LT(g->hiddenSectors, 768u) << mb;
        }
    }
}

struct Fat16Case {
    std::uint32_t mb;
    bool fat12;
    std::uint32_t n;
    std::uint32_t heads;
    std::uint32_t spt;
    std::uint32_t spc;
    std::uint32_t fat;
    std::uint32_t hidden;
    std::uint32_t clusters;
    std::uint32_t image;
    std::uint8_t type;
};

TEST(Fat16Geometry, WorkedValues) {
    const Fat16Case cases[] = {
        {1000, false, 2047990, 32, 63, 64, 125, 485, 31987, 768, 0x06},
        {2048, false, 4194294, 128, 63, 64, 256, 479, 65519, 1024, 0x06},
        {16, true, 32758, 4, 32, 32, 3, 217, 1015, 256, 0x01},
        {63, true, 129014, 8, 32, 32, 12, 199, 4023, 256, 0x06},
        {64, false, 131062, 8, 32, 32, 16, 191, 4087, 256, 0x06},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mb);
        PartitionInputs in;
        in.sizeMb = c.mb;
        const std::uint64_t n = Fat16PartitionSectors(in);
        EXPECT_EQ(n, c.n);
        const auto g = Fat16Geometry(c.mb, n);
        ASSERT_TRUE(g);
        EXPECT_EQ(g->fat12, c.fat12);
        EXPECT_EQ(g->partitionSectors, c.n);
        EXPECT_EQ(g->heads, c.heads);
        EXPECT_EQ(g->sectorsPerTrack, c.spt);
        EXPECT_EQ(g->sectorsPerCluster, c.spc);
        EXPECT_EQ(g->fatSectors, c.fat);
        EXPECT_EQ(g->hiddenSectors, c.hidden);
        EXPECT_EQ(g->clusters, c.clusters);
        EXPECT_EQ(g->ImageSectors(), c.image);
        EXPECT_EQ(g->partitionType, c.type);
    }
    // The 1000 MB case's partition size.
    const auto g = Fat16Geometry(1000, 2047990);
    EXPECT_EQ(g->partitionSectors - g->hiddenSectors, 2047505u);
}

TEST(Fat16Geometry, EverySizeMakesAValidFileSystem) {
    for (std::uint32_t mb = 1; mb <= 2048; ++mb) {
        for (const bool chipList : {false, true}) {
            PartitionInputs in{mb, false, false, chipList};
            const auto g = Fat16Geometry(mb, Fat16PartitionSectors(in));
            ASSERT_TRUE(g) << mb;
            const std::uint64_t size = g->partitionSectors - g->hiddenSectors;
            const std::uint64_t data = size - 1 - 2ull * g->fatSectors - 32;
            const std::uint64_t clusters = data / g->sectorsPerCluster;
            const std::uint64_t width = g->fat12 ? 12 : 16;
            EXPECT_EQ(g->fat12, mb < 64) << mb;
            if (g->fat12) {
                EXPECT_LT(clusters, 4085u) << mb;
            } else {
                EXPECT_GE(clusters, 4085u) << mb;
                EXPECT_LE(clusters, 65524u) << mb;
            }
            EXPECT_GE(std::uint64_t{g->fatSectors} * 4096 / width, clusters + 2) << mb;
            EXPECT_LE(g->cylinders, 1023u) << mb;
            EXPECT_GE(g->hiddenSectors, g->alignment) << mb;
            EXPECT_LT(g->hiddenSectors, 3 * g->alignment) << mb;
        }
    }
    EXPECT_FALSE(Fat16Geometry(0, 0));
    EXPECT_FALSE(Fat16Geometry(2049, 2049 * 2048 - 10));
}

}  // namespace
}  // namespace kvx::media
