#include "sim/host/registry.h"

#include "host/text.h"

namespace kvx::sim {
namespace {

constexpr char kSystemDiskInstance[] =
    "IDE\\DiskSIMHOST_SYSTEM_DISK_____________________1.00____\\5&2f1c0a7e&0&0.0.0";

// A basic disk's mount data: the disk signature and the partition's byte offset.
RegistryValue DiskSignature(char letter) {
    RegistryValue v;
    v.type = RegistryType::kBinary;
    const std::uint32_t signature = 0x5AB1C000u + static_cast<std::uint8_t>(letter);
    const std::uint64_t offset = 1u << 20;
    for (int i = 0; i < 4; ++i) {
        v.data.push_back(static_cast<std::uint8_t>(signature >> (8 * i)));
    }
    for (int i = 0; i < 8; ++i) {
        v.data.push_back(static_cast<std::uint8_t>(offset >> (8 * i)));
    }
    return v;
}

}  // namespace

UsbStorageUnit StorageUnit(const BridgeState& s, bool cdUnit) {
    UsbStorageUnit unit;
    unit.cdRom = cdUnit;
    unit.vendor = cdUnit ? s.vendor : s.secVendor;
    unit.product = cdUnit ? s.product : s.secProduct;
    unit.revision = s.revision;
    unit.serial = s.serial;
    unit.lun = cdUnit ? 0 : 1;
    return unit;
}

Registry::Registry(const MachineConfig& machine,
                   const std::vector<std::optional<BridgeState>>& devices) {
    store_.Make(kMountedDevicesKey);
    store_.Make(std::u16string(kEnumKey) + u"USB");
    store_.Make(std::u16string(kEnumKey) + u"USBSTOR");
    for (const MachineDrive& d : machine.drives) {
        switch (d.type) {
            case kDriveFixed:
                store_.Set(kMountedDevicesKey, DosDeviceName(d.letter), DiskSignature(d.letter));
                break;
            case kDriveCdRom:
                store_.Set(kMountedDevicesKey, DosDeviceName(d.letter),
                           RegistryTextValue(
                               "\\??\\IDE#CdRomSIMHOST_DVD_DRIVE_______________________1.00____#5&"
                               "3a9e1b2c&0&1.0.0#" +
                                   std::string(kVolumeClassGuid),
                               RegistryType::kBinary));
                break;
            case kDriveRemovable:
                store_.Set(kMountedDevicesKey, DosDeviceName(d.letter),
                           RegistryTextValue("\\??\\STORAGE#RemovableMedia#7&1f2e3d4c&0&RM#" +
                                                 std::string(kVolumeClassGuid),
                                             RegistryType::kBinary));
                break;
            default:
                break;  // network drives and RAM disks have no mount entry
        }
    }
    std::vector<std::string> disks = {kSystemDiskInstance};  // the machine's own disk
    for (const auto& device : devices) {
        if (!device) {
            continue;
        }
        const BridgeState& s = *device;
        const UsbStorageUnit cd = StorageUnit(s, true);
        const UsbStorageUnit secure = StorageUnit(s, false);
        AddUsbStorageMount(store_, s.cdLetter, cd);
        AddUsbStorageMount(store_, s.secLetter, secure);
        AddUsbStorageDevice(store_, s.vid, s.pid, s.serial, {cd, secure});
        if (s.plugged) {
            disks.push_back(UsbStorInstance(secure));
        }
    }
    SetDiskList(store_, disks);
}

}  // namespace kvx::sim
