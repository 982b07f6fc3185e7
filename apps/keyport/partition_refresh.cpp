#include "apps/keyport/partition_refresh.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "common/program_names.h"
#include "frame/os_type.h"
#include "host/text.h"

namespace kvx::keyport {
namespace {

constexpr unsigned kModels = 11;  // configuration entries 0 to 10
constexpr std::size_t kIdChars = 10;
constexpr std::size_t kIdentityChars = 100;
constexpr std::size_t kHddChars = 20;
constexpr unsigned kExtraDisks = 6;  // disks tried beyond the registry's count
constexpr std::uint32_t kMostDisks = 256;
constexpr std::uint8_t kInquiryStandard = 36;
constexpr std::uint8_t kInquiryUsbIds = 46;
constexpr char16_t kDiskEnumKey[] = u"SYSTEM\\CURRENTCONTROLSET\\SERVICES\\DISK\\ENUM";

bool Contains(std::u16string_view text, std::u16string_view wanted) {
    return !wanted.empty() && UpperAscii(text).find(UpperAscii(wanted)) != std::u16string::npos;
}

std::u16string AsciiField(const std::uint8_t* bytes, std::size_t n) {
    std::u16string text;
    for (std::size_t i = 0; i < n; ++i) {
        text.push_back(static_cast<char16_t>(bytes[i]));
    }
    return text;
}

std::u16string IdText(std::uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", static_cast<unsigned>(id));
    return FromUtf8(text);
}

// INQUIRY through the pass-through with a 10-byte command block; the data not sent stays zero.
bool Inquiry(Host& host, HostHandle disk, std::uint8_t length, std::span<std::uint8_t> data) {
    std::fill(data.begin(), data.end(), 0);
    const std::array<std::uint8_t, 10> cdb = {0x12, 0, 0, 0, length, 0, 0, 0, 0, 0};
    ScsiCommand command;
    command.cdb = cdb;
    command.data = data.first(length);
    command.direction = DataDirection::kIn;
    command.timeoutSeconds = 20;
    const ScsiOutcome outcome = host.ScsiPassThrough(disk, command);
    if (!outcome.sent) {
        return false;
    }
    // A device that refused the command (any sense key but NO SENSE and RECOVERED ERROR)
    // answered nothing usable.
    const std::uint8_t senseKey = outcome.sense[2] & 0x0F;
    return outcome.scsiStatus == 0 || senseKey == 0 || senseKey == 1;
}

std::optional<std::uint32_t> DiskCount(Host& host) {
    const auto value = host.ReadRegistryValue(kDiskEnumKey, u"Count");
    if (!value || value->type != RegistryType::kDword || value->data.size() < 4) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value->data[0]) |
           static_cast<std::uint32_t>(value->data[1]) << 8 |
           static_cast<std::uint32_t>(value->data[2]) << 16 |
           static_cast<std::uint32_t>(value->data[3]) << 24;
}

HostHandle OpenDisk(Host& host, std::uint32_t number) {
    const std::u16string name = u"\\\\.\\PhysicalDrive" + FromUtf8(std::to_string(number));
    OpenResult disk = host.Open(name, kAccessRead | kAccessWrite, kShareRead | kShareWrite);
    if (disk.handle == kInvalidHandle) {
        disk = host.Open(name, kAccessRead | kAccessWrite, kShareRead);
    }
    return disk.handle;
}

// Whether one disk belongs to the device by any configuration entry.
bool DiskMatches(Host& host, HostHandle disk, std::u16string_view configPath) {
    std::array<std::uint8_t, kInquiryUsbIds> data{};
    if (!Inquiry(host, disk, kInquiryStandard, data)) {
        return false;
    }
    const std::u16string vendor = AsciiField(&data[8], 8);
    const std::u16string product = AsciiField(&data[16], 16);
    const auto read = [&](std::u16string_view key, std::size_t chars) {
        return host.ReadProfileString(u"VENDOR", key, u"", configPath, chars);
    };
    const std::u16string hdd = read(u"HDD", kHddChars);
    for (unsigned n = 0; n < kModels; ++n) {
        const std::u16string index = FromUtf8(std::to_string(n));
        DiskIdentity entry;
        entry.vid = read(u"VID" + index, kIdChars);
        entry.pid = read(u"PID" + index, kIdChars);
        if (entry.vid.empty() || entry.pid.empty()) {
            break;
        }
        entry.secVendor = read(u"SECVENDORSTR" + index, kIdentityChars);
        entry.secProduct = read(u"SECPRODUCTSTR" + index, kIdentityChars);
        entry.product = read(u"PRODUCTSTR" + index, kIdentityChars);
        entry.hdd = hdd;
        if (entry.product.empty() || !IdentityMatches(entry, vendor, product)) {
            continue;
        }
        std::array<std::uint8_t, kInquiryUsbIds> ids{};
        if (!Inquiry(host, disk, kInquiryUsbIds, ids)) {
            continue;
        }
        const auto vendorId = static_cast<std::uint16_t>(ids[42] | ids[43] << 8);
        const auto productId = static_cast<std::uint16_t>(ids[44] | ids[45] << 8);
        if (UsbNumbersMatch(entry, vendorId, productId)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool IdentityMatches(const DiskIdentity& entry, std::u16string_view vendor,
                     std::u16string_view product) {
    return Contains(vendor, entry.secVendor) &&
           (Contains(product, entry.hdd) || Contains(product, entry.secProduct));
}

bool UsbNumbersMatch(const DiskIdentity& entry, std::uint16_t vendorId, std::uint16_t productId) {
    return vendorId != 0 && productId != 0 && Contains(IdText(productId), entry.pid) &&
           Contains(IdText(vendorId), entry.vid);
}

RefreshResult RefreshPartitions(Host& host, std::u16string_view configPath,
                                std::uint8_t hostSystem) {
    RefreshResult result;
    if (!ui::FileReadable(host, configPath)) {
        result.configMissing = true;
        return result;
    }
    if (!ui::IsNamedNtVersion(hostSystem)) {
        return result;
    }
    const auto count = DiskCount(host);
    if (!count || *count == 0) {
        return result;
    }
    // The registry's count is bounded so that a bogus value cannot make the walk endless.
    const std::uint32_t last = std::min<std::uint32_t>(*count, kMostDisks) + kExtraDisks - 1;
    for (std::uint32_t d = 0; d <= last; ++d) {
        const HostHandle disk = OpenDisk(host, d);
        if (disk == kInvalidHandle) {
            continue;
        }
        if (DiskMatches(host, disk, configPath) && host.GetPartitionInfo(disk)) {
            result.ok = true;
            // Windows 2000 needs nothing more; later systems re-read the disk's partition
            // table. The table on the medium is never rewritten.
            if (hostSystem != kWinVersion2000) {
                host.UpdateDiskProperties(disk);
            }
            const auto nodes = host.PartitionNodes(disk);
            result.nodes.insert(result.nodes.end(), nodes.begin(), nodes.end());
        }
        host.Close(disk);
    }
    return result;
}

}  // namespace kvx::keyport
