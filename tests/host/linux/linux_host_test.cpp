// The Linux host through its real code: discovery from a fixture sysfs and dev tree, and every
// SG_IO request handed to the emulated bridge, so that the library's exports run end to end
// through the host's discovery and marshalling.
#include "host/linux/linux_host.h"

#include <sys/sysmacros.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <map>

#include "discovery/hub_scan.h"
#include "frame/qda.h"
#include "host/linux/mountinfo.h"
#include "host/text.h"
#include "sim/bridge/bridge.h"
#include "sim/bridge/export.h"
#include "support/device_fixture.h"
#include "tests/host/linux/sysfs_fixture.h"
#include "tests/media/media_test_util.h"

namespace kvx::test {
namespace {

// Hands each request on a mapped node to a unit of the emulated bridge, as the kernel would hand
// it to the device: status, sense and residue back; host status "no connect" when the device is
// off the bus. Requests on other nodes fail as on a node that is no SCSI device.
class BridgeSgIo final : public linux_host::SgIoTransport {
  public:
    void Map(const std::filesystem::path& node, sim::Bridge& bridge, sim::Unit unit) {
        units_[node] = {&bridge, unit};
    }
    int Submit(const std::filesystem::path& node, int, sg_io_hdr_t& r) override {
        ++requests;
        const auto it = units_.find(node);
        if (it == units_.end()) {
            errno = ENOTTY;
            return -1;
        }
        const DataDirection direction = r.dxfer_direction == SG_DXFER_FROM_DEV ? DataDirection::kIn
                                        : r.dxfer_direction == SG_DXFER_TO_DEV
                                            ? DataDirection::kOut
                                            : DataDirection::kNone;
        std::span<std::uint8_t> data(static_cast<std::uint8_t*>(r.dxferp), r.dxfer_len);
        const sim::BridgeReply reply =
            it->second.first->Execute(it->second.second, {r.cmdp, r.cmd_len}, data, direction);
        if (!reply.delivered) {
            r.host_status = 0x01;  // DID_NO_CONNECT
            return 0;
        }
        r.status = reply.status;
        const std::size_t sense = std::min<std::size_t>(r.mx_sb_len, reply.sense.size());
        if (reply.status != 0) {
            std::copy_n(reply.sense.begin(), sense, r.sbp);
            r.sb_len_wr = static_cast<unsigned char>(sense);
            r.driver_status = 0x08;  // DRIVER_SENSE
        }
        r.resid = static_cast<int>(r.dxfer_len - reply.transferred);
        return 0;
    }
    int requests = 0;

  private:
    std::map<std::filesystem::path, std::pair<sim::Bridge*, sim::Unit>> units_;
};

// The emulated device as the kernel would show it: its CD unit (LUN 0) and secure unit (LUN 1)
// on USB device 2-1, beside a USB stick of another vendor on 1-3 and an ATA disk.
struct LinuxDevice {
    explicit LinuxDevice(const DeviceSpec& spec) : fx(spec), bridge(fx.machine().MakeBridge()) {
        const sim::BridgeState s = fx.State();
        char vid[8], pid[8];
        std::snprintf(vid, sizeof vid, "%04x", s.vid);
        std::snprintf(pid, sizeof pid, "%04x", s.pid);
        tree.Add({.name = "sr1",
                  .usbDevice = "2-1",
                  .lun = 0,
                  .vid = vid,
                  .pid = pid,
                  .serial = s.serial,
                  .vendor = s.vendor,
                  .model = s.product,
                  .rev = s.revision,
                  .type = 5,
                  .removable = true,
                  .sectors = s.cdSectors,
                  .dev = "11:1"});
        tree.Add({.name = "sdc",
                  .usbDevice = "2-1",
                  .lun = 1,
                  .vid = vid,
                  .pid = pid,
                  .serial = s.serial,
                  .vendor = s.secVendor,
                  .model = s.secProduct,
                  .rev = s.revision,
                  .removable = s.media == sim::Media::kFlash,
                  .sectors = s.secSectors,
                  .dev = "8:32",
                  .partitions = {"sdc1"}});
        tree.Add({.name = "sdd",
                  .usbDevice = "1-3",
                  .host = 7,
                  .vid = "0781",
                  .pid = "5567",
                  .serial = "4C530001",
                  .vendor = "SanDisk",
                  .model = "Cruzer",
                  .removable = true,
                  .sectors = 1 << 20,
                  .dev = "8:48"});
        tree.Add({.name = "sda",
                  .host = 0,
                  .vendor = "ATA",
                  .model = "SYSTEM DISK",
                  .sectors = 1 << 24,
                  .dev = "8:0"});
        sgio.Map(tree.roots().devfs / "sr1", *bridge, sim::Unit::kCd);
        sgio.Map(tree.roots().devfs / "sdc", *bridge, sim::Unit::kSecure);
        host = linux_host::MakeLinuxHost(fx.platform(), tree.roots(), sgio);
        active.emplace(*host);
    }
    QdaRequest Request(char letter) const {
        QdaRequest r{};
        r.driveLetter = static_cast<std::uint8_t>(letter);
        return r;
    }

    DeviceFixture fx;
    std::unique_ptr<sim::Bridge> bridge;
    SysfsFixture tree;
    BridgeSgIo sgio;
    std::unique_ptr<Host> host;
    std::optional<ScopedHostOverride> active;
};

std::u16string Mount(Host& host, char letter) {
    return RegistryText(
        host.ReadRegistryValue(u"SYSTEM\\MountedDevices",
                               u"\\DosDevices\\" + FromUtf8(std::string(1, letter)) + u":"),
        1000);
}

TEST(LinuxHostDiscovery, LettersTypesAndRegistryViewsComeFromSysfs) {
    LinuxDevice d({});
    Host& host = *d.host;
    // USB path, then LUN: the other vendor's stick (1-3) first, then the device's two units.
    EXPECT_EQ(host.LogicalDriveMask(),
              (1u << ('C' - 'A')) | (1u << ('D' - 'A')) | (1u << ('E' - 'A')));
    const struct {
        char16_t letter;
        DriveType type;
    } cases[] = {{u'C', kDriveRemovable},
                 {u'D', kDriveCdRom},
                 {u'E', kDriveFixed},
                 {u'F', kDriveNoRootDir},
                 {u'A', kDriveNoRootDir}};
    for (const auto& c : cases) {
        EXPECT_EQ(host.GetDriveType(c.letter), c.type) << char(c.letter);
    }
    const sim::BridgeState s = d.fx.State();
    EXPECT_NE(Mount(host, 'D').find(FromUtf8("USBSTOR#CdRom&Ven_")), std::u16string::npos);
    EXPECT_NE(Mount(host, 'D').find(FromUtf8(s.serial + "&0#")), std::u16string::npos);
    EXPECT_NE(Mount(host, 'E').find(FromUtf8(s.serial + "&1#")), std::u16string::npos);
    EXPECT_EQ(Mount(host, 'F'), u"");
    const auto count =
        host.ReadRegistryValue(u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum", u"Count");
    ASSERT_TRUE(count);
    EXPECT_EQ(count->data[0], 3);  // sdc, sdd and the ATA disk; the CD unit is no disk
    char usbKey[64];
    std::snprintf(usbKey, sizeof usbKey, "VID_%04X&PID_%04X", s.vid, s.pid);
    const auto devices = host.RegistrySubkeys(u"SYSTEM\\CurrentControlSet\\Enum\\USB");
    ASSERT_TRUE(devices);
    EXPECT_NE(std::find(devices->begin(), devices->end(), FromUtf8(usbKey)), devices->end());

    // The library's own discovery over these views and the bridge's INQUIRY answers.
    QdaRequest r = d.Request('D');
    ASSERT_EQ(QDACheckCD(&r), 1) << int(r.errorCode);
    EXPECT_EQ(r.cdLetters[0], 'D');
    EXPECT_EQ(r.cdLetters[1], 0);
    r = d.Request('D');
    ASSERT_EQ(QDACheckSEC(&r), 1) << int(r.errorCode);
    EXPECT_EQ(r.secureLetters[0], 'E');
    EXPECT_EQ(r.secureLetters[1], 0);
}

TEST(LinuxHostDiscovery, AnEmptyTreeHasNoDrivesAndCheckCdFindsNoDevice) {
    DeviceFixture fx;
    ScratchDir empty;
    BridgeSgIo sgio;
    const auto host = linux_host::MakeLinuxHost(fx.platform(), {empty.path(), empty.path()}, sgio);
    ScopedHostOverride active(*host);
    EXPECT_EQ(host->LogicalDriveMask(), 0u);
    QdaRequest r = fx.Request();
    EXPECT_EQ(QDACheckCD(&r), 0);
    EXPECT_EQ(r.errorCode, 4);
    EXPECT_EQ(sgio.requests, 0);
}

struct EndToEnd {
    const char* name;
    sim::Media media;
    bool aesEngine;
    sim::Wrap wrap;
};

class LinuxHostEndToEnd : public ::testing::TestWithParam<EndToEnd> {};

TEST_P(LinuxHostEndToEnd, LoginChangeAndResetFormatRunThroughSgIo) {
    const EndToEnd& c = GetParam();
    DeviceSpec spec = SecureLayout(c.media, c.media == sim::Media::kFlash ? 16 : 40, c.aesEngine);
    const auto layout = spec.change;
    spec.change = [layout, c](sim::BridgeState& s) {
        layout(s);
        s.wrap = c.wrap;
    };
    if (c.wrap != sim::Wrap::kNone) {
        spec.vendorLines.push_back("AES=YES");
    }
    LinuxDevice d(spec);
    const std::size_t logStart = d.fx.LogSize();

    QdaRequest r = d.Request('D');
    SetPassword(r, u"Wolke7-Rot");
    ASSERT_EQ(QDASHA2Auth(&r), 1) << int(r.errorCode);
    EXPECT_TRUE(d.fx.State().secureOpen);

    r = d.Request('D');
    r.changeOp = 3;
    SetPassword(r, u"Neu-Pass9");
    SetHint(r, u"new hint");
    ASSERT_EQ(QDAChangePassWord(&r), 1) << int(r.errorCode);
    d.fx.Replug();
    r = d.Request('D');
    SetPassword(r, u"Wolke7-Rot");
    EXPECT_EQ(QDASHA2Auth(&r), 0);
    r = d.Request('D');
    SetPassword(r, u"Neu-Pass9");
    ASSERT_EQ(QDASHA2Auth(&r), 1) << int(r.errorCode);

    r = d.Request('D');
    r.passwordSupported = 1;
    r.secureSizeMb = c.media == sim::Media::kFlash ? 16 : 40;
    r.changeOp = 3;
    SetPassword(r, u"Neu-Pass9");
    ASSERT_EQ(QDAFormatHDD(&r), 1) << int(r.errorCode);

    // Every command reached the bridge through the SG_IO seam, and the medium holds a file
    // system.
    const auto log = d.fx.Log(logStart);
    EXPECT_GE(static_cast<std::size_t>(d.sgio.requests), log.size());
    // The emulator's plaintext of the secure partition starts with the new MBR.
    ScratchDir out;
    const auto refused = sim::ExportSecurePartition(d.fx.Paths(), out.path() / "secure.img");
    ASSERT_FALSE(refused) << *refused;
    std::ifstream image(out.path() / "secure.img", std::ios::binary);
    std::vector<char> mbr(512);
    image.read(mbr.data(), 512);
    EXPECT_EQ(static_cast<std::uint8_t>(mbr[510]), 0x55);
    EXPECT_EQ(static_cast<std::uint8_t>(mbr[511]), 0xAA);
}

INSTANTIATE_TEST_SUITE_P(
    Media, LinuxHostEndToEnd,
    ::testing::Values(EndToEnd{"HddPlain", sim::Media::kHdd, false, sim::Wrap::kNone},
                      EndToEnd{"HddEngineAesWrap", sim::Media::kHdd, true, sim::Wrap::kAes},
                      EndToEnd{"FlashPlain", sim::Media::kFlash, false, sim::Wrap::kNone},
                      EndToEnd{"FlashEngineScramble", sim::Media::kFlash, true,
                               sim::Wrap::kScramble}),
    [](const auto& param) { return std::string(param.param.name); });

// Short and failing answers: never a success with data that did not come.
TEST(LinuxSgIo, OutcomesOfShortAndFailingAnswers) {
    std::uint8_t cdb[10] = {0x12};
    std::vector<std::uint8_t> data(36, 0xEE);
    ScsiCommand command{cdb, data, DataDirection::kIn};
    std::uint8_t sense[kSenseLength] = {};
    const struct {
        const char* name;
        int result, error;
        unsigned short host, driver;
        int resid;
        bool sent;
        std::uint32_t osError, transferred;
    } cases[] = {
        {"whole answer", 0, 0, 0, 0, 0, true, kErrorNone, 36},
        {"short answer", 0, 0, 0, 0, 30, true, kErrorNone, 6},
        {"check condition with sense", 0, 0, 0, 0x08, 36, true, kErrorNone, 0},
        {"refused for privilege", -1, EPERM, 0, 0, 0, false, kErrorAccessDenied, 0},
        {"device gone", 0, 0, 0x01, 0, 0, false, kErrorDeviceNotConnected, 0},
        {"timed out", 0, 0, 0x03, 0, 0, false, kErrorSemTimeout, 0},
        {"driver error", 0, 0, 0, 0x04, 0, false, kErrorIoDevice, 0},
        {"residue beyond the length", 0, 0, 0, 0, 99, true, kErrorNone, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sg_io_hdr_t r = linux_host::BuildSgIoRequest(command, sense);
        EXPECT_EQ(data[0], 0);  // zeroed before the request
        std::fill(data.begin(), data.end(), std::uint8_t{0x5A});
        r.host_status = c.host;
        r.driver_status = c.driver;
        r.resid = c.resid;
        r.status = c.driver == 0x08 ? 0x02 : 0;
        sense[2] = 0x05;
        r.sb_len_wr = c.driver == 0x08 ? 18 : 0;
        const ScsiOutcome o = linux_host::SgIoOutcome(c.result, c.error, r, command);
        EXPECT_EQ(o.sent, c.sent);
        EXPECT_EQ(o.osError, c.osError);
        EXPECT_EQ(o.transferred, c.transferred);
        EXPECT_EQ(o.sense[2], c.driver == 0x08 ? 0x05 : 0);
        EXPECT_EQ(data[0], c.sent ? 0x5A : 0);  // a failed request leaves no data
        sense[2] = 0;
    }
}

TEST(LinuxSgIo, RequestCarriesDirectionLengthsAndTimeout) {
    std::uint8_t cdb[6] = {0x1B, 0, 0, 0, 2, 0};
    std::vector<std::uint8_t> data(512);
    std::uint8_t sense[kSenseLength];
    const struct {
        DataDirection direction;
        int sg;
        unsigned length;
    } cases[] = {{DataDirection::kIn, SG_DXFER_FROM_DEV, 512},
                 {DataDirection::kOut, SG_DXFER_TO_DEV, 512},
                 {DataDirection::kNone, SG_DXFER_NONE, 0}};
    for (const auto& c : cases) {
        const ScsiCommand command{cdb, data, c.direction, 20};
        const sg_io_hdr_t r = linux_host::BuildSgIoRequest(command, sense);
        EXPECT_EQ(r.interface_id, 'S');
        EXPECT_EQ(r.dxfer_direction, c.sg);
        EXPECT_EQ(r.dxfer_len, c.length);
        EXPECT_EQ(r.cmd_len, 6);
        EXPECT_EQ(r.mx_sb_len, kSenseLength);
        EXPECT_EQ(r.timeout, 20000u);
    }
}

TEST(LinuxMountInfo, ParsesDeviceMountPointAndSource) {
    const auto mounts = linux_host::ParseMountInfo(
        "36 35 8:33 / /media/a\\040b rw,noatime shared:1 - ext4 /dev/sdc1 rw\n"
        "37 35 0:5 / /dev rw - devtmpfs udev rw\n"
        "garbage line\n");
    ASSERT_EQ(mounts.size(), 2u);
    EXPECT_EQ(mounts[0].device, makedev(8, 33));
    EXPECT_EQ(mounts[0].mountPoint, "/media/a b");
    EXPECT_EQ(mounts[0].source, "/dev/sdc1");
    EXPECT_EQ(mounts[1].source, "udev");
}

TEST(LinuxSysfs, UsbInterfaceNames) {
    for (const char* yes : {"2-1:1.0", "1-0:1.0", "3-1.4.2:2.1"}) {
        EXPECT_TRUE(linux_host::IsUsbInterfaceName(yes)) << yes;
    }
    for (const char* no : {"2-1", "usb2", "host6", "6:0:0:1", "-1:1.0", "2-:1.0", "2-1:1"}) {
        EXPECT_FALSE(linux_host::IsUsbInterfaceName(no)) << no;
    }
}

}  // namespace
}  // namespace kvx::test
