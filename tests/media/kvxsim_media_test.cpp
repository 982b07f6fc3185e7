// kvxsim's media options: the secure partition's size, the CD area's content from an image file,
// the stamp record of hard disks with the engine, and the plaintext exports.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "sim/bridge/aes_engine.h"
#include "sim/bridge/block_region.h"
#include "sim/bridge/device_dir.h"
#include "sim/bridge/medium.h"
#include "tools/kvxsim/kvxsim_cli.h"
#include "sim/machine.h"
#include "support/test_host.h"
#include "tests/sim/sim_test_util.h"

namespace kvx::test {
namespace {

std::vector<std::uint8_t> Bytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(KvxsimMedia, CreateWithSecureSizeCdImageAndStampThenExport) {
    ScratchDir dir;
    const auto machine = dir.path() / "m";
    const auto iso = dir.path() / "cd.iso";
    std::vector<std::uint8_t> content(1'300'000);
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<std::uint8_t>(i * 13 + (i >> 9));
    }
    {
        std::ofstream f(iso, std::ios::binary);
        f.write(reinterpret_cast<const char*>(content.data()),
                static_cast<std::streamsize>(content.size()));
    }
    std::string out;
    ASSERT_EQ(Cli({"create", machine.string(), "--media", "hdd", "--size-mb", "128", "--aes-engine",
                   "yes", "--password", "Secret-1", "--secure-mb", "60", "--cd-iso", iso.string()},
                  &out),
              0)
        << out;
    const sim::DevicePaths paths(sim::DeviceDirectory(machine, 0));
    const auto state = sim::LoadDeviceState(paths);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->secSectors, 60u * 2048);
    EXPECT_EQ(state->cdSectors, 2u * 2048);  // 1.3 MB in whole megabytes
    // The data block records both.
    const auto region = sim::LoadBlockRegion(*state, paths);
    ASSERT_TRUE(region && region->index);
    EXPECT_EQ(sim::BlockBe32(region->Block(), 18), 60u * 2048);
    EXPECT_EQ(sim::BlockBe32(region->Block(), 10), 2u * 512);
    // The stamp record sits in the hidden area at total - 33.
    std::vector<std::uint8_t> record(512);
    ASSERT_TRUE(sim::ReadSectors(paths.hidden, state->sectors - 33, record));
    EXPECT_EQ(record[0], 0xB6);
    EXPECT_EQ(record[3], 0x55);

    const auto cd = dir.path() / "cd.out";
    ASSERT_EQ(Cli({"export", machine.string(), "--cd", cd.string()}, &out), 0) << out;
    auto expected = content;
    expected.resize(2 * 1048576, 0);
    EXPECT_TRUE(Bytes(cd) == expected);

    // Not formatted yet: no partition entry, so the export runs over the whole secure area,
    // which starts where the host lays the partition's master boot record.
    const auto secure = dir.path() / "secure.out";
    ASSERT_EQ(Cli({"export", machine.string(), "--secure", secure.string()}, &out), 0) << out;
    EXPECT_EQ(std::filesystem::file_size(secure), 60u * 2048 * 512);

    EXPECT_EQ(Cli({"export", machine.string()}, &out), 2);
    EXPECT_EQ(
        Cli({"create", (dir.path() / "n").string(), "--size-mb", "64", "--secure-mb", "64"}, &out),
        2);
}

TEST(KvxsimMedia, FlashAndPlainDisksHaveNoStampRecord) {
    ScratchDir dir;
    for (const char* media : {"flash", "hdd"}) {
        const auto machine = dir.path() / media;
        std::string out;
        ASSERT_EQ(Cli({"create", machine.string(), "--media", media, "--aes-engine",
                       std::string(media) == "flash" ? "yes" : "no"},
                      &out),
                  0)
            << out;
        const sim::DevicePaths paths(sim::DeviceDirectory(machine, 0));
        const auto state = sim::LoadDeviceState(paths);
        std::vector<std::uint8_t> record(512);
        ASSERT_TRUE(sim::ReadSectors(paths.hidden, state->sectors - 33, record));
        EXPECT_TRUE(std::all_of(record.begin(), record.end(), [](auto b) { return b == 0; }));
    }
}

}  // namespace
}  // namespace kvx::test
