// The emulated machine's registry as the library reads it: mount texts of the drive letters, the
// device keys under Enum and the disk list.
#include "sim/host/registry.h"

#include "host/registry_store.h"

#include <gtest/gtest.h>

#include <string>

#include "discovery/hub_scan.h"
#include "host/text.h"
#include "support/sim_machine.h"

namespace kvx::test {
namespace {

constexpr char16_t kEnum[] = u"SYSTEM\\CurrentControlSet\\Enum\\";

class SimRegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        machine.AddDevice([](sim::BridgeState& s) {
            s.vendor = "ACME CO";
            s.product = "SECURE, CD";
            s.secVendor = "ACME";
            s.secProduct = "SECURE DISK";
            s.revision = "2.0";
            s.serial = "ACME00000001";
        });
        machine.AddDevice([](sim::BridgeState& s) {
            s.serial = "KVXSIM000002";
            s.vid = 0xABCD;
            s.pid = 0x00EF;
        });
        machine.SetMachine([](sim::MachineConfig& m) {
            m.drives = {{'C', kDriveFixed}, {'D', kDriveCdRom}, {'N', kDriveRemote}};
        });
    }
    Host& host() { return sim.host(); }
    std::u16string Text(std::u16string_view key, std::u16string_view value) {
        return RegistryText(host().ReadRegistryValue(key, value), 1000);
    }

    SimMachine machine;
    ScopedSimHost sim{machine};
};

TEST_F(SimRegistryTest, MountTextsNameEachUnitOfEachDevice) {
    struct Case {
        char16_t letter;
        std::u16string text;
    };
    const Case cases[] = {
        {u'E',
         u"\\??\\USBSTOR#CdRom&Ven_ACME_CO&Prod_SECURE__CD&Rev_2.0#ACME00000001&0#"
         u"{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}"},
        {u'F',
         u"\\??\\USBSTOR#Disk&Ven_ACME&Prod_SECURE_DISK&Rev_2.0#ACME00000001&1#"
         u"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"},
        {u'G',
         u"\\??\\USBSTOR#CdRom&Ven_KVXSIM&Prod_VIRTUAL_CD&Rev_1.00#KVXSIM000002&0#"
         u"{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}"},
        {u'H',
         u"\\??\\USBSTOR#Disk&Ven_KVXSIM&Prod_VIRTUAL_DISK&Rev_1.00#KVXSIM000002&1#"
         u"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(std::u16string(1, c.letter)));
        EXPECT_EQ(MountText(host(), c.letter, 500), c.text);
        // Stored as binary UTF-16LE without a terminator, as Windows keeps mount data.
        const auto raw = host().ReadRegistryValue(
            u"sYsTeM\\MOUNTEDDEVICES", u"\\DOSDEVICES\\" + std::u16string(1, c.letter) + u":");
        ASSERT_TRUE(raw);
        EXPECT_EQ(raw->type, RegistryType::kBinary);
        EXPECT_EQ(raw->data.size(), 2 * c.text.size());
    }
    // The machine's fixed disk: signature and offset; a network drive has no entry.
    const auto disk = host().ReadRegistryValue(u"SYSTEM\\MountedDevices", u"\\DosDevices\\C:");
    ASSERT_TRUE(disk);
    EXPECT_EQ(disk->data.size(), 12u);
    EXPECT_FALSE(host().ReadRegistryValue(u"SYSTEM\\MountedDevices", u"\\DosDevices\\N:"));
    EXPECT_NE(MountText(host(), u'D', 500).find(u"CdRom"), std::u16string::npos);
    EXPECT_EQ(MountText(host(), u'Q', 500), u"");
    // The library cuts the text to the units it asks for.
    EXPECT_EQ(MountText(host(), u'E', 80).size(), 80u);
}

TEST_F(SimRegistryTest, EnumKeysOfTheUsbDevicesAndTheirUnits) {
    const auto usb = host().RegistrySubkeys(std::u16string(kEnum) + u"USB");
    ASSERT_TRUE(usb);
    EXPECT_EQ(*usb, (std::vector<std::u16string>{u"VID_1209&PID_0001", u"VID_ABCD&PID_00EF"}));
    // Key paths as the library spells them, letter case aside.
    const std::u16string first = std::u16string(kEnum) + u"USB\\Vid_1209&Pid_0001\\ACME00000001";
    EXPECT_EQ(host().RegistrySubkeys(first), std::vector<std::u16string>{});
    EXPECT_EQ(Text(first, u"Service"), u"USBSTOR");
    EXPECT_EQ(Text(first, u"service"), u"USBSTOR");
    EXPECT_FALSE(host().ReadRegistryValue(first, u"ParentIdPrefix"));
    const auto service = host().ReadRegistryValue(first, u"Service");
    ASSERT_TRUE(service);
    EXPECT_EQ(service->type, RegistryType::kString);
    EXPECT_EQ(service->data.size(), 2u * 8);  // seven units and the terminator

    const auto classes = host().RegistrySubkeys(u"system\\currentcontrolset\\enum\\usbstor");
    ASSERT_TRUE(classes);
    EXPECT_EQ(*classes, (std::vector<std::u16string>{
                            u"CdRom&Ven_ACME_CO&Prod_SECURE__CD&Rev_2.0",
                            u"Disk&Ven_ACME&Prod_SECURE_DISK&Rev_2.0",
                            u"CdRom&Ven_KVXSIM&Prod_VIRTUAL_CD&Rev_1.00",
                            u"Disk&Ven_KVXSIM&Prod_VIRTUAL_DISK&Rev_1.00",
                        }));
    const auto instances =
        host().RegistrySubkeys(std::u16string(kEnum) + u"USBSTOR\\" + (*classes)[3]);
    ASSERT_TRUE(instances);
    EXPECT_EQ(*instances, std::vector<std::u16string>{u"KVXSIM000002&1"});
    EXPECT_EQ(Text(std::u16string(kEnum) + u"USBSTOR\\" + (*classes)[0] + u"\\ACME00000001&0",
                   u"Service"),
              u"cdrom");
    EXPECT_FALSE(host().RegistrySubkeys(std::u16string(kEnum) + u"USB\\VID_0000&PID_0000"));
}

TEST_F(SimRegistryTest, DiskListFollowsTheDevicesOnTheBus) {
    const std::u16string key = u"SYSTEM\\CURRENTCONTROLSET\\SERVICES\\DISK\\ENUM";
    const auto count = [&] {
        const auto v = host().ReadRegistryValue(key, u"Count");
        EXPECT_TRUE(v);
        EXPECT_EQ(v->type, RegistryType::kDword);
        return v->data[0] | v->data[1] << 8 | v->data[2] << 16 | v->data[3] << 24;
    };
    EXPECT_EQ(count(), 3);
    EXPECT_EQ(Text(key, u"2"),
              u"USBSTOR\\Disk&Ven_KVXSIM&Prod_VIRTUAL_DISK&Rev_1.00\\KVXSIM000002&1");
    machine.Update([](sim::BridgeState& s) { s.plugged = false; }, 0);
    EXPECT_EQ(count(), 2);
    EXPECT_EQ(Text(key, u"1"),
              u"USBSTOR\\Disk&Ven_KVXSIM&Prod_VIRTUAL_DISK&Rev_1.00\\KVXSIM000002&1");
    // The mount texts stay, as Windows keeps them for a device that went away.
    EXPECT_NE(MountText(host(), u'E', 500), u"");
}

TEST(StorageIdText, AsWindowsFormsIdentifiers) {
    const std::pair<std::string, std::string> cases[] = {
        {"KVXSIM  ", "KVXSIM"}, {"A B,C", "A_B_C"}, {"x\x01y\x7F", "x_y_"}, {"   ", ""}, {"", ""}};
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(StorageIdText(in), out) << in;
    }
}

}  // namespace
}  // namespace kvx::test
