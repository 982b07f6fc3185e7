#include "frame/naming.h"

#include <gtest/gtest.h>

#include "support/test_host.h"

namespace kvx {
namespace {

TEST(NamingPrefix, IsTheProgramNameLessSevenCharacters) {
    const struct {
        std::u16string path;
        std::u16string prefix;
    } cases[] = {
        {u"C:\\dir\\ABCDEFGHIJ.EXE", u"ABCDEFG"},
        {u"E:\\LCK.EXE", u""},
        {u"E:\\ACMELCK.EXE", u"ACME"},
        {u"SHORT", u"SHORT"},  // shorter than seven: taken whole
        {u"/opt/kvx/AB.EXE", u"AB.EXE"},
        {u"/opt/kvx/keyport-LCK.EXE", u"keyport-"},
        {u"C:\\a.b\\XYZPRT.EXE", u"XYZ"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NamingPrefix(c.path), c.prefix);
    }
}

TEST(NamingPrefix, ConfigFileAndBannerFollowTheHostProgram) {
    test::TestHost host;
    host.moduleFileName = u"C:\\Program Files\\Tool\\ABCDEFGHIJ.EXE";
    EXPECT_EQ(ConfigFilePath(host), u"C:\\Program Files\\Tool\\ABCDEFGKVX.INI");
    EXPECT_EQ(BannerValue(host), u"ABCDEFGKVX.DLL Version 1.55.00");
    host.moduleFileName = u"/usr/local/bin/ABCDEFGHIJ.EXE";
    EXPECT_EQ(ConfigFilePath(host), u"/usr/local/bin/ABCDEFGKVX.INI");
}

}  // namespace
}  // namespace kvx
