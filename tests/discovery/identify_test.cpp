// The drive-letter check against emulated devices: which unit is the device, and the transport
// modes it leaves behind (wrapping, ATAPI form), proven by what the device then receives.
#include "discovery/identify.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "support/sim_library.h"
#include "transport/vendor.h"
#include "transport/wrapping.h"

namespace kvx {
namespace {

using test::DefaultVendorConfig;

class IdentifyTest : public test::SimLibraryTest {
  protected:
    bool Identify(char letter, std::uint8_t& error) {
        return IdentifyDevice(GlobalDeviceState(), static_cast<std::uint8_t>(letter), error);
    }
    static DeviceState& state() { return GlobalDeviceState(); }

    // The capability word through whatever the identification chose.
    bool SendCaps() {
        std::uint8_t word[4] = {};
        return SendVendor(state(), VendorCdb(kVendorGetCaps), word, sizeof word, kDirIn).accepted;
    }
};

TEST_F(IdentifyTest, WrapModeNeedsAesYesExactlyAndTheDeviceOffer) {
    struct Case {
        const char* aesLine;  // the configuration's "AES" line, or none
        sim::Wrap offer;
        std::optional<std::uint32_t> caps;  // INQUIRY capability word when not from the offer
        std::uint8_t mode;
        std::uint8_t firstOpcode;  // what the first vendor command goes out as
    };
    const Case cases[] = {
        {"AES=YES\n", sim::Wrap::kAes, std::nullopt, kWrapAes, 0x22},
        {"AES=YES\n", sim::Wrap::kScramble, std::nullopt, kWrapScrambled, 0x24},
        {"AES=YES\n", sim::Wrap::kNone, std::nullopt, kWrapNone, 0x20},
        {"AES=yes\n", sim::Wrap::kAes, std::nullopt, kWrapNone, 0x20},
        {"AES=Yes\n", sim::Wrap::kAes, std::nullopt, kWrapNone, 0x20},
        {"AES=NO\n", sim::Wrap::kAes, std::nullopt, kWrapNone, 0x20},
        {"AES=YESS\n", sim::Wrap::kAes, std::nullopt, kWrapNone, 0x20},
        {"", sim::Wrap::kAes, std::nullopt, kWrapNone, 0x20},
        // Bit 22 without bit 26 offers nothing.
        {"AES=YES\n", sim::Wrap::kAes, 1u << 22, kWrapNone, 0x20},
    };
    machine.AddDevice();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.aesLine) + std::string(sim::WrapName(c.offer)));
        ResetDeviceState();
        WriteConfig(DefaultVendorConfig(c.aesLine));
        machine.Update([&c](sim::BridgeState& s) {
            s.wrap = c.offer;
            s.inquiryCaps = c.caps;
            s.session = {};
        });
        std::uint8_t error = 0xEE;
        ASSERT_TRUE(Identify('E', error));
        EXPECT_EQ(error, 0);
        EXPECT_EQ(state().wrapMode, c.mode);
        const std::size_t mark = machine.LogSize();
        EXPECT_TRUE(SendCaps());
        const auto sent = test::Via(machine.Log(mark), "scsi");
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent.front().cdb[0], c.firstOpcode);
    }
}

TEST_F(IdentifyTest, LowerCaseAesMeetsADeviceThatRequiresWrappingWithPlainCommands) {
    machine.AddDevice([](sim::BridgeState& s) {
        s.wrap = sim::Wrap::kAes;
        s.wrapRequired = true;
    });
    WriteConfig(DefaultVendorConfig("AES=yes\n"));
    std::uint8_t error = 0;
    ASSERT_TRUE(Identify('E', error));
    EXPECT_EQ(state().wrapMode, kWrapNone);
    EXPECT_FALSE(SendCaps());
    EXPECT_EQ(machine.Log().back().note, "vendor commands must be wrapped");
}

TEST_F(IdentifyTest, ZeroUsbIdentifiersEndTheSearchAtTheFirstMatchingTexts) {
    const std::string models =
        "[VENDOR]\n"
        "VENDORSTR3=KVXSIM\nPRODUCTSTR3=VIRTUAL\nVID3=0x0000\nPID3=0x0000\n"
        "VENDORSTR4=KVXSIM\nPRODUCTSTR4=VIRTUAL\nVID4=0x0000\nPID4=0x0000\n";
    machine.AddDevice([](sim::BridgeState& s) {
        s.vid = 0;
        s.pid = 0;
    });
    WriteConfig(models);
    std::uint8_t error = 0xEE;
    EXPECT_FALSE(Identify('E', error));
    EXPECT_EQ(error, 0);
    // The same texts with identifiers the device has: found at index 3.
    ResetDeviceState();
    machine.Update([](sim::BridgeState& s) {
        s.vid = 0x1234;
        s.pid = 0x00AB;
    });
    WriteConfig("[VENDOR]\nVENDORSTR3=kvxsim\nPRODUCTSTR3=virtual\nVID3=0x1234\nPID3=0X00ab\n");
    EXPECT_TRUE(Identify('E', error));
}

TEST_F(IdentifyTest, AtapiDeviceGetsTheRewriteAndKeepsItForLaterIdentifications) {
    machine.AddDevice([](sim::BridgeState& s) {
        s.bus = sim::Bus::kAtapi;
        s.wrap = sim::Wrap::kAes;
    });
    WriteConfig(DefaultVendorConfig("AES=YES\n"));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        std::uint8_t error = 0;
        ASSERT_TRUE(Identify('E', error));
        EXPECT_EQ(state().atapiRewrite, 4);
        const std::size_t mark = machine.LogSize();
        ASSERT_TRUE(SendCaps());
        const auto sent = test::Via(machine.Log(mark), "scsi");
        ASSERT_EQ(sent.size(), 1u);
        // The ATAPI form goes out plain, with the sub-command in byte 9 and at least six bytes.
        EXPECT_EQ(sent[0].cdb, (std::vector<std::uint8_t>{0x21, 0, 0, 0, 0, 0, 0, 0, 0, 0x80}));
        EXPECT_EQ(sent[0].length, 6u);
        EXPECT_EQ(sent[0].status, 0);
        ActiveHost().Close(state().drive);
        state().drive = kInvalidHandle;
    }
    // A USB device identified afterwards gets the plain form again.
    machine.Update([](sim::BridgeState& s) {
        s.bus = sim::Bus::kUsb;
        s.wrap = sim::Wrap::kNone;
    });
    std::uint8_t error = 0;
    ASSERT_TRUE(Identify('E', error));
    EXPECT_EQ(state().atapiRewrite, 0);
}

TEST_F(IdentifyTest, LettersThatAreNotTheDevice) {
    machine.AddDevice();
    machine.SetMachine([](sim::MachineConfig& m) {
        m.drives = {{'C', kDriveFixed}, {'D', kDriveCdRom}, {'N', kDriveRemote}};
    });
    WriteConfig(DefaultVendorConfig());
    struct Case {
        char letter;
        bool found;
        std::uint8_t error;
    };
    const Case cases[] = {
        {'C', false, 0},   // the machine's own disk answers INQUIRY with other texts
        {'D', false, 0},   // its own DVD drive
        {'F', false, 0},   // the device's secure unit: other product text
        {'N', false, 30},  // a network drive does not open
        {'Q', false, 30},  // no such drive
        {'E', true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.letter);
        std::uint8_t error = 0xEE;
        EXPECT_EQ(Identify(c.letter, error), c.found);
        EXPECT_EQ(error, c.error);
        ActiveHost().Close(state().drive);
        state().drive = kInvalidHandle;
    }
    std::filesystem::remove(programDir.path() / "ACMEKVX.INI");
    std::uint8_t error = 0;
    EXPECT_FALSE(Identify('E', error));
    EXPECT_EQ(error, 5);
}

}  // namespace
}  // namespace kvx
