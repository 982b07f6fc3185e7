// The medium image stays sparse: zero sectors written to it give their disk space back.
// (Allocation is a property of the host's file system; measured on Linux only.)
#ifndef _WIN32

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/sim_machine.h"
#include "tests/sim/sim_test_util.h"

namespace kvx::test {
namespace {

std::uint64_t AllocatedBytes(const std::filesystem::path& file) {
    struct stat st {};
    EXPECT_EQ(::stat(file.c_str(), &st), 0);
    return static_cast<std::uint64_t>(st.st_blocks) * 512;
}

TEST(SparseImage, ZeroWritesPunchHoles) {
    SimMachine machine;
    machine.AddDevice();
    auto bridge = machine.MakeBridge();
    const auto image = machine.Device().medium;
    EXPECT_LT(AllocatedBytes(image), 64u * 1024);  // a new 64 MiB medium takes next to nothing

    const std::size_t bytes = 1 << 20;
    ASSERT_TRUE(Exec(*bridge, sim::Unit::kCd, SectorCdb(8192, bytes / 512, 0), DataDirection::kOut,
                     bytes, Pattern(bytes, 1))
                    .good());
    EXPECT_GE(AllocatedBytes(image), bytes);
    ASSERT_TRUE(Exec(*bridge, sim::Unit::kCd, SectorCdb(8192, bytes / 512, 0), DataDirection::kOut,
                     bytes, std::vector<std::uint8_t>(bytes, 0))
                    .good());
    EXPECT_LT(AllocatedBytes(image), 64u * 1024);
    EXPECT_EQ(std::filesystem::file_size(image), 64u << 20);  // the size stays
    const Ran back = Exec(*bridge, sim::Unit::kCd, SectorCdb(8192, 8, 1), DataDirection::kIn, 4096);
    EXPECT_EQ(back.data, std::vector<std::uint8_t>(4096, 0));
}

TEST(SparseImage, AHugeMediumCostsNothingUntilWritten) {
    SimMachine machine;
    machine.AddDevice({}, sim::Media::kHdd, std::uint64_t{3} << 20);  // 3 TiB
    auto bridge = machine.MakeBridge();
    const auto image = machine.Device().medium;
    EXPECT_EQ(std::filesystem::file_size(image), std::uint64_t{3} << 40);
    EXPECT_LT(AllocatedBytes(image), 64u * 1024);
    // The highest address a 32-bit LBA reaches lies inside it.
    const std::uint32_t last = 0xFFFFFFFF;
    const auto data = Pattern(512, 4);
    ASSERT_TRUE(Exec(*bridge, sim::Unit::kCd, SectorCdb(last, 1, 0), DataDirection::kOut, 512, data)
                    .good());
    EXPECT_EQ(Exec(*bridge, sim::Unit::kCd, SectorCdb(last, 1, 1), DataDirection::kIn, 512).data,
              data);
    EXPECT_LT(AllocatedBytes(image), 64u * 1024);
}

}  // namespace
}  // namespace kvx::test

#endif  // _WIN32
