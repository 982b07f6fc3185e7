// A program started from the emulated machine's "cd" folder runs "from" the device's CD drive:
// its module path is on the CD letter and its companion files are found through that letter.
#include <gtest/gtest.h>

#include <fstream>

#include "frame/qda.h"
#include "host/text.h"
#include "support/sim_machine.h"
#include "support/test_host.h"

namespace kvx::test {
namespace {

class SimCdDrive : public ::testing::Test {
  protected:
    SimCdDrive() {
        machine.AddDevice();
        std::filesystem::create_directories(machine.dir() / "cd" / "Tools");
        Write("ACMELCK.EXE", "program");
        Write("AcmeKvx.ini", "[VENDOR]\r\nNONADMIN=YES\r\n");
        Write("Tools/README.TXT", "readme");
        platform.moduleFileName = (machine.dir() / "cd" / "ACMELCK.EXE").u16string();
        host = machine.MakeHost(platform);
    }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(machine.dir() / "cd" / name, std::ios::binary) << text;
    }

    SimMachine machine;
    TestHost platform;
    std::unique_ptr<Host> host;
};

TEST_F(SimCdDrive, ModulePathIsOnTheCdLetter) {
    EXPECT_EQ(host->ModuleFileName(), u"E:\\ACMELCK.EXE");
    EXPECT_EQ(host->GetDriveType(u'E'), kDriveCdRom);

    // A program anywhere else keeps its own path.
    ScratchDir elsewhere;
    platform.moduleFileName = elsewhere.File("ACMELCK.EXE");
    EXPECT_EQ(host->ModuleFileName(), platform.moduleFileName);

    // The letter follows the device's.
    platform.moduleFileName = (machine.dir() / "cd" / "Tools" / "README.TXT").u16string();
    machine.Update([](sim::BridgeState& s) { s.cdLetter = 'K'; });
    EXPECT_EQ(host->ModuleFileName(), u"K:\\Tools\\README.TXT");
}

TEST_F(SimCdDrive, CompanionFilesAreReadThroughTheLetter) {
    EXPECT_TRUE(host->FileExists(u"E:\\ACMEKVX.INI"));  // any letter case
    EXPECT_TRUE(host->FileExists(u"e:\\tools\\readme.txt"));
    EXPECT_FALSE(host->FileExists(u"E:\\ACMEKVX.DLL"));
    EXPECT_EQ(host->ReadProfileString(u"VENDOR", u"NONADMIN", u"", u"E:\\ACMEKVX.INI", 10), u"YES");

    const OpenResult file = host->Open(u"E:\\Tools\\README.TXT", kAccessRead, kShareRead);
    ASSERT_NE(file.handle, kInvalidHandle);
    std::uint8_t data[16] = {};
    EXPECT_EQ(host->ReadAt(file.handle, 0, data), 6u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 6), "readme");
    host->Close(file.handle);

    // A CD-ROM: nothing is written.
    EXPECT_EQ(host->Open(u"E:\\ACMEKVX.INI", kAccessRead | kAccessWrite, kShareRead).osError,
              kErrorAccessDenied);
    EXPECT_EQ(
        host->Open(u"E:\\NEW.TXT", kAccessWrite, kShareNone, Disposition::kCreateAlways).osError,
        kErrorAccessDenied);
    EXPECT_FALSE(host->WriteProfileString(u"VENDOR", u"NONADMIN", u"NO", u"E:\\ACMEKVX.INI"));
    EXPECT_EQ(ReadTextFile(machine.dir() / "cd" / "AcmeKvx.ini"), "[VENDOR]\r\nNONADMIN=YES\r\n");
    EXPECT_FALSE(std::filesystem::exists(machine.dir() / "cd" / "NEW.TXT"));

    // Off the bus, the drive and its files are gone.
    machine.Update([](sim::BridgeState& s) { s.plugged = false; });
    EXPECT_FALSE(host->FileExists(u"E:\\ACMEKVX.INI"));
    EXPECT_EQ(host->Open(u"E:\\ACMEKVX.INI", kAccessRead, kShareRead).osError, kErrorPathNotFound);
}

// The device's secure unit is a physical drive whose partition shows once the unit is open.
TEST_F(SimCdDrive, SecureDiskShowsItsPartitionOnlyWhenOpen) {
    machine.Update([](sim::BridgeState& s) { s.secureOpen = false; });
    const OpenResult disk =
        host->Open(u"\\\\.\\PhysicalDrive1", kAccessRead | kAccessWrite, kShareRead | kShareWrite);
    ASSERT_NE(disk.handle, kInvalidHandle);
    EXPECT_FALSE(host->GetPartitionInfo(disk.handle).has_value());
    machine.Update([](sim::BridgeState& s) { s.secureOpen = true; });
    const auto info = host->GetPartitionInfo(disk.handle);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->length, machine.State().secSectors * 512);
    host->Close(disk.handle);
}

// The library, run by a program on the CD drive, finds its configuration file there too.
TEST_F(SimCdDrive, LibraryFindsTheDeviceFromTheCdDrive) {
    const sim::BridgeState s = machine.State();
    char ids[64];
    std::snprintf(ids, sizeof ids, "VID0=%04X\r\nPID0=%04X\r\n", s.vid, s.pid);
    Write("AcmeKvx.ini",
          "[VENDOR]\r\nVENDORSTR0=" + s.vendor + "\r\nPRODUCTSTR0=" + s.product + "\r\n" + ids);
    ScopedHostOverride active(*host);
    QdaRequest request{};
    ASSERT_EQ(QDACheckCD(&request), 1) << int(request.errorCode);
    EXPECT_EQ(request.cdLetters[0], 'E');

    // Renamed without the configuration file's companion: the library finds none.
    platform.moduleFileName = (machine.dir() / "cd" / "OTHERLCK.EXE").u16string();
    QdaRequest again{};
    again.driveLetter = 'E';
    EXPECT_EQ(QDAGetPasswordStatus(&again), 0);
    EXPECT_EQ(again.errorCode, 5);
}

}  // namespace
}  // namespace kvx::test
