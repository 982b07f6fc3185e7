#include "host/sim/usb_tree.h"

#include <algorithm>
#include <cstring>

#include "host/text.h"

namespace kvx::sim {
namespace {

// The Windows device-interface classes of USB hubs and USB host controllers.
constexpr std::string_view kHubInterfaceClass = "{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
constexpr std::u16string_view kControllerPath =
    u"\\\\?\\PCI#VEN_1B36&DEV_000D&SUBSYS_11001AF4&REV_01#3&2411e6fe&0&10#{3abf6f2d-71c4-462a-8a92-"
    u"1e6861e6af27}";

constexpr std::uint16_t kTreeVendor = 0x1209;
constexpr std::uint16_t kHubProduct = 0x4B01;
constexpr std::uint16_t kForeignProduct = 0x4B02;

void PutLe16(std::span<std::uint8_t> out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::uint8_t>(v);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void PutLe32(std::span<std::uint8_t> out, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) {
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

std::uint32_t Le32(std::span<const std::uint8_t> in, std::size_t at) {
    return static_cast<std::uint32_t>(in[at]) | static_cast<std::uint32_t>(in[at + 1]) << 8 |
           static_cast<std::uint32_t>(in[at + 2]) << 16 |
           static_cast<std::uint32_t>(in[at + 3]) << 24;
}

std::uint16_t Le16(std::span<const std::uint8_t> in, std::size_t at) {
    return static_cast<std::uint16_t>(in[at] | in[at + 1] << 8);
}

std::string Upper(std::string_view s) {
    std::string r(s);
    std::transform(r.begin(), r.end(), r.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    return r;
}

std::vector<std::uint8_t> DeviceDescriptor(std::uint8_t deviceClass, std::uint16_t product) {
    return {18,
            0x01,
            0x00,
            0x02,
            deviceClass,
            0x00,
            0x00,
            64,
            static_cast<std::uint8_t>(kTreeVendor),
            static_cast<std::uint8_t>(kTreeVendor >> 8),
            static_cast<std::uint8_t>(product),
            static_cast<std::uint8_t>(product >> 8),
            0x00,
            0x01,
            0,
            0,
            0,
            1};
}

}  // namespace

UsbTree::UsbTree(const MachineConfig& machine,
                 const std::vector<std::optional<BridgeState>>& devices)
    : foreignPort_(machine.foreignUsbPort), devices_(devices) {
    for (const auto& d : devices_) {
        if (d) {
            externalHubs_ = std::max(externalHubs_, d->usbHubDepth);
        }
    }
}

UsbPortNode UsbTree::At(unsigned hubDepth, unsigned port) const {
    if (hubDepth > externalHubs_ || port < 1 || port > kHubPorts) {
        return {};
    }
    if (port == kChainPort && hubDepth < externalHubs_) {
        return {UsbNodeKind::kHub, 0, hubDepth + 1};
    }
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        if (devices_[i] && devices_[i]->usbHubDepth == hubDepth && devices_[i]->usbPort == port) {
            return {UsbNodeKind::kDevice, i, 0};
        }
    }
    if (hubDepth == 0 && port == foreignPort_) {
        return {UsbNodeKind::kForeign, 0, 0};
    }
    return {};
}

std::string UsbTree::HubName(unsigned hubDepth) {
    if (hubDepth == 0) {
        return "USB#ROOT_HUB30#4&1b2c3d&0#" + std::string(kHubInterfaceClass);
    }
    return "USB#VID_1209&PID_4B01#5&" + std::to_string(hubDepth) + "a2f7e0&0&" +
           std::to_string(kChainPort) + "#" + std::string(kHubInterfaceClass);
}

std::optional<unsigned> UsbTree::FindHub(std::string_view name) const {
    const std::string wanted = Upper(name);
    for (unsigned depth = 0; depth <= externalHubs_; ++depth) {
        if (Upper(HubName(depth)) == wanted) {
            return depth;
        }
    }
    return std::nullopt;
}

std::u16string HostControllerInterfacePath() {
    return std::u16string(kControllerPath);
}

std::vector<std::uint8_t> HubDeviceDescriptor() {
    return DeviceDescriptor(0x09, kHubProduct);
}

std::vector<std::uint8_t> HubConfigurationDescriptor() {
    return {9, 0x02, 25,   0,    1,    1,    0,    0xE0, 0,  // self powered
            9, 0x04, 0,    0,    1,    0x09, 0x00, 0x00, 0,  // hub interface
            7, 0x05, 0x81, 0x03, 0x01, 0x00, 12};            // status change endpoint
}

std::vector<std::uint8_t> ForeignDeviceDescriptor() {
    return DeviceDescriptor(0x00, kForeignProduct);
}

std::vector<std::uint8_t> ForeignConfigurationDescriptor() {
    return {9, 0x02, 34,   0,    1,    1,    0,    0xA0, 50,  //
            9, 0x04, 0,    0,    1,    0x03, 0x01, 0x02, 0,   // HID boot mouse
            9, 0x21, 0x11, 0x01, 0x00, 0x01, 0x22, 52,   0,   // HID descriptor
            7, 0x05, 0x81, 0x03, 0x04, 0x00, 10};
}

std::optional<std::size_t> WriteHubName(std::span<std::uint8_t> out,
                                        std::optional<std::uint32_t> connectionIndex,
                                        std::u16string_view name,
                                        std::optional<std::uint32_t> reportedLength) {
    const std::size_t header = connectionIndex ? 8 : 4;
    if (out.size() < header) {
        return std::nullopt;
    }
    const std::size_t nameBytes = 2 * (name.size() + 1);
    std::size_t at = 0;
    if (connectionIndex) {
        PutLe32(out, 0, *connectionIndex);
        at = 4;
    }
    PutLe32(out, at, reportedLength.value_or(static_cast<std::uint32_t>(header + nameBytes)));
    const std::size_t room = std::min(out.size() - header, nameBytes);
    for (std::size_t i = 0; i < room; ++i) {
        const std::size_t unit = i / 2;
        const char16_t c = unit < name.size() ? name[unit] : u'\0';
        out[header + i] = static_cast<std::uint8_t>(i % 2 == 0 ? c & 0xFF : c >> 8);
    }
    return header + room;
}

std::optional<std::size_t> WriteNodeInformation(std::span<std::uint8_t> out, unsigned ports,
                                                bool busPowered) {
    if (out.size() < kNodeInformationSize) {
        return std::nullopt;
    }
    std::fill_n(out.begin(), kNodeInformationSize, std::uint8_t{0});
    PutLe32(out, 0, 0);  // UsbHub
    out[4] = 9;          // hub descriptor length
    out[5] = 0x29;       // hub descriptor type
    out[6] = static_cast<std::uint8_t>(ports);
    PutLe16(out, 7, 0x0009);  // individual power switching, individual over-current protection
    out[9] = 50;              // power-on to power-good, 2 ms units
    out[10] = 100;            // hub controller current
    out[75] = busPowered ? 1 : 0;
    return kNodeInformationSize;
}

std::optional<std::size_t> WriteConnectionInformation(std::span<std::uint8_t> out,
                                                      const ConnectionInformation& info) {
    if (out.size() < kConnectionInformationHeader) {
        return std::nullopt;
    }
    const std::size_t pipes =
        std::min(info.pipes.size(), (out.size() - kConnectionInformationHeader) / kPipeInfoSize);
    const std::size_t total = kConnectionInformationHeader + pipes * kPipeInfoSize;
    std::fill_n(out.begin(), total, std::uint8_t{0});
    PutLe32(out, 0, info.connectionIndex);
    std::copy(info.deviceDescriptor.begin(), info.deviceDescriptor.end(), out.begin() + 4);
    out[22] = info.currentConfiguration;
    out[23] = 0;  // full/high speed
    out[24] = info.isHub ? 1 : 0;
    PutLe16(out, 25, info.address);
    PutLe32(out, 27, static_cast<std::uint32_t>(info.pipes.size()));
    PutLe32(out, 31, info.status);
    for (std::size_t i = 0; i < pipes; ++i) {
        std::copy(info.pipes[i].begin(), info.pipes[i].end(),
                  out.begin() + static_cast<std::ptrdiff_t>(kConnectionInformationHeader +
                                                            i * kPipeInfoSize));
    }
    return total;
}

std::vector<std::array<std::uint8_t, 7>> EndpointsOf(std::span<const std::uint8_t> configuration) {
    std::vector<std::array<std::uint8_t, 7>> endpoints;
    std::size_t at = 0;
    while (at + 2 <= configuration.size() && configuration[at] >= 2) {
        const std::size_t len = configuration[at];
        if (configuration[at + 1] == 0x05 && len == 7 && at + 7 <= configuration.size()) {
            std::array<std::uint8_t, 7> e{};
            std::copy_n(configuration.begin() + static_cast<std::ptrdiff_t>(at), 7, e.begin());
            endpoints.push_back(e);
        }
        at += len;
    }
    return endpoints;
}

std::optional<DescriptorRequest> ParseDescriptorRequest(std::span<const std::uint8_t> in) {
    if (in.size() < kDescriptorRequestHeader) {
        return std::nullopt;
    }
    return DescriptorRequest{Le32(in, 0), Le16(in, 6), Le16(in, 8), Le16(in, 10)};
}

std::optional<std::size_t> WriteDescriptorAnswer(std::span<std::uint8_t> out,
                                                 std::span<const std::uint8_t> requestHeader,
                                                 std::span<const std::uint8_t> data) {
    if (out.size() < kDescriptorRequestHeader || requestHeader.size() < kDescriptorRequestHeader) {
        return std::nullopt;
    }
    const std::uint16_t wLength = Le16(requestHeader, 10);
    const std::size_t n =
        std::min({data.size(), out.size() - kDescriptorRequestHeader, std::size_t{wLength}});
    std::memmove(out.data(), requestHeader.data(), kDescriptorRequestHeader);
    std::copy_n(data.begin(), n, out.begin() + kDescriptorRequestHeader);
    return kDescriptorRequestHeader + n;
}

}  // namespace kvx::sim
