// A small in-memory HKEY_LOCAL_MACHINE for hosts that show their storage to the library the way
// Windows keeps it (the emulated machine, Linux): keys made on first use, values by name, and the
// texts Windows forms for USB mass storage:
//   SYSTEM\MountedDevices, "\DosDevices\X:"       \??\USBSTOR#<class>#<instance>#{class guid}
//   ...\Enum\USB\VID_xxxx&PID_xxxx\SERIAL         "Service" = "USBSTOR"
//   ...\Enum\USBSTOR\<class>\<instance>           the unit ("Service" = "cdrom" or "disk")
//   ...\Services\disk\Enum                        "Count" = disks present; "0", "1", ... each
// where <class> is "CdRom&Ven_V&Prod_P&Rev_R" or "Disk&Ven_.." and <instance> "SERIAL&LUN".
// Key paths and value names compare without letter case.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_types.h"

namespace kvx {

inline constexpr char16_t kMountedDevicesKey[] = u"SYSTEM\\MountedDevices";
inline constexpr char16_t kEnumKey[] = u"SYSTEM\\CurrentControlSet\\Enum\\";
inline constexpr char16_t kDiskEnumKey[] = u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum";
// The device-interface classes in mount texts: volumes and disks.
inline constexpr char kVolumeClassGuid[] = "{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";
inline constexpr char kDiskClassGuid[] = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

class RegistryStore {
  public:
    // Makes a key (and its parents); an existing key stays as it is.
    void Make(std::u16string_view path);
    void Set(std::u16string_view path, std::u16string_view name, RegistryValue value);

    std::optional<RegistryValue> Value(std::u16string_view keyPath,
                                       std::u16string_view valueName) const;
    std::optional<std::vector<std::u16string>> Subkeys(std::u16string_view keyPath) const;

  private:
    struct Key {
        std::vector<std::u16string> subkeys;             // as spelt, in the order they were made
        std::map<std::u16string, RegistryValue> values;  // by upper-cased name
    };
    Key& MakeKey(std::u16string_view path);

    std::map<std::u16string, Key> keys_;  // by upper-cased path
};

// Text data as Windows stores it: UTF-16LE, with the terminator for REG_SZ, without it in
// binary data (mount texts).
RegistryValue RegistryTextValue(std::string_view text, RegistryType type);
RegistryValue RegistryDwordValue(std::uint32_t n);

// A USB mass-storage identifier text as Windows forms it from INQUIRY fields: trailing spaces
// dropped, spaces, commas and characters outside printable ASCII replaced by '_'.
std::string StorageIdText(std::string_view field);

// One unit of a USB mass-storage device as the registry names it.
struct UsbStorageUnit {
    bool cdRom = false;
    std::string vendor, product, revision;  // INQUIRY texts
    std::string serial;                     // the USB device's serial number
    unsigned lun = 0;
};

// "CdRom&Ven_V&Prod_P&Rev_R" or "Disk&Ven_..".
std::string UsbStorClass(const UsbStorageUnit& unit);
// "USBSTOR\<class>\SERIAL&LUN", the unit's instance path under Enum.
std::string UsbStorInstance(const UsbStorageUnit& unit);

// Adds what Windows keeps about one USB mass-storage device: its USB key and its units' keys.
void AddUsbStorageDevice(RegistryStore& store, std::uint16_t vid, std::uint16_t pid,
                         std::string_view serial, const std::vector<UsbStorageUnit>& units);
// The mount entry of a drive letter on a USB unit.
void AddUsbStorageMount(RegistryStore& store, char letter, const UsbStorageUnit& unit);
// The disk list: "Count" and one entry per instance path, numbered from 0.
void SetDiskList(RegistryStore& store, const std::vector<std::string>& instances);

std::u16string DosDeviceName(char letter);

}  // namespace kvx
