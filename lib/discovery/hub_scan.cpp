#include "discovery/hub_scan.h"

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include "discovery/inquiry.h"
#include "frame/config.h"
#include "frame/os_type.h"
#include "host/text.h"
#include "transport/hub_channel.h"

namespace kvx {
namespace {

// Byte layouts of the Windows USB hub interface.
constexpr std::size_t kRootHubNameProbe = 6;      // USB_ROOT_HUB_NAME: ActualLength, name
constexpr std::size_t kNodeNameProbe = 10;        // USB_NODE_CONNECTION_NAME: index, length, name
constexpr std::size_t kNodeInformationSize = 76;  // USB_NODE_INFORMATION
constexpr std::size_t kPortCountAt = 6;           // bNumberOfPorts of its hub descriptor
constexpr std::size_t kConnectionInformationSize = 365;
constexpr std::size_t kConnectionFixedPart = 35;  // up to the pipe list
constexpr std::size_t kDeviceDescriptorAt = 4;
constexpr std::size_t kCurrentConfigurationAt = 22;
constexpr std::size_t kDeviceIsHubAt = 24;
constexpr std::size_t kConnectionStatusAt = 31;
constexpr std::size_t kStringRequestLength = 255;
constexpr std::size_t kMaxNameBytes = 4096;
constexpr std::size_t kMaxConfigurationLength = 4096;
constexpr unsigned kUsbModels = 27;  // "VID0" to "VID26"
constexpr unsigned kRegistryModels = 26;
constexpr std::uint8_t kSerialStringIndex = 3;
constexpr std::size_t kSerialChars = 12;

std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
    return std::uint32_t{b[at]} | (std::uint32_t{b[at + 1]} << 8) |
           (std::uint32_t{b[at + 2]} << 16) | (std::uint32_t{b[at + 3]} << 24);
}

std::uint16_t Le16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

void PutLe32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// UTF-16 name bytes of a reply as text, up to the first zero unit.
std::string NameFromBytes(std::span<const std::uint8_t> bytes) {
    std::u16string name;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit == 0) {
            break;
        }
        name.push_back(unit);
    }
    return ToUtf8(name);
}

// A name reply whose first control gives the whole structure's length (at lengthAt) and whose
// second, with that length, carries the name from nameAt on.
std::optional<std::string> QueryName(Host& host, HostHandle handle, UsbControl code,
                                     std::size_t probeSize, std::size_t lengthAt,
                                     std::size_t nameAt, std::uint32_t connectionIndex) {
    std::vector<std::uint8_t> probe(probeSize, 0);
    if (nameAt == 8) {
        PutLe32(probe, 0, connectionIndex);
    }
    std::vector<std::uint8_t> answer(probeSize, 0);
    const std::optional<std::size_t> got = host.UsbHubControl(handle, code, probe, answer);
    if (!got || *got < lengthAt + 4 || *got > answer.size()) {
        return std::nullopt;
    }
    const std::uint32_t length = Le32(answer, lengthAt);
    if (length <= nameAt || length > kMaxNameBytes) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> request(length, 0);
    if (nameAt == 8) {
        PutLe32(request, 0, connectionIndex);
    }
    std::vector<std::uint8_t> full(length, 0);
    const std::optional<std::size_t> gotFull = host.UsbHubControl(handle, code, request, full);
    if (!gotFull || *gotFull <= nameAt || *gotFull > full.size()) {
        return std::nullopt;
    }
    std::string name =
        NameFromBytes(std::span<const std::uint8_t>(full).subspan(nameAt, *gotFull - nameAt));
    if (name.empty()) {
        return std::nullopt;
    }
    return name;
}

// One standard GET_DESCRIPTOR through the hub; the descriptor bytes, or nullopt.
std::optional<std::vector<std::uint8_t>> GetDescriptor(Host& host, HostHandle hub,
                                                       std::uint32_t port, std::uint16_t value,
                                                       std::uint16_t index, std::uint16_t length) {
    std::vector<std::uint8_t> request(kHubRequestHeader + length, 0);
    // Device to host, standard, device: GET_DESCRIPTOR.
    PutHubRequestHeader(request, port, 0x80, 6, value, index);
    std::vector<std::uint8_t> answer(request.size(), 0);
    const std::optional<std::size_t> got =
        host.UsbHubControl(hub, kUsbGetDescriptorFromNodeConnection, request, answer);
    if (!got || *got < kHubRequestHeader || *got > answer.size()) {
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(answer.begin() + kHubRequestHeader, answer.begin() + *got);
}

// A string descriptor's text; nullopt unless its type is 3 and its length even and in bounds.
std::optional<std::u16string> StringText(const std::vector<std::uint8_t>& d) {
    if (d.size() < 2 || d[1] != 3 || (d[0] % 2) != 0 || d[0] < 2 || d[0] > d.size()) {
        return std::nullopt;
    }
    std::u16string text;
    for (std::size_t i = 2; i + 1 < d[0]; i += 2) {
        text.push_back(static_cast<char16_t>(d[i] | (d[i + 1] << 8)));
    }
    return text;
}

class HubWalker {
  public:
    explicit HubWalker(DeviceState& state) : state_(state), host_(state.host()), config_(host_) {}

    void WalkRootHub(HostHandle controller) {
        const auto name =
            QueryName(host_, controller, kUsbGetNodeInformation, kRootHubNameProbe, 0, 4, 0);
        if (name) {
            WalkHub(*name, {}, 1);
        }
    }

  private:
    void WalkHub(const std::string& name, std::span<const std::uint8_t> parentConnection,
                 int depth) {
        ++state_.hubCounter;
        const OpenResult hub = host_.Open(FromUtf8("\\\\.\\" + name), kAccessWrite, kShareWrite);
        if (hub.handle == kInvalidHandle) {
            return;
        }
        std::vector<std::uint8_t> info(kNodeInformationSize, 0);
        std::vector<std::uint8_t> infoAnswer(kNodeInformationSize, 0);
        const auto got = host_.UsbHubControl(hub.handle, kUsbGetNodeInformation, info, infoAnswer);
        const unsigned ports =
            got && *got > kPortCountAt && *got <= infoAnswer.size() ? infoAnswer[kPortCountAt] : 0;
        for (std::uint32_t port = 1; port <= ports; ++port) {
            WalkPort(hub.handle, name, port, parentConnection, depth);
        }
        host_.Close(hub.handle);
    }

    void WalkPort(HostHandle hub, const std::string& hubName, std::uint32_t port,
                  std::span<const std::uint8_t> parentConnection, int depth) {
        std::vector<std::uint8_t> request(kConnectionInformationSize, 0);
        PutLe32(request, 0, port);
        std::vector<std::uint8_t> connection(kConnectionInformationSize, 0);
        const auto got =
            host_.UsbHubControl(hub, kUsbGetNodeConnectionInformation, request, connection);
        if (!got || *got < kConnectionFixedPart || *got > connection.size()) {
            return;
        }
        const std::uint32_t status = Le32(connection, kConnectionStatusAt);
        std::map<std::uint8_t, std::u16string> strings;
        if (status == 1) {
            ++state_.connectedPorts;
            strings = ReadStrings(hub, port, connection);
        }
        if (connection[kDeviceIsHubAt] != 0) {
            if (depth >= kMaxHubDepth) {
                return;
            }
            const auto child =
                QueryName(host_, hub, kUsbGetNodeConnectionName, kNodeNameProbe, 4, 8, port);
            if (child) {
                WalkHub(*child, connection, depth + 1);
            }
            return;
        }
        const std::span<const std::uint8_t> device(connection.data() + kDeviceDescriptorAt, 18);
        const std::u16string vid = IdText(Le16(device, 8), true);
        const std::u16string pid = IdText(Le16(device, 10), true);
        for (unsigned i = 0; i < kUsbModels; ++i) {
            const std::u16string wantVid = config_.ReadIndexed(kVendorSection, u"VID", i, 20);
            const std::u16string wantPid = config_.ReadIndexed(kVendorSection, u"PID", i, 20);
            if (wantVid.empty() || wantPid.empty()) {
                break;
            }
            if (ContainsText(vid, wantVid) && ContainsText(pid, wantPid)) {
                AddRecord(hubName, port, parentConnection, connection, vid, pid, strings);
                break;
            }
        }
    }

    std::map<std::uint8_t, std::u16string> ReadStrings(HostHandle hub, std::uint32_t port,
                                                       std::span<const std::uint8_t> connection) {
        std::vector<std::uint8_t> indices;
        const std::span<const std::uint8_t> device = connection.subspan(kDeviceDescriptorAt, 18);
        for (std::size_t at : {14u, 15u, 16u}) {  // manufacturer, product, serial number
            indices.push_back(device[at]);
        }
        if (const auto head = GetDescriptor(host_, hub, port, 0x0200, 0, 9);
            head && head->size() >= 9) {
            const std::uint16_t total = Le16(*head, 2);
            if (total > 8 && total <= kMaxConfigurationLength) {
                if (const auto config = GetDescriptor(host_, hub, port, 0x0200, 0, total)) {
                    CollectConfigurationStrings(*config, indices);
                }
            }
        }
        indices.erase(std::remove(indices.begin(), indices.end(), 0), indices.end());
        std::map<std::uint8_t, std::u16string> strings;
        if (indices.empty()) {
            return strings;
        }
        const auto languages = GetDescriptor(host_, hub, port, 0x0300, 0, kStringRequestLength);
        const std::optional<std::u16string> languageList =
            languages ? StringText(*languages) : std::nullopt;
        if (!languageList) {
            return strings;
        }
        for (std::uint8_t index : indices) {
            for (char16_t language : *languageList) {
                const auto text =
                    GetDescriptor(host_, hub, port, static_cast<std::uint16_t>(0x0300 | index),
                                  language, kStringRequestLength);
                const std::optional<std::u16string> value = text ? StringText(*text) : std::nullopt;
                if (value && strings.find(index) == strings.end()) {
                    strings[index] = *value;
                }
            }
        }
        return strings;
    }

    static void CollectConfigurationStrings(const std::vector<std::uint8_t>& config,
                                            std::vector<std::uint8_t>& indices) {
        if (config.size() >= 9) {
            indices.push_back(config[6]);  // iConfiguration
        }
        for (std::size_t at = 0; at + 2 <= config.size();) {
            const std::uint8_t length = config[at];
            if (length < 2 || at + length > config.size()) {
                break;
            }
            if (config[at + 1] == 4 && length >= 9) {  // interface: iInterface
                indices.push_back(config[at + 8]);
            }
            at += length;
        }
    }

    void AddRecord(const std::string& hubName, std::uint32_t port,
                   std::span<const std::uint8_t> parentConnection,
                   std::span<const std::uint8_t> connection, const std::u16string& vid,
                   const std::u16string& pid,
                   const std::map<std::uint8_t, std::u16string>& strings) {
        if (state_.devices.size() >= kMaxDeviceRecords) {
            return;
        }
        UsbDeviceRecord record;
        CopyText(HubIdPart(hubName), record.hubIdPart);
        CopyText(HubInstancePart(hubName), record.hubInstancePart);
        record.port = static_cast<std::uint8_t>(port);
        record.hubNumber = state_.hubCounter;
        if (parentConnection.size() >= kDeviceDescriptorAt + 18) {
            const auto parent = parentConnection.subspan(kDeviceDescriptorAt, 18);
            record.parentVendorId = Le16(parent, 8);
            record.parentProductId = Le16(parent, 10);
        }
        CopyText("\\\\.\\" + hubName, record.hubDevicePath);
        if (connection[kCurrentConfigurationAt] == 0) {
            record.state = Le32(connection, kConnectionStatusAt) == 0 ? 2 : 1;
        }
        CopyUnits(vid, record.vendorIdText);
        CopyUnits(pid, record.productIdText);
        if (const auto serial = strings.find(kSerialStringIndex); serial != strings.end()) {
            CopyUnits(serial->second.substr(0, kSerialChars), record.serial);
        }
        FindUsbDriveLetter(state_, record);
        ++state_.deviceCounter;
        record.deviceNumber = state_.deviceCounter;
        record.deviceNumberLow = static_cast<std::uint8_t>(state_.deviceCounter);
        state_.devices.push_back(record);
    }

    template <std::size_t N>
    static void CopyText(const std::string& text, char (&out)[N]) {
        const std::size_t n = std::min(text.size(), N - 1);
        std::copy_n(text.begin(), n, out);
        out[n] = '\0';
    }

    template <std::size_t N>
    static void CopyUnits(std::u16string_view text, char16_t (&out)[N]) {
        const std::size_t n = std::min(text.size(), N - 1);
        std::copy_n(text.begin(), n, out);
        out[n] = u'\0';
    }

    DeviceState& state_;
    Host& host_;
    Config config_;
};

std::string HashSeparated(std::string_view name, int field) {
    std::size_t start = 0;
    for (int i = 0; i < field; ++i) {
        start = name.find('#', start);
        if (start == std::string_view::npos) {
            return {};
        }
        ++start;
    }
    const std::size_t end = name.find('#', start);
    if (end == std::string_view::npos) {
        return {};
    }
    return std::string(name.substr(start, end - start));
}

constexpr char16_t kEnumKey[] = u"System\\CurrentControlSet\\Enum\\";
constexpr std::size_t kRegistryTextUnits = 511;

}  // namespace

std::u16string RegistryText(const std::optional<RegistryValue>& value, std::size_t maxUnits) {
    std::u16string text;
    if (!value) {
        return text;
    }
    const std::vector<std::uint8_t>& d = value->data;
    for (std::size_t i = 0; i + 1 < d.size() && text.size() < maxUnits; i += 2) {
        const auto unit = static_cast<char16_t>(d[i] | (d[i + 1] << 8));
        if (unit == 0) {
            break;
        }
        text.push_back(unit);
    }
    return text;
}

std::string HubIdPart(std::string_view hubName) {
    return HashSeparated(hubName, 1);
}

std::string HubInstancePart(std::string_view hubName) {
    return HashSeparated(hubName, 2);
}

std::u16string MountText(Host& host, char16_t letter, std::size_t maxUnits) {
    std::u16string valueName = u"\\DosDevices\\";
    valueName += letter;
    valueName += u':';
    return RegistryText(host.ReadRegistryValue(u"SYSTEM\\MountedDevices", valueName), maxUnits);
}

void ScanHostControllers(DeviceState& state) {
    // A new scan replaces the records of an earlier one.
    state.devices.clear();
    state.current = nullptr;
    state.connectedPorts = 0;
    Host& host = state.host();
    HubWalker walker(state);
    constexpr int kControllerNames = 10;
    for (int n = 0; n < kControllerNames; ++n) {
        const OpenResult controller =
            host.Open(u"\\\\.\\HCD" + FromUtf8(std::to_string(n)), kAccessWrite, kShareWrite);
        if (controller.handle != kInvalidHandle) {
            walker.WalkRootHub(controller.handle);
            host.Close(controller.handle);
        }
    }
    const std::uint8_t versionCode = WindowsVersionCode(host);
    if (versionCode == kWinVersion2000 || versionCode == kWinVersion2000Sp4) {
        for (const std::u16string& path : host.UsbHostControllerPaths()) {
            const OpenResult controller = host.Open(path, kAccessWrite, kShareWrite);
            if (controller.handle != kInvalidHandle) {
                walker.WalkRootHub(controller.handle);
                host.Close(controller.handle);
            }
        }
    }
}

bool FindUsbDriveLetter(DeviceState& state, UsbDeviceRecord& record) {
    Host& host = state.host();
    const Config config(host);
    const std::uint8_t versionCode = WindowsVersionCode(host);
    const bool serialStandsIn = versionCode == kWinVersionXp || versionCode == kWinVersion2000Sp4 ||
                                versionCode == kWinVersionVista;
    const std::u16string serial(record.serial, std::char_traits<char16_t>::length(record.serial));
    const auto hexDigits = [](const char16_t* idText) {
        std::u16string_view text(idText, std::char_traits<char16_t>::length(idText));
        const std::u16string_view digits =
            text.size() >= 6 ? text.substr(2, 4) : std::u16string_view{};
        std::u16string lower(digits);
        for (char16_t& c : lower) {
            if (c >= u'A' && c <= u'Z') {
                c = static_cast<char16_t>(c - u'A' + u'a');
            }
        }
        return lower;
    };
    const std::u16string ids =
        u"Vid_" + hexDigits(record.vendorIdText) + u"&Pid_" + hexDigits(record.productIdText);

    std::u16string usbKey = std::u16string(kEnumKey) + u"USB\\" + ids + u"\\" + serial;
    if (!host.RegistrySubkeys(usbKey)) {
        usbKey = std::u16string(kEnumKey) + u"USB\\HUB_" + ids + u"\\" + serial;
    }
    std::u16string prefix =
        RegistryText(host.ReadRegistryValue(usbKey, u"ParentIdPrefix"), kRegistryTextUnits);
    const std::u16string service =
        RegistryText(host.ReadRegistryValue(usbKey, u"Service"), kRegistryTextUnits);

    std::u16string childPrefix;
    if (!service.empty()) {
        const std::u16string serviceKey = std::u16string(kEnumKey) + service;
        for (const std::u16string& deviceClass :
             host.RegistrySubkeys(serviceKey).value_or(std::vector<std::u16string>{})) {
            if (prefix.empty() && serialStandsIn) {
                prefix = serial;
            }
            for (unsigned i = 0; i < kRegistryModels && childPrefix.empty(); ++i) {
                const std::u16string vendor =
                    config.ReadIndexed(kVendorSection, u"VENDORSTR", i, 50);
                const std::u16string wanted =
                    ContainsText(deviceClass, u"QDA-USB") ? u"QDA-USB" : vendor;
                if (!ContainsText(deviceClass, wanted) || prefix.empty()) {
                    continue;
                }
                const std::u16string classKey = serviceKey + u"\\" + deviceClass;
                for (const std::u16string& instance :
                     host.RegistrySubkeys(classKey).value_or(std::vector<std::u16string>{})) {
                    if (!ContainsText(instance, prefix)) {
                        continue;
                    }
                    childPrefix = RegistryText(
                        host.ReadRegistryValue(classKey + u"\\" + instance, u"ParentIdPrefix"),
                        kRegistryTextUnits);
                    if (childPrefix.empty() && serialStandsIn) {
                        childPrefix = serial;
                    }
                    if (!childPrefix.empty()) {
                        break;
                    }
                }
            }
        }
    }
    std::u16string wanted;
    if (versionCode == kWinVersionVista) {
        wanted = prefix;
    } else if (versionCode == kWinVersion2000) {
        wanted = !childPrefix.empty() ? childPrefix : (!prefix.empty() ? prefix : serial);
    } else {
        wanted = childPrefix;
    }
    for (char16_t letter = u'C'; letter <= u'Z'; ++letter) {
        if (host.GetDriveType(letter) != kDriveCdRom) {
            continue;
        }
        if (ContainsText(MountText(host, letter, kRegistryTextUnits), wanted)) {
            record.driveLetter = static_cast<std::uint8_t>(letter);
            return true;
        }
    }
    return false;
}

}  // namespace kvx
