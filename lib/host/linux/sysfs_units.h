// The storage units of a Linux system as sysfs shows them, and the drive letters the Linux host
// gives them. USB storage units are the block devices "sd*" and "sr*" under <sysfs>/block whose
// device path runs through a USB interface ("2-1.4:1.0"); the USB device above that interface
// gives vendor id, product id and serial number. Letters go to USB units only, in a stable order
// (USB path, then LUN); every disk, USB or not, counts for the system's disk list.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/host_types.h"

namespace kvx::linux_host {

// Where the host looks: /sys and /dev unless KVX_SYSFS and KVX_DEVFS name other folders.
struct Roots {
    std::filesystem::path sysfs = "/sys";
    std::filesystem::path devfs = "/dev";
    static Roots FromEnvironment();
};

// SCSI peripheral device type of a CD-ROM unit.
inline constexpr unsigned kPeripheralCdRom = 5;
// The first letter the host gives; the library scans C to Z.
inline constexpr char kFirstLetter = 'C';
inline constexpr char kLastLetter = 'Z';

struct BlockPartition {
    std::string name;            // "sdc1"
    std::filesystem::path node;  // <devfs>/sdc1
    unsigned number = 0;         // 1, 2, ...
    std::uint64_t startSector = 0;
    std::uint64_t sectors = 0;
    std::optional<dev_t> device;  // from its "dev" file
};

struct BlockUnit {
    std::string name;            // "sdc"
    std::filesystem::path node;  // <devfs>/sdc
    bool usb = false;
    std::string usbPath;  // the USB device's sysfs name, "2-1.4"
    unsigned lun = 0;
    std::uint16_t vid = 0, pid = 0;
    std::string serial;
    std::string vendor, model, revision;  // the SCSI device's INQUIRY texts
    unsigned peripheralType = 0;
    bool removable = false;
    std::uint64_t sectors = 0;    // "size", 512-byte sectors
    std::optional<dev_t> device;  // from its "dev" file
    std::vector<BlockPartition> partitions;
    char letter = 0;                 // 0 = none (not USB, or past Z)
    DriveType type = kDriveUnknown;  // of the letter

    bool cdRom() const { return peripheralType == kPeripheralCdRom || name.starts_with("sr"); }
};

// All "sd*" and "sr*" units, USB ones first in letter order, then the others by name.
std::vector<BlockUnit> ScanBlockUnits(const Roots& roots);

// Whether a sysfs path component names a USB interface ("2-1.4:1.0", "1-0:1.0").
bool IsUsbInterfaceName(std::string_view name);

// "major:minor" as a device number.
std::optional<dev_t> ParseDeviceNumber(std::string_view text);

}  // namespace kvx::linux_host
