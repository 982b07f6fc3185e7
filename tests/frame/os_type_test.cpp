#include "frame/os_type.h"

#include <gtest/gtest.h>

#include "frame/device_state.h"
#include "support/test_host.h"

namespace kvx {
namespace {

OsVersion Win9x(std::uint32_t build) {
    OsVersion v;
    v.ok = true;
    v.platformId = 1;
    v.major = 4;
    v.minor = 10;
    v.build = build;
    return v;
}

struct OsCase {
    OsVersion version;
    std::uint8_t expected;
};

TEST(OsType, ClassifiesTheVersionTableAtItsBoundaries) {
    OsVersion failed = test::NtVersion(10, 0);
    failed.ok = false;
    OsVersion otherPlatform = test::NtVersion(10, 0);
    otherPlatform.platformId = 3;
    const OsCase cases[] = {
        {Win9x(950), kOsWin95},
        {Win9x(1110), kOsWin95},
        {Win9x(1111), kOsWin95Later},
        {Win9x(1997), kOsWin95Later},
        {Win9x(1998), kOsWin98},
        {Win9x(2222), kOsWin98},
        {Win9x(2223), kOsWinMe},
        {Win9x(3000), kOsWinMe},
        // Only the low 16 bits of the build count; 9x builds carry the version in the high word.
        {Win9x(0x040A07CE), kOsWin98},
        {Win9x(0x045A0BB8), kOsWinMe},
        {test::NtVersion(3, 51), kOsUnknown},
        {test::NtVersion(4, 0), kOsNt4},
        {test::NtVersion(5, 0), kOsNt5OrLater},
        {test::NtVersion(5, 1), kOsNt5OrLater},
        {test::NtVersion(6, 1), kOsNt5OrLater},
        {test::NtVersion(10, 0), kOsNt5OrLater},
        {failed, kOsUnknown},
        {otherPlatform, kOsUnknown},
    };
    for (const OsCase& c : cases) {
        EXPECT_EQ(ClassifyOsType(c.version), c.expected)
            << "platform " << c.version.platformId << " " << c.version.major << "."
            << c.version.minor << " build " << c.version.build;
    }
}

TEST(OsType, GetOsTypeStoresTheCodeInTheState) {
    test::TestHost host;
    ScopedHostOverride use(host);
    DeviceState state;
    host.version = Win9x(2222);
    EXPECT_EQ(GetOsType(state) & 0xFF, kOsWin98);
    EXPECT_EQ(state.osType, kOsWin98);
    host.version = test::NtVersion(4, 0);
    EXPECT_EQ(GetOsType(state) & 0xFF, kOsNt4);
    EXPECT_EQ(state.osType, kOsNt4);
}

TEST(WindowsVersionCode, MapsNtReleases) {
    OsVersion sp4 = test::NtVersion(5, 0);
    sp4.servicePack = u"Service Pack 4";
    OsVersion sp3 = test::NtVersion(5, 0);
    sp3.servicePack = u"Service Pack 3";
    const OsCase cases[] = {
        {test::NtVersion(4, 0), 5},
        {test::NtVersion(4, 1), 0},
        {sp3, 6},
        {sp4, 9},
        {test::NtVersion(5, 1), 7},
        {test::NtVersion(5, 2, 3), 7},
        {test::NtVersion(6, 0, 1), 10},
        {test::NtVersion(6, 0, 3), 11},
        // Windows 7 to 11 take the paths of Vista.
        {test::NtVersion(6, 1, 1), 10},
        {test::NtVersion(6, 3, 2), 11},
        {test::NtVersion(10, 0, 1), 10},
        {test::NtVersion(10, 0, 3), 11},
        {Win9x(2222), 0},
    };
    for (const OsCase& c : cases) {
        EXPECT_EQ(ClassifyWindowsVersionCode(c.version), c.expected)
            << c.version.major << "." << c.version.minor << " type " << int(c.version.productType);
    }
}

TEST(WindowsVersionCode, FallsBackToThePlainQueryWhenTheExtendedOneFails) {
    test::TestHost host;
    OsVersion failed;
    host.extendedVersion = failed;
    host.version = test::NtVersion(5, 1);
    EXPECT_EQ(WindowsVersionCode(host), 7);
    host.extendedVersion = test::NtVersion(6, 0, 3);
    EXPECT_EQ(WindowsVersionCode(host), 11);
}

}  // namespace
}  // namespace kvx
