// The emulated machine's USB tree: one host controller, its root hub, a chain of external hubs
// (hub k+1 on port 4 of hub k) as deep as the deepest device asks for, the devices on their
// ports, and optionally a pointer device of another kind on the root hub. Plus the byte
// layouts of the Windows hub controls that report it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bridge/bridge_state.h"
#include "sim/machine.h"

namespace kvx::sim {

inline constexpr unsigned kHubPorts = 4;
inline constexpr unsigned kChainPort = 4;  // where the next external hub hangs

enum class UsbNodeKind { kEmpty, kDevice, kHub, kForeign };

struct UsbPortNode {
    UsbNodeKind kind = UsbNodeKind::kEmpty;
    std::size_t device = 0;  // kDevice: index into the device list
    unsigned hubDepth = 0;   // kHub: depth of the hub on this port
};

class UsbTree {
  public:
    // `devices[i]` is device i's state, nullopt when it cannot be read (such a device is left out).
    UsbTree(const MachineConfig& machine, const std::vector<std::optional<BridgeState>>& devices);

    // Hubs are numbered by depth: 0 = the root hub.
    unsigned HubCount() const { return externalHubs_ + 1; }
    UsbPortNode At(unsigned hubDepth, unsigned port) const;
    // Hub device name without the "\\.\" prefix.
    static std::string HubName(unsigned hubDepth);
    // The hub a device name (after "\\.\" or "\\?\") names, case-insensitively.
    std::optional<unsigned> FindHub(std::string_view name) const;
    // A USB address that is unique in the tree.
    static std::uint16_t Address(unsigned hubDepth, unsigned port) {
        return static_cast<std::uint16_t>(hubDepth * 10 + port);
    }

  private:
    unsigned externalHubs_ = 0;
    std::uint32_t foreignPort_ = 0;
    std::vector<std::optional<BridgeState>> devices_;
};

// The host controller's device-interface path (its SetupAPI enumeration).
std::u16string HostControllerInterfacePath();

// Descriptors of the tree's own devices: the external hubs and the pointer device.
std::vector<std::uint8_t> HubDeviceDescriptor();
std::vector<std::uint8_t> HubConfigurationDescriptor();
std::vector<std::uint8_t> ForeignDeviceDescriptor();
std::vector<std::uint8_t> ForeignConfigurationDescriptor();

// --- Windows hub control layouts (packed, little-endian) ---------------------------------------

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

}  // namespace kvx::sim
