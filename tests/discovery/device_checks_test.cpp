// The device checks on emulated machines: several devices, drives of the machine itself, the
// non-administrator fall-back to the hub scan, and the chip code.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "discovery/hub_scan.h"
#include "discovery/identify.h"
#include "discovery/inquiry.h"
#include "frame/qda.h"
#include "host/forwarding_host.h"
#include "sim/host/usb_tree.h"
#include "support/sim_library.h"
#include "transport/vendor.h"
#include "transport/wrapping.h"

namespace kvx {
namespace {

using test::DefaultVendorConfig;
using test::Letters;

std::u16string Units(const char16_t* text, std::size_t n) {
    return std::u16string(text, n);
}

class DeviceChecksTest : public test::SimLibraryTest {
  protected:
    // Two devices, the later one on the lower letters, beside a fixed disk, a DVD drive and a
    // network drive of the machine.
    void TwoDevices() {
        machine.AddDevice([](sim::BridgeState& s) {
            s.cdLetter = 'K';
            s.secLetter = 'L';
            s.serial = "KVXSIM00000A";
        });
        machine.AddDevice([](sim::BridgeState& s) {
            s.cdLetter = 'G';
            s.secLetter = 'H';
            s.serial = "KVXSIM00000B";
            s.chip = "8A1C";
            s.usbPort = 2;
            s.usbHubDepth = 2;
        });
        machine.SetMachine([](sim::MachineConfig& m) {
            m.drives = {{'C', kDriveFixed}, {'D', kDriveCdRom}, {'N', kDriveRemote}};
            m.foreignUsbPort = 3;
        });
    }
    static DeviceState& state() { return GlobalDeviceState(); }
};

TEST_F(DeviceChecksTest, TwoDevicesGiveTheirLettersInAscendingOrder) {
    TwoDevices();
    WriteConfig(DefaultVendorConfig());
    QdaRequest request = Request('E', true);
    EXPECT_EQ(QDACheckCD(&request), 1);
    EXPECT_EQ(request.errorCode, 0);
    EXPECT_EQ(Letters(request.cdLetters), "GK");
    EXPECT_EQ(state().chipFlag, 1u);  // device 1 has the special chip
    EXPECT_EQ(state().hubMode, 0u);
    const std::string log = LogText();
    EXPECT_NE(log.find("Veltrin CD Drive letter 0=G"), std::string::npos) << log;
    EXPECT_NE(log.find("Veltrin CD Drive letter 1=K"), std::string::npos);
    EXPECT_NE(log.find("8A1C CD drv letter is 0=G"), std::string::npos);
    EXPECT_NE(log.find("D:\\=CD drive letter"), std::string::npos);

    EXPECT_EQ(QDACheckSEC(&request), 1);
    EXPECT_EQ(Letters(request.secureLetters), "HL");
    EXPECT_EQ(Letters(request.cdLetters), "GK");  // the other list stays

    // A closed secure unit has no letter.
    machine.Update([](sim::BridgeState& s) { s.secureOpen = false; }, 1);
    EXPECT_EQ(QDACheckSEC(&request), 1);
    EXPECT_EQ(Letters(request.secureLetters), "L");
}

TEST_F(DeviceChecksTest, CheckSecSkipsNetworkAndCdDrivesWithTheirLogLine) {
    TwoDevices();
    WriteConfig(DefaultVendorConfig());
    QdaRequest request = Request('E', true);
    EXPECT_EQ(QDACheckSEC(&request), 1);
    const std::string log = LogText();
    const std::size_t section = log.find("[QDACHECKSEC()]");
    ASSERT_NE(section, std::string::npos) << log;
    for (const char* line :
         {"N:\\=Not a HDD or REM drive letter", "D:\\=Not a HDD or REM drive letter",
          "G:\\=Not a HDD or REM drive letter", "Checking for driveletterN:\\=PASS"}) {
        EXPECT_NE(log.find(line, section), std::string::npos) << line;
    }
    // The fixed disk is asked and turned down by its texts.
    EXPECT_NE(log.find("Vendor string of C:=SIMHOST", section), std::string::npos);
    EXPECT_EQ(log.find("C:\\=Not a HDD", section), std::string::npos);
}

TEST_F(DeviceChecksTest, NonAdministratorWithNonadminFallsBackToTheHubScan) {
    TwoDevices();
    machine.SetMachine([](sim::MachineConfig& m) { m.admin = false; });
    WriteConfig(DefaultVendorConfig("NONADMIN=YES\n"));
    QdaRequest request = Request('E', true);
    EXPECT_EQ(QDACheckCD(&request), 1);
    EXPECT_EQ(request.errorCode, '1');
    EXPECT_EQ(state().hubMode, 1u);
    EXPECT_EQ(state().chipListFlag, 1u);
    EXPECT_NE(LogText().find("NONADMIN=DETECTED"), std::string::npos);

    // One record per device, found through the hubs, with the serial from its string descriptor
    // and the CD letter from the registry.
    ASSERT_EQ(state().devices.size(), 2u);
    const UsbDeviceRecord& first = state().devices.front();
    const UsbDeviceRecord& second = state().devices.back();
    EXPECT_EQ(Units(first.serial, 12), u"KVXSIM00000A");
    EXPECT_EQ(first.driveLetter, 'K');
    EXPECT_EQ(first.port, 1);
    EXPECT_EQ(std::string(first.hubDevicePath), "\\\\.\\" + sim::UsbTree::HubName(0));
    EXPECT_EQ(Units(second.serial, 12), u"KVXSIM00000B");
    EXPECT_EQ(second.driveLetter, 'G');
    EXPECT_EQ(second.port, 2);
    EXPECT_EQ(std::string(second.hubDevicePath), "\\\\.\\" + sim::UsbTree::HubName(2));
    EXPECT_EQ(Units(second.vendorIdText, 6), u"0x1209");
    EXPECT_EQ(state().current, &first);
    EXPECT_EQ(Letters(request.cdLetters), "KG");
}

TEST_F(DeviceChecksTest, HubModeSendsVendorCommandsPlainEvenToAWrappingDevice) {
    machine.AddDevice([](sim::BridgeState& s) {
        s.wrap = sim::Wrap::kAes;
        s.wrapRequired = true;
        s.usbHubDepth = 1;
    });
    machine.SetMachine([](sim::MachineConfig& m) { m.admin = false; });
    WriteConfig(DefaultVendorConfig("NONADMIN=YES\nAES=YES\n"));
    QdaRequest request = Request('E');
    ASSERT_EQ(QDACheckCD(&request), 1);
    ASSERT_EQ(Letters(request.cdLetters), "E");
    std::uint8_t error = 0;
    ASSERT_TRUE(IdentifyDevice(state(), 'E', error));
    state().wrapMode = kWrapAes;  // even with a wrapping mode left from elsewhere
    const std::size_t mark = machine.LogSize();
    std::uint8_t word[4] = {};
    ASSERT_TRUE(SendVendor(state(), VendorCdb(kVendorGetCaps), word, 4, kDirIn));
    EXPECT_EQ(word[2] & 0x02, 0x02);  // bit 17: the secure unit is open
    const auto hub = test::Via(machine.Log(mark), "hub");
    ASSERT_EQ(hub.size(), 1u);
    EXPECT_EQ(hub[0].cdb, (std::vector<std::uint8_t>{0x20, 0x80, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(test::Via(machine.Log(mark), "scsi").empty());
    EXPECT_EQ(state().wrapCounter, 0);
}

TEST_F(DeviceChecksTest, NonAdministratorWithoutNonadminFindsNothing) {
    TwoDevices();
    machine.SetMachine([](sim::MachineConfig& m) { m.admin = false; });
    WriteConfig(DefaultVendorConfig());
    QdaRequest request = Request('E', true);
    EXPECT_EQ(QDACheckCD(&request), 0);
    EXPECT_EQ(request.errorCode, 4);
    EXPECT_EQ(Letters(request.cdLetters), "");
    EXPECT_EQ(state().hubMode, 0u);
    EXPECT_NE(LogText().find("Creating handle retured error code 5=PASS"), std::string::npos);
    // NONADMIN must say YES exactly.
    WriteConfig(DefaultVendorConfig("NONADMIN=yes\n"));
    EXPECT_EQ(QDACheckCD(&request), 0);
    EXPECT_EQ(request.errorCode, 4);
}

TEST_F(DeviceChecksTest, ChipNumberOfTheDeviceAndOfLettersThatAreNot) {
    TwoDevices();
    WriteConfig(DefaultVendorConfig());
    struct Case {
        char letter;
        int result;
        std::uint8_t error;
        std::u16string chip;  // expected text; empty = untouched
    };
    const Case cases[] = {
        {'G', 1, 0, u"8A1C"}, {'K', 1, 0, u"3B11"}, {'C', 0, 29, u""}, {'D', 0, 29, u""},
        {'L', 0, 29, u""},    {'N', 0, 30, u""},  // a network drive does not even open: that code
                                                  // comes first
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.letter);
        QdaRequest request = Request(c.letter);
        std::uint16_t chip[8];
        std::fill(std::begin(chip), std::end(chip), 0x7878);
        EXPECT_EQ(QDAGetChipNum(&request, chip), c.result);
        EXPECT_EQ(request.errorCode, c.error);
        if (c.chip.empty()) {
            EXPECT_TRUE(std::all_of(std::begin(chip), std::end(chip),
                                    [](std::uint16_t u) { return u == 0x7878; }));
        } else {
            EXPECT_EQ(std::u16string(chip, chip + 4), c.chip);
            EXPECT_EQ(chip[4], 0);
            EXPECT_EQ(chip[5], 0x7878);
        }
    }
}

// A device whose INQUIRY answer carries the given four bytes as its chip code.
class ChipBytesHost final : public ForwardingHost {
  public:
    ChipBytesHost(Host& next, std::array<std::uint8_t, kChipCodeLength> code)
        : ForwardingHost(next), code_(code) {}
    ScsiOutcome ScsiPassThrough(HostHandle drive, const ScsiCommand& command) override {
        ScsiOutcome outcome = ForwardingHost::ScsiPassThrough(drive, command);
        if (command.cdb[0] == 0x12 && command.data.size() >= kChipCodeEnd) {
            std::copy(code_.begin(), code_.end(), command.data.begin() + kChipCodeAt);
        }
        return outcome;
    }

  private:
    std::array<std::uint8_t, kChipCodeLength> code_;
};

TEST_F(DeviceChecksTest, ChipNumberIsItsFourBytesWhateverTheyHold) {
    machine.AddDevice();
    WriteConfig(DefaultVendorConfig());
    using Code = std::array<std::uint8_t, kChipCodeLength>;
    for (const Code code :
         {Code{'7', 'E', 0x00, 0xA9}, Code{0, 0, 0, 0}, Code{'d', '3', 'f', '5'}}) {
        ChipBytesHost lying(sim->host(), code);
        const ScopedHostOverride scope(lying);
        QdaRequest request = Request('E');
        std::uint16_t chip[6];
        std::fill(std::begin(chip), std::end(chip), 0x7878);
        ASSERT_EQ(QDAGetChipNum(&request, chip), 1);
        for (std::size_t i = 0; i < kChipCodeLength; ++i) {
            EXPECT_EQ(chip[i], code[i]) << i;
        }
        EXPECT_EQ(chip[4], 0);
        EXPECT_EQ(chip[5], 0x7878);
    }
}

TEST_F(DeviceChecksTest, HubRecordsKeepTheHubNamePartsAndSkipUnconfiguredDevices) {
    TwoDevices();
    machine.Update([](sim::BridgeState& s) { s.usbConfigured = false; }, 0);
    machine.SetMachine([](sim::MachineConfig& m) { m.admin = false; });
    WriteConfig(DefaultVendorConfig("NONADMIN=YES\n"));
    QdaRequest request = Request('E');
    ASSERT_EQ(QDACheckCD(&request), 1);
    ASSERT_EQ(state().devices.size(), 2u);
    const UsbDeviceRecord& unconfigured = state().devices.front();
    const UsbDeviceRecord& usable = state().devices.back();
    // Connected but not configured: state 1, never the current record nor a letter of the list.
    EXPECT_EQ(unconfigured.state, 1);
    EXPECT_EQ(unconfigured.driveLetter, 'K');
    EXPECT_EQ(state().current, &usable);
    EXPECT_EQ(Letters(request.cdLetters), "G");
    std::uint8_t error = 0;
    EXPECT_FALSE(IdentifyDevice(state(), 'K', error));
    EXPECT_TRUE(IdentifyDevice(state(), 'G', error));
    // "USB#ROOT_HUB30#4&1b2c3d&0#{...}" and an external hub's name, cut at their '#'.
    EXPECT_EQ(std::string(unconfigured.hubIdPart), "ROOT_HUB30");
    EXPECT_EQ(std::string(unconfigured.hubInstancePart), "4&1b2c3d&0");
    EXPECT_EQ(std::string(usable.hubIdPart), "VID_1209&PID_4B01");
    EXPECT_EQ(std::string(usable.hubInstancePart), "5&2a2f7e0&0&4");
    EXPECT_EQ(usable.parentVendorId, 0x1209);
    EXPECT_EQ(HubIdPart("USB#ROOT_HUB20#4&1b2c3d&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}"),
              "ROOT_HUB20");
    EXPECT_EQ(HubInstancePart("USB#ROOT_HUB20#4&1b2c3d&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}"),
              "4&1b2c3d&0");
    EXPECT_EQ(HubIdPart("no separators"), "");
}

}  // namespace
}  // namespace kvx
