// Capacity and medium queries against the emulated device: the sizes kept in the provisioned
// block, a missing block, and identify answers that must be refused.
#include <gtest/gtest.h>

#include <string>

#include "frame/qda.h"
#include "sim/bridge/block_region.h"
#include "sim/bridge/provision.h"
#include "support/device_fixture.h"

namespace kvx::test {
namespace {

TEST(Capacity, ReportsTheSizesOfTheProvisionedBlock) {
    struct Case {
        const char* name;
        sim::Media media;
        bool aes;
        std::uint64_t sizeMb;
    };
    const Case cases[] = {{"hdd", sim::Media::kHdd, false, 96},
                          {"hdd+aes", sim::Media::kHdd, true, 200},
                          {"flash", sim::Media::kFlash, false, 40},
                          {"flash+aes", sim::Media::kFlash, true, 64}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceSpec spec;
        spec.media = c.media;
        spec.aesEngine = c.aes;
        spec.sizeMb = c.sizeMb;
        // 3 MiB of hidden-area space between the secure partition and the block region.
        spec.change = [](sim::BridgeState& s) { s.secSectors -= 3 * 2048; };
        DeviceFixture dev(spec);
        const sim::BridgeState s = dev.State();
        QdaRequest request = dev.Request();
        request.passwordSupported = 7;
        ASSERT_EQ(QDAGetDeviceCapacity(&request), 1) << int{request.errorCode};
        EXPECT_EQ(request.errorCode, 0);
        EXPECT_EQ(Value(request.mediumSizeMb), c.sizeMb);
        EXPECT_EQ(Value(request.cdSizeMb), s.cdSectors / 2048);
        EXPECT_EQ(Value(request.secureSizeMb), s.secSectors / 2048);
        // The hidden-area space runs from the base to the block region: 3 MiB and some sectors.
        EXPECT_EQ(Value(request.secondSizeMb), 3u);
        EXPECT_EQ(Value(request.spareCdMb), 0);
        EXPECT_EQ(Value(request.passwordSupported), 1u);
        EXPECT_EQ(request.mediaType, c.media == sim::Media::kHdd ? 1 : 2);
    }
}

TEST(Capacity, WithoutABlockOnlyTheMediumSizeIsReported) {
    DeviceFixture dev(DeviceSpec{.password = std::nullopt});
    QdaRequest request = dev.Request();
    request.cdSizeMb = 111;
    request.secureSizeMb = 222;
    request.secondSizeMb = 333;
    request.passwordSupported = 7;
    const std::size_t mark = dev.LogSize();
    ASSERT_EQ(QDAGetDeviceCapacity(&request), 1);
    EXPECT_EQ(Value(request.mediumSizeMb), 64u);
    EXPECT_EQ(Value(request.cdSizeMb), 111u);
    EXPECT_EQ(Value(request.secureSizeMb), 222u);
    EXPECT_EQ(Value(request.secondSizeMb), 333u);
    EXPECT_EQ(Value(request.passwordSupported), 7u);
    EXPECT_TRUE(SectorWrites(dev, mark).empty());
}

TEST(Capacity, ADeviceWithoutAPasswordSaysSo) {
    DeviceFixture dev(DeviceSpec{.password = std::u16string(), .hint = u""});
    QdaRequest request = dev.Request();
    request.passwordSupported = 7;
    ASSERT_EQ(QDAGetDeviceCapacity(&request), 1);
    EXPECT_EQ(Value(request.passwordSupported), 0u);
    EXPECT_EQ(Value(request.secureSizeMb), dev.State().secSectors / 2048);
}

// A hard disk over 2 TiB: IDENTIFY words 102-103 are not zero. Every export that needs the
// medium's size refuses it with 31 and writes nothing.
TEST(Capacity, AHardDiskOver2TiBIsRefusedByEveryExportThatSizesIt) {
    DeviceSpec spec;
    spec.password = std::nullopt;  // no factory block fits 32-bit sector fields
    spec.sizeMb = 64;
    spec.change = [](sim::BridgeState& s) {
        s.sectors = (std::uint64_t{1} << 32) + 4096;
        s.secSectors = s.sectors - s.secStart - 64;
    };
    DeviceFixture dev(spec);
    const std::size_t mark = dev.LogSize();
    std::vector<std::uint8_t> data(512, 0x5A);
    struct Case {
        const char* name;
        std::function<int(QdaRequest&)> call;
    };
    const Case cases[] = {
        {"capacity", [](QdaRequest& r) { return QDAGetDeviceCapacity(&r); }},
        {"hidden",
         [&data](QdaRequest& r) {
             r.sectorCount = 1;
             r.writeFlag = 1;
             return QDAHiddenPartRdWr(&r, data.data());
         }},
        {"direct",
         [&data](QdaRequest& r) {
             r.sectorCount = 1;
             r.writeFlag = 1;
             r.startSector = 4096;
             return QDARdWrDirect(&r, data.data());
         }},
        {"change",
         [](QdaRequest& r) {
             r.changeOp = 3;
             SetPassword(r, u"Pass-1234");
             return QDAChangePassWord(&r);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QdaRequest request = dev.Request();
        EXPECT_EQ(c.call(request), 0);
        EXPECT_EQ(request.errorCode, 31);
        EXPECT_EQ(Value(request.mediumSizeMb), 0u);
    }
    EXPECT_TRUE(SectorWrites(dev, mark).empty());
    // The status query does not size the medium and still answers.
    QdaRequest status = dev.Request();
    EXPECT_EQ(QDAGetPasswordStatus(&status), 1);
}

// Just under the limit, a 48-bit count whose words 102-103 are zero is taken from words 100-101.
TEST(Capacity, AHardDiskJustUnder2TiBIsSizedFromThe48BitCount) {
    DeviceSpec spec;
    spec.password = std::nullopt;
    spec.change = [](sim::BridgeState& s) {
        s.sectors = 0xFFFFF800u;  // 2 TiB less 1 MiB
        s.secSectors = s.sectors - s.secStart - 64;
    };
    DeviceFixture dev(spec);
    QdaRequest request = dev.Request();
    ASSERT_EQ(QDAGetDeviceCapacity(&request), 1) << int{request.errorCode};
    EXPECT_EQ(Value(request.mediumSizeMb), 0xFFFFF800u / 2048);
}

}  // namespace
}  // namespace kvx::test
