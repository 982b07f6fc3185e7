#include "sim/host/registry.h"

#include <cstdio>

#include "host/text.h"

namespace kvx::sim {
namespace {

constexpr char kVolumeClass[] = "{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr char kDiskClass[] = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr char16_t kMountedDevices[] = u"SYSTEM\\MountedDevices";
constexpr char16_t kEnum[] = u"SYSTEM\\CurrentControlSet\\Enum\\";
constexpr char16_t kDiskEnum[] = u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum";
constexpr char kSystemDiskInstance[] =
    "IDE\\DiskSIMHOST_SYSTEM_DISK_____________________1.00____\\5&2f1c0a7e&0&0.0.0";

std::u16string Upper(std::u16string_view text) {
    return UpperAscii(text);
}

// Text data as Windows stores it: UTF-16LE, with the terminator for REG_SZ, without it in the
// binary mount data.
RegistryValue TextValue(std::string_view text, RegistryType type) {
    RegistryValue v;
    v.type = type;
    for (char c : text) {
        v.data.push_back(static_cast<std::uint8_t>(c));
        v.data.push_back(0);
    }
    if (type == RegistryType::kString) {
        v.data.push_back(0);
        v.data.push_back(0);
    }
    return v;
}

RegistryValue String(std::string_view text) {
    return TextValue(text, RegistryType::kString);
}

RegistryValue Dword(std::uint32_t n) {
    RegistryValue v;
    v.type = RegistryType::kDword;
    for (int i = 0; i < 4; ++i) {
        v.data.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    }
    return v;
}

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

std::u16string DosDevice(char letter) {
    return u"\\DosDevices\\" + std::u16string(1, static_cast<char16_t>(letter)) + u":";
}

std::string Hex4(std::uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(v));
    return text;
}

// "CdRom&Ven_V&Prod_P&Rev_R" or "Disk&Ven_..": the device-class part of a unit's instance path.
std::string StorageClass(const BridgeState& s, bool cdUnit) {
    return std::string(cdUnit ? "CdRom" : "Disk") + "&Ven_" +
           StorageIdText(cdUnit ? s.vendor : s.secVendor) + "&Prod_" +
           StorageIdText(cdUnit ? s.product : s.secProduct) + "&Rev_" + StorageIdText(s.revision);
}

std::string UnitInstanceId(const BridgeState& s, bool cdUnit) {
    return s.serial + (cdUnit ? "&0" : "&1");
}

}  // namespace

std::string StorageIdText(std::string_view field) {
    while (!field.empty() && field.back() == ' ') {
        field.remove_suffix(1);
    }
    std::string text;
    for (char c : field) {
        const bool plain = c > 0x20 && c < 0x7F && c != ',';
        text.push_back(plain ? c : '_');
    }
    return text;
}

std::string UsbStorInstance(const BridgeState& state, bool cdUnit) {
    return "USBSTOR\\" + StorageClass(state, cdUnit) + "\\" + UnitInstanceId(state, cdUnit);
}

Registry::Registry(const MachineConfig& machine,
                   const std::vector<std::optional<BridgeState>>& devices) {
    Make(kMountedDevices);
    Make(std::u16string(kEnum) + u"USB");
    Make(std::u16string(kEnum) + u"USBSTOR");
    for (const MachineDrive& d : machine.drives) {
        switch (d.type) {
            case kDriveFixed:
                Set(kMountedDevices, DosDevice(d.letter), DiskSignature(d.letter));
                break;
            case kDriveCdRom:
                Set(kMountedDevices, DosDevice(d.letter),
                    TextValue("\\??\\IDE#CdRomSIMHOST_DVD_DRIVE_______________________1.00____#5&"
                              "3a9e1b2c&0&1.0.0#" +
                                  std::string(kVolumeClass),
                              RegistryType::kBinary));
                break;
            case kDriveRemovable:
                Set(kMountedDevices, DosDevice(d.letter),
                    TextValue(
                        "\\??\\STORAGE#RemovableMedia#7&1f2e3d4c&0&RM#" + std::string(kVolumeClass),
                        RegistryType::kBinary));
                break;
            default:
                break;  // network drives and RAM disks have no mount entry
        }
    }
    std::uint32_t disks = 1;  // the machine's own disk
    Set(kDiskEnum, u"0", String(kSystemDiskInstance));
    for (const auto& device : devices) {
        if (!device) {
            continue;
        }
        const BridgeState& s = *device;
        Set(kMountedDevices, DosDevice(s.cdLetter),
            TextValue("\\??\\USBSTOR#" + StorageClass(s, true) + "#" + UnitInstanceId(s, true) +
                          "#" + kVolumeClass,
                      RegistryType::kBinary));
        Set(kMountedDevices, DosDevice(s.secLetter),
            TextValue("\\??\\USBSTOR#" + StorageClass(s, false) + "#" + UnitInstanceId(s, false) +
                          "#" + kDiskClass,
                      RegistryType::kBinary));
        const std::u16string usbKey = std::u16string(kEnum) + u"USB\\" +
                                      FromUtf8("VID_" + Hex4(s.vid) + "&PID_" + Hex4(s.pid)) +
                                      u"\\" + FromUtf8(s.serial);
        Set(usbKey, u"Service", String("USBSTOR"));
        Set(usbKey, u"DeviceDesc", String("USB Mass Storage Device"));
        for (const bool cd : {true, false}) {
            const std::u16string unitKey = std::u16string(kEnum) + FromUtf8(UsbStorInstance(s, cd));
            Set(unitKey, u"Service", String(cd ? "cdrom" : "disk"));
            Set(unitKey, u"Class", String(cd ? "CDROM" : "DiskDrive"));
            Set(unitKey, u"FriendlyName",
                String((cd ? s.vendor : s.secVendor) + " " + (cd ? s.product : s.secProduct) +
                       " USB Device"));
        }
        if (s.plugged) {
            Set(kDiskEnum, FromUtf8(std::to_string(disks)), String(UsbStorInstance(s, false)));
            ++disks;
        }
    }
    Set(kDiskEnum, u"Count", Dword(disks));
    Set(kDiskEnum, u"NextInstance", Dword(disks));
}

Registry::Key& Registry::Make(std::u16string_view path) {
    const std::u16string upper = Upper(path);
    if (const auto it = keys_.find(upper); it != keys_.end()) {
        return it->second;
    }
    const std::size_t cut = path.rfind(u'\\');
    if (cut != std::u16string_view::npos) {
        Make(path.substr(0, cut)).subkeys.emplace_back(path.substr(cut + 1));
    }
    return keys_[upper];
}

void Registry::Set(std::u16string_view path, std::u16string_view name, RegistryValue value) {
    Make(path).values[Upper(name)] = std::move(value);
}

std::optional<RegistryValue> Registry::Value(std::u16string_view keyPath,
                                             std::u16string_view valueName) const {
    const auto key = keys_.find(Upper(keyPath));
    if (key == keys_.end()) {
        return std::nullopt;
    }
    const auto value = key->second.values.find(Upper(valueName));
    if (value == key->second.values.end()) {
        return std::nullopt;
    }
    return value->second;
}

std::optional<std::vector<std::u16string>> Registry::Subkeys(std::u16string_view keyPath) const {
    const auto key = keys_.find(Upper(keyPath));
    if (key == keys_.end()) {
        return std::nullopt;
    }
    return key->second.subkeys;
}

}  // namespace kvx::sim
