// Hidden-area and direct sector access against the emulated device: round trips, the bounds of
// each (64-bit arithmetic, the block region and the stamp sector out of reach), zero counts, a
// missing block and failed queries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/qda.h"
#include "sim/bridge/block_region.h"
#include "sim/bridge/provision.h"
#include "support/device_fixture.h"

namespace kvx::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Pattern(std::size_t sectors, std::uint8_t seed) {
    Bytes b(sectors * 512);
    for (std::size_t i = 0; i < b.size(); ++i) {
        b[i] = static_cast<std::uint8_t>(seed + i * 31 + (i >> 9));
    }
    return b;
}

struct Transfer {
    int result;
    std::uint8_t error;
};

Transfer Hidden(DeviceFixture& dev, std::uint32_t offset, std::uint16_t count, bool write,
                Bytes& data) {
    QdaRequest request = dev.Request();
    request.startSector = offset;
    request.sectorCount = count;
    request.writeFlag = write ? 1 : 0;
    const int result = QDAHiddenPartRdWr(&request, data.data());
    return {result, request.errorCode};
}

Transfer Direct(DeviceFixture& dev, std::uint32_t sector, std::uint16_t count, bool write,
                Bytes& data) {
    QdaRequest request = dev.Request();
    request.startSector = sector;
    request.sectorCount = count;
    request.writeFlag = write ? 1 : 0;
    const int result = QDARdWrDirect(&request, data.data());
    return {result, request.errorCode};
}

DeviceSpec Spec(sim::Media media, bool aes) {
    DeviceSpec spec;
    spec.media = media;
    spec.aesEngine = aes;
    spec.sizeMb = 32;
    // Leave 1 MiB of hidden-area space between the secure partition and the block region.
    spec.change = [](sim::BridgeState& s) { s.secSectors -= 2048; };
    return spec;
}

struct Medium {
    const char* name;
    sim::Media media;
    bool aes;
};
const Medium kMedia[] = {{"hdd", sim::Media::kHdd, false},
                         {"hdd+aes", sim::Media::kHdd, true},
                         {"flash", sim::Media::kFlash, false},
                         {"flash+aes", sim::Media::kFlash, true}};

TEST(HiddenArea, WritesAndReadsBackAtTheBaseTheBlockNames) {
    for (const Medium& m : kMedia) {
        SCOPED_TRACE(m.name);
        DeviceFixture dev(Spec(m.media, m.aes));
        const sim::BridgeState s = dev.State();
        const std::uint64_t base = sim::FactoryHiddenBase(s);
        Bytes out = Pattern(4, 7);
        const std::size_t mark = dev.LogSize();
        const Transfer w = Hidden(dev, 100, 4, true, out);
        ASSERT_EQ(w.result, 1) << int{w.error};
        // Exactly one write, at base + offset, in the hidden area when there is an engine.
        EXPECT_EQ(
            SectorWrites(dev, mark),
            (std::vector<SectorCommand>{{true, m.aes, static_cast<std::uint32_t>(base + 100), 4}}));
        EXPECT_EQ(dev.ReadImage(base + 100, 4, m.aes), out);
        Bytes in(4 * 512, 0xEE);
        const Transfer r = Hidden(dev, 100, 4, false, in);
        ASSERT_EQ(r.result, 1) << int{r.error};
        EXPECT_EQ(in, out);
    }
}

TEST(HiddenArea, RequestsOutOfBoundsFailWith7AndWriteNothing) {
    for (const Medium& m : kMedia) {
        SCOPED_TRACE(m.name);
        DeviceFixture dev(Spec(m.media, m.aes));
        const sim::BridgeState s = dev.State();
        const std::uint64_t base = sim::FactoryHiddenBase(s);
        const sim::RegionSpan region = sim::BlockRegionOf(s);
        const auto offsetOf = [base](std::uint64_t sector) {
            return static_cast<std::uint32_t>(sector - base);
        };
        struct Case {
            std::string what;
            std::uint32_t offset;
            std::uint16_t count;
            bool write;
        };
        std::vector<Case> cases = {
            {"offset that wraps 32 bits", 0xFFFFFFF0u, 1, true},
            {"offset that wraps, read", 0xFFFFFFF0u, 1, false},
            {"past the medium", offsetOf(s.sectors), 1, false},
            {"last sector and one more", offsetOf(s.sectors - 1), 2, false},
            {"into the region", offsetOf(region.start) - 1, 2, true},
            {"the region itself", offsetOf(region.start), 1, true},
            {"the region's last sector", offsetOf(region.start + region.sectors - 1), 1, true},
        };
        if (m.media == sim::Media::kHdd) {
            cases.push_back({"the stamp sector", offsetOf(s.sectors - 33), 1, true});
            cases.push_back({"across the stamp sector", offsetOf(s.sectors - 34), 2, true});
        }
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            Bytes data = Pattern(c.count, 3);
            const std::size_t mark = dev.LogSize();
            const sim::StoredRegion before = dev.Region();
            const Transfer t = Hidden(dev, c.offset, c.count, c.write, data);
            EXPECT_EQ(t.result, 0);
            EXPECT_EQ(t.error, 7);
            EXPECT_TRUE(SectorWrites(dev, mark).empty());
            EXPECT_EQ(dev.Region().plain, before.plain);
        }
        // Reading the region is harmless and allowed; so is writing right before it.
        Bytes two(2 * 512);
        EXPECT_EQ(Hidden(dev, offsetOf(region.start) - 1, 2, false, two).result, 1);
        Bytes one = Pattern(1, 9);
        EXPECT_EQ(Hidden(dev, offsetOf(region.start) - 1, 1, true, one).result, 1);
        if (m.media == sim::Media::kHdd) {
            EXPECT_EQ(Hidden(dev, offsetOf(s.sectors - 34), 1, true, one).result, 1);
        }
        EXPECT_TRUE(dev.Region().index.has_value());
    }
}

TEST(HiddenArea, ZeroCountsFailTheTransferWithTheirDirectionsCode) {
    DeviceFixture dev(Spec(sim::Media::kHdd, true));
    Bytes data(512);
    const std::size_t mark = dev.LogSize();
    EXPECT_EQ(Hidden(dev, 0, 0, false, data).error, 38);
    EXPECT_EQ(Hidden(dev, 0, 0, true, data).error, 39);
    EXPECT_TRUE(SectorWrites(dev, mark).empty());
}

TEST(HiddenArea, AMissingBlockFailsWith32AndABaseOfZeroWithoutACode) {
    DeviceFixture missing(DeviceSpec{.password = std::nullopt});
    Bytes data = Pattern(1, 1);
    std::size_t mark = missing.LogSize();
    Transfer t = Hidden(missing, 0, 1, true, data);
    EXPECT_EQ(t.result, 0);
    EXPECT_EQ(t.error, 32);
    EXPECT_TRUE(SectorWrites(missing, mark).empty());

    DeviceFixture zero;
    sim::StoredRegion region = zero.Region();
    std::fill_n(region.Block().begin() + sim::datablock::kHiddenBase, 4, std::uint8_t{0});
    zero.StoreRegion(region.plain);
    mark = zero.LogSize();
    t = Hidden(zero, 0, 1, true, data);
    EXPECT_EQ(t.result, 0);
    EXPECT_EQ(t.error, 0);
    EXPECT_TRUE(SectorWrites(zero, mark).empty());
}

TEST(DirectAccess, RoundTripOnTheOrdinaryMedium) {
    DeviceFixture dev(Spec(sim::Media::kHdd, true));
    Bytes out = Pattern(3, 11);
    const std::size_t mark = dev.LogSize();
    ASSERT_EQ(Direct(dev, 5000, 3, true, out).result, 1);
    EXPECT_EQ(SectorWrites(dev, mark), (std::vector<SectorCommand>{{true, false, 5000, 3}}));
    EXPECT_EQ(dev.ReadImage(5000, 3, false), out);
    Bytes in(3 * 512);
    ASSERT_EQ(Direct(dev, 5000, 3, false, in).result, 1);
    EXPECT_EQ(in, out);
}

TEST(DirectAccess, StopsAtTheLastWholeMegabyte) {
    // 32 MiB and 1000 sectors: the sectors past the last whole megabyte are out of reach.
    DeviceSpec spec;
    spec.sizeMb = 32;
    spec.change = [](sim::BridgeState& s) {
        s.sectors += 1000;
        s.secSectors += 1000;
    };
    DeviceFixture dev(spec);
    const std::uint32_t limit = 32 * 2048;
    struct Case {
        std::uint32_t sector;
        std::uint16_t count;
        bool write;
        std::uint8_t error;  // 0 = succeeds
    };
    const Case cases[] = {
        {limit - 1, 1, false, 0},   {limit - 1, 1, true, 0},   {limit, 1, false, 7},
        {limit, 1, true, 7},        {limit - 1, 2, false, 7},  {limit - 1, 2, true, 7},
        {0xFFFFFFFFu, 1, false, 7}, {0xFFFFFFFFu, 2, true, 7}, {limit, 0, false, 7},
        {limit - 1, 0, false, 38},  {limit - 1, 0, true, 39},  {0, 0, true, 39},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("sector " + std::to_string(c.sector) + " count " + std::to_string(c.count) +
                     (c.write ? " write" : " read"));
        Bytes data = Pattern(std::max<std::uint16_t>(c.count, 1), 5);
        const std::size_t mark = dev.LogSize();
        const Transfer t = Direct(dev, c.sector, c.count, c.write, data);
        EXPECT_EQ(t.result, c.error == 0 ? 1 : 0);
        EXPECT_EQ(t.error, c.error);
        EXPECT_EQ(SectorWrites(dev, mark).size(), c.write && c.error == 0 ? 1u : 0u);
    }
}

TEST(SectorAccess, AFailedDeviceQueryIsAFailure) {
    const char* faults[] = {"fail sub:80", "fail sub:d0"};
    for (const char* fault : faults) {
        SCOPED_TRACE(fault);
        DeviceFixture dev;
        Bytes data = Pattern(1, 2);
        for (const bool hidden : {true, false}) {
            dev.Update(
                [fault](sim::BridgeState& s) { s.faults.push_back(*sim::ParseFault(fault)); });
            const std::size_t mark = dev.LogSize();
            const Transfer t =
                hidden ? Hidden(dev, 0, 1, true, data) : Direct(dev, 100, 1, true, data);
            EXPECT_EQ(t.result, 0);
            EXPECT_EQ(t.error, std::string(fault) == "fail sub:80" ? 23 : 31);
            EXPECT_TRUE(SectorWrites(dev, mark).empty());
        }
    }
}

}  // namespace
}  // namespace kvx::test
