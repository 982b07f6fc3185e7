#include "host/registry_store.h"

#include <cstdio>

#include "host/text.h"

namespace kvx {
namespace {

RegistryValue String(std::string_view text) {
    return RegistryTextValue(text, RegistryType::kString);
}

std::string Hex4(std::uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(v));
    return text;
}

std::string InstanceId(const UsbStorageUnit& unit) {
    return unit.serial + "&" + std::to_string(unit.lun);
}

}  // namespace

void RegistryStore::Make(std::u16string_view path) {
    MakeKey(path);
}

RegistryStore::Key& RegistryStore::MakeKey(std::u16string_view path) {
    const std::u16string upper = UpperAscii(path);
    if (const auto it = keys_.find(upper); it != keys_.end()) {
        return it->second;
    }
    const std::size_t cut = path.rfind(u'\\');
    if (cut != std::u16string_view::npos) {
        MakeKey(path.substr(0, cut)).subkeys.emplace_back(path.substr(cut + 1));
    }
    return keys_[upper];
}

void RegistryStore::Set(std::u16string_view path, std::u16string_view name, RegistryValue value) {
    MakeKey(path).values[UpperAscii(name)] = std::move(value);
}

std::optional<RegistryValue> RegistryStore::Value(std::u16string_view keyPath,
                                                  std::u16string_view valueName) const {
    const auto key = keys_.find(UpperAscii(keyPath));
    if (key == keys_.end()) {
        return std::nullopt;
    }
    const auto value = key->second.values.find(UpperAscii(valueName));
    if (value == key->second.values.end()) {
        return std::nullopt;
    }
    return value->second;
}

std::optional<std::vector<std::u16string>> RegistryStore::Subkeys(
    std::u16string_view keyPath) const {
    const auto key = keys_.find(UpperAscii(keyPath));
    if (key == keys_.end()) {
        return std::nullopt;
    }
    return key->second.subkeys;
}

RegistryValue RegistryTextValue(std::string_view text, RegistryType type) {
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

RegistryValue RegistryDwordValue(std::uint32_t n) {
    RegistryValue v;
    v.type = RegistryType::kDword;
    for (int i = 0; i < 4; ++i) {
        v.data.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    }
    return v;
}

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

std::string UsbStorClass(const UsbStorageUnit& unit) {
    return std::string(unit.cdRom ? "CdRom" : "Disk") + "&Ven_" + StorageIdText(unit.vendor) +
           "&Prod_" + StorageIdText(unit.product) + "&Rev_" + StorageIdText(unit.revision);
}

std::string UsbStorInstance(const UsbStorageUnit& unit) {
    return "USBSTOR\\" + UsbStorClass(unit) + "\\" + InstanceId(unit);
}

std::u16string DosDeviceName(char letter) {
    return u"\\DosDevices\\" + std::u16string(1, static_cast<char16_t>(letter)) + u":";
}

void AddUsbStorageDevice(RegistryStore& store, std::uint16_t vid, std::uint16_t pid,
                         std::string_view serial, const std::vector<UsbStorageUnit>& units) {
    store.Make(std::u16string(kEnumKey) + u"USB");
    store.Make(std::u16string(kEnumKey) + u"USBSTOR");
    const std::u16string usbKey = std::u16string(kEnumKey) + u"USB\\" +
                                  FromUtf8("VID_" + Hex4(vid) + "&PID_" + Hex4(pid)) + u"\\" +
                                  FromUtf8(std::string(serial));
    store.Set(usbKey, u"Service", String("USBSTOR"));
    store.Set(usbKey, u"DeviceDesc", String("USB Mass Storage Device"));
    for (const UsbStorageUnit& unit : units) {
        const std::u16string unitKey = std::u16string(kEnumKey) + FromUtf8(UsbStorInstance(unit));
        store.Set(unitKey, u"Service", String(unit.cdRom ? "cdrom" : "disk"));
        store.Set(unitKey, u"Class", String(unit.cdRom ? "CDROM" : "DiskDrive"));
        store.Set(unitKey, u"FriendlyName",
                  String(unit.vendor + " " + unit.product + " USB Device"));
    }
}

void AddUsbStorageMount(RegistryStore& store, char letter, const UsbStorageUnit& unit) {
    store.Set(kMountedDevicesKey, DosDeviceName(letter),
              RegistryTextValue("\\??\\USBSTOR#" + UsbStorClass(unit) + "#" + InstanceId(unit) +
                                    "#" + (unit.cdRom ? kVolumeClassGuid : kDiskClassGuid),
                                RegistryType::kBinary));
}

void SetDiskList(RegistryStore& store, const std::vector<std::string>& instances) {
    std::uint32_t n = 0;
    for (const std::string& instance : instances) {
        store.Set(kDiskEnumKey, FromUtf8(std::to_string(n)), String(instance));
        ++n;
    }
    store.Set(kDiskEnumKey, u"Count", RegistryDwordValue(n));
    store.Set(kDiskEnumKey, u"NextInstance", RegistryDwordValue(n));
}

}  // namespace kvx
