#include "sim/host/usb_tree.h"

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

}  // namespace kvx::sim
