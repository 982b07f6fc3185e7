// The Windows USB hub controls of the emulated machine: the byte layouts of their requests and
// answers (packed, little-endian), and what each port of the tree reports through them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "sim/host/usb_tree.h"
#include "sim/bridge/bridge_state.h"

namespace kvx::sim {

// USB_ROOT_HUB_NAME {ULONG ActualLength; WCHAR RootHubName[]} (header 4) or
// USB_NODE_CONNECTION_NAME {ULONG ConnectionIndex; ULONG ActualLength; WCHAR NodeName[]}
// (header 8): ActualLength is the size the whole structure needs (name with its terminator);
// as much of the name as fits is written. `reportedLength` replaces ActualLength (faults).
// nullopt when even the header does not fit.
std::optional<std::size_t> WriteHubName(std::span<std::uint8_t> out,
                                        std::optional<std::uint32_t> connectionIndex,
                                        std::u16string_view name,
                                        std::optional<std::uint32_t> reportedLength);

// USB_NODE_INFORMATION of a hub: 76 bytes, number of ports at byte 6.
inline constexpr std::size_t kNodeInformationSize = 76;
std::optional<std::size_t> WriteNodeInformation(std::span<std::uint8_t> out, unsigned ports,
                                                bool busPowered);

// USB_NODE_CONNECTION_INFORMATION: ConnectionIndex@0, DeviceDescriptor@4 (18),
// CurrentConfigurationValue@22, LowSpeed@23, DeviceIsHub@24, DeviceAddress@25,
// NumberOfOpenPipes@27, ConnectionStatus@31, PipeList@35 (11 bytes each: endpoint descriptor 7,
// ScheduleOffset 4).
inline constexpr std::size_t kConnectionInformationHeader = 35;
inline constexpr std::size_t kPipeInfoSize = 11;

struct ConnectionInformation {
    std::uint32_t connectionIndex = 0;
    std::array<std::uint8_t, 18> deviceDescriptor{};
    std::uint8_t currentConfiguration = 0;
    bool isHub = false;
    std::uint16_t address = 0;
    std::uint32_t status = 0;  // 0 = no device connected, 1 = device connected
    std::vector<std::array<std::uint8_t, 7>> pipes;  // endpoint descriptors of the open pipes
};

std::optional<std::size_t> WriteConnectionInformation(std::span<std::uint8_t> out,
                                                      const ConnectionInformation& info);

// Endpoint descriptors of a configuration descriptor, in order.
std::vector<std::array<std::uint8_t, 7>> EndpointsOf(std::span<const std::uint8_t> configuration);

// USB_DESCRIPTOR_REQUEST: ConnectionIndex@0, bmRequest@4, bRequest@5, wValue@6, wIndex@8,
// wLength@10, data from 12.
inline constexpr std::size_t kDescriptorRequestHeader = 12;

struct DescriptorRequest {
    std::uint32_t connectionIndex = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
};

std::optional<DescriptorRequest> ParseDescriptorRequest(std::span<const std::uint8_t> in);

// The answer: the request header echoed, then as much of `data` as fits (and wLength allows).
std::optional<std::size_t> WriteDescriptorAnswer(std::span<std::uint8_t> out,
                                                 std::span<const std::uint8_t> requestHeader,
                                                 std::span<const std::uint8_t> data);

// --- What the tree's ports report ----------------------------------------------------------------

// The port a hub control's input names (its first four bytes); nullopt when the input is short
// or the number is not a port of a hub.
std::optional<std::uint32_t> RequestedPort(std::span<const std::uint8_t> in);

// The connection information of `port` of hub `hubDepth`; `devices[i]` is device i's state. A
// device that cannot be read or is off the bus leaves its port empty.
ConnectionInformation ConnectionOf(const UsbTree& tree, unsigned hubDepth, std::uint32_t port,
                                   const std::vector<std::optional<BridgeState>>& devices);

// A descriptor of the tree's own devices (a hub or the foreign device) by wValue (type in the
// high byte, index in the low byte); nullopt where the device stalls the request.
std::optional<std::vector<std::uint8_t>> OwnDescriptor(UsbNodeKind kind, std::uint16_t value);

}  // namespace kvx::sim
