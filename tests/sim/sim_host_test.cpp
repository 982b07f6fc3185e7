// The sim host: drive letters, volumes, pass-through, volume controls, partition data, version,
// and the services it leaves to the platform host.
#include "sim/host/sim_host.h"

#include <gtest/gtest.h>

#include "host/forwarding_host.h"
#include "support/sim_machine.h"
#include "tests/sim/sim_test_util.h"

namespace kvx::test {
namespace {

constexpr std::uint32_t kAccessReadWrite = kAccessRead | kAccessWrite;
constexpr std::uint32_t kShareReadWrite = kShareRead | kShareWrite;

std::uint32_t Bit(char letter) {
    return 1u << (letter - 'A');
}

// Counts what the sim host hands to the platform.
class CountingHost : public ForwardingHost {
  public:
    CountingHost() : ForwardingHost(PlatformHost()) {}
    bool WriteProfileString(std::u16string_view section, std::u16string_view key,
                            std::u16string_view value, std::u16string_view path) override {
        ++profileWrites;
        return ForwardingHost::WriteProfileString(section, key, value, path);
    }
    std::int64_t Time() override {
        ++timeCalls;
        return ForwardingHost::Time();
    }
    int profileWrites = 0;
    int timeCalls = 0;
};

ScsiOutcome Send(Host& host, HostHandle h, std::vector<std::uint8_t> cdb,
                 std::vector<std::uint8_t>& data, DataDirection direction) {
    ScsiCommand command;
    command.cdb = cdb;
    command.data = data;
    command.direction = direction;
    return host.ScsiPassThrough(h, command);
}

TEST(SimHost, LettersOfTheMachineAndTheDevice) {
    for (const sim::Media media : {sim::Media::kHdd, sim::Media::kFlash}) {
        SimMachine machine;
        machine.SetMachine([](sim::MachineConfig& m) {
            m.drives = {{'C', kDriveFixed}, {'D', kDriveCdRom}, {'Z', kDriveRemote}};
        });
        machine.AddDevice({}, media);
        auto host = machine.MakeHost(PlatformHost());
        EXPECT_EQ(host->LogicalDriveMask(), Bit('C') | Bit('D') | Bit('E') | Bit('F') | Bit('Z'));
        EXPECT_EQ(host->GetDriveType(u'C'), kDriveFixed);
        EXPECT_EQ(host->GetDriveType(u'D'), kDriveCdRom);
        EXPECT_EQ(host->GetDriveType(u'e'), kDriveCdRom);
        EXPECT_EQ(host->GetDriveType(u'F'),
                  media == sim::Media::kFlash ? kDriveRemovable : kDriveFixed);
        EXPECT_EQ(host->GetDriveType(u'Z'), kDriveRemote);
        EXPECT_EQ(host->GetDriveType(u'G'), kDriveNoRootDir);
        EXPECT_EQ(host->Open(u"\\\\.\\G:", kAccessReadWrite, kShareReadWrite).osError,
                  kErrorFileNotFound);

        // Closed: the secure unit's letter goes; off the bus: the CD unit's too.
        machine.Update([](sim::BridgeState& s) { s.secureOpen = false; });
        EXPECT_EQ(host->LogicalDriveMask() & (Bit('E') | Bit('F')), Bit('E'));
        EXPECT_EQ(host->GetDriveType(u'F'), kDriveNoRootDir);
        EXPECT_EQ(host->Open(u"\\\\.\\F:", kAccessReadWrite, kShareReadWrite).osError,
                  kErrorFileNotFound);
        machine.Update([](sim::BridgeState& s) { s.plugged = false; });
        EXPECT_EQ(host->LogicalDriveMask() & (Bit('E') | Bit('F')), 0u);
    }
}

TEST(SimHost, SeesDevicesAndSettingsChangedAfterItStarted) {
    SimMachine machine;
    auto host = machine.MakeHost(PlatformHost());
    EXPECT_EQ(host->LogicalDriveMask(), Bit('C'));
    machine.AddDevice();
    EXPECT_EQ(host->LogicalDriveMask(), Bit('C') | Bit('E') | Bit('F'));
    EXPECT_NE(host->Open(u"\\\\.\\PhysicalDrive1", kAccessReadWrite, kShareReadWrite).handle,
              kInvalidHandle);
    machine.SetMachine([](sim::MachineConfig& m) { m.admin = false; });
    EXPECT_EQ(host->Open(u"\\\\.\\E:", kAccessReadWrite, kShareReadWrite).osError,
              kErrorAccessDenied);
}

TEST(SimHost, PassThroughReachesTheUnitBehindTheLetter) {
    SimMachine machine;
    machine.AddDevice([](sim::BridgeState& s) {
        s.product = "CD UNIT";
        s.secProduct = "SECURE UNIT";
    });
    auto host = machine.MakeHost(PlatformHost());
    const std::pair<const char16_t*, std::string> units[] = {{u"\\\\.\\E:", "CD UNIT"},
                                                             {u"\\\\.\\f:", "SECURE UNIT"}};
    for (const auto& [name, product] : units) {
        const OpenResult volume = host->Open(name, kAccessReadWrite, kShareReadWrite);
        ASSERT_NE(volume.handle, kInvalidHandle);
        std::vector<std::uint8_t> data(58, 0);
        const ScsiOutcome out = Send(*host, volume.handle, Inquiry(58), data, DataDirection::kIn);
        EXPECT_TRUE(out.sent);
        EXPECT_EQ(out.scsiStatus, 0);
        EXPECT_EQ(out.transferred, 58u);
        EXPECT_EQ(std::string(data.begin() + 16,
                              data.begin() + 16 + static_cast<std::ptrdiff_t>(product.size())),
                  product);
        host->Close(volume.handle);
    }
    // A refusal comes back as CHECK CONDITION with the sense data.
    const OpenResult cd = host->Open(u"\\\\.\\E:", kAccessReadWrite, kShareReadWrite);
    std::vector<std::uint8_t> none;
    const ScsiOutcome bad =
        Send(*host, cd.handle, {0x5A, 0, 0, 0, 0, 0, 0, 0, 0, 0}, none, DataDirection::kNone);
    EXPECT_TRUE(bad.sent);
    EXPECT_EQ(bad.scsiStatus, 2);
    EXPECT_EQ(bad.sense[0], 0x70);
    EXPECT_EQ(bad.sense[2], 0x05);
    EXPECT_EQ(bad.sense[12], 0x20);
    // Gone from the bus: the command is not even sent.
    machine.Update([](sim::BridgeState& s) { s.plugged = false; });
    std::vector<std::uint8_t> data(36);
    const ScsiOutcome gone = Send(*host, cd.handle, Inquiry(36), data, DataDirection::kIn);
    EXPECT_FALSE(gone.sent);
    EXPECT_NE(gone.osError, kErrorNone);
    // The machine's own drives answer INQUIRY as what they are.
    const OpenResult c = host->Open(u"\\\\.\\C:", kAccessReadWrite, kShareReadWrite);
    ASSERT_NE(c.handle, kInvalidHandle);
    std::vector<std::uint8_t> own(58, 0xEE);
    const ScsiOutcome sys = Send(*host, c.handle, Inquiry(58), own, DataDirection::kIn);
    EXPECT_TRUE(sys.sent);
    EXPECT_EQ(sys.transferred, 36u);
    EXPECT_EQ(std::string(own.begin() + 8, own.begin() + 15), "SIMHOST");
}

TEST(SimHost, NonAdministratorCannotOpenVolumesButCanOpenHubs) {
    SimMachine machine;
    machine.SetMachine([](sim::MachineConfig& m) { m.admin = false; });
    machine.AddDevice();
    auto host = machine.MakeHost(PlatformHost());
    EXPECT_EQ(host->Open(u"\\\\.\\E:", kAccessReadWrite, kShareReadWrite).osError,
              kErrorAccessDenied);
    EXPECT_EQ(host->Open(u"\\\\.\\E:", kAccessReadWrite, kShareRead).osError, kErrorAccessDenied);
    EXPECT_EQ(host->Open(u"\\\\.\\C:", kAccessRead, kShareRead).osError, kErrorAccessDenied);
    EXPECT_EQ(host->Open(u"\\\\.\\PhysicalDrive1", kAccessReadWrite, kShareReadWrite).osError,
              kErrorAccessDenied);
    EXPECT_NE(host->Open(u"\\\\.\\HCD0", kAccessWrite, kShareWrite).handle, kInvalidHandle);
    EXPECT_NE(host->Open(u"\\\\.\\USB#ROOT_HUB30#4&1b2c3d&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}",
                         kAccessWrite, kShareWrite)
                  .handle,
              kInvalidHandle);
}

TEST(SimHost, BusTypeFollowsTheDevice) {
    for (const auto& [bus, expected] :
         {std::pair{sim::Bus::kUsb, kBusUsb}, std::pair{sim::Bus::kAtapi, kBusAtapi}}) {
        SimMachine machine;
        machine.AddDevice([bus = bus](sim::BridgeState& s) { s.bus = bus; });
        auto host = machine.MakeHost(PlatformHost());
        for (const char16_t* name : {u"\\\\.\\E:", u"\\\\.\\F:", u"\\\\.\\PhysicalDrive1"}) {
            const OpenResult h = host->Open(name, kAccessReadWrite, kShareReadWrite);
            ASSERT_NE(h.handle, kInvalidHandle);
            EXPECT_EQ(host->QueryBusType(h.handle), expected);
        }
        const OpenResult c = host->Open(u"\\\\.\\C:", kAccessReadWrite, kShareReadWrite);
        EXPECT_EQ(host->QueryBusType(c.handle), kBusAta);
        const OpenResult hcd = host->Open(u"\\\\.\\HCD0", kAccessWrite, kShareWrite);
        EXPECT_FALSE(host->QueryBusType(hcd.handle).has_value());
    }
}

TEST(SimHost, VolumeLockIsHeldByOneHandle) {
    SimMachine machine;
    machine.AddDevice();
    auto host = machine.MakeHost(PlatformHost());
    const HostHandle a = host->Open(u"\\\\.\\F:", kAccessReadWrite, kShareReadWrite).handle;
    const HostHandle b = host->Open(u"\\\\.\\F:", kAccessReadWrite, kShareReadWrite).handle;
    const HostHandle cd = host->Open(u"\\\\.\\E:", kAccessReadWrite, kShareReadWrite).handle;
    const std::size_t mark = machine.LogSize();
    EXPECT_FALSE(host->ControlVolume(a, VolumeOp::kUnlock));  // not locked
    EXPECT_TRUE(host->ControlVolume(a, VolumeOp::kLock));
    EXPECT_FALSE(host->ControlVolume(b, VolumeOp::kLock));
    EXPECT_TRUE(host->ControlVolume(cd, VolumeOp::kLock));  // another volume
    EXPECT_TRUE(host->ControlVolume(a, VolumeOp::kDismount));
    EXPECT_TRUE(host->ControlVolume(a, VolumeOp::kUnlock));
    EXPECT_TRUE(host->ControlVolume(b, VolumeOp::kLock));
    host->Close(b);
    EXPECT_TRUE(host->ControlVolume(a, VolumeOp::kLock));  // closing released it
    const auto log = machine.Log(mark);
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[0].via, "vol");
    EXPECT_EQ(log[0].note, "unlock failed");
    EXPECT_EQ(log[1].note, "lock ok");
    EXPECT_EQ(log[4].note, "dismount ok");
}

TEST(SimHost, VolumeControlFaultsFailTheirCount) {
    SimMachine machine;
    machine.AddDevice();
    machine.Update([](sim::BridgeState& s) {
        s.faults.push_back(*sim::ParseFault("volume-lock count=2"));
        s.faults.push_back(*sim::ParseFault("volume-dismount count=1"));
    });
    auto host = machine.MakeHost(PlatformHost());
    const HostHandle v = host->Open(u"\\\\.\\F:", kAccessReadWrite, kShareReadWrite).handle;
    EXPECT_FALSE(host->ControlVolume(v, VolumeOp::kLock));
    EXPECT_FALSE(host->ControlVolume(v, VolumeOp::kLock));
    EXPECT_TRUE(host->ControlVolume(v, VolumeOp::kLock));
    EXPECT_FALSE(host->ControlVolume(v, VolumeOp::kDismount));
    EXPECT_TRUE(host->ControlVolume(v, VolumeOp::kDismount));
}

TEST(SimHost, PartitionDataComesFromTheSecureUnitsTable) {
    SimMachine machine;
    machine.AddDevice();
    auto host = machine.MakeHost(PlatformHost());
    const HostHandle volume = host->Open(u"\\\\.\\F:", kAccessReadWrite, kShareReadWrite).handle;
    const HostHandle disk =
        host->Open(u"\\\\.\\PhysicalDrive1", kAccessReadWrite, kShareReadWrite).handle;
    const sim::BridgeState s = machine.State();
    // No table yet: the volume is the whole unit.
    auto info = host->GetPartitionInfo(volume);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->startingOffset, 0u);
    EXPECT_EQ(info->length, s.secSectors * 512);

    std::vector<std::uint8_t> mbr(512, 0);
    mbr[446 + 0] = 0x80;
    mbr[446 + 4] = 0x0C;
    mbr[446 + 8] = 63;  // start 63
    mbr[446 + 12] = 0xE8;
    mbr[446 + 13] = 0x03;  // 1000 sectors
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    ASSERT_EQ(Send(*host, volume, Rw10(0x2A, 0, 1), mbr, DataDirection::kOut).scsiStatus, 0);
    info = host->GetPartitionInfo(volume);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->startingOffset, 63u * 512);
    EXPECT_EQ(info->length, 1000u * 512);
    EXPECT_EQ(info->hiddenSectors, 63u);
    EXPECT_EQ(info->partitionType, 0x0C);
    EXPECT_TRUE(info->bootIndicator);
    const auto layout = host->GetDriveLayout(disk);
    ASSERT_TRUE(layout.has_value());
    ASSERT_EQ(layout->size(), 4u);
    EXPECT_EQ((*layout)[0].partitionNumber, 1u);
    EXPECT_EQ((*layout)[1].partitionType, 0);
    EXPECT_EQ(host->GetPartitionInfo(disk)->length, s.secSectors * 512);
    EXPECT_TRUE(host->UpdateDiskProperties(disk));
    // Raw reads of the volume see the same sector.
    std::vector<std::uint8_t> raw(512);
    EXPECT_EQ(host->ReadAt(volume, 0, raw), 512u);
    EXPECT_EQ(raw, mbr);
    EXPECT_FALSE(host->ReadAt(volume, 100, raw).has_value());  // not on a sector boundary
}

TEST(SimHost, VersionComesFromTheMachineFile) {
    SimMachine machine;
    {
        auto host = machine.MakeHost(PlatformHost());
        const OsVersion v = host->GetVersion(true);
        EXPECT_TRUE(v.ok);
        EXPECT_EQ(v.platformId, 2u);
        EXPECT_EQ(v.major, 10u);
        EXPECT_EQ(v.minor, 0u);
        EXPECT_EQ(v.build, 19045u);
        EXPECT_EQ(v.productType, 1);
        EXPECT_EQ(host->GetVersion(false).productType, 0);
    }
    machine.SetMachine([](sim::MachineConfig& m) {
        m.version.major = 5;
        m.version.minor = 1;
        m.version.build = 2600;
        m.version.servicePack = u"Service Pack 3";
        m.version.productType = 3;
    });
    auto host = machine.MakeHost(PlatformHost());
    const OsVersion v = host->GetVersion(true);
    EXPECT_EQ(v.major, 5u);
    EXPECT_EQ(v.build, 2600u);
    EXPECT_EQ(v.productType, 3);
    EXPECT_EQ(v.servicePack, u"Service Pack 3");
}

TEST(SimHost, OtherServicesGoToThePlatform) {
    SimMachine machine;
    machine.AddDevice();
    CountingHost platform;
    auto host = machine.MakeHost(platform);
    ScratchDir scratch;
    const std::u16string file = scratch.File("plain.bin");
    const OpenResult f = host->Open(file, kAccessReadWrite, kShareNone, Disposition::kCreateAlways);
    ASSERT_NE(f.handle, kInvalidHandle);
    const std::vector<std::uint8_t> bytes{1, 2, 3, 4, 5};
    EXPECT_TRUE(host->WriteAt(f.handle, 10, bytes));
    EXPECT_EQ(host->FileSize(f.handle), 15u);
    std::vector<std::uint8_t> back(5);
    EXPECT_EQ(host->ReadAt(f.handle, 10, back), 5u);
    EXPECT_EQ(back, bytes);
    host->Close(f.handle);
    EXPECT_TRUE(host->FileExists(file));
    // A closed handle is gone.
    EXPECT_FALSE(host->FileSize(f.handle).has_value());

    const std::u16string ini = scratch.File("T.INI");
    EXPECT_TRUE(host->WriteProfileString(u"S", u"K", u"V", ini));
    EXPECT_EQ(platform.profileWrites, 1);
    EXPECT_EQ(host->ReadProfileString(u"S", u"K", u"-", ini, 16), u"V");
    host->Time();
    EXPECT_EQ(platform.timeCalls, 1);

    const auto block = host->OpenOrCreateSharedBlock(u"kvxsimtestblock");
    ASSERT_TRUE(block.has_value());
    EXPECT_TRUE(host->WriteSharedBlock(block->handle, 0x1234));
    EXPECT_EQ(host->ReadSharedBlock(block->handle), 0x1234u);
    host->Close(block->handle);
}

}  // namespace
}  // namespace kvx::test
