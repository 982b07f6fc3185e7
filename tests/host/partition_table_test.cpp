// The partition table of a unit's first sector as the drive-layout query reports it.
#include "host/partition_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace kvx::test {
namespace {

constexpr std::size_t kSector = 512;
constexpr std::size_t kTable = 446;
constexpr std::size_t kEntry = 16;

struct RawEntry {
    std::uint8_t boot = 0;
    std::uint8_t type = 0;
    std::uint32_t first = 0;
    std::uint32_t count = 0;
};

void PutLe32(std::vector<std::uint8_t>& s, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) {
        s[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

std::vector<std::uint8_t> Mbr(const std::vector<RawEntry>& entries, bool signature = true) {
    std::vector<std::uint8_t> s(kSector, 0);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t at = kTable + kEntry * i;
        s[at] = entries[i].boot;
        s[at + 4] = entries[i].type;
        PutLe32(s, at + 8, entries[i].first);
        PutLe32(s, at + 12, entries[i].count);
    }
    if (signature) {
        s[510] = 0x55;
        s[511] = 0xAA;
    }
    return s;
}

TEST(PartitionTable, EntriesAsWritten) {
    // A FAT32 partition in slot 1, an empty slot 2 with stray bytes, a hidden one in slot 3 that
    // reaches past the end of any small unit, slot 4 empty.
    const auto sector =
        Mbr({{0x80, 0x0C, 63, 1000}, {0x80, 0x00, 5, 7}, {0x00, 0x1B, 2048, 0xFFFFFFFF}});
    const auto table = ParsePartitionTable(sector);
    ASSERT_EQ(table.size(), kPartitionEntries);

    EXPECT_EQ(table[0].partitionType, 0x0C);
    EXPECT_TRUE(table[0].bootIndicator);
    EXPECT_EQ(table[0].hiddenSectors, 63u);
    EXPECT_EQ(table[0].startingOffset, 63u * kSector);
    EXPECT_EQ(table[0].length, 1000u * kSector);
    EXPECT_EQ(table[0].partitionNumber, 1u);
    EXPECT_TRUE(table[0].recognized);

    for (const std::size_t empty : {1u, 3u}) {
        SCOPED_TRACE(empty);
        EXPECT_EQ(table[empty].partitionType, 0);
        EXPECT_FALSE(table[empty].bootIndicator);
        EXPECT_EQ(table[empty].startingOffset, 0u);
        EXPECT_EQ(table[empty].length, 0u);
        EXPECT_EQ(table[empty].partitionNumber, 0u);
        EXPECT_FALSE(table[empty].recognized);
    }

    EXPECT_EQ(table[2].partitionNumber, 3u);
    EXPECT_FALSE(table[2].bootIndicator);
    EXPECT_EQ(table[2].startingOffset, 2048u * kSector);
    EXPECT_EQ(table[2].length, std::uint64_t{0xFFFFFFFF} * kSector);  // no 32-bit wrap
}

TEST(PartitionTable, NoTableWithoutTheSignatureOrAWholeSector) {
    const RawEntry fat32{0x80, 0x0C, 63, 1000};
    auto badSignature = Mbr({fat32});
    badSignature[511] = 0x55;
    auto shortSector = Mbr({fat32});
    shortSector.resize(kSector - 1);
    const std::vector<std::uint8_t> cases[] = {Mbr({fat32}, false), badSignature, shortSector, {}};
    for (const auto& sector : cases) {
        SCOPED_TRACE(sector.size());
        const auto table = ParsePartitionTable(sector);
        ASSERT_EQ(table.size(), kPartitionEntries);
        for (const auto& entry : table) {
            EXPECT_EQ(entry.partitionType, 0);
            EXPECT_EQ(entry.length, 0u);
            EXPECT_FALSE(entry.recognized);
        }
    }
}

}  // namespace
}  // namespace kvx::test
