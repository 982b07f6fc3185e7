#include "frame/config.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/test_host.h"

namespace kvx {
namespace {

class ConfigTest : public ::testing::Test {
  protected:
    void SetUp() override { host_.moduleFileName = dir_.File("ACMELCK.EXE"); }
    void WriteConfig(const std::string& text) {
        std::ofstream(dir_.path() / "ACMEKVX.INI") << text;
    }

    test::ScratchDir dir_;
    test::TestHost host_;
};

TEST_F(ConfigTest, LivesBesideTheProgramUnderItsPrefix) {
    Config config(host_);
    EXPECT_EQ(config.path(), dir_.File("ACMEKVX.INI"));
    EXPECT_FALSE(config.Exists());
    WriteConfig("[VENDOR]\r\nVENDORSTR0=ACME\r\n");
    EXPECT_TRUE(config.Exists());
}

TEST_F(ConfigTest, ReadsIndexedKeysOnEveryCall) {
    WriteConfig("[VENDOR]\r\nVENDORSTR0=ACME\r\nVENDORSTR3=Other Co\r\nVID3=0x1234\r\nAES=Yes\r\n");
    Config config(host_);
    EXPECT_EQ(config.ReadIndexed(kVendorSection, u"VENDORSTR", 0, 200), u"ACME");
    EXPECT_EQ(config.ReadIndexed(kVendorSection, u"VENDORSTR", 1, 200), u"");
    EXPECT_EQ(config.ReadIndexed(kVendorSection, u"VENDORSTR", 3, 200), u"Other Co");
    EXPECT_EQ(config.ReadIndexed(kVendorSection, u"vid", 3, 20), u"0x1234");
    EXPECT_EQ(config.Read(kVendorSection, u"AES", 10, u"NO"), u"Yes");
    EXPECT_EQ(config.Read(kVendorSection, u"NONADMIN", 1024, u"NO"), u"NO");
    // The length limit counts the terminator.
    EXPECT_EQ(config.ReadIndexed(kVendorSection, u"VENDORSTR", 3, 4), u"Oth");

    WriteConfig("[VENDOR]\r\nVENDORSTR0=CHANGED\r\n");
    EXPECT_EQ(config.ReadIndexed(kVendorSection, u"VENDORSTR", 0, 200), u"CHANGED");
}

}  // namespace
}  // namespace kvx
