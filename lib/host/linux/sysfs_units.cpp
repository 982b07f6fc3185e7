#include "host/linux/sysfs_units.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <tuple>

namespace kvx::linux_host {
namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute, without surrounding blanks; empty when it is missing.
std::string Attribute(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    const auto first = line.find_first_not_of(" \t\r\n");
    const auto last = line.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
}

std::optional<std::uint64_t> Number(std::string_view text, int base = 10) {
    std::uint64_t n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n, base);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return n;
}

std::uint64_t NumberOr(const fs::path& path, std::uint64_t fallback, int base = 10) {
    return Number(Attribute(path), base).value_or(fallback);
}

// The numbers in a USB device name, "2-1.10" = {2, 1, 10}, so that ports sort as numbers.
std::vector<std::uint64_t> PathKey(std::string_view name) {
    std::vector<std::uint64_t> key;
    std::size_t at = 0;
    while (at < name.size()) {
        const std::size_t end = name.find_first_of("-.:", at);
        key.push_back(Number(name.substr(at, end - at)).value_or(0));
        at = end == std::string_view::npos ? name.size() : end + 1;
    }
    return key;
}

// LUN of a SCSI device named "host:channel:target:lun".
unsigned LunOf(const std::string& scsiName) {
    const std::size_t colon = scsiName.rfind(':');
    return colon == std::string::npos
               ? 0
               : static_cast<unsigned>(Number(scsiName.substr(colon + 1)).value_or(0));
}

std::vector<BlockPartition> Partitions(const fs::path& blockDir, const std::string& unit,
                                       const fs::path& devfs) {
    std::vector<BlockPartition> partitions;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(blockDir, ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(unit) || !fs::exists(entry.path() / "partition", ec)) {
            continue;
        }
        BlockPartition p;
        p.name = name;
        p.node = devfs / name;
        p.number = static_cast<unsigned>(NumberOr(entry.path() / "partition", 0));
        p.startSector = NumberOr(entry.path() / "start", 0);
        p.sectors = NumberOr(entry.path() / "size", 0);
        p.device = ParseDeviceNumber(Attribute(entry.path() / "dev"));
        partitions.push_back(std::move(p));
    }
    std::sort(partitions.begin(), partitions.end(),
              [](const BlockPartition& a, const BlockPartition& b) { return a.number < b.number; });
    return partitions;
}

// Fills the USB facts from the device path: the component after the USB interface's parent.
void ReadUsbFacts(const fs::path& devicePath, BlockUnit& unit) {
    fs::path usbDevice;
    for (fs::path at = devicePath; at.has_relative_path() && at != at.parent_path();
         at = at.parent_path()) {
        if (IsUsbInterfaceName(at.filename().string())) {
            usbDevice = at.parent_path();
            break;
        }
    }
    if (usbDevice.empty()) {
        return;
    }
    unit.usb = true;
    unit.usbPath = usbDevice.filename().string();
    unit.vid = static_cast<std::uint16_t>(NumberOr(usbDevice / "idVendor", 0, 16));
    unit.pid = static_cast<std::uint16_t>(NumberOr(usbDevice / "idProduct", 0, 16));
    unit.serial = Attribute(usbDevice / "serial");
}

std::optional<BlockUnit> ReadUnit(const Roots& roots, const fs::path& blockDir) {
    BlockUnit unit;
    unit.name = blockDir.filename().string();
    if (!unit.name.starts_with("sd") && !unit.name.starts_with("sr")) {
        return std::nullopt;
    }
    std::error_code ec;
    const fs::path device = fs::canonical(blockDir / "device", ec);
    if (ec) {
        return std::nullopt;  // not a SCSI unit
    }
    unit.node = roots.devfs / unit.name;
    unit.lun = LunOf(device.filename().string());
    unit.vendor = Attribute(device / "vendor");
    unit.model = Attribute(device / "model");
    unit.revision = Attribute(device / "rev");
    unit.peripheralType = static_cast<unsigned>(NumberOr(device / "type", 0));
    unit.removable = NumberOr(blockDir / "removable", 0) != 0;
    unit.sectors = NumberOr(blockDir / "size", 0);
    unit.device = ParseDeviceNumber(Attribute(blockDir / "dev"));
    unit.partitions = Partitions(blockDir, unit.name, roots.devfs);
    ReadUsbFacts(device, unit);
    return unit;
}

}  // namespace

Roots Roots::FromEnvironment() {
    Roots roots;
    if (const char* sysfs = std::getenv("KVX_SYSFS"); sysfs != nullptr && *sysfs != '\0') {
        roots.sysfs = sysfs;
    }
    if (const char* devfs = std::getenv("KVX_DEVFS"); devfs != nullptr && *devfs != '\0') {
        roots.devfs = devfs;
    }
    return roots;
}

bool IsUsbInterfaceName(std::string_view name) {
    // <bus>-<port>[.<port>...]:<configuration>.<interface>
    const std::size_t dash = name.find('-');
    const std::size_t colon = name.find(':');
    if (dash == std::string_view::npos || colon == std::string_view::npos || dash == 0 ||
        colon < dash + 2 || !Number(name.substr(0, dash))) {
        return false;
    }
    const std::string_view ports = name.substr(dash + 1, colon - dash - 1);
    const std::string_view config = name.substr(colon + 1);
    const std::size_t dot = config.find('.');
    const bool portsOk = std::all_of(ports.begin(), ports.end(),
                                     [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
    return portsOk && dot != std::string_view::npos && Number(config.substr(0, dot)) &&
           Number(config.substr(dot + 1));
}

std::optional<dev_t> ParseDeviceNumber(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto major = Number(text.substr(0, colon));
    const auto minor = Number(text.substr(colon + 1));
    if (!major || !minor) {
        return std::nullopt;
    }
    return makedev(static_cast<unsigned>(*major), static_cast<unsigned>(*minor));
}

std::vector<BlockUnit> ScanBlockUnits(const Roots& roots) {
    std::vector<BlockUnit> units;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(roots.sysfs / "block", ec)) {
        if (auto unit = ReadUnit(roots, entry.path())) {
            units.push_back(std::move(*unit));
        }
    }
    std::sort(units.begin(), units.end(), [](const BlockUnit& a, const BlockUnit& b) {
        return std::make_tuple(!a.usb, PathKey(a.usbPath), a.lun, a.name) <
               std::make_tuple(!b.usb, PathKey(b.usbPath), b.lun, b.name);
    });
    char letter = kFirstLetter;
    for (BlockUnit& unit : units) {
        if (!unit.usb || letter > kLastLetter) {
            continue;
        }
        unit.letter = letter++;
        unit.type = unit.cdRom() ? kDriveCdRom : unit.removable ? kDriveRemovable : kDriveFixed;
    }
    return units;
}

}  // namespace kvx::linux_host
