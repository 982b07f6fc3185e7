// Freshly formatted secure partitions judged by tools nobody here wrote: fsck.fat, mtools and
// sfdisk read the plaintext the device shows; the raw medium image keeps none of it when the
// AES engine is on.
#include <gtest/gtest.h>

#include <string>

#include "sim/bridge/export.h"
#include "tests/media/media_test_util.h"

namespace kvx::test {
namespace {

struct ToolCase {
    const char* name;
    sim::Media media;
    std::uint32_t mb;
    bool aes;
    const char* fatType;  // as minfo and fsck name it
};

class FormatTools : public ::testing::TestWithParam<ToolCase> {};

TEST_P(FormatTools, FsckMtoolsAndSfdiskAcceptThePlaintext) {
    for (const char* tool : {"fsck.fat", "minfo", "mdir", "sfdisk"}) {
        if (!HaveTool(tool)) {
            GTEST_SKIP() << tool << " is not installed";
        }
    }
    const ToolCase& c = GetParam();
    DeviceFixture fx(SecureLayout(c.media, c.mb, c.aes));
    ASSERT_EQ(Format(fx, c.mb), 1);
    ScratchDir out;
    const auto exported = out.path() / "secure.img";
    ASSERT_EQ(sim::ExportSecurePartition(fx.Paths(), exported), std::nullopt);
    const auto part = PartitionFile(exported, out.path() / "part.img");
    const std::string img = ToolPath(part);

    std::string text;
    EXPECT_EQ(Shell("fsck.fat -n '" + img + "'", &text), 0) << text;
    EXPECT_EQ(text.find("differences"), std::string::npos) << text;
    EXPECT_NE(text.find(std::string("files")), std::string::npos) << text;

    const std::string mtools = "MTOOLS_SKIP_CHECK=1 ";
    ASSERT_EQ(Shell(mtools + "minfo -i '" + img + "' ::", &text), 0) << text;
    EXPECT_NE(text.find("disk label=\"KVX Secure \""), std::string::npos) << text;
    EXPECT_NE(text.find(c.fatType), std::string::npos) << text;
    ASSERT_EQ(Shell(mtools + "mdir -i '" + img + "' ::", &text), 0) << text;
    EXPECT_NE(text.find("Volume in drive : is KVX Secure"), std::string::npos) << text;
    EXPECT_NE(text.find("No files"), std::string::npos) << text;

    ASSERT_EQ(Shell("sfdisk --dump '" + ToolPath(exported) + "'", &text), 0) << text;
    EXPECT_NE(text.find("label: dos"), std::string::npos) << text;
    EXPECT_NE(text.find("bootable"), std::string::npos) << text;

    // With the engine on, the boot sector's plaintext never reaches the medium image.
    std::ifstream in(part, std::ios::binary);
    std::vector<std::uint8_t> boot(512);
    in.read(reinterpret_cast<char*>(boot.data()), 512);
    const std::vector<std::uint8_t> head(boot.begin(), boot.begin() + 90);
    if (c.aes) {
        EXPECT_FALSE(FileContains(fx.Paths().medium, head));
    } else {
        EXPECT_TRUE(FileContains(fx.Paths().medium, head));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, FormatTools,
    ::testing::Values(ToolCase{"fat32_hdd_aes", sim::Media::kHdd, 40, true, "FAT32"},
                      ToolCase{"fat32_hdd_plain", sim::Media::kHdd, 300, false, "FAT32"},
                      ToolCase{"fat16_flash_aes", sim::Media::kFlash, 70, true, "FAT16"},
                      ToolCase{"fat12_flash_aes", sim::Media::kFlash, 16, true, "FAT12"},
                      ToolCase{"fat12_flash_plain", sim::Media::kFlash, 40, false, "FAT12"}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kvx::test
