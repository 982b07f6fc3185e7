#include "sim/host/hub_controls.h"

#include <algorithm>
#include <cstring>

#include "sim/bridge/identity.h"

namespace kvx::sim {
namespace {

constexpr std::uint8_t kDescriptorDevice = 0x01;
constexpr std::uint8_t kDescriptorConfiguration = 0x02;
constexpr std::size_t kDeviceDescriptorSize = 18;

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

}  // namespace

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

std::optional<std::uint32_t> RequestedPort(std::span<const std::uint8_t> in) {
    if (in.size() < sizeof(std::uint32_t)) {
        return std::nullopt;
    }
    const std::uint32_t port = Le32(in, 0);
    if (port < 1 || port > kHubPorts) {
        return std::nullopt;
    }
    return port;
}

ConnectionInformation ConnectionOf(const UsbTree& tree, unsigned hubDepth, std::uint32_t port,
                                   const std::vector<std::optional<BridgeState>>& devices) {
    ConnectionInformation info;
    info.connectionIndex = port;
    const auto fill = [&info](const std::vector<std::uint8_t>& device,
                              const std::vector<std::uint8_t>& config) {
        std::copy_n(device.begin(), std::min(kDeviceDescriptorSize, device.size()),
                    info.deviceDescriptor.begin());
        info.currentConfiguration = 1;
        info.status = 1;
        info.pipes = EndpointsOf(config);
    };
    const UsbPortNode node = tree.At(hubDepth, port);
    switch (node.kind) {
        case UsbNodeKind::kEmpty:
            break;
        case UsbNodeKind::kHub:
            fill(HubDeviceDescriptor(), HubConfigurationDescriptor());
            info.isHub = true;
            break;
        case UsbNodeKind::kForeign:
            fill(ForeignDeviceDescriptor(), ForeignConfigurationDescriptor());
            break;
        case UsbNodeKind::kDevice: {
            const auto& st = node.device < devices.size() ? devices[node.device] : std::nullopt;
            if (!st || !st->plugged) {
                break;  // the port is empty while the device is off the bus
            }
            fill(UsbDeviceDescriptor(*st), UsbConfigurationDescriptor());
            if (!st->usbConfigured) {
                info.currentConfiguration = 0;
                info.pipes.clear();
            }
            break;
        }
    }
    info.address = info.status != 0 ? UsbTree::Address(hubDepth, port) : 0;
    return info;
}

std::optional<std::vector<std::uint8_t>> OwnDescriptor(UsbNodeKind kind, std::uint16_t value) {
    const bool hub = kind == UsbNodeKind::kHub;
    if (!hub && kind != UsbNodeKind::kForeign) {
        return std::nullopt;
    }
    const auto type = static_cast<std::uint8_t>(value >> 8);
    const auto index = static_cast<std::uint8_t>(value);
    if (type == kDescriptorDevice) {
        return hub ? HubDeviceDescriptor() : ForeignDeviceDescriptor();
    }
    if (type == kDescriptorConfiguration && index == 0) {
        return hub ? HubConfigurationDescriptor() : ForeignConfigurationDescriptor();
    }
    return std::nullopt;
}

}  // namespace kvx::sim
