// The emulated machine's USB tree: one host controller, its root hub, a chain of external hubs
// (hub k+1 on port 4 of hub k) as deep as the deepest device asks for, the devices on their
// ports, and optionally a pointer device of another kind on the root hub.
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

}  // namespace kvx::sim
