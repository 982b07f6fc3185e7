// What the emulated USB tree's ports report through the hub controls, without a machine.
#include "sim/host/hub_controls.h"

#include <gtest/gtest.h>

#include <vector>

#include "sim/bridge/identity.h"

namespace kvx::test {
namespace {

constexpr std::uint8_t kEmptyPort = 1;
constexpr std::uint8_t kForeignPort = 2;
constexpr std::uint8_t kDevicePort = 3;

TEST(HubControls, RequestedPortIsALittleEndianPortOfAHub) {
    struct Case {
        std::vector<std::uint8_t> in;
        std::optional<std::uint32_t> port;
    };
    const Case cases[] = {
        {{1, 0, 0, 0}, 1},
        {{4, 0, 0, 0, 0xFF}, 4},
        {{0, 0, 0, 0}, std::nullopt},  // ports count from 1
        {{5, 0, 0, 0}, std::nullopt},  // past the hub's four
        {{0, 0, 0, 1}, std::nullopt},  // 1 in big-endian order
        {{1, 0, 0}, std::nullopt},     // short
        {{}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in.size());
        EXPECT_EQ(sim::RequestedPort(c.in), c.port);
    }
}

TEST(HubControls, OwnDevicesAnswerDeviceAndFirstConfigurationDescriptorsOnly) {
    struct Case {
        sim::UsbNodeKind kind;
        std::uint16_t value;
        std::optional<std::vector<std::uint8_t>> answer;
    };
    const Case cases[] = {
        {sim::UsbNodeKind::kHub, 0x0100, sim::HubDeviceDescriptor()},
        {sim::UsbNodeKind::kHub, 0x0200, sim::HubConfigurationDescriptor()},
        {sim::UsbNodeKind::kForeign, 0x0100, sim::ForeignDeviceDescriptor()},
        {sim::UsbNodeKind::kForeign, 0x0200, sim::ForeignConfigurationDescriptor()},
        {sim::UsbNodeKind::kHub, 0x0201, std::nullopt},      // no second configuration
        {sim::UsbNodeKind::kForeign, 0x0302, std::nullopt},  // no strings
        {sim::UsbNodeKind::kEmpty, 0x0100, std::nullopt},
        {sim::UsbNodeKind::kDevice, 0x0100, std::nullopt},  // the bridge answers for itself
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(sim::OwnDescriptor(c.kind, c.value), c.answer);
    }
}

TEST(HubControls, ConnectionOfEachKindOfPort) {
    sim::MachineConfig machine;
    machine.foreignUsbPort = kForeignPort;
    sim::BridgeState device;
    device.usbPort = kDevicePort;
    const auto devicePipes = sim::EndpointsOf(sim::UsbConfigurationDescriptor()).size();
    ASSERT_GT(devicePipes, 0u);

    struct Case {
        const char* what;
        std::uint32_t port;
        bool plugged;
        bool configured;
        std::uint32_t status;
        std::uint8_t configuration;
        std::size_t pipes;
    };
    const Case cases[] = {
        {"empty port", kEmptyPort, true, true, 0, 0, 0},
        {"foreign device", kForeignPort, true, true, 1, 1, 1},
        {"the device", kDevicePort, true, true, 1, 1, devicePipes},
        {"the device, not configured", kDevicePort, true, false, 1, 0, 0},
        {"the device off the bus", kDevicePort, false, true, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        device.plugged = c.plugged;
        device.usbConfigured = c.configured;
        const std::vector<std::optional<sim::BridgeState>> states = {device};
        const sim::UsbTree tree(machine, states);
        const auto info = sim::ConnectionOf(tree, 0, c.port, states);
        EXPECT_EQ(info.connectionIndex, c.port);
        EXPECT_EQ(info.status, c.status);
        EXPECT_EQ(info.currentConfiguration, c.configuration);
        EXPECT_EQ(info.pipes.size(), c.pipes);
        EXPECT_FALSE(info.isHub);
        EXPECT_EQ(info.address, c.status != 0 ? sim::UsbTree::Address(0, c.port) : 0);
    }

    // A device behind a hub puts that hub on the root hub's chain port.
    device.plugged = true;
    device.usbHubDepth = 1;
    const std::vector<std::optional<sim::BridgeState>> states = {device};
    const sim::UsbTree tree(machine, states);
    const auto hub = sim::ConnectionOf(tree, 0, sim::kChainPort, states);
    EXPECT_TRUE(hub.isHub);
    EXPECT_EQ(hub.status, 1u);
    EXPECT_EQ(hub.deviceDescriptor[4], 0x09);  // hub class
    EXPECT_EQ(sim::ConnectionOf(tree, 1, kDevicePort, states).status, 1u);
    // An unreadable device leaves its port empty.
    const std::vector<std::optional<sim::BridgeState>> unreadable = {std::nullopt};
    EXPECT_EQ(
        sim::ConnectionOf(sim::UsbTree(machine, unreadable), 0, kDevicePort, unreadable).status,
        0u);
}

}  // namespace
}  // namespace kvx::test
